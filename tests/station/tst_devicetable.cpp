// config.dat and the device table operations, without the window.
#include <QTemporaryDir>
#include <QTest>
#include <QtEndian>

#include "shared/gbk.h"
#include "shared/numbertext.h"
#include "station/devicetable.h"

using namespace tamlo;
using namespace tamlo::station;

namespace {

QByteArray readAll(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

void writeAll(const QString& path, const QByteArray& bytes) {
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    f.write(bytes);
}

DeviceInput input(const QString& address, const QString& tag, const QString& channel,
                  int model = 0, int unit = 0) {
    return DeviceInput{model, address, tag, channel, unit};
}

}  // namespace

class DeviceTableTest : public QObject {
    Q_OBJECT
private slots:
    void newFileHasTheDefaults() {
        QTemporaryDir dir;
        ConfigFile file(dir.filePath(QStringLiteral("config.dat")));
        const LoadedConfig loaded = file.load();
        QVERIFY(loaded.created);
        QCOMPARE(loaded.table.count, 0);
        QCOMPARE(loaded.config.password, QByteArray("583174"));
        QCOMPARE(loaded.config.baudIndex, 2);  // 9600 for this run
        QCOMPARE(loaded.config.portIndex, 0);
        QCOMPARE(loaded.config.recordInterval, 0);

        QByteArray expected(1344, '\0');
        expected.replace(5, 6, "583174");
        QCOMPARE(readAll(file.path()), expected);
        // The file itself says 2400 baud until the first save.
        const LoadedConfig again = file.load();
        QVERIFY(!again.created);
        QCOMPARE(again.config.baudIndex, 0);
        QCOMPARE(baudRate(again.config.baudIndex), 2400);
    }

    void shortFileLoadsWhatItHolds() {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("config.dat"));
        QByteArray bytes(13, '\0');
        bytes[0] = 3;
        bytes.replace(5, 8, "ABCDEFGH");
        writeAll(path, bytes);
        const LoadedConfig loaded = ConfigFile(path).load();
        QVERIFY(!loaded.created);
        QCOMPARE(loaded.table.count, 3);
        QCOMPARE(loaded.config.password, QByteArray("ABCDEFGH"));  // 8 bytes, no terminator
        QCOMPARE(loaded.config.portIndex, 0);
        QCOMPARE(loaded.config.baudIndex, 0);
        QCOMPARE(loaded.config.recordInterval, 0);
        for (const DeviceEntry& e : loaded.table.entries) {
            QCOMPARE(e.toBytes(), QByteArray(13, '\0'));
        }
        QCOMPARE(readAll(path).size(), 13);  // loading never rewrites the file
    }

