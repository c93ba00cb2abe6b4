// tamlo_meter_sim as the station meets it: a process that links a pseudo-terminal, opened here
// as a serial port at 9600 8N1, answering the station's frames.

#include <QDateTime>
#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSerialPort>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>

#include "shared/crc16.h"
#include "simulatorprocess.h"

using tamlo::test::SimulatorProcess;

namespace {

QByteArray hexFrame(const char* text) {
    return QByteArray::fromHex(QByteArray(text).replace(' ', ""));
}

QByteArray withCrc(QByteArray body) {
    auto crc = tamlo::crc16(reinterpret_cast<const std::uint8_t*>(body.constData()),
                            static_cast<std::size_t>(body.size()));
    body.append(static_cast<char>(crc[0]));
    body.append(static_cast<char>(crc[1]));
    return body;
}

QByteArray bytesOf(std::initializer_list<int> values) {
    QByteArray bytes;
    for (int value : values) bytes.append(static_cast<char>(value));
    return bytes;
}

QByteArray valueRequest(int address) {
    return withCrc(bytesOf({address, 0x43, 0x01, 0x00}));
}

QByteArray valueReply(int address, qint16 raw, int decimals) {
    const auto bits = static_cast<quint16>(raw);
    return withCrc(bytesOf({address, 0x43, 0x04, bits >> 8, bits & 0xFF, decimals, 0x00}));
}

QString spaced(const QByteArray& bytes) {
    return QString::fromLatin1(bytes.toHex(' ').toUpper());
}

// The station's side of the line.
class MeterLine {
public:
    bool open(const QString& path) {
        port_.setPortName(path);
        port_.setBaudRate(QSerialPort::Baud9600);
        port_.setDataBits(QSerialPort::Data8);
        port_.setParity(QSerialPort::NoParity);
        port_.setStopBits(QSerialPort::OneStop);
        port_.setFlowControl(QSerialPort::NoFlowControl);
        return port_.open(QIODevice::ReadWrite);
    }
    void close() { port_.close(); }
    QString errorString() const { return port_.errorString(); }

    void send(const QByteArray& bytes) {
        port_.write(bytes);
        port_.waitForBytesWritten(2000);
    }
    // Reads until `count` bytes are in or the time is up.
    QByteArray receive(int count, int timeoutMs = 3000) {
        QByteArray bytes;
        QDeadlineTimer deadline(timeoutMs);
        while (bytes.size() < count) {
            bytes += port_.read(count - bytes.size());
            if (bytes.size() >= count || deadline.hasExpired())
                break;
            port_.waitForReadyRead(static_cast<int>(qMax<qint64>(1, deadline.remainingTime())));
        }
        return bytes;
    }
    // Purges, sends, reads the reply: one exchange of the station.
    QByteArray exchange(const QByteArray& request, int replyLength) {
        port_.clear(QSerialPort::Input);
        send(request);
        return receive(replyLength);
    }
    // A request the meter must answer with nothing: proven by asking `reference` right after,
    // whose reply must be the next bytes on the line.
    QByteArray afterSilence(const QByteArray& request, const QByteArray& reference, int length) {
        port_.clear(QSerialPort::Input);
        send(request + reference);
        return receive(length);
    }

private:
    QSerialPort port_;
};

struct Fixture {
    QTemporaryDir dir;
    QString link = dir.filePath("COM1");
    QString meters = dir.filePath("meters.txt");
    QString log = dir.filePath("requests.log");
    SimulatorProcess sim{"tamlo_meter_sim"};
    MeterLine line;

    bool start(const QStringList& meterLines, QStringList extra = {}) {
        if (!SimulatorProcess::writeMetersFile(meters, meterLines))
            return false;
        if (!sim.start(QStringList{"--link", link, "--meters", meters, "--log", log} + extra)) {
            qWarning("%s", qPrintable(sim.errorString()));
            return false;
        }
        if (!line.open(link)) {
            qWarning("cannot open %s: %s", qPrintable(link), qPrintable(line.errorString()));
            return false;
        }
        return true;
    }
};

const QStringList kTwoMeters = {
    "# two meters on one line",
    "1 TM210 0 const:1234 1 p5=-1000",
    "2 TM220 0 const:-200 2",
};

}  // namespace

