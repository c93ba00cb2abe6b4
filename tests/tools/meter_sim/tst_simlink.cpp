// The pieces every simulator is built on: framing, faults, the request log, arguments, the
// pseudo-terminal link and the loop's handling of requests and commands.

#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>

#include <unistd.h>

#include "bytetesting.h"
#include "shared/crc16.h"
#include "simlink.h"
#include "simulatorprocess.h"

using namespace tamlo::sim;
using tamlo::test::hexBytes;
using tamlo::test::withCrc;

namespace {

QString hexText(const Bytes& bytes) {
    return QString::fromStdString(toHex(bytes));
}

std::vector<RequestFramer::Event> feed(RequestFramer& framer, const Bytes& bytes, qint64 ms) {
    return framer.feed(bytes.data(), bytes.size(), ms);
}

// Answers every request with its own bytes and a CRC, counts what went out, and takes the
// command "echo".
class EchoResponder final : public Responder {
public:
    Answer answer(const Bytes& request, std::int64_t) override {
        if (request[1] == 0x00)
            return {std::nullopt, "unknown meter"};
        return {withCrc(Bytes(request.begin(), request.end() - 2)), {}};
    }
    void answered(const Bytes&, std::int64_t) override { ++answeredCount; }
    std::string command(const std::vector<std::string>& words) override {
        lastCommand = words;
        return words[0] == "echo" ? std::string() : "unknown command";
    }
    int answeredCount = 0;
    std::vector<std::string> lastCommand;
};

}  // namespace

class TestSimLink : public QObject {
    Q_OBJECT

private slots:
    void framerCutsRequestsByTheirLengthByte();
    void framerResynchronisesAfterABadCrc();
    void framerDropsAPartialRequestWhenFlushed();
    void faultsChangeTheReply();
    void limitedFaultsClearThemselves();
    void faultSettingsAreParsed();
    void requestLogLines();
    void sharedArguments();
    void pseudoTerminalLink();
    void loopAppliesFaultsAndLogsEveryRequest();
    void loopCommands();
};

void TestSimLink::framerCutsRequestsByTheirLengthByte() {
    RequestFramer framer(8);
    const Bytes single = hexBytes("01 43 01 00 F1 9C");
    const Bytes multi = hexBytes("01 43 02 00 01 6C 44");

    Bytes both = single;
    both.insert(both.end(), multi.begin(), multi.end());
    auto events = feed(framer, both, 1000);
    QCOMPARE(events.size(), std::size_t(2));
    QCOMPARE(hexText(events[0].bytes), QString("01 43 01 00 F1 9C"));
    QCOMPARE(hexText(events[1].bytes), QString("01 43 02 00 01 6C 44"));
    QCOMPARE(events[1].epochMs, qint64(1000));
    QVERIFY(!framer.pending());

    // Byte by byte, as a slow line delivers it: the frame is complete with its last byte, and
    // it carries the time of that byte.
    for (std::size_t i = 0; i + 1 < multi.size(); ++i) {
        QVERIFY(feed(framer, {multi[i]}, 2000 + qint64(i)).empty());
        QVERIFY(framer.pending());
    }
    events = feed(framer, {multi.back()}, 2100);
    QCOMPARE(events.size(), std::size_t(1));
    QCOMPARE(events[0].kind, RequestFramer::Event::Kind::Frame);
    QCOMPARE(events[0].epochMs, qint64(2100));
}

