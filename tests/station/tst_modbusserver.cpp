// The station's live values read by libmodbus's own client over TCP: the numbers are the data
// grid's and the history file's, writes and reads outside the map are refused, stray clients
// cost only their sockets, and a server that cannot start is said while recording goes on.
#include <QProcess>
#include <QSignalSpy>
#include <QStatusBar>
#include <QTest>
#include <QtEndian>
#include <bit>
#include <random>

#include <modbus/modbus.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include "answeringmeters.h"
#include "mosquittobroker.h"
#include "station/modbusserver.h"
#include "station/stationsession.h"
#include "stationfixture.h"

using namespace tamlo;
using namespace tamlo::station;
using namespace tamlo::test;

namespace {

void writeIni(const StationFixture& f, const QByteArray& text) {
    QFile ini(f.path(QStringLiteral("modbus.ini")));
    QVERIFY(ini.open(QIODevice::WriteOnly));
    ini.write(text);
}

QByteArray serving(int port, const QByteArray& more = {}) {
    return "[modbus]\nenabled = true\nport = " + QByteArray::number(port) + "\n" + more;
}

// A libmodbus client; each read returns what came, or the errno of its refusal.
struct Client {
    modbus_t* ctx;
    explicit Client(int port, int unit = 1) : ctx(modbus_new_tcp("127.0.0.1", port)) {
        modbus_set_slave(ctx, unit);
        modbus_set_response_timeout(ctx, 3, 0);
    }
    ~Client() {
        modbus_close(ctx);
        modbus_free(ctx);
    }
    bool connect() { return modbus_connect(ctx) == 0; }
    std::vector<std::uint16_t> registers(int address, int count, int* error = nullptr) {
        std::vector<std::uint16_t> out(static_cast<std::size_t>(count));
        const bool ok = modbus_read_input_registers(ctx, address, count, out.data()) == count;
        if (error)
            *error = ok ? 0 : errno;
        return ok ? out : std::vector<std::uint16_t>{};
    }
    std::vector<std::uint8_t> links(int count) {
        std::vector<std::uint8_t> out(static_cast<std::size_t>(count));
        return modbus_read_input_bits(ctx, 0, count, out.data()) == count
                   ? out
                   : std::vector<std::uint8_t>{};
    }
    quint32 floatBits(int device) {
        const auto r = registers(2 * device, 2);
        return r.empty() ? 0xDEADBEEF : (quint32(r[0]) << 16) | r[1];
    }
};

// A socket connected to (or, `listening`, listening on) a local port.
int rawSocket(int port, bool listening = false) {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<std::uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    const auto* a = reinterpret_cast<sockaddr*>(&address);
    return (listening ? ::bind(fd, a, sizeof address) == 0 && ::listen(fd, 1) == 0
                      : ::connect(fd, a, sizeof address) == 0)
               ? fd
               : -1;
}

// The session of three meters (TI1 250 with 1 decimal, TI2 -5 with 2, TI3 silent), recording
// every second, serving on `port`.
struct Served {
    StationFixture f;
    AnsweringMeters line;
    std::unique_ptr<StationSession> session;

    explicit Served(int port, const QByteArray& more = {}) {
        f.writeConfig({{1, TM210, 0, {}, 0, QStringLiteral("TI1")},
                       {2, TM210, 0, {}, 0, QStringLiteral("TI2")},
                       {3, TM210, 0, {}, 0, QStringLiteral("TI3")}},
                      1);
        writeIni(f, serving(port, more));
        line.meters = {{1, {250, 1}}, {2, {-5, 2}}, {3, {7, 0, true}}};
        session = std::make_unique<StationSession>(f.dir.path(), f.clock,
                                                   std::make_unique<LentLine>(line));
        session->load();
        session->resetCycles();
        session->openPort();
        session->startHistoryFile();
        session->startModbus();
    }
    void poll(int ticks = 6) {
        for (int i = 0; i < ticks; ++i) session->pollTick();
    }
};

}  // namespace

