// The serial link and the frame exchange, against the meter simulator on a pseudo-terminal.
#include <QDir>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>

#include "shared/crc16.h"
#include "shared/seriallink.h"
#include "simulatorprocess.h"

using namespace tamlo;
using namespace tamlo::test;

namespace {

QString hex(const std::uint8_t* bytes, int n) {
    return QByteArray(reinterpret_cast<const char*>(bytes), n).toHex(' ').toUpper();
}

}  // namespace

class SerialLinkTest : public QObject {
    Q_OBJECT
private:
    QTemporaryDir dir_;
    std::unique_ptr<SimulatorProcess> sim_;
    SerialPort port_;
    qsizetype logSizeBefore_ = 0;

    QString requestOf(int fromEnd) {
        const QStringList lines = sim_->logLines();
        const QString line = lines.value(lines.size() - fromEnd);
        const qsizetype space = line.indexOf(QLatin1Char(' '));
        return line.mid(space + 1, line.indexOf(QStringLiteral(" -> ")) - space - 1);
    }

private slots:
    void initTestCase() {
        QVERIFY(SimulatorProcess::writeMetersFile(
            dir_.filePath(QStringLiteral("meters.txt")),
            {QStringLiteral("1 TM210 0 const:1234 1 p5=-1000"),
             QStringLiteral("1 TM250 1 const:-200 2"), QStringLiteral("7 TM210 0 const:7 0")}));
        sim_ = std::make_unique<SimulatorProcess>(QStringLiteral("tamlo_meter_sim"));
        QVERIFY2(sim_->start({QStringLiteral("--link"), dir_.filePath(QStringLiteral("COM1")),
                              QStringLiteral("--meters"), dir_.filePath(QStringLiteral("meters.txt")),
                              QStringLiteral("--log"), dir_.filePath(QStringLiteral("sim.log"))}),
                 qPrintable(sim_->errorString()));
        const QString path = resolveComPort(QStringLiteral("COM1"), dir_.path());
        QCOMPARE(path, dir_.filePath(QStringLiteral("COM1")));
        QCOMPARE(port_.open(path, 9600), PortOpenResult::Opened);
    }

    void init() { logSizeBefore_ = sim_->logLines().size(); }

    void cleanup() { QCOMPARE(sim_->command(QStringLiteral("clear")), QStringLiteral("ok")); }

    void cleanupTestCase() {
        port_.close();
        QVERIFY(sim_->stop());
    }

    void comPortNames() {
        QCOMPARE(comPortName(0), QStringLiteral("COM1"));
        QCOMPARE(comPortName(7), QStringLiteral("COM8"));
        QTemporaryDir empty;
#ifdef Q_OS_WIN
        QCOMPARE(resolveComPort(QStringLiteral("COM3"), empty.path()), QStringLiteral("COM3"));
#else
        QCOMPARE(resolveComPort(QStringLiteral("COM3"), empty.path()), QStringLiteral("/dev/ttyS2"));
        // A link to a device that is gone still names the port, so the open fails plainly.
        QVERIFY(QFile::link(empty.filePath(QStringLiteral("gone")), empty.filePath(QStringLiteral("COM2"))));
        QCOMPARE(resolveComPort(QStringLiteral("COM2"), empty.path()), empty.filePath(QStringLiteral("COM2")));
        SerialPort port;
        QCOMPARE(port.open(empty.filePath(QStringLiteral("COM2")), 9600), PortOpenResult::OpenFailed);
        QVERIFY(!port.isOpen());
#endif
        QCOMPARE(portOpenFailureText(PortOpenResult::OpenFailed), QStringLiteral("串口打开失败！"));
        QCOMPARE(portOpenFailureText(PortOpenResult::SettingsFailed), QStringLiteral("串口状态设置失败！"));
    }

    void workedFramesGoOutByteForByte() {
        std::uint8_t request[8] = {0x01, 0x43, 0x01, 0x00};
        std::uint8_t reply[9] = {};
        QVERIFY(exchange(port_, request, 4, reply, 9));
        QCOMPARE(hex(request, 6), QStringLiteral("01 43 01 00 F1 9C"));
        QCOMPARE(requestOf(1), QStringLiteral("01 43 01 00 F1 9C"));
        QCOMPARE((reply[3] << 8) | reply[4], 1234);
        QCOMPARE(reply[5] & 3, 1);

        std::uint8_t multi[8] = {0x01, 0x43, 0x02, 0x00, 0x01};
        QVERIFY(exchange(port_, multi, 5, reply, 9));
        QCOMPARE(requestOf(1), QStringLiteral("01 43 02 00 01 6C 44"));
        QCOMPARE(std::int16_t((reply[3] << 8) | reply[4]), std::int16_t(-200));

        std::uint8_t param[8] = {0x01, 0x41, 0x01, 0x05};
        std::uint8_t paramReply[7] = {};
        QVERIFY(exchange(port_, param, 4, paramReply, 7));
        QCOMPARE(requestOf(1), QStringLiteral("01 41 01 05 90 5F"));
        QCOMPARE(std::int16_t((paramReply[3] << 8) | paramReply[4]), std::int16_t(-1000));
    }