void TestSimLink::framerResynchronisesAfterABadCrc() {
    RequestFramer framer(8);
    // Noise ahead of a good request is reported once, then the request is found.
    Bytes stream = hexBytes("FF 00 7E 01 43 01 00 F1 9C");
    auto events = feed(framer, stream, 500);
    QCOMPARE(events.size(), std::size_t(2));
    QCOMPARE(events[0].kind, RequestFramer::Event::Kind::Discarded);
    QCOMPARE(hexText(events[0].bytes), QString("FF 00 7E"));
    QCOMPARE(events[1].kind, RequestFramer::Event::Kind::Frame);
    QCOMPARE(hexText(events[1].bytes), QString("01 43 01 00 F1 9C"));

    // A request with a damaged CRC is one discarded run once the line falls silent, not a line
    // per byte; the good request after it still gets through.
    events = feed(framer, hexBytes("01 43 01 00 F1 9D"), 600);
    QVERIFY(events.empty());
    auto dropped = framer.flush();
    QVERIFY(dropped.has_value());
    QCOMPARE(hexText(dropped->bytes), QString("01 43 01 00 F1 9D"));
    QCOMPARE(QString::fromStdString(dropped->reason), QString("bad crc"));
    QCOMPARE(dropped->epochMs, qint64(600));
    QVERIFY(!framer.pending());

    // Damaged request directly followed by a good one: the good one is answered at once.
    stream = hexBytes("01 43 01 00 F1 9D");
    const Bytes good = withCrc({0x02, 0x43, 0x01, 0x00});
    stream.insert(stream.end(), good.begin(), good.end());
    events = feed(framer, stream, 700);
    QCOMPARE(events.size(), std::size_t(2));
    QCOMPARE(hexText(events[0].bytes), QString("01 43 01 00 F1 9D"));
    QCOMPARE(events[1].bytes, good);

    // A length byte the protocol cannot have is skipped without waiting for 255 more bytes.
    events = feed(framer, hexBytes("01 43 FF 01 43 01 00 F1 9C"), 800);
    QCOMPARE(events.size(), std::size_t(2));
    QCOMPARE(QString::fromStdString(events[0].reason), QString("bad length"));
    QCOMPARE(hexText(events[0].bytes), QString("01 43 FF"));
}

void TestSimLink::framerDropsAPartialRequestWhenFlushed() {
    RequestFramer framer(8);
    QVERIFY(!framer.flush().has_value());
    QVERIFY(feed(framer, hexBytes("01 43 01"), 100).empty());
    QVERIFY(framer.pending());
    auto dropped = framer.flush();
    QVERIFY(dropped.has_value());
    QCOMPARE(QString::fromStdString(dropped->reason), QString("incomplete"));
    QCOMPARE(hexText(dropped->bytes), QString("01 43 01"));
    QCOMPARE(dropped->epochMs, qint64(100));
    // The client's retry is read from a clean start.
    auto events = feed(framer, hexBytes("01 43 01 00 F1 9C"), 200);
    QCOMPARE(events.size(), std::size_t(1));
    QCOMPARE(events[0].kind, RequestFramer::Event::Kind::Frame);
}

void TestSimLink::faultsChangeTheReply() {
    const Bytes reply = hexBytes("01 43 04 04 D2 01 00 54 6A");
    QVERIFY(!applyFault(reply, FaultKind::Silent).has_value());

    Bytes badCrc = *applyFault(reply, FaultKind::BadCrc);
    QCOMPARE(badCrc.size(), reply.size());
    QVERIFY(std::equal(reply.begin(), reply.end() - 2, badCrc.begin()));
    QVERIFY(!tamlo::crc16Matches(badCrc.data(), badCrc.size()));

    Bytes shortReply = *applyFault(reply, FaultKind::Short);
    QCOMPARE(hexText(shortReply), QString("01 43 04 04 D2 01 00 54"));

    Bytes otherAddress = *applyFault(reply, FaultKind::OtherAddress);
    QCOMPARE(otherAddress[0], std::uint8_t(0x02));
    QVERIFY(std::equal(reply.begin() + 1, reply.end() - 2, otherAddress.begin() + 1));
    QVERIFY(tamlo::crc16Matches(otherAddress.data(), otherAddress.size()));
    // Address 255 wraps to 0 rather than failing.
    Bytes fromTop = withCrc({0xFF, 0x41, 0x02, 0x00, 0x01});
    QCOMPARE((*applyFault(fromTop, FaultKind::OtherAddress))[0], std::uint8_t(0x00));
}