    void outOfRangeValuesAreClamped() {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("config.dat"));
        QByteArray bytes(1344, '\0');
        bytes[0] = char(200);
        bytes[15] = 9;
        bytes[16] = 7;
        qToLittleEndian<std::uint16_t>(65535, bytes.data() + 17);
        bytes[512 + 0] = 7;        // model
        bytes[512 + 12] = 21;      // unit
        bytes[512 + 13 + 0] = 6;   // the last model
        bytes[512 + 13 + 12] = 20; // the last unit
        writeAll(path, bytes);
        const LoadedConfig loaded = ConfigFile(path).load();
        QCOMPARE(loaded.table.count, 63);
        QCOMPARE(loaded.config.portIndex, 0);
        QCOMPARE(loaded.config.baudIndex, 0);
        QCOMPARE(loaded.config.recordInterval, 65535);
        QCOMPARE(loaded.table.entries[0].model, 0);
        QCOMPARE(loaded.table.entries[0].unit, 0);
        QCOMPARE(loaded.table.entries[1].model, 6);
        QCOMPARE(loaded.table.entries[1].unit, 20);
    }

    void entriesFromTheEditControls() {
        const DeviceEntry e = entryFromInput(input(QStringLiteral("300"), QStringLiteral("TI-10101"),
                                                   QStringLiteral("99"), TM250, 13));
        QCOMPARE(e.address, 44);  // 300 modulo 256
        QCOMPARE(e.channel, 99);
        QCOMPARE(e.model, TM250);
        QVERIFY(e.isMultiChannel());
        QCOMPARE(e.unit, 13);
        QCOMPARE(e.toBytes().mid(3, 8), QByteArray("TI-10101"));  // no terminator
        QCOMPARE(e.tagText(), QStringLiteral("TI-10101"));

        // Four Chinese characters fill the 8 tag bytes; a fifth is refused, not cut off.
        const DeviceEntry chinese = entryFromInput(
            input(QStringLiteral("1"), QStringLiteral("一二三四"), QStringLiteral("0")));
        QCOMPARE(chinese.toBytes().mid(3, 8), QByteArray("\xD2\xBB\xB6\xFE\xC8\xFD\xCB\xC4"));
        QVERIFY_THROWS_EXCEPTION(
            ConversionError, entryFromInput(input(QStringLiteral("1"), QStringLiteral("一二三四五"),
                                                  QStringLiteral("0"))));

        QVERIFY_THROWS_EXCEPTION(ConversionError,
                                 entryFromInput(input(QString(), QStringLiteral("x"), QStringLiteral("1"))));
        QVERIFY_THROWS_EXCEPTION(ConversionError,
                                 entryFromInput(input(QStringLiteral("1"), QStringLiteral("x"), QStringLiteral("a"))));
        QVERIFY_THROWS_EXCEPTION(ConversionError,
                                 entryFromInput(input(QStringLiteral("1"), QStringLiteral("x"), QStringLiteral("1"), -1)));
    }

    void addChangeDelete() {
        DeviceTable table;
        for (int i = 0; i < 5; ++i) {
            QVERIFY(addDevice(table, entryFromInput(input(QString::number(i + 1),
                                                          QStringLiteral("D%1").arg(i + 1),
                                                          QStringLiteral("0")))));
        }
        QVERIFY(deleteDevice(table, 1));  // device 2 of 5
        QCOMPARE(table.count, 4);
        QStringList tags;
        for (int i = 0; i < 5; ++i) {
            tags << table.entries[i].tagText();
        }
        // The later devices moved up; slot 4 still holds the old fifth device.
        QCOMPARE(tags, (QStringList{"D1", "D3", "D4", "D5", "D5"}));
        QVERIFY(!deleteDevice(table, 4));
        QVERIFY(changeDevice(table, 0, entryFromInput(input("9", "X", "0"))));
        QCOMPARE(table.entries[0].address, 9);
        QVERIFY(!changeDevice(table, 4, entryFromInput(input("9", "X", "0"))));

        DeviceTable full;
        for (int i = 0; i < 63; ++i) {
            QVERIFY(addDevice(full, DeviceEntry{}));
        }
        QVERIFY(!addDevice(full, DeviceEntry{}));  // never a 64th device
        QCOMPARE(full.count, 63);
    }

    void saveWritesTheFieldsAndTheStaleSlot() {
        QTemporaryDir dir;
        ConfigFile file(dir.filePath(QStringLiteral("config.dat")));
        file.load();
        DeviceTable table;
        for (int i = 0; i < 5; ++i) {
            addDevice(table, entryFromInput(input(QString::number(10 + i), QStringLiteral("T%1").arg(i),
                                                  QStringLiteral("1"), TM250, 3)));
        }
        deleteDevice(table, 1);
        StationConfig config;
        config.portIndex = 3;
        config.baudIndex = 6;
        config.recordInterval = 300;
        QVERIFY(file.save(table, config));
        const QByteArray bytes = readAll(file.path());
        QCOMPARE(bytes.size(), 1344);
        QCOMPARE(bytes.at(0), char(4));
        QCOMPARE(bytes.mid(5, 8), QByteArray("583174\0\0", 8));  // the save leaves the password
        QCOMPARE(bytes.at(15), char(3));
        QCOMPARE(bytes.at(16), char(6));
        QCOMPARE(qFromLittleEndian<std::uint16_t>(bytes.constData() + 17), 300);
        QCOMPARE(bytes.mid(512 + 13 * 4, 13), table.entries[4].toBytes());
        QCOMPARE(table.entries[4].tagText(), QStringLiteral("T4"));

        const LoadedConfig back = file.load();
        QCOMPARE(back.table.count, 4);
        QCOMPARE(back.config.recordInterval, 300);
        QCOMPARE(back.table.entries[1].tagText(), QStringLiteral("T2"));

        QVERIFY(file.writePassword(QByteArray("12345678")));
        QCOMPARE(readAll(file.path()).mid(5, 8), QByteArray("12345678"));
        QCOMPARE(file.load().config.password, QByteArray("12345678"));
    }

    void savingNeedsAnExistingFile() {
        QTemporaryDir dir;
        ConfigFile file(dir.filePath(QStringLiteral("config.dat")));
        QVERIFY(!file.save(DeviceTable{}, StationConfig{}));
        QVERIFY(!file.writeSlots(DeviceTable{}));
        QVERIFY(!file.writePassword(QByteArray("1")));
        QVERIFY(!QFileInfo::exists(file.path()));
    }
};

QTEST_GUILESS_MAIN(DeviceTableTest)
#include "tst_devicetable.moc"
