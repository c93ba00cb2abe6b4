// Every input of tests/corpus/<target>/ (the seeds and every input that once broke a reader)
// replayed through the same entry points the fuzzers drive. A broken rule aborts the test.
#include <QDir>
#include <QFile>
#include <QTest>

#include "fuzztargets.h"

using namespace tamlo::fuzz;

class FuzzReplay : public QObject {
    Q_OBJECT

private slots:
    void corpusReplays_data() {
        QTest::addColumn<QString>("target");
        for (const FuzzTarget& t : fuzzTargets()) {
            QTest::newRow(t.name) << QString::fromLatin1(t.name);
        }
    }
    void corpusReplays() {
        QFETCH(QString, target);
        const FuzzTarget* t = findFuzzTarget(target.toLatin1().constData());
        QVERIFY(t != nullptr);
        const QDir dir(QStringLiteral(TAMLO_CORPUS_DIR "/") + target);
        const QStringList files = dir.entryList(QDir::Files, QDir::Name);
        QVERIFY2(!files.isEmpty(), qPrintable(dir.path() + QStringLiteral(" holds no input")));
        for (const QString& name : files) {
            QFile f(dir.filePath(name));
            QVERIFY(f.open(QIODevice::ReadOnly));
            const QByteArray bytes = f.readAll();
            t->run(reinterpret_cast<const std::uint8_t*>(bytes.constData()),
                   static_cast<std::size_t>(bytes.size()));
        }
    }
};

QTEST_GUILESS_MAIN(FuzzReplay)
#include "tst_fuzzreplay.moc"