void TestSimLink::limitedFaultsClearThemselves() {
    FaultTable faults;
    faults.set({1, FaultKind::Silent, 2});
    faults.set({2, FaultKind::Short, 0});
    QCOMPARE(faults.take(1), std::optional(FaultKind::Silent));
    QCOMPARE(faults.take(1), std::optional(FaultKind::Silent));
    QVERIFY(!faults.take(1).has_value());
    QVERIFY(!faults.active(1).has_value());
    for (int i = 0; i < 5; ++i) QCOMPARE(faults.take(2), std::optional(FaultKind::Short));
    QVERIFY(!faults.take(3).has_value());

    // A new fault replaces the old one, count and all.
    faults.set({2, FaultKind::BadCrc, 1});
    QCOMPARE(faults.take(2), std::optional(FaultKind::BadCrc));
    QVERIFY(!faults.active(2).has_value());

    faults.set({4, FaultKind::OtherAddress, 0});
    faults.set({5, FaultKind::OtherAddress, 0});
    faults.clear(4);
    QVERIFY(!faults.active(4).has_value());
    QVERIFY(faults.active(5).has_value());
    faults.clearAll();
    QVERIFY(!faults.active(5).has_value());
}

void TestSimLink::faultSettingsAreParsed() {
    std::string error;
    auto setting = parseFaultSetting({"7", "otheraddr", "3"}, error);
    QVERIFY(setting.has_value());
    QCOMPARE(setting->address, std::uint8_t(7));
    QCOMPARE(setting->kind, FaultKind::OtherAddress);
    QCOMPARE(setting->count, 3);
    setting = parseFaultSetting({"255", "badcrc"}, error);
    QVERIFY(setting.has_value());
    QCOMPARE(setting->count, 0);
    for (const auto& words : std::vector<std::vector<std::string>>{{"1"},
                                                                   {"256", "silent"},
                                                                   {"1", "loud"},
                                                                   {"1", "short", "0"},
                                                                   {"1", "short", "x"},
                                                                   {"1", "short", "2", "3"},
                                                                   {"-1", "silent"}}) {
        error.clear();
        QVERIFY(!parseFaultSetting(words, error).has_value());
        QVERIFY(!error.empty());
    }
    parseFaultSetting({"1", "loud"}, error);
    QVERIFY(QString::fromStdString(error).contains("otheraddr"));
}

void TestSimLink::requestLogLines() {
    const Bytes request = hexBytes("01 43 01 00 F1 9C");
    QCOMPARE(
        RequestLog::formatLine(1796640000123, request, hexBytes("01 43 04 04 D2 01 00 54 6A"), ""),
        std::string("1796640000123 01 43 01 00 F1 9C -> 01 43 04 04 D2 01 00 54 6A"));
    QCOMPARE(RequestLog::formatLine(5, request, std::nullopt, "silent"),
             std::string("5 01 43 01 00 F1 9C -> none [silent]"));

    // Appended across runs, one flushed line per request.
    QTemporaryDir dir;
    const QString path = dir.filePath("requests.log");
    {
        RequestLog log;
        QVERIFY(log.open(path.toStdString()));
        log.write(1, request, std::nullopt, "bad crc");
        QCOMPARE(tamlo::test::SimulatorProcess::readLines(path).size(), 1);
    }
    RequestLog log;
    QVERIFY(log.open(path.toStdString()));
    log.write(2, request, request, "");
    QCOMPARE(tamlo::test::SimulatorProcess::readLines(path),
             QStringList({"1 01 43 01 00 F1 9C -> none [bad crc]",
                          "2 01 43 01 00 F1 9C -> 01 43 01 00 F1 9C"}));
    QVERIFY(!RequestLog().open(dir.filePath("missing/requests.log").toStdString()));
}

