#include "devicetable.h"

#include <QFile>
#include <QtEndian>
#include <cstring>

#include "shared/gbk.h"
#include "shared/numbertext.h"

namespace tamlo::station {

const QStringList& modelNames() {
    static const QStringList names{QStringLiteral("TM210"), QStringLiteral("TM220"),
                                   QStringLiteral("TM230"), QStringLiteral("TM250"),
                                   QStringLiteral("TM260"), QStringLiteral("TP7"),
                                   QStringLiteral("TM610")};
    return names;
}

const QStringList& unitNames() {
    static const QStringList names{
        QStringLiteral("℃"),     QStringLiteral("℉"),    QStringLiteral("Hz"),
        QStringLiteral("KHz"),    QStringLiteral("%"),     QStringLiteral("mV"),
        QStringLiteral("V"),      QStringLiteral("KV"),    QStringLiteral("mA"),
        QStringLiteral("A"),      QStringLiteral("kA"),    QStringLiteral("Pa"),
        QStringLiteral("KPa"),    QStringLiteral("MPa"),   QStringLiteral("t/h"),
        QStringLiteral("L/h"),    QStringLiteral("L/min"), QStringLiteral("L/s"),
        QStringLiteral("Kg/h"),   QStringLiteral("Kg/min"), QStringLiteral("Kg/s")};
    return names;
}

const QStringList& portNames() {
    static const QStringList names{QStringLiteral("COM1"), QStringLiteral("COM2"),
                                   QStringLiteral("COM3"), QStringLiteral("COM4"),
                                   QStringLiteral("COM5"), QStringLiteral("COM6"),
                                   QStringLiteral("COM7"), QStringLiteral("COM8")};
    return names;
}

const QStringList& baudNames() {
    static const QStringList names{QStringLiteral("2400"),  QStringLiteral("4800"),
                                   QStringLiteral("9600"),  QStringLiteral("19200"),
                                   QStringLiteral("38400"), QStringLiteral("57600"),
                                   QStringLiteral("115200")};
    return names;
}

std::int32_t baudRate(int baudIndex) {
    static constexpr std::int32_t rates[] = {2400, 4800, 9600, 19200, 38400, 57600, 115200};
    return rates[(baudIndex >= 0 && baudIndex < 7) ? baudIndex : 0];
}

QByteArray DeviceEntry::tagBytes() const {
    return bytesToZero(QByteArrayView(tag.data(), kTagBytes));
}

QString DeviceEntry::tagText() const { return gbkToString(QByteArrayView(tag.data(), kTagBytes)); }

QString DeviceEntry::modelName() const { return modelNames().value(model); }

QString DeviceEntry::unitName() const { return unitNames().value(unit); }

QStringList DeviceTable::tags() const {
    QStringList texts;
    for (int i = 0; i < count; ++i) {
        texts << entries[static_cast<std::size_t>(i)].tagText();
    }
    return texts;
}

QStringList DeviceTable::units() const {
    QStringList texts;
    for (int i = 0; i < count; ++i) {
        texts << entries[static_cast<std::size_t>(i)].unitName();
    }
    return texts;
}

QByteArray DeviceEntry::toBytes() const {
    QByteArray bytes(kEntrySize, '\0');
    bytes[0] = static_cast<char>(model);
    bytes[1] = static_cast<char>(address);
    bytes[2] = static_cast<char>(channel);
    std::memcpy(bytes.data() + 3, tag.data(), kTagBytes);
    bytes[11] = static_cast<char>(retries);
    bytes[12] = static_cast<char>(unit);
    return bytes;
}

DeviceEntry DeviceEntry::fromBytes(const char* bytes) {
    DeviceEntry e;
    e.model = static_cast<std::uint8_t>(bytes[0]);
    e.address = static_cast<std::uint8_t>(bytes[1]);
    e.channel = static_cast<std::uint8_t>(bytes[2]);
    std::memcpy(e.tag.data(), bytes + 3, kTagBytes);
    e.retries = static_cast<std::uint8_t>(bytes[11]);
    e.unit = static_cast<std::uint8_t>(bytes[12]);
    return e;
}

DeviceEntry entryFromInput(const DeviceInput& input) {
    if (input.modelRow < 0 || input.modelRow >= modelNames().size()) {
        throw ConversionError(QStringLiteral("请选择设备名称。"));
    }
    if (input.unitRow < 0 || input.unitRow >= unitNames().size()) {
        throw ConversionError(QStringLiteral("请选择单位。"));
    }
    DeviceEntry e;
    e.model = static_cast<std::uint8_t>(input.modelRow);
    e.unit = static_cast<std::uint8_t>(input.unitRow);
    // An address above 255 is kept modulo 256, as the bus byte holds it.
    e.address = static_cast<std::uint8_t>(textToInt(input.address) & 0xFF);
    e.channel = static_cast<std::uint8_t>(textToInt(input.channel) & 0xFF);
    if (!fitsGbk(input.tag, kTagBytes)) {
        throw ConversionError(
            QStringLiteral("工位号“%1”超出 8 个字节（最多 4 个汉字或 8 个字母、数字）。")
                .arg(input.tag));
    }
    const QByteArray tag = stringToGbk(input.tag);
    std::memcpy(e.tag.data(), tag.constData(), static_cast<std::size_t>(tag.size()));
    return e;
}

bool addDevice(DeviceTable& table, const DeviceEntry& entry) {
    if (table.count >= kMaxDevices) {
        return false;
    }
    table.entries[static_cast<std::size_t>(table.count)] = entry;
    ++table.count;
    return true;
}

bool changeDevice(DeviceTable& table, int index, const DeviceEntry& entry) {
    if (index < 0 || index >= table.count) {
        return false;
    }
    table.entries[static_cast<std::size_t>(index)] = entry;
    return true;
}

bool deleteDevice(DeviceTable& table, int index) {
    if (index < 0 || index >= table.count) {
        return false;
    }
    for (int i = index; i < table.count - 1; ++i) {
        table.entries[static_cast<std::size_t>(i)] = table.entries[static_cast<std::size_t>(i + 1)];
    }
    --table.count;
    return true;
}

namespace {

bool writeAt(QFile& file, qint64 offset, const QByteArray& bytes) {
    return file.seek(offset) && file.write(bytes) == bytes.size();
}

QByteArray slotBytes(const DeviceTable& table) {
    QByteArray bytes;
    bytes.reserve(kDeviceSlots * kEntrySize);
    for (const DeviceEntry& e : table.entries) {
        bytes += e.toBytes();
    }
    return bytes;
}

QByteArray passwordBytes(const QByteArray& password) {
    QByteArray bytes = password.left(kPasswordBytes);
    bytes.append(kPasswordBytes - bytes.size(), '\0');
    return bytes;
}

}  // namespace

bool ConfigFile::create() const {
    QFile file(path_);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
        return false;
    }
    QByteArray bytes(kConfigFileSize, '\0');
    const QByteArray password = passwordBytes(QByteArray(kDefaultPassword));
    std::memcpy(bytes.data() + kConfigPasswordOffset, password.constData(), kPasswordBytes);
    const bool ok = file.write(bytes) == bytes.size() && file.flush();
    file.close();
    return ok;
}

