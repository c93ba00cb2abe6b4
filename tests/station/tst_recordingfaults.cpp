// Recording when writes fail: a file size limit (RLIMIT_FSIZE, the way to make writes fail for
// root, whom a read-only folder does not stop) set and lifted in a child process. Nothing written
// is lost, no torn bytes stay behind, the failure is reported with the system's reason, and
// recording resumes in a new file whose first record is the first one after the gap.
#include <sys/resource.h>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <QtEndian>
#include <cerrno>
#include <csignal>
#include <cstring>

#include "simulatorprocess.h"
#include "station/recordcycle.h"
#include "stationfixture.h"
#include "stationprocess.h"

using namespace tamlo;
using namespace tamlo::test;

namespace {

constexpr char kChildVariable[] = "TAMLO_RECORDING_CHILD";
const QDateTime kStart(QDate(2026, 12, 7), QTime(10, 0, 0));

std::array<float, 2> valuesAt(int k) {
    return {1.5f * static_cast<float>(k), -static_cast<float>(k)};
}

void setFileSizeLimit(rlim_t limit) {
    struct rlimit r {};
    ::getrlimit(RLIMIT_FSIZE, &r);
    r.rlim_cur = limit == RLIM_INFINITY ? r.rlim_max : limit;
    ::setrlimit(RLIMIT_FSIZE, &r);
}

// The child: records once a second (fake times) while the limit is moved. Prints
// "<second>\t<status text>" after each record.
int runChild(const QString& directory) {
    station::DeviceTable table;
    table.count = 2;
    table.entries[0].tag = {'T', 'I', '1', '0', '1'};
    table.entries[1].tag = {'P', 'T', '2'};
    station::HistoryLog log(directory);
    log.start(kStart, 1, 2, table);
    auto record = [&](int k) {
        const std::array<float, 2> v = valuesAt(k);
        log.record(kStart.addSecs(k), 1, table, v.data());
        std::printf("%d\t%s\n", k, qUtf8Printable(log.statusText()));
    };
    for (int k = 1; k <= 5; ++k) {
        record(k);
    }
    setFileSizeLimit(1176 + 5 * 8 + 3);  // room for 3 bytes of record 6 only
    record(6);
    setFileSizeLimit(1000);  // not even a header fits
    record(7);
    record(8);
    setFileSizeLimit(RLIM_INFINITY);  // space is back
    record(9);
    record(10);
    return 0;
}

QByteArray le32(std::uint32_t v) {
    QByteArray b(4, '\0');
    qToLittleEndian(v, b.data());
    return b;
}
QByteArray floatBytes(float f) {
    std::uint32_t bits;
    std::memcpy(&bits, &f, 4);
    return le32(bits);
}
QByteArray oleBytes(int second) {
    const double d = oleDateFromParts(2026, 12, 7, 10, 0, second);
    std::uint64_t bits;
    std::memcpy(&bits, &d, 8);
    QByteArray b(8, '\0');
    qToLittleEndian(bits, b.data());
    return b;
}

// Header fields and records of a file whose first record is second `first`.
void checkFile(const QByteArray& bytes, int start, QList<int> records) {
    QCOMPARE(bytes.size(), 1176 + 8 * records.size());
    QCOMPARE(bytes.mid(0, 8), oleBytes(start));
    QCOMPARE(bytes.mid(8, 4), le32(1));
    QCOMPARE(bytes.mid(12, 4), le32(2));
    QCOMPARE(bytes.mid(20, 9), QByteArray("TI101\0\0\0\0", 9));
    QCOMPARE(bytes.mid(29, 9), QByteArray("PT2\0\0\0\0\0\0", 9));
    for (int i = 0; i < records.size(); ++i) {
        const std::array<float, 2> v = valuesAt(records[i]);
        QCOMPARE(bytes.mid(1176 + 8 * i, 8), floatBytes(v[0]) + floatBytes(v[1]));
    }
}

QByteArray readAll(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

}  // namespace

class RecordingFaults : public QObject {
    Q_OBJECT

private slots:
    void aFileSizeLimitLosesNothingWrittenAndRecordingResumes() {
        QTemporaryDir dir;
        QProcess child;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QString::fromLatin1(kChildVariable), dir.path());
        child.setProcessEnvironment(env);
        child.setChildProcessModifier([] { ::signal(SIGXFSZ, SIG_IGN); });
        child.start(QCoreApplication::applicationFilePath(), {});
        QVERIFY(child.waitForFinished(30000));
        const QString err = QString::fromUtf8(child.readAllStandardError());
        const QStringList status = QString::fromUtf8(child.readAllStandardOutput()).split('\n');
        QCOMPARE(child.exitStatus(), QProcess::NormalExit);
        QVERIFY2(child.exitCode() == 0, qPrintable(err));