class TestMeterSim : public QObject {
    Q_OBJECT

private slots:
    void linksTheTerminalAndRemovesTheLinkOnQuit();
    void answersTheStationsFramesByteForByte();
    void eachFaultKind();
    void faultsWithACountClearThemselves();
    void rampAdvancesAndSourcesChange();
    void logsEveryRequestWithItsTime();
    void damagedAndPartialRequestsAreDroppedAndLogged();
    void signalsEndItButEndOfInputDoesNot();
    void replyDelay();
    void answersAFullBusBackToBack();
    void refusesBadArgumentsAndFiles();
};

void TestMeterSim::linksTheTerminalAndRemovesTheLinkOnQuit() {
    Fixture f;
    QVERIFY(f.start(kTwoMeters));
    QVERIFY(f.sim.devicePath().startsWith("/dev/"));
    QFileInfo link(f.link);
    QVERIFY(link.isSymLink());
    QCOMPARE(link.symLinkTarget(), f.sim.devicePath());
    QCOMPARE(f.sim.command("bogus 1"),
             QString("error unknown command \"bogus\" (fault, clear, set, param, quit)"));
    QVERIFY(f.sim.stop());
    QVERIFY(!QFileInfo(f.link).isSymLink());
    QCOMPARE(f.sim.exitCode(), 0);
}

void TestMeterSim::answersTheStationsFramesByteForByte() {
    Fixture f;
    QVERIFY(f.start({"1 TM210 0 const:1234 1 p5=-1000", "1 TM250 1 const:-200 3 p6=1500"}));
    QCOMPARE(spaced(f.line.exchange(hexFrame("01 43 01 00 F1 9C"), 9)),
             QString("01 43 04 04 D2 01 00 54 6A"));
    QCOMPARE(f.line.exchange(hexFrame("01 43 02 00 01 6C 44"), 9), valueReply(1, -200, 3));
    QCOMPARE(spaced(f.line.exchange(hexFrame("01 41 01 05 90 5F"), 7)),
             QString("01 41 02 FC 18 ED 36"));
    QCOMPARE(f.line.exchange(withCrc(QByteArray::fromHex("0141020106")), 7),
             withCrc(QByteArray::fromHex("01410205DC")));
    // The client may close and open the port again; the simulator keeps serving.
    f.line.close();
    QVERIFY(f.line.open(f.link));
    QCOMPARE(spaced(f.line.exchange(hexFrame("01 43 01 00 F1 9C"), 9)),
             QString("01 43 04 04 D2 01 00 54 6A"));
}

void TestMeterSim::eachFaultKind() {
    Fixture f;
    QVERIFY(f.start(kTwoMeters));
    const QByteArray reference = valueReply(2, -200, 2);
    const QByteArray good = valueReply(1, 1234, 1);

    QCOMPARE(f.sim.command("fault 1 silent"), QString("ok"));
    QCOMPARE(f.line.afterSilence(valueRequest(1), valueRequest(2), 9), reference);
    QCOMPARE(f.line.afterSilence(valueRequest(1), valueRequest(2), 9), reference);

    QCOMPARE(f.sim.command("fault 1 badcrc"), QString("ok"));
    QByteArray reply = f.line.exchange(valueRequest(1), 9);
    QCOMPARE(reply.size(), 9);
    QCOMPARE(reply.left(7), good.left(7));
    QVERIFY(!tamlo::crc16Matches(reinterpret_cast<const std::uint8_t*>(reply.constData()), 9));

    QCOMPARE(f.sim.command("fault 1 short"), QString("ok"));
    QCOMPARE(f.line.afterSilence(valueRequest(1), valueRequest(2), 17), good.left(8) + reference);

    QCOMPARE(f.sim.command("fault 1 otheraddr"), QString("ok"));
    reply = f.line.exchange(valueRequest(1), 9);
    QCOMPARE(reply, valueReply(2, 1234, 1));

    // Parameter replies are damaged the same way.
    reply = f.line.exchange(hexFrame("01 41 01 05 90 5F"), 7);
    QCOMPARE(reply, withCrc(QByteArray::fromHex("024102FC18")));

    // Meter 2 was never touched; clearing brings meter 1 back.
    QCOMPARE(f.sim.command("clear 1"), QString("ok"));
    QCOMPARE(f.line.exchange(valueRequest(1), 9), good);
    QCOMPARE(f.sim.command("fault 1 weird").left(6), QString("error "));

    QStringList notes;
    for (const QString& line : f.sim.logLines()) {
        QRegularExpressionMatch match = QRegularExpression(R"(\[(.*)\]$)").match(line);
        notes << (match.hasMatch() ? match.captured(1) : QString());
    }
    QCOMPARE(notes, QStringList({"silent", "", "silent", "", "badcrc", "short", "", "otheraddr",
                                 "otheraddr", ""}));
}

