// The start-up of the three programs.
#include <QTest>

#include "scriptedprompter.h"
#include "shared/gbk.h"
#include "shared/guardedapplication.h"

using namespace tamlo;

class Startup : public QObject {
    Q_OBJECT
private slots:
    void startUpWithoutAGbkCodecStopsWithAMessage() {
        QVERIFY(gbkAvailable());
        test::ScriptedPrompter prompter;
        QVERIFY(checkGbkCodec(prompter, true));
        QVERIFY(prompter.boxes().isEmpty());
        QVERIFY(!checkGbkCodec(prompter, false));
        QCOMPARE(prompter.texts(), QStringList{gbkMissingText()});
        QVERIFY(gbkMissingText().contains(QStringLiteral("GBK")));
    }
};

QTEST_GUILESS_MAIN(Startup)
#include "tst_startup.moc"
