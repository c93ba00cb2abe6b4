// The viewer's page model: page counts and boundaries, buttons, times, growing files, refusals.
#include <QTemporaryDir>
#include <QTest>

#include "nvbytes.h"
#include "shared/datetime.h"
#include "viewer/viewerpages.h"

using namespace tamlo;
using namespace tamlo::viewer;

namespace {

const OleDate kStart = nvbytes::kPagesStart;

float valueAt(int k, int c) {
    return nvbytes::countingValue(k, c);
}

QString makeFile(const QTemporaryDir& dir, const QString& name, int records, int channels = 2,
                 quint32 interval = 10) {
    return nvbytes::writeCountingFile(dir.filePath(name), records, channels, interval);
}

// The shown page holds records first .. first + count - 1, bit for bit.
void checkPage(const ViewerPages& pages, int first, int count) {
    const HistoryPage& page = pages.page();
    QCOMPARE(page.recordCount, count);
    for (int j : {0, count / 2, count - 1}) {
        if (j < 0 || j >= count) {
            continue;
        }
        for (int c = 0; c < int(page.channelCount); ++c) {
            QCOMPARE(nvbytes::bits(page.value(j, c)), nvbytes::bits(valueAt(first + j, c)));
        }
    }
    const ViewerPageState& s = pages.state();
    QCOMPARE(s.pageStartOffset(), 1176u + quint64(first) * 4 * page.channelCount);
    QCOMPARE(s.pageStartTime(), addSeconds(kStart, qint64(first) * s.header.intervalSeconds));
    QCOMPARE(s.nextPageOffset(), 1176u + quint64(first + count) * 4 * page.channelCount);
}

}  // namespace

class ViewerPagesTest : public QObject {
    Q_OBJECT
private slots:
    void headerOnlyFileIsOneEmptyPage() {
        QTemporaryDir dir;
        ViewerPages pages;
        QCOMPARE(pages.open(makeFile(dir, "empty.nv", 0)), ViewerPages::Outcome::Loaded);
        QCOMPARE(pages.pageLabel(), QStringLiteral("共1页 第1页"));
        QCOMPARE(pages.page().recordCount, 0);
        QVERIFY(!pages.canGoNext());
        QVERIFY(!pages.canGoBack());
        QCOMPARE(pages.state().fileEnd, pages.state().fileStart);
        QCOMPARE(pages.rangeText(),
                 QStringLiteral("时间范围: 26-12-07 10:00:00 至 26-12-07 10:00:00         "));
    }

    void pagesOf20000StepForwardAndBack() {
        QTemporaryDir dir;
        ViewerPages pages;
        QList<std::pair<int, int>> progress;
        const auto record = [&](int done, int total) { progress << std::pair(done, total); };
        QCOMPARE(pages.open(makeFile(dir, "long.nv", 45000, 3), record),
                 ViewerPages::Outcome::Loaded);
        QCOMPARE(pages.pageLabel(), QStringLiteral("共3页 第1页"));
        QCOMPARE(pages.state().fileEnd, addSeconds(kStart, 450000));
        checkPage(pages, 0, 20000);
        QCOMPARE(progress.first(), std::pair(0, 20000));
        QCOMPARE(progress.last(), std::pair(20000, 20000));
        QVERIFY(pages.canGoNext() && !pages.canGoBack());

        QCOMPARE(pages.next(), ViewerPages::Outcome::Loaded);
        QCOMPARE(pages.pageLabel(), QStringLiteral("共3页 第2页"));
        checkPage(pages, 20000, 20000);
        // The first point of page 2 is record 20000, at its own time.
        QCOMPARE(pages.state().pointTime(0), addSeconds(kStart, 200000));
        QVERIFY(pages.canGoNext() && pages.canGoBack());

        progress.clear();
        QCOMPARE(pages.next(record), ViewerPages::Outcome::Loaded);
        QCOMPARE(pages.pageLabel(), QStringLiteral("共3页 第3页"));
        checkPage(pages, 40000, 5000);
        QCOMPARE(progress.first(), std::pair(0, 5000));
        QVERIFY(!pages.canGoNext() && pages.canGoBack());
        QCOMPARE(pages.next(), ViewerPages::Outcome::Refused);
        QCOMPARE(pages.pageLabel(), QStringLiteral("共3页 第3页"));

        QCOMPARE(pages.back(), ViewerPages::Outcome::Loaded);
        checkPage(pages, 20000, 20000);
        QVERIFY(pages.canGoNext() && pages.canGoBack());
        QCOMPARE(pages.back(), ViewerPages::Outcome::Loaded);
        QCOMPARE(pages.pageLabel(), QStringLiteral("共3页 第1页"));
        checkPage(pages, 0, 20000);
        QVERIFY(pages.canGoNext() && !pages.canGoBack());
        QCOMPARE(pages.back(), ViewerPages::Outcome::Refused);
    }