void TestMeterSim::faultsWithACountClearThemselves() {
    Fixture f;
    QVERIFY(f.start(kTwoMeters + QStringList{"fault 1 silent 2"}));
    const QByteArray reference = valueReply(2, -200, 2);
    // Meter 1 fails twice, then answers: what the station's three tries per turn rely on.
    QCOMPARE(f.line.afterSilence(valueRequest(1), valueRequest(2), 9), reference);
    QCOMPARE(f.line.afterSilence(valueRequest(1), valueRequest(2), 9), reference);
    QCOMPARE(f.line.exchange(valueRequest(1), 9), valueReply(1, 1234, 1));

    QCOMPARE(f.sim.command("fault 1 short 1"), QString("ok"));
    QCOMPARE(f.line.afterSilence(valueRequest(1), valueRequest(1), 17),
             valueReply(1, 1234, 1).left(8) + valueReply(1, 1234, 1));
    // A request for a meter that is not on the line does not use up the count.
    QCOMPARE(f.sim.command("fault 1 badcrc 1"), QString("ok"));
    QCOMPARE(f.line.afterSilence(withCrc(QByteArray::fromHex("0143020003")), valueRequest(2), 9),
             reference);
    QVERIFY(!tamlo::crc16Matches(
        reinterpret_cast<const std::uint8_t*>(f.line.exchange(valueRequest(1), 9).constData()), 9));
    QCOMPARE(f.line.exchange(valueRequest(1), 9), valueReply(1, 1234, 1));
}

void TestMeterSim::rampAdvancesAndSourcesChange() {
    Fixture f;
    QVERIFY(f.start({"1 TM250 2 ramp:0:20:10 0", "3 TM210 0 const:5 0", "fault 1 silent 1"}));
    const QByteArray request = withCrc(QByteArray::fromHex("0143020002"));
    // The withheld reply does not move the ramp.
    QCOMPARE(f.line.afterSilence(request, valueRequest(3), 9), valueReply(3, 5, 0));
    QList<qint16> values;
    for (int i = 0; i < 4; ++i) {
        QByteArray reply = f.line.exchange(request, 9);
        QCOMPARE(reply.size(), 9);
        values << qint16((quint8(reply[3]) << 8) | quint8(reply[4]));
    }
    QCOMPARE(values, QList<qint16>({0, 10, 20, 0}));
    QCOMPARE(f.sim.command("set 1 2 const:-7"), QString("ok"));
    QCOMPARE(f.line.exchange(request, 9), valueReply(1, -7, 0));
    QCOMPARE(f.sim.command("param 3 0 21 450"), QString("ok"));
    QCOMPARE(f.line.exchange(withCrc(QByteArray::fromHex("03410115")), 7),
             withCrc(QByteArray::fromHex("03410201C2")));
    QCOMPARE(f.sim.command("set 9 0 const:1"), QString("error no meter at address 9 channel 0"));
}

