#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <array>
#include <cstdint>
#include <functional>

class QFile;

namespace tamlo::station {

inline constexpr int kDeviceSlots = 64;
inline constexpr int kMaxDevices = 63;
inline constexpr int kEntrySize = 13;
inline constexpr int kTagBytes = 8;
inline constexpr int kConfigFileSize = 1344;
inline constexpr int kConfigSlotsOffset = 512;
inline constexpr int kConfigPasswordOffset = 5;
inline constexpr int kPasswordBytes = 8;
inline constexpr int kConfigPortOffset = 15;
inline constexpr int kConfigBaudOffset = 16;
inline constexpr int kConfigIntervalOffset = 17;

enum ModelRow : std::uint8_t { TM210 = 0, TM220, TM230, TM250, TM260, TP7, TM610 };

const QStringList& modelNames();  // "TM210" .. "TM610", by model row
const QStringList& unitNames();   // "℃" .. "Kg/s", by unit row
const QStringList& portNames();   // "COM1" .. "COM8"
const QStringList& baudNames();   // "2400" .. "115200"
std::int32_t baudRate(int baudIndex);

inline constexpr char kDefaultPassword[] = "583174";

// One configured meter, 13 bytes in memory and in config.dat.
struct DeviceEntry {
    std::uint8_t model = 0;
    std::uint8_t address = 0;
    std::uint8_t channel = 0;
    std::array<char, kTagBytes> tag{};
    std::uint8_t retries = 0;  // run-time count of failed polls in the current turn
    std::uint8_t unit = 0;

    // Models TM250 and TM260 have several channels; their requests carry the channel.
    bool isMultiChannel() const { return model == TM250 || model == TM260; }
    QByteArray tagBytes() const;  // up to the first zero byte
    QString tagText() const;      // GBK decoded
    QString modelName() const;
    QString unitName() const;

    QByteArray toBytes() const;
    static DeviceEntry fromBytes(const char* bytes);  // kEntrySize bytes
};

struct DeviceTable {
    std::array<DeviceEntry, kDeviceSlots> entries{};
    int count = 0;

    // The tags and unit names of the devices in use, in table order.
    QStringList tags() const;
    QStringList units() const;
};

struct StationConfig {
    std::uint8_t portIndex = 0;
    std::uint8_t baudIndex = 2;
    std::uint16_t recordInterval = 0;
    QByteArray password;  // at most 8 bytes
};

// What the edit controls hold. Conversion of the numeric texts throws ConversionError.
struct DeviceInput {
    int modelRow = 0;
    QString address;
    QString tag;
    QString channel;
    int unitRow = 0;
};

// Converts every field first, so that a bad field leaves the slot as it was.
DeviceEntry entryFromInput(const DeviceInput& input);

// The table operations of the add, change and delete buttons. Each returns whether it changed
// the table.
bool addDevice(DeviceTable& table, const DeviceEntry& entry);
bool changeDevice(DeviceTable& table, int index, const DeviceEntry& entry);
// Moves the later slots down; the former last slot keeps its contents.
bool deleteDevice(DeviceTable& table, int index);

// For each device of `after`, its index in `before` (the same address and channel, each
// device of `before` taken once), or -1 for a new one: what follows a meter across a save.
std::array<int, kDeviceSlots> sameMeters(const DeviceTable& before, const DeviceTable& after);

struct LoadedConfig {
    DeviceTable table;
    StationConfig config;
    bool created = false;  // the file did not exist (or could not be read) and was created
};

// config.dat in the working directory: 1344 bytes, little-endian.
class ConfigFile {
public:
    explicit ConfigFile(QString path) : path_(std::move(path)) {}
    const QString& path() const { return path_; }

    // Reads the file, or creates it with the defaults when it cannot be opened for reading.
    // Missing bytes of a short file count as zero; out-of-range values are clamped so that
    // nothing indexes past its list (count to 63, an unknown model, unit, port or baud to row 0).
    LoadedConfig load() const;

    // Writes count, port, baud, interval and the 64 slots. False when the file cannot be opened.
    bool save(const DeviceTable& table, const StationConfig& config) const;
    // Writes the 64 slots only (at close).
    bool writeSlots(const DeviceTable& table) const;
    bool writePassword(const QByteArray& password) const;

private:
    bool create() const;
    // Opens the existing file for update ("r+b"), runs `write` and closes it.
    bool update(const std::function<bool(QFile&)>& write) const;
    QString path_;
};

}  // namespace tamlo::station