    void exactly20000RecordsGiveAnEmptySecondPage() {
        QTemporaryDir dir;
        ViewerPages pages;
        QCOMPARE(pages.open(makeFile(dir, "full.nv", 20000)), ViewerPages::Outcome::Loaded);
        QCOMPARE(pages.pageLabel(), QStringLiteral("共2页 第1页"));
        QVERIFY(pages.canGoNext());
        QCOMPARE(pages.next(), ViewerPages::Outcome::Loaded);
        QCOMPARE(pages.pageLabel(), QStringLiteral("共2页 第2页"));
        checkPage(pages, 20000, 0);
        QVERIFY(!pages.canGoNext() && pages.canGoBack());
    }

    void growingFileShowsAppendedRecordsButNoTornOne() {
        QTemporaryDir dir;
        const QString path = makeFile(dir, "growing.nv", 25000, 3);
        ViewerPages pages;
        QCOMPARE(pages.open(path), ViewerPages::Outcome::Loaded);
        QCOMPARE(pages.pageLabel(), QStringLiteral("共2页 第1页"));
        // The station appends 3000 records and is cut off in the middle of the next one.
        const QByteArray next = nvbytes::records(25000, 3001, 3, valueAt);
        QVERIFY(nvbytes::append(path, next.left(next.size() - 5)));
        QCOMPARE(pages.next(), ViewerPages::Outcome::Loaded);
        QCOMPARE(pages.pageLabel(), QStringLiteral("共2页 第2页"));  // counted at opening
        checkPage(pages, 20000, 8000);
        QVERIFY(!pages.canGoNext());
        // Once the record is whole, the page read again holds it.
        QVERIFY(nvbytes::append(path, next.right(5)));
        QCOMPARE(pages.back(), ViewerPages::Outcome::Loaded);
        QCOMPARE(pages.next(), ViewerPages::Outcome::Loaded);
        checkPage(pages, 20000, 8001);
    }

    void refusedFilesLeaveTheShownFile() {
        QTemporaryDir dir;
        const QString good = makeFile(dir, "good.nv", 30000, 3);
        ViewerPages pages;
        QCOMPARE(pages.open(good), ViewerPages::Outcome::Loaded);
        QCOMPARE(pages.next(), ViewerPages::Outcome::Loaded);

        const auto stays = [&] {
            QCOMPARE(pages.state().fileName, good);
            QCOMPARE(pages.pageLabel(), QStringLiteral("共2页 第2页"));
            checkPage(pages, 20000, 10000);
        };
        QCOMPARE(pages.open(dir.filePath("missing.nv")), ViewerPages::Outcome::NotOpenable);
        QVERIFY(pages.error().isEmpty());
        stays();

        const QString shortFile = dir.filePath("short.nv");
        nvbytes::write(shortFile, nvbytes::header(kStart, 10, 2).left(1175));
        QCOMPARE(pages.open(shortFile), ViewerPages::Outcome::Refused);
        QVERIFY(pages.error().contains("1176"));
        stays();
        for (quint32 channels : {0u, 129u}) {
            const QString path = dir.filePath(QStringLiteral("c%1.nv").arg(channels));
            nvbytes::write(path, nvbytes::header(kStart, 10, channels) + QByteArray(4000, '\0'));
            QCOMPARE(pages.open(path), ViewerPages::Outcome::Refused);
            QVERIFY(pages.error().contains(QString::number(channels)));
            stays();
        }

        // Another file under the same name (another channel count) is not paged into.
        nvbytes::write(good,
                       nvbytes::header(kStart, 10, 5) + nvbytes::records(0, 30000, 5, valueAt));
        QCOMPARE(pages.back(), ViewerPages::Outcome::Refused);
        QVERIFY(!pages.error().isEmpty());
        QCOMPARE(pages.page().channelCount, 3u);
        QCOMPARE(pages.pageLabel(), QStringLiteral("共2页 第2页"));
        // A file that has gone is not paged into either, silently.
        QVERIFY(QFile::remove(good));
        QCOMPARE(pages.back(), ViewerPages::Outcome::NotOpenable);
        QCOMPARE(pages.pageLabel(), QStringLiteral("共2页 第2页"));
    }
};

QTEST_GUILESS_MAIN(ViewerPagesTest)
#include "tst_viewerpages.moc"