void TestMeterSim::logsEveryRequestWithItsTime() {
    Fixture f;
    QVERIFY(f.start(kTwoMeters));
    QList<qint64> before;
    QList<qint64> after;
    for (int address : {1, 2, 5}) {
        before << QDateTime::currentMSecsSinceEpoch();
        if (address == 5) {
            f.line.afterSilence(valueRequest(5), valueRequest(1), 9);
        } else {
            f.line.exchange(valueRequest(address), 9);
        }
        after << QDateTime::currentMSecsSinceEpoch();
    }
    QStringList lines = f.sim.logLines();
    QCOMPARE(lines.size(), 4);
    QCOMPARE(lines[0].section(' ', 1),
             QString("01 43 01 00 F1 9C -> ") + spaced(valueReply(1, 1234, 1)));
    QCOMPARE(lines[1].section(' ', 1),
             spaced(valueRequest(2)) + " -> " + spaced(valueReply(2, -200, 2)));
    QCOMPARE(lines[2].section(' ', 1), spaced(valueRequest(5)) + " -> none [unknown meter]");
    for (int i = 0; i < 3; ++i) {
        bool isNumber = false;
        const qint64 at = lines[i].section(' ', 0, 0).toLongLong(&isNumber);
        QVERIFY(isNumber);
        QVERIFY2(at >= before[i] && at <= after[i], qPrintable(lines[i]));
    }

    // Appended, not overwritten, by the next run.
    QVERIFY(f.sim.stop());
    f.line.close();
    QVERIFY(f.sim.start({"--link", f.link, "--meters", f.meters, "--log", f.log}));
    QVERIFY(f.line.open(f.link));
    f.line.exchange(valueRequest(1), 9);
    QCOMPARE(f.sim.logLines().size(), 5);
}

void TestMeterSim::damagedAndPartialRequestsAreDroppedAndLogged() {
    Fixture f;
    QVERIFY(f.start(kTwoMeters));
    // A damaged request right before a good one: only the good one is answered.
    QCOMPARE(f.line.afterSilence(hexFrame("01 43 01 00 F1 9D"), valueRequest(2), 9),
             valueReply(2, -200, 2));
    // Half a request, then silence: dropped once the line is quiet, so the retry is read whole.
    f.line.send(hexFrame("01 43 01"));
    QTRY_COMPARE(f.sim.logLines().size(), 3);
    QCOMPARE(f.line.exchange(valueRequest(1), 9), valueReply(1, 1234, 1));

    const QStringList lines = f.sim.logLines();
    QCOMPARE(lines.size(), 4);
    QVERIFY2(lines[0].endsWith(" 01 43 01 00 F1 9D -> none [bad crc]"), qPrintable(lines[0]));
    QVERIFY(lines[1].contains("-> " + spaced(valueReply(2, -200, 2))));
    QVERIFY2(lines[2].endsWith(" 01 43 01 -> none [incomplete]"), qPrintable(lines[2]));
    QVERIFY(!lines[3].contains('['));
}

void TestMeterSim::signalsEndItButEndOfInputDoesNot() {
    Fixture f;
    QVERIFY(f.start(kTwoMeters));
    f.sim.process().closeWriteChannel();
    QCOMPARE(f.line.exchange(valueRequest(1), 9), valueReply(1, 1234, 1));
    QVERIFY(f.sim.isRunning());
    QVERIFY(f.sim.terminate());
    QVERIFY(!QFileInfo(f.link).isSymLink());

    SimulatorProcess second("tamlo_meter_sim");
    QVERIFY2(second.start({"--link", f.link, "--meters", f.meters}),
             qPrintable(second.errorString()));
    QVERIFY(QFileInfo(f.link).isSymLink());
    ::kill(static_cast<pid_t>(second.process().processId()), SIGINT);
    QVERIFY(second.process().waitForFinished(5000));
    QCOMPARE(second.exitCode(), 0);
    QVERIFY(!QFileInfo(f.link).isSymLink());
}

void TestMeterSim::replyDelay() {
    Fixture f;
    QVERIFY(f.start(kTwoMeters, {"--reply-delay-ms", "120"}));
    QElapsedTimer timer;
    timer.start();
    QCOMPARE(f.line.exchange(valueRequest(1), 9), valueReply(1, 1234, 1));
    QVERIFY2(timer.elapsed() >= 115, qPrintable(QString::number(timer.elapsed())));
    // Replies keep their order when requests come faster than the delay.
    QCOMPARE(f.line.afterSilence(valueRequest(2), valueRequest(1), 18),
             valueReply(2, -200, 2) + valueReply(1, 1234, 1));
}