void TestSimLink::sharedArguments() {
    auto parse = [](std::vector<const char*> words, std::string& error) {
        words.insert(words.begin(), "sim");
        return parseSimulatorArguments(static_cast<int>(words.size()), words.data(), {"--meters"},
                                       {"--meters"}, error);
    };
    std::string error;
    auto arguments =
        parse({"--link", "demo/COM1", "--meters=m.txt", "--log", "l.txt", "--reply-delay-ms", "30"},
              error);
    QVERIFY2(arguments.has_value(), error.c_str());
    QCOMPARE(arguments->linkPath, std::string("demo/COM1"));
    QCOMPARE(arguments->logPath, std::string("l.txt"));
    QCOMPARE(arguments->replyDelayMs, 30);
    QCOMPARE(arguments->options.at("--meters"), std::string("m.txt"));

    arguments = parse({"--help"}, error);
    QVERIFY(arguments.has_value() && arguments->help);
    // The manual pages are made from --help and --version: neither needs the required options.
    arguments = parse({"--version"}, error);
    QVERIFY(arguments.has_value() && arguments->version && !arguments->help);
    arguments = parse({"-v"}, error);
    QVERIFY(arguments.has_value() && arguments->version);

    const std::vector<std::vector<const char*>> bad = {
        {"--meters", "m.txt"},                                       // no link
        {"--link", "x"},                                             // no meters
        {"--link", "x", "--meters", "m", "--speed", "3"},            // unknown option
        {"--link", "x", "--meters"},                                 // missing value
        {"--link", "x", "--link", "y", "--meters", "m"},             // twice
        {"--link=x", "--meters", "m", "--link", "x"},                // twice, once with '='
        {"--link", "x", "--meters", "m", "--reply-delay-ms", "-1"},  // negative delay
        {"--link", "x", "--meters", "m", "stray"},
    };
    for (const auto& words : bad) {
        error.clear();
        QVERIFY(!parse(words, error).has_value());
        QVERIFY(!error.empty());
    }
}

void TestSimLink::pseudoTerminalLink() {
    QTemporaryDir dir;
    const std::string link = dir.filePath("COM1").toStdString();
    {
        PseudoTerminal terminal;
        QCOMPARE(terminal.open(link), PseudoTerminal::OpenResult::Opened);
        QCOMPARE(QFileInfo(QString::fromStdString(link)).symLinkTarget(),
                 QString::fromStdString(terminal.devicePath()));
        QVERIFY(terminal.masterFd() >= 0);

        // A second simulator on the same path takes over the link (the first one may have died
        // without removing it); the first then leaves the other's link alone.
        PseudoTerminal second;
        QCOMPARE(second.open(link), PseudoTerminal::OpenResult::Opened);
        QCOMPARE(QFileInfo(QString::fromStdString(link)).symLinkTarget(),
                 QString::fromStdString(second.devicePath()));
        terminal.close();
        QVERIFY(QFileInfo(QString::fromStdString(link)).isSymLink());
        second.close();
        QVERIFY(!QFileInfo::exists(QString::fromStdString(link)));
        QVERIFY(!QFileInfo(QString::fromStdString(link)).isSymLink());
    }
    // A link to a device that is gone is simply replaced.
    QVERIFY(QFile::link("/dev/pts/nonexistent-device", QString::fromStdString(link)));
    {
        PseudoTerminal terminal;
        QCOMPARE(terminal.open(link), PseudoTerminal::OpenResult::Opened);
        QCOMPARE(QFileInfo(QString::fromStdString(link)).symLinkTarget(),
                 QString::fromStdString(terminal.devicePath()));
    }
    QVERIFY(!QFileInfo(QString::fromStdString(link)).isSymLink());

    // An operator's file is never replaced.
    const QString regular = dir.filePath("COM2");
    QVERIFY(tamlo::test::SimulatorProcess::writeTextFile(regular, {"x"}));
    PseudoTerminal terminal;
    QCOMPARE(terminal.open(regular.toStdString()), PseudoTerminal::OpenResult::LinkFailed);
    QVERIFY(QString::fromStdString(terminal.errorText()).contains("not a symbolic link"));
    QVERIFY(!terminal.isOpen());
    QFile file(regular);
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(file.readAll(), QByteArray("x\n"));

    QCOMPARE(terminal.open(dir.filePath("missing/COM1").toStdString()),
             PseudoTerminal::OpenResult::LinkFailed);
}