class ModbusServerTest : public QObject {
    Q_OBJECT
private slots:
    void valuesAreTheGridsAndTheFilesOfTheSameSecond() {
        const int port = MosquittoBroker::freePort();
        Served s(port);
        QVERIFY(s.session->modbus());
        QSignalSpy ticks(s.session.get(), &StationSession::secondTicked);
        s.poll();
        const auto seconds = quint32(s.f.clock.now().toSecsSinceEpoch());  // of the answers
        s.f.clock.advanceSeconds(1);
        s.session->secondTick();
        const QStringList texts = ticks.last().at(0).value<RecordCycle::Tick>().texts;
        QCOMPARE(texts, (QStringList{"25", "-0.05", "Err"}));
        const QByteArray file = s.f.readFile(s.session->history().path());
        QCOMPARE(file.size(), 1176 + 12);

        Client c(port);
        QVERIFY(c.connect());
        for (int i = 0; i < 2; ++i) {
            const quint32 bits = c.floatBits(i);
            QCOMPARE(bits, qFromLittleEndian<quint32>(file.constData() + 1176 + 4 * i));
            QCOMPARE(bits, std::bit_cast<quint32>(texts[i].toFloat()));
        }
        QVERIFY(std::isnan(std::bit_cast<float>(c.floatBits(2))));
        QVERIFY(std::isnan(std::bit_cast<float>(c.floatBits(62))));
        QCOMPARE(c.registers(200, 3), (std::vector<std::uint16_t>{250, 0xFFFB, 0}));
        QCOMPARE(c.registers(300, 3), (std::vector<std::uint16_t>{1, 2, 0}));
        QCOMPARE(c.registers(400, 3),
                 (std::vector<std::uint16_t>{3, quint16(seconds >> 16), quint16(seconds)}));
        std::vector<std::uint8_t> links(63, 0);
        links[0] = links[1] = 1;
        QCOMPARE(c.links(63), links);
        // Another client, as the register table tells a plant to decode the values.
        QProcess python;
        python.start(QStringLiteral("/usr/bin/python3"), {QStringLiteral("-c"), QStringLiteral(R"(
import struct
from pymodbus.client import ModbusTcpClient
c = ModbusTcpClient("127.0.0.1", port=%1)
c.connect()
r = c.read_input_registers(0, 6, slave=1).registers
print(*[struct.unpack(">f", struct.pack(">HH", r[i], r[i + 1]))[0] for i in (0, 2, 4)],
      *c.read_discrete_inputs(0, 3, slave=1).bits[:3]))")
                                                                                    .arg(port)});
        QVERIFY(python.waitForFinished(20000));
        const QStringList decoded = QString::fromLatin1(python.readAll()).trimmed().split(' ');
        QCOMPARE(std::bit_cast<quint32>(decoded.value(0).toFloat()), c.floatBits(0));
        QCOMPARE(std::bit_cast<quint32>(decoded.value(1).toFloat()), c.floatBits(1));
        QCOMPARE(decoded.mid(2), (QStringList{"nan", "True", "True", "False"}));

        // A meter that falls silent reads NaN and link 0 after its failed turn.
        s.line.meters[1].silent = true;
        s.poll(9);
        QVERIFY(std::isnan(std::bit_cast<float>(c.floatBits(0))));
        QCOMPARE(c.links(2), (std::vector<std::uint8_t>{0, 1}));
    }

    void refusesWritesAndReadsOutsideTheMap() {
        const int port = MosquittoBroker::freePort();
        Served s(port);
        Client c(port);
        QVERIFY(c.connect());
        const std::uint8_t bit = 1;
        QCOMPARE(modbus_write_register(c.ctx, 0, 1), -1);
        QCOMPARE(errno, EMBXILFUN);
        QCOMPARE(modbus_write_bits(c.ctx, 0, 1, &bit), -1);
        QCOMPARE(errno, EMBXILFUN);
        int error = 0;
        // Gaps between the blocks, ranges across them, past the end.
        const std::pair<int, int> outside[] = {{126, 1}, {120, 10}, {199, 2}, {262, 2},
                                               {363, 1}, {402, 2},  {403, 1}, {65535, 1}};
        for (const auto& [address, count] : outside) {
            QVERIFY(c.registers(address, count, &error).empty());
            QCOMPARE(error, EMBXILADD);
        }
        QCOMPARE(c.registers(0, 125, &error).size(), 125u);
        std::uint16_t holding = 0;
        QCOMPARE(modbus_read_registers(c.ctx, 0, 1, &holding), -1);
        QCOMPARE(errno, EMBXILADD);
        std::uint8_t links[2];
        QCOMPARE(modbus_read_input_bits(c.ctx, 62, 2, links), -1);
        QCOMPARE(errno, EMBXILADD);
        // Another unit id: this server is no gateway to it.
        Client other(port, 2);
        QVERIFY(other.connect());
        QVERIFY(other.registers(400, 1, &error).empty());
        QCOMPARE(error, EMBXGTAR);
    }