void TestMeterSim::answersAFullBusBackToBack() {
    Fixture f;
    QStringList meters;
    for (int address = 1; address <= 63; ++address) {
        meters << QString("%1 TM210 0 const:%2 1").arg(address).arg(address * 10);
    }
    QVERIFY(f.start(meters));
    // One station pass, one exchange after another...
    for (int address = 1; address <= 63; ++address) {
        QCOMPARE(f.line.exchange(valueRequest(address), 9), valueReply(address, address * 10, 1));
    }
    // ...and all requests in one burst: every reply, in order.
    QByteArray requests;
    QByteArray expected;
    for (int address = 1; address <= 63; ++address) {
        requests += valueRequest(address);
        expected += valueReply(address, address * 10, 1);
    }
    QCOMPARE(f.line.afterSilence(requests, {}, expected.size()), expected);
    QCOMPARE(f.sim.logLines().size(), 126);
}

void TestMeterSim::refusesBadArgumentsAndFiles() {
    QTemporaryDir dir;
    const QString meters = dir.filePath("meters.txt");
    const QString link = dir.filePath("COM1");
    QVERIFY(SimulatorProcess::writeMetersFile(meters, kTwoMeters));

    auto help = SimulatorProcess::runToEnd("tamlo_meter_sim", {"--help"});
    QVERIFY(help.finished);
    QCOMPARE(help.exitCode, 0);
    for (const char* topic : {"--link", "--meters", "--log", "--reply-delay-ms",
                              "ramp:", "sine:", "otheraddr", "quit", "TM250"}) {
        QVERIFY2(help.standardOutput.contains(topic), topic);
    }

    auto missing = SimulatorProcess::runToEnd("tamlo_meter_sim", {"--link", link});
    QCOMPARE(missing.exitCode, 2);
    QVERIFY2(missing.standardError.contains("--meters is required"),
             qPrintable(missing.standardError));
    QVERIFY(missing.standardError.contains("Usage: tamlo_meter_sim --link <path>"));

    QVERIFY(SimulatorProcess::writeMetersFile(dir.filePath("bad.txt"),
                                              {"1 TM210 0 const:1 0", "2 TM999 0 const:1 0"}));
    auto badFile = SimulatorProcess::runToEnd(
        "tamlo_meter_sim", {"--link", link, "--meters", dir.filePath("bad.txt")});
    QCOMPARE(badFile.exitCode, 2);
    QVERIFY2(badFile.standardError.contains("line 2: unknown model \"TM999\""),
             qPrintable(badFile.standardError));
    QVERIFY(!QFileInfo::exists(link) && !QFileInfo(link).isSymLink());

    auto noFile = SimulatorProcess::runToEnd(
        "tamlo_meter_sim", {"--link", link, "--meters", dir.filePath("none.txt")});
    QCOMPARE(noFile.exitCode, 2);

    // An operator's regular file at the link path stays as it is.
    QVERIFY(SimulatorProcess::writeTextFile(link, {"keep me"}));
    auto regular =
        SimulatorProcess::runToEnd("tamlo_meter_sim", {"--link", link, "--meters", meters});
    QCOMPARE(regular.exitCode, 2);
    QVERIFY2(regular.standardError.contains("not a symbolic link"),
             qPrintable(regular.standardError));
    QCOMPARE(SimulatorProcess::readLines(link), QStringList({"keep me"}));

    auto badDelay = SimulatorProcess::runToEnd(
        "tamlo_meter_sim",
        {"--link", dir.filePath("COM2"), "--meters", meters, "--reply-delay-ms", "soon"});
    QCOMPARE(badDelay.exitCode, 2);

    // The launcher reports a simulator that never gets ready, with its message.
    SimulatorProcess sim("tamlo_meter_sim");
    QVERIFY(!sim.start({"--link", link, "--meters", meters}));
    QVERIFY2(sim.errorString().contains("not a symbolic link"), qPrintable(sim.errorString()));
}

QTEST_GUILESS_MAIN(TestMeterSim)
#include "tst_meter_sim.moc"