void TestSimLink::loopAppliesFaultsAndLogsEveryRequest() {
    QTemporaryDir dir;
    const QString logPath = dir.filePath("requests.log");
    RequestLog log;
    QVERIFY(log.open(logPath.toStdString()));
    PseudoTerminal terminal;  // not opened: handleRequest does not touch the line
    EchoResponder responder;
    FaultTable faults;
    SimulatorLoop loop(terminal, responder, faults, log);

    const Bytes request = withCrc({0x01, 0x43, 0x01, 0x00});
    QCOMPARE(hexText(*loop.handleRequest(request, 10)), hexText(request));
    faults.set({1, FaultKind::Silent, 1});
    QVERIFY(!loop.handleRequest(request, 20).has_value());
    faults.set({1, FaultKind::Short, 0});
    QCOMPARE(loop.handleRequest(request, 30)->size(), request.size() - 1);
    // Faults are per address.
    const Bytes other = withCrc({0x02, 0x43, 0x01, 0x00});
    QCOMPARE(loop.handleRequest(other, 40)->size(), other.size());
    // An unknown instrument does not use up a limited fault.
    faults.set({1, FaultKind::BadCrc, 1});
    QVERIFY(!loop.handleRequest(withCrc({0x01, 0x00, 0x01, 0x00}), 50).has_value());
    QVERIFY(faults.active(1).has_value());
    // Withheld replies do not count as answered; damaged ones do.
    QCOMPARE(responder.answeredCount, 3);

    const QStringList lines = tamlo::test::SimulatorProcess::readLines(logPath);
    QCOMPARE(lines.size(), 5);
    QCOMPARE(lines[0], QString("10 01 43 01 00 F1 9C -> 01 43 01 00 F1 9C"));
    QCOMPARE(lines[1], QString("20 01 43 01 00 F1 9C -> none [silent]"));
    QCOMPARE(lines[2], QString("30 01 43 01 00 F1 9C -> 01 43 01 00 F1 [short]"));
    QVERIFY(lines[3].startsWith("40 02 43 01 00"));
    QVERIFY(!lines[3].contains('['));
    QVERIFY(lines[4].endsWith("-> none [unknown meter]"));
}

void TestSimLink::loopCommands() {
    PseudoTerminal terminal;
    EchoResponder responder;
    FaultTable faults;
    RequestLog log;
    SimulatorLoop loop(terminal, responder, faults, log);

    QCOMPARE(loop.handleCommand("fault 3 badcrc 2"), std::string("ok"));
    QCOMPARE(faults.active(3), std::optional(FaultKind::BadCrc));
    QCOMPARE(loop.handleCommand("fault 3 sometimes").rfind("error ", 0), std::size_t(0));
    QCOMPARE(loop.handleCommand("  clear   3\r"), std::string("ok"));
    QVERIFY(!faults.active(3).has_value());
    QCOMPARE(loop.handleCommand("fault 4 silent"), std::string("ok"));
    QCOMPARE(loop.handleCommand("clear"), std::string("ok"));
    QVERIFY(!faults.active(4).has_value());
    QCOMPARE(loop.handleCommand("clear x").rfind("error ", 0), std::size_t(0));

    QCOMPARE(loop.handleCommand("echo a b"), std::string("ok"));
    QCOMPARE(responder.lastCommand, (std::vector<std::string>{"echo", "a", "b"}));
    QCOMPARE(loop.handleCommand("nonsense"), std::string("error unknown command"));

    QCOMPARE(loop.handleCommand(""), std::string());
    QCOMPARE(loop.handleCommand("# a note"), std::string());
    QVERIFY(!loop.quitRequested());
    QCOMPARE(loop.handleCommand("quit"), std::string("ok"));
    QVERIFY(loop.quitRequested());
}

QTEST_GUILESS_MAIN(TestSimLink)
#include "tst_simlink.moc"