    void faultyRepliesAreRefused() {
        std::uint8_t request[8] = {0x01, 0x43, 0x01, 0x00};
        std::uint8_t reply[9] = {};
        QCOMPARE(sim_->command(QStringLiteral("fault 1 short")), QStringLiteral("ok"));
        QVERIFY(!exchange(port_, request, 4, reply, 9));
        QCOMPARE(sim_->command(QStringLiteral("fault 1 badcrc")), QStringLiteral("ok"));
        QVERIFY(!exchange(port_, request, 4, reply, 9));
        // Another address with a correct CRC is not detected: the reply counts.
        QCOMPARE(sim_->command(QStringLiteral("fault 1 otheraddr")), QStringLiteral("ok"));
        QVERIFY(exchange(port_, request, 4, reply, 9));
        QCOMPARE(reply[0], 0x02);
        QCOMPARE(sim_->command(QStringLiteral("clear")), QStringLiteral("ok"));
        QVERIFY(exchange(port_, request, 4, reply, 9));
    }

    void silentMeterFailsAfterTheTimeOuts() {
        std::uint8_t request[8] = {0x09, 0x43, 0x01, 0x00};  // nobody at address 9
        std::uint8_t reply[9] = {};
        // How long this takes (the read time-out, 65 ms for 9 bytes) is bench_exchange's figure.
        QVERIFY(!exchange(port_, request, 4, reply, 9));
    }

    void aStaleAnswerIsPurgedBeforeTheNextRequest() {
        // Meter 1's answer to a request nobody read any more waits in the line...
        std::uint8_t late[8] = {0x01, 0x43, 0x01, 0x00};
        appendCrc16(late, 4);
        QCOMPARE(port_.write(late, 6), 6);
        QTRY_COMPARE(sim_->logLines().size(), logSizeBefore_ + 1);
        QThread::msleep(100);
        // ... and must not be taken for meter 7's answer, although its length and CRC fit.
        std::uint8_t request[8] = {0x07, 0x43, 0x01, 0x00};
        std::uint8_t reply[9] = {};
        QVERIFY(exchange(port_, request, 4, reply, 9));
        QCOMPARE(reply[4], 7);
    }

    void settingsThatCannotBeAppliedCloseThePort() {
        const QString path = port_.systemPath();
        port_.close();
        SerialPort port;
        QCOMPARE(port.open(path, -1), PortOpenResult::SettingsFailed);
        QVERIFY(!port.isOpen());
        // The port was released: it opens again at once.
        QCOMPARE(port_.open(path, 9600), PortOpenResult::Opened);
    }

    void aClosedPortFails() {
        SerialPort closed;
        std::uint8_t request[8] = {0x01, 0x43, 0x01, 0x00};
        std::uint8_t reply[9] = {};
        QVERIFY(!exchange(closed, request, 4, reply, 9));
        QCOMPARE(hex(request, 6), QStringLiteral("01 43 01 00 F1 9C"));  // the CRC is still appended
    }

    void reopeningTheSamePortClosesTheFirstHandle() {
        const QString path = port_.systemPath();
        QCOMPARE(port_.open(path, 19200), PortOpenResult::Opened);
        QCOMPARE(port_.open(path, 9600), PortOpenResult::Opened);
        // A second handle on a port that is in use is refused (exclusive open).
        SerialPort other;
        QCOMPARE(other.open(path, 9600), PortOpenResult::OpenFailed);
        std::uint8_t request[8] = {0x07, 0x43, 0x01, 0x00};
        std::uint8_t reply[9] = {};
        QVERIFY(exchange(port_, request, 4, reply, 9));
    }

    void aLostDeviceIsNoticed() {
        QTemporaryDir dir;
        QVERIFY(SimulatorProcess::writeMetersFile(dir.filePath(QStringLiteral("m.txt")),
                                                  {QStringLiteral("1 0 0 const:1 0")}));
        SimulatorProcess sim(QStringLiteral("tamlo_meter_sim"));
        QVERIFY(sim.start({QStringLiteral("--link"), dir.filePath(QStringLiteral("COM1")),
                           QStringLiteral("--meters"), dir.filePath(QStringLiteral("m.txt"))}));
        SerialPort port;
        QCOMPARE(port.open(dir.filePath(QStringLiteral("COM1")), 9600), PortOpenResult::Opened);
        std::uint8_t request[8] = {0x01, 0x43, 0x01, 0x00};
        std::uint8_t reply[9] = {};
        QVERIFY(exchange(port, request, 4, reply, 9));
        QVERIFY(sim.stop());
        for (int i = 0; i < 3 && !port.deviceLost(); ++i) {
            QVERIFY(!exchange(port, request, 4, reply, 9));
        }
        QVERIFY(port.deviceLost());
    }
};

QTEST_GUILESS_MAIN(SerialLinkTest)
#include "tst_seriallink.moc"