LoadedConfig ConfigFile::load() const {
    LoadedConfig loaded;
    QFile file(path_);
    if (!file.open(QIODevice::ReadOnly)) {
        create();
        loaded.created = true;
        loaded.config.password = QByteArray(kDefaultPassword);
        loaded.config.portIndex = 0;
        loaded.config.baudIndex = 2;  // 9600 until the first save writes the settings
        loaded.config.recordInterval = 0;
        return loaded;
    }
    QByteArray bytes = file.read(kConfigFileSize);
    file.close();
    bytes.append(kConfigFileSize - bytes.size(), '\0');  // a short file: missing bytes are zero
    const char* p = bytes.constData();

    loaded.table.count = std::min<int>(static_cast<std::uint8_t>(p[0]), kMaxDevices);
    loaded.config.password =
        bytesToZero(QByteArrayView(p + kConfigPasswordOffset, kPasswordBytes));
    for (int i = 0; i < kDeviceSlots; ++i) {
        DeviceEntry e = DeviceEntry::fromBytes(p + kConfigSlotsOffset + kEntrySize * i);
        if (e.model >= modelNames().size()) {
            e.model = 0;
        }
        if (e.unit >= unitNames().size()) {
            e.unit = 0;
        }
        loaded.table.entries[static_cast<std::size_t>(i)] = e;
    }
    const auto port = static_cast<std::uint8_t>(p[kConfigPortOffset]);
    const auto baud = static_cast<std::uint8_t>(p[kConfigBaudOffset]);
    loaded.config.portIndex = port < portNames().size() ? port : 0;
    loaded.config.baudIndex = baud < baudNames().size() ? baud : 0;
    loaded.config.recordInterval = qFromLittleEndian<std::uint16_t>(p + kConfigIntervalOffset);
    return loaded;
}

bool ConfigFile::update(const std::function<bool(QFile&)>& write) const {
    // Only an existing file is updated: a missing config.dat is not recreated behind the
    // operator's back.
    QFile file(path_);
    if (!file.open(QIODevice::ReadWrite | QIODevice::ExistingOnly)) {
        return false;
    }
    const bool ok = write(file) && file.flush();
    file.close();
    return ok;
}

bool ConfigFile::save(const DeviceTable& table, const StationConfig& config) const {
    QByteArray interval(2, '\0');
    qToLittleEndian(config.recordInterval, interval.data());
    return update([&](QFile& file) {
        return writeAt(file, 0, QByteArray(1, static_cast<char>(table.count))) &&
               writeAt(file, kConfigPortOffset, QByteArray(1, static_cast<char>(config.portIndex))) &&
               writeAt(file, kConfigBaudOffset, QByteArray(1, static_cast<char>(config.baudIndex))) &&
               writeAt(file, kConfigIntervalOffset, interval) &&
               writeAt(file, kConfigSlotsOffset, slotBytes(table));
    });
}

bool ConfigFile::writeSlots(const DeviceTable& table) const {
    return update([&](QFile& file) { return writeAt(file, kConfigSlotsOffset, slotBytes(table)); });
}

bool ConfigFile::writePassword(const QByteArray& password) const {
    return update([&](QFile& file) {
        return writeAt(file, kConfigPasswordOffset, passwordBytes(password));
    });
}

std::array<int, kDeviceSlots> sameMeters(const DeviceTable& before, const DeviceTable& after) {
    std::array<int, kDeviceSlots> found;
    found.fill(-1);
    std::array<bool, kDeviceSlots> taken{};
    for (int i = 0; i < after.count; ++i) {
        const DeviceEntry& entry = after.entries[static_cast<std::size_t>(i)];
        for (int j = 0; j < before.count; ++j) {
            const DeviceEntry& was = before.entries[static_cast<std::size_t>(j)];
            if (!taken[static_cast<std::size_t>(j)] && was.address == entry.address &&
                was.channel == entry.channel) {
                taken[static_cast<std::size_t>(j)] = true;
                found[static_cast<std::size_t>(i)] = j;
                break;
            }
        }
    }
    return found;
}

}  // namespace tamlo::station