    // 200 connections opened and dropped, one sending random bytes, one silent, and one past
    // max_clients: the others are answered and the values follow the polls.
    void strayClientsCostOnlyTheirSockets() {
        const int port = MosquittoBroker::freePort();
        Served s(port, "max_clients = 4\n");
        for (int i = 0; i < 200; ++i) {
            const int fd = rawSocket(port);
            QVERIFY(fd >= 0);
            if (i % 2)
                ::send(fd, "\0\1\0\0\0\6\1\4", 8, MSG_NOSIGNAL);  // a request cut short
            ::close(fd);
        }
        // Others are answered once the burst has gone through (its latecomers may be refused).
        QTRY_VERIFY([port] {
            Client probe(port);
            return probe.connect() && probe.registers(400, 1).size() == 1;
        }());
        QTRY_COMPARE(s.session->modbus()->clientCount(), 0);
        const int silent = rawSocket(port);
        const int noisy = rawSocket(port);
        std::mt19937 random(23);
        QByteArray garbage(4096, '\0');
        for (char& byte : garbage) byte = static_cast<char>(random());
        QCOMPARE(::send(noisy, garbage.constData(), garbage.size(), MSG_NOSIGNAL), 4096);
        Client a(port);
        QVERIFY(a.connect());
        QTRY_COMPARE(s.session->modbus()->clientCount(), 3);
        Client b(port);
        QVERIFY(b.connect());
        Client refused(port);  // the fifth
        refused.connect();
        int error = 0;
        QVERIFY(refused.registers(400, 1, &error).empty());

        s.poll();
        QCOMPARE(a.registers(200, 1), std::vector<std::uint16_t>{250});
        s.line.meters[1].raw = 251;
        s.poll();
        QCOMPARE(b.registers(200, 1), std::vector<std::uint16_t>{251});
        QVERIFY(s.session->modbusStatus().contains(QStringLiteral("127.0.0.1:%1").arg(port)));
        ::close(silent);
        ::close(noisy);
        QTRY_COMPARE(s.session->modbus()->clientCount(), 2);
    }

    void settingsThatCannotBeUsed_data() {
        QTest::addColumn<QByteArray>("ini");
        QTest::addColumn<QString>("message");
        QTest::newRow("port") << QByteArray("[modbus]\nenabled = true\nport = 502x\n")
                              << "modbus.ini：port 的值“502x”无效：应为 1 到 65535 之间的整数";
        QTest::newRow("no section")
            << QByteArray("enabled = true\n") << "modbus.ini：没有 [modbus] 节";
        QTest::newRow("host name")
            << serving(1502, "listen = scada-lan\n")
            << "modbus.ini：listen 的值“scada-lan”无效：应为 IP 地址（如 127.0.0.1、0.0.0.0 或 "
               "::1），不是主机名";
        QTest::newRow("unknown key")
            << serving(1502, "unitid = 3\n") << "modbus.ini：unitid 是未知的键";
        QTest::newRow("off") << QByteArray("[modbus]\nenabled = false\nport = x\n") << "";
        QTest::newRow("comments") << serving(1502, "# port = 1\n; unit_id = 0\n") << "";
    }
    void settingsThatCannotBeUsed() {
        QFETCH(QByteArray, ini);
        QFETCH(QString, message);
        StationFixture f;
        writeIni(f, ini);
        QCOMPARE(loadModbusSettings(f.dir.path()).error, message);
    }

    // What the operator sees: one box for a file that cannot be used or a port already taken,
    // and recording goes on; a server that runs is in the status bar's tool tip.
    void theWindowSaysWhatTheServerDoes() {
        const int port = MosquittoBroker::freePort();
        const int taken = rawSocket(port, true);
        QVERIFY(taken >= 0);
        for (const QByteArray& ini : {serving(port, "max_clients = many\n"), serving(port)}) {
            StationFixture f;
            f.writeConfig({{1, TM210, 0, {}, 0, QStringLiteral("TI1")}}, 1);
            writeIni(f, ini);
            auto& form = f.startScripted();
            const QString expected =
                ini.contains("many")
                    ? "Modbus TCP 服务未启动：modbus.ini：max_clients 的值“many”无效：应为 1 到 "
                      "100 之间的整数"
                    : QStringLiteral("Modbus TCP 服务未启动：无法在 127.0.0.1:%1 监听（%2）")
                          .arg(port)
                          .arg(QString::fromLocal8Bit(strerror(EADDRINUSE)));
            QCOMPARE(f.prompter.texts(), QStringList{expected});
            form.Timer2Timer();
            QCOMPARE(QFileInfo(form.history().path()).size(), 1176 + 4);
        }
        ::close(taken);
        StationFixture f;
        f.writeConfig({{1, TM210, 0, {}, 0, QStringLiteral("TI1")}}, 1);
        writeIni(f, serving(port));
        auto& form = f.startScripted();
        QVERIFY(f.prompter.texts().isEmpty());
        form.Timer2Timer();
        QCOMPARE(form.findChild<QStatusBar*>("StatusBar1")->toolTip(),
                 QStringLiteral("Modbus TCP：在 127.0.0.1:%1 监听，0 个客户端已连接").arg(port));
    }
};

QTEST_MAIN(ModbusServerTest)
#include "tst_modbusserver.moc"