        const QDir month(dir.filePath(QStringLiteral("26年12月")));
        QCOMPARE(month.entryList(QDir::Files, QDir::Name),
                 QStringList({QStringLiteral("07日10时00分00秒.nv"),
                              QStringLiteral("07日10时00分06秒.nv"),
                              QStringLiteral("07日10时00分09秒.nv")}));
        // Records 1 to 5 whole, the 3 torn bytes of record 6 cut off; record 6 opens the next file.
        checkFile(readAll(month.filePath(QStringLiteral("07日10时00分00秒.nv"))), 0,
                  {1, 2, 3, 4, 5});
        checkFile(readAll(month.filePath(QStringLiteral("07日10时00分06秒.nv"))), 6, {6});
        // Records 7 and 8 are lost; the file after the gap starts with record 9, dated by it.
        checkFile(readAll(month.filePath(QStringLiteral("07日10时00分09秒.nv"))), 9, {9, 10});

        const QString reason = QString::fromLocal8Bit(std::strerror(EFBIG));
        QVERIFY2(err.contains(reason), qPrintable(err));
        QVERIFY2(err.contains(QDir::toNativeSeparators(
                     month.filePath(QStringLiteral("07日10时00分00秒.nv")))),
                 qPrintable(err));
        QCOMPARE(status.size(), 11);  // 10 lines and the empty rest
        QVERIFY2(status[6].startsWith(QStringLiteral("7\t记录失败")) &&
                     status[6].contains(reason) &&
                     status[6].contains(QStringLiteral("已丢失 1 条记录")),
                 qPrintable(status[6]));
        QVERIFY2(status[7].contains(QStringLiteral("已丢失 2 条记录")), qPrintable(status[7]));
        QCOMPARE(status[8], QStringLiteral("9\t当前文件：") +
                                QDir::toNativeSeparators(
                                    month.filePath(QStringLiteral("07日10时00分09秒.nv"))));
    }

    // The program itself: the size limit signal does not kill it, and every file it leaves ends
    // on a whole record.
    void theStationOutlivesTheFileSizeLimit() {
        StationFixture f;
        const QList<MeterLine> meters{
            {1, 1, 0, QStringLiteral("const:1234"), 1, QStringLiteral("TI101")}};
        f.writeConfig(meters, 1);
        QVERIFY(f.startSimulator(meters));
        StationProcess station;
        station.setFileSizeLimit(1176 + 3 * 4 + 2);
        QVERIFY(station.start(f.dir.path()));
        const QString reason = QString::fromLocal8Bit(std::strerror(EFBIG));
        QTRY_VERIFY_WITH_TIMEOUT(station.standardError().contains(reason) || !station.isRunning(),
                                 30000);
        QTest::qWait(2500);
        QVERIFY2(station.isRunning(), qPrintable(station.standardError()));
        station.sendSignal(SIGTERM);
        QVERIFY(station.waitForExit());
        QVERIFY(station.endedInOrder());

        const QDir month(f.path(QStringLiteral("26年12月")));
        const QStringList files =
            month.entryList({QStringLiteral("*.nv")}, QDir::Files, QDir::Name);
        QVERIFY2(files.size() >= 2, qPrintable(files.join(' ')));
        for (const QString& name : files) {
            const QByteArray bytes = readAll(month.filePath(name));
            QVERIFY2(
                bytes.size() >= 1176 && (bytes.size() - 1176) % 4 == 0 && bytes.size() <= 1176 + 12,
                qPrintable(name + QString::number(bytes.size())));
            for (qsizetype at = 1176; at < bytes.size(); at += 4) {
                QCOMPARE(bytes.mid(at, 4), floatBytes(123.4f));
            }
        }
    }
};

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsSet(kChildVariable)) {
        QCoreApplication app(argc, argv);
        return runChild(qEnvironmentVariable(kChildVariable));
    }
    QApplication app(argc, argv);
    RecordingFaults test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_recordingfaults.moc"
