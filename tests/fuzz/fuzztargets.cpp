#include "fuzztargets.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtEndian>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <memory>
#include <string>

#include "analysis/recorderhistory.h"
#include "analysis/recorderprotocol.h"
#include "meterconfig.h"
#include "mqtt/mqttsettings.h"
#include "mqtt/recordqueue.h"
#include "shared/seriallink.h"
#include "shared/stationhistory.h"
#include "station/devicetable.h"
#include "station/paramcatalogue.h"
#include "station/paramreader.h"
#include "station/pollcycle.h"

#define FUZZ_CHECK(cond)                                                                 \
    do {                                                                                 \
        if (!(cond)) {                                                                   \
            std::fprintf(stderr, "%s:%d: broken rule: %s\n", __FILE__, __LINE__, #cond); \
            std::abort();                                                                \
        }                                                                                \
    } while (0)

namespace tamlo::fuzz {

namespace {

// The input as a file the readers open by name.
QString inputFile(const std::uint8_t* data, std::size_t size) {
    static QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("input"));
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
        std::abort();
    }
    f.write(reinterpret_cast<const char*>(data), static_cast<qint64>(size));
    return path;
}

// A line whose replies are the input, in a heap block of exactly that size, so a read past the
// bytes given is caught by the address sanitizer.
class ScriptedLink final : public ByteLink {
public:
    ScriptedLink(const std::uint8_t* data, std::size_t size)
        : bytes_(std::make_unique<std::uint8_t[]>(size == 0 ? 1 : size)), size_(size) {
        if (size != 0) {
            std::memcpy(bytes_.get(), data, size);
        }
    }
    bool isOpen() const override { return true; }
    bool purgeInput() override { return true; }
    int write(const std::uint8_t*, int count) override { return count; }
    int read(std::uint8_t* data, int count) override {
        const std::size_t n = std::min<std::size_t>(static_cast<std::size_t>(count), size_ - at_);
        if (n != 0) {
            std::memcpy(data, bytes_.get() + at_, n);
        }
        at_ += n;
        lastRead_ = {at_ - n, n};
        return static_cast<int>(n);
    }
    // Where the bytes of the last read came from in the input, and how many.
    std::pair<std::size_t, std::size_t> lastRead() const { return lastRead_; }
    const std::uint8_t* bytes() const { return bytes_.get(); }

private:
    std::unique_ptr<std::uint8_t[]> bytes_;
    std::size_t size_;
    std::size_t at_ = 0;
    std::pair<std::size_t, std::size_t> lastRead_{0, 0};
};

std::unique_ptr<std::uint8_t[]> exactCopy(const std::uint8_t* data, std::size_t size) {
    auto copy = std::make_unique<std::uint8_t[]>(size == 0 ? 1 : size);
    if (size != 0) {
        std::memcpy(copy.get(), data, size);
    }
    return copy;
}

int configFile(const std::uint8_t* data, std::size_t size) {
    const QString path = inputFile(data, size);
    const station::LoadedConfig loaded = station::ConfigFile(path).load();
    // Whatever the file says, nothing may index past its list.
    FUZZ_CHECK(loaded.table.count >= 0 && loaded.table.count <= station::kMaxDevices);
    FUZZ_CHECK(loaded.config.portIndex < station::portNames().size());
    FUZZ_CHECK(loaded.config.baudIndex < station::baudNames().size());
    FUZZ_CHECK(loaded.config.password.size() <= 8);
    for (int i = 0; i < loaded.table.count; ++i) {
        const station::DeviceEntry& e = loaded.table.entries[static_cast<std::size_t>(i)];
        FUZZ_CHECK(e.model < station::modelNames().size());
        FUZZ_CHECK(e.unit < station::unitNames().size());
        (void)e.modelName();
        (void)e.unitName();
        (void)e.tagText();
    }
    return 0;
}

int stationHistory(const std::uint8_t* data, std::size_t size) {
    const QString path = inputFile(data, size);
    StationHistoryReader reader;
    if (!reader.open(path)) {
        return 0;
    }
    const StationHistoryHeader& h = reader.header();
    FUZZ_CHECK(size >= static_cast<std::size_t>(kHistoryHeaderSize));
    FUZZ_CHECK(h.channelCount >= 1 && h.channelCount <= kHistoryMaxChannels);
    // The header describes the records returned: whole records only, each the bytes at its place.
    const std::uint64_t recordSize = 4ULL * h.channelCount;
    FUZZ_CHECK(reader.recordCount() == (size - kHistoryHeaderSize) / recordSize);
    std::uint32_t interval = 0;
    std::uint32_t count = 0;
    std::memcpy(&interval, data + 8, 4);
    std::memcpy(&count, data + 12, 4);
    FUZZ_CHECK(qFromLittleEndian(interval) == h.intervalSeconds);
    FUZZ_CHECK(qFromLittleEndian(count) == h.channelCount);
    std::vector<float> values;
    std::uint64_t k = 0;
    FUZZ_CHECK(reader.seekRecord(0));
    while (reader.readRecord(values)) {
        FUZZ_CHECK(values.size() == h.channelCount);
        const std::uint8_t* at = data + historyRecordOffset(k, h.channelCount);
        for (std::uint32_t c = 0; c < h.channelCount; ++c) {
            std::uint32_t bits = 0;
            std::memcpy(&bits, &values[c], 4);
            FUZZ_CHECK(bits == qFromLittleEndian<std::uint32_t>(at + 4 * c));
        }
        ++k;
    }
    FUZZ_CHECK(k == reader.recordCount());
    FUZZ_CHECK(reader.endTime() >= reader.recordTime(0));
    return 0;
}

int recorderHistory(const std::uint8_t* data, std::size_t size) {
    const QString path = inputFile(data, size);
    const analysis::RecorderLoadResult result = analysis::loadRecorderHistory(path);
    if (result.status != analysis::RecorderLoadStatus::Loaded) {
        return 0;
    }
    const analysis::RecorderHistory& h = result.history;
    const std::uint32_t tag = qFromLittleEndian<std::uint32_t>(data);
    FUZZ_CHECK(h.byteSwapped == (tag == analysis::kRecorderSwappedTag));
    FUZZ_CHECK(h.channelCount() >= 1 &&
               h.channelCount() <= (h.byteSwapped ? analysis::kSwappedMaxChannels
                                                  : analysis::kRecorderMaxChannels));
    FUZZ_CHECK(h.recordInterval >= 1 && h.recordInterval <= 65535);
    FUZZ_CHECK(h.recordCount() >= 1);
    // The data area the header states lies within the bytes given.
    FUZZ_CHECK(static_cast<std::uint64_t>(h.header.dataOffset) + h.header.dataSize <= size);
    FUZZ_CHECK(h.header.newestOffset < h.header.dataSize);
    FUZZ_CHECK(h.startTime <= h.endTime);
    QFile file(path);
    FUZZ_CHECK(file.open(QIODevice::ReadOnly));
    // Every record of the ring reads whole, its values in host order as the layout stores them.
    const std::int64_t records = std::min<std::int64_t>(h.recordCount(), 64);
    for (std::int64_t r = 0; r < records; ++r) {
        const std::int64_t offset = r * h.recordSize();
        const auto raw = analysis::readRawRecord(file, h, offset);
        FUZZ_CHECK(raw.has_value());
        FUZZ_CHECK(static_cast<int>(raw->size()) == h.channelCount());
        const std::uint8_t* at = data + h.header.dataOffset + offset;
        for (int c = 0; c < h.channelCount(); ++c) {
            const std::int16_t expected = h.byteSwapped
                                              ? qFromBigEndian<std::int16_t>(at + 2 * c)
                                              : qFromLittleEndian<std::int16_t>(at + 2 * c);
            FUZZ_CHECK((*raw)[static_cast<std::size_t>(c)] == expected);
        }
    }
    return 0;
}

// The table of one meter: the model and channel come from the first input byte.
station::DeviceTable oneMeter(std::uint8_t selector) {
    station::DeviceTable table;
    table.count = 1;
    table.entries[0].model = static_cast<std::uint8_t>(selector % station::modelNames().size());
    table.entries[0].address = 7;
    table.entries[0].channel = static_cast<std::uint8_t>(selector >> 4);
    return table;
}

// CRC-16/MODBUS worked out bit by bit, apart from the table-driven one under test.
bool validReply(const std::uint8_t* reply, std::size_t size) {
    std::uint16_t crc = 0xFFFF;
    for (std::size_t i = 0; i + 2 < size; ++i) {
        crc ^= reply[i];
        for (int bit = 0; bit < 8; ++bit) {
            crc = (crc & 1) ? static_cast<std::uint16_t>((crc >> 1) ^ 0xA001)
                            : static_cast<std::uint16_t>(crc >> 1);
        }
    }
    return size >= 2 && reply[size - 2] == (crc & 0xFF) && reply[size - 1] == (crc >> 8);
}

int meterValueReply(const std::uint8_t* data, std::size_t size) {
    if (size == 0) {
        return 0;
    }
    station::DeviceTable table = oneMeter(data[0]);
    ScriptedLink link(data + 1, size - 1);
    station::LiveValueTable live{};
    station::PollCycle poll;
    // Up to three tries, each reading the next 9 bytes of the input.
    for (int tick = 0; tick < 3; ++tick) {
        const station::PollCycle::TickResult r = poll.tick(link, table, live);
        const auto [from, n] = link.lastRead();
        if (r.state == station::PollCycle::LinkState::Answered) {
            // Accepted: exactly one whole reply with a correct CRC, its value taken from it.
            FUZZ_CHECK(n == static_cast<std::size_t>(station::kValueReplySize));
            const std::uint8_t* reply = link.bytes() + from;
            FUZZ_CHECK(validReply(reply, n));
            FUZZ_CHECK(reply[0] == table.entries[0].address && reply[1] == station::kReadValue);
            FUZZ_CHECK(live[0].valid == 1);
            FUZZ_CHECK(live[0].raw == static_cast<std::int16_t>((reply[3] << 8) | reply[4]));
            FUZZ_CHECK(live[0].decimals == (reply[5] & 3));
            return 0;
        }
        FUZZ_CHECK(n != static_cast<std::size_t>(station::kValueReplySize) ||
                   !validReply(link.bytes() + from, n) ||
                   link.bytes()[from] != table.entries[0].address ||
                   link.bytes()[from + 1] != station::kReadValue);
        if (r.state == station::PollCycle::LinkState::Failed) {
            FUZZ_CHECK(tick == 2 && live[0].valid == 0);
        }
    }
    return 0;
}

int meterParamReply(const std::uint8_t* data, std::size_t size) {
    if (size == 0) {
        return 0;
    }
    const station::DeviceTable table = oneMeter(data[0]);
    ScriptedLink link(data + 1, size - 1);
    station::ParameterReader reader;
    reader.clear(1);
    const QList<station::ParameterReader::ListRow> rows = reader.fill(table, 0);
    if (rows.isEmpty()) {
        return 0;
    }
    const int row = 1 + (data[0] % rows.size());
    const station::ParameterReader::ReadOutcome outcome = reader.read(link, table, row);
    const auto [from, n] = link.lastRead();
    if (outcome.valid) {
        FUZZ_CHECK(n == static_cast<std::size_t>(station::kParamReplySize));
        const std::uint8_t* reply = link.bytes() + from;
        FUZZ_CHECK(validReply(reply, n));
        FUZZ_CHECK(reply[0] == table.entries[0].address && reply[1] == station::kReadParam);
        const station::ParameterCacheEntry& e = reader.entry(0, row - 1);
        FUZZ_CHECK(e.valid == 1);
        FUZZ_CHECK(e.value == static_cast<std::int16_t>((reply[3] << 8) | reply[4]));
    } else if (outcome.asked) {
        FUZZ_CHECK(reader.entry(0, row - 1).valid == 0);
        FUZZ_CHECK(n != static_cast<std::size_t>(station::kParamReplySize) ||
                   !validReply(link.bytes() + from, n) ||
                   link.bytes()[from] != table.entries[0].address ||
                   link.bytes()[from + 1] != station::kReadParam);
    }
    return 0;
}

int recorderStatusReply(const std::uint8_t* data, std::size_t size) {
    if (size < static_cast<std::size_t>(analysis::kStatusReplyLength) + 1) {
        return 0;
    }
    const int step = 1 + data[0] % 16;
    const auto reply = exactCopy(data + 1, analysis::kStatusReplyLength);
    const analysis::RecorderStatus s = analysis::decodeStatusReply(reply.get());
    if (!analysis::statusIsUsable(s, step)) {
        return 0;
    }
    // What the upload divides by and indexes with is sound.
    FUZZ_CHECK(s.formatTag == analysis::kRecorderFormatTag);
    FUZZ_CHECK(s.channelCount >= 1 && s.channelCount <= analysis::kRecorderMaxChannels);
    FUZZ_CHECK(s.recordInterval >= 1 &&
               static_cast<std::int64_t>(s.recordInterval) * step <= 65535);
    FUZZ_CHECK(s.ringRecords() >= 1);
    FUZZ_CHECK(s.newestOffset < s.ringSize);
    FUZZ_CHECK(analysis::recorderTimeToSeconds(s.newestTime).has_value());
    return 0;
}

int recorderBlockReply(const std::uint8_t* data, std::size_t size) {
    if (size < 1) {
        return 0;
    }
    const int channels = 1 + data[0] % analysis::kRecorderMaxChannels;
    const std::size_t length = static_cast<std::size_t>(analysis::nextBlockReplyLength(channels));
    if (size - 1 < length) {
        return 0;
    }
    const auto reply = exactCopy(data + 1, length);
    const std::vector<std::int16_t> values =
        analysis::decodeRecordValues(reply.get(), channels, analysis::kBlockRecords);
    FUZZ_CHECK(values.size() == static_cast<std::size_t>(channels * analysis::kBlockRecords));
    for (std::size_t i = 0; i < values.size(); ++i) {
        FUZZ_CHECK(values[i] == qFromLittleEndian<std::int16_t>(reply.get() + 3 + 2 * i));
    }
    const std::size_t listLength =
        static_cast<std::size_t>(analysis::channelListReplyLength(channels));
    if (size - 1 >= listLength) {
        const auto list = exactCopy(data + 1, listLength);
        (void)analysis::decodeChannelList(list.get(), channels);
    }
    return 0;
}

int metersFile(const std::uint8_t* data, std::size_t size) {
    std::string error;
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const auto parsed = metersim::parseMeters(text, error);
    if (!parsed) {
        FUZZ_CHECK(!error.empty());
        return 0;
    }
    for (const metersim::Meter& m : parsed->meters) {
        FUZZ_CHECK(m.decimals >= 0 && m.decimals <= 3);
        (void)m.value(0);
    }
    return 0;
}

// mqtt.ini as an operator may write it: either refused with a reason, or settings that make
// valid topics and a connection the client library can be given.
int mqttIni(const std::uint8_t* data, std::size_t size) {
    static QTemporaryDir dir;
    QFile ini(dir.filePath(QStringLiteral("mqtt.ini")));
    if (!ini.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
        std::abort();
    }
    ini.write(reinterpret_cast<const char*>(data), static_cast<qint64>(size));
    ini.close();
    const mqtt::LoadedSettings loaded = mqtt::loadSettings(dir.path());
    if (!loaded.error.isEmpty() || !loaded.settings.enabled) {
        return 0;
    }
    const mqtt::Settings& s = loaded.settings;
    FUZZ_CHECK(!s.host.isEmpty());
    FUZZ_CHECK(s.port >= 1 && s.port <= 65535);
    FUZZ_CHECK(s.qos >= 0 && s.qos <= 2);
    FUZZ_CHECK(s.queueMb >= 1);
    FUZZ_CHECK(!s.station.isEmpty() && !s.station.contains(QLatin1Char('/')));
    const QString topic = s.topic(QStringLiteral("record"));
    FUZZ_CHECK(!topic.contains(QLatin1Char('+')) && !topic.contains(QLatin1Char('#')));
    FUZZ_CHECK(topic.endsWith(QStringLiteral("/") + s.station + QStringLiteral("/record")));
    return 0;
}

// Takes values from the front of the fuzz input; zeros once it is used up.
class InputReader {
public:
    InputReader(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}
    std::uint8_t byte() { return at_ < size_ ? data_[at_++] : 0; }
    quint64 u64() {
        quint64 v = 0;
        for (int i = 0; i < 8; ++i) v |= quint64(byte()) << (8 * i);
        return v;
    }
    // Mostly a small number, so that heads, nexts and segment names meet each other; now and
    // then any 64-bit value.
    quint64 sequence() {
        const std::uint8_t kind = byte();
        return kind & 0x80 ? u64() : kind & 0x3F;
    }
    QByteArray bytes(std::size_t n) {
        n = std::min(n, size_ - at_);
        QByteArray out(reinterpret_cast<const char*>(data_ + at_), static_cast<qsizetype>(n));
        at_ += n;
        return out;
    }

private:
    const std::uint8_t* data_;
    std::size_t size_;
    std::size_t at_ = 0;
};

void writeFile(const QString& path, const QByteArray& bytes) {
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) ||
        file.write(bytes) != bytes.size()) {
        std::abort();
    }
}

QByteArray crcOf(const QByteArray& bytes) {
    char crc[4];
    qToLittleEndian(mqtt::crc32(bytes.constData(), bytes.size()), crc);
    return QByteArray(crc, 4);
}

// Queue files whose checksums hold, so that what lies behind them is reached: a state with any
// head and next, and up to three segments of entries (numbered on from the segment's name, or
// now and then not), one of them maybe damaged, the last maybe ending in torn bytes.
void buildQueueFiles(const QString& queueDir, InputReader& in) {
    const std::uint8_t flags = in.byte();
    if (flags & 1) {
        QByteArray state("TQS1");
        char numbers[16];
        qToLittleEndian(in.sequence(), numbers);
        qToLittleEndian(in.sequence(), numbers + 8);
        state += QByteArray(numbers, 16);
        writeFile(queueDir + QStringLiteral("/state"), state + crcOf(state));
    }
    const int segments = in.byte() % 4;
    for (int g = 0; g < segments; ++g) {
        const quint64 first = in.sequence();
        const int count = in.byte() % 8;
        QByteArray segment;
        for (int k = 0; k < count; ++k) {
            const std::uint8_t kind = in.byte();
            const QByteArray payload = in.bytes(kind % 32);
            char fields[12];
            qToLittleEndian(quint32(payload.size()), fields);
            qToLittleEndian(kind & 0x80 ? in.sequence() : first + quint64(k), fields + 4);
            const QByteArray numbers(fields, 12);
            QByteArray entry = "TQE1" + numbers + crcOf(numbers + payload) + payload;
            if (kind & 0x40) {
                entry[entry.size() - 1] = char(entry[entry.size() - 1] ^ 1);
            }
            segment += entry;
        }
        if (g + 1 == segments && (flags & 2)) {
            segment += in.bytes(in.byte() % 32);
        }
        writeFile(queueDir + QStringLiteral("/%1.seg").arg(first, 20, 10, QLatin1Char('0')),
                  segment);
    }
}

// The queue's files as a crash, a full disk, a damaged disk or a state that disagrees with its
// segments may leave them: an input starting "T" is the raw files (the first 24 bytes the
// state, the rest the first segment), any other builds them with good checksums. Whatever
// they hold, the queue opens or says why; it hands out only whole entries, in order, never one
// before its head; the next record takes a sequence number that no entry still on disk has
// and is handed out after what waits; and what the queue leaves behind it opens again without
// complaint.
int mqttQueue(const std::uint8_t* data, std::size_t size) {
    QTemporaryDir dir;
    const QString queueDir = dir.filePath(mqtt::RecordQueue::directoryName());
    QDir().mkpath(queueDir);
    if (size > 0 && data[0] == 'T') {
        const std::size_t stateBytes = std::min<std::size_t>(size, 24);
        writeFile(queueDir + QStringLiteral("/state"),
                  QByteArray(reinterpret_cast<const char*>(data), qsizetype(stateBytes)));
        writeFile(queueDir + QStringLiteral("/00000000000000000001.seg"),
                  QByteArray(reinterpret_cast<const char*>(data + stateBytes),
                             qsizetype(size - stateBytes)));
    } else {
        InputReader in(data, size);
        in.byte();
        buildQueueFiles(queueDir, in);
    }

    quint64 next = 0;
    {
        mqtt::RecordQueue queue(queueDir, 1 << 20);
        QString error;
        if (!queue.open(&error)) {
            FUZZ_CHECK(!error.isEmpty());
            return 0;
        }
        const quint64 head = queue.head();
        next = queue.nextSequence();
        FUZZ_CHECK(head <= next);
        FUZZ_CHECK(next < (quint64(1) << 54));  // far from wrapping
        queue.sync();
        QString problem;
        std::vector<mqtt::RecordQueue::Entry> entries = queue.read(head, 1000, 1 << 20, &problem);
        quint64 last = 0;
        for (const mqtt::RecordQueue::Entry& e : entries) {
            FUZZ_CHECK(e.sequence >= head && e.sequence < next);
            FUZZ_CHECK(last == 0 || e.sequence > last);
            FUZZ_CHECK(static_cast<std::size_t>(e.payload.size()) <= size);
            last = e.sequence;
        }
        FUZZ_CHECK(static_cast<qint64>(entries.size()) <= queue.waiting());
        const mqtt::RecordQueue::Appended appended = queue.append(QByteArray("{}"));
        if (!appended.ok) {
            return 0;
        }
        FUZZ_CHECK(appended.sequence == next);
        FUZZ_CHECK(appended.sequence > last);
        queue.sync();
        entries = queue.read(head, 1000, 1 << 20, &problem);
        FUZZ_CHECK(!entries.empty() && entries.back().sequence == next &&
                   entries.back().payload == "{}");
        queue.acknowledge(next);
        FUZZ_CHECK(queue.waiting() == 1);
    }
    mqtt::RecordQueue again(queueDir, 1 << 20);
    QString error;
    QString mismatch;
    FUZZ_CHECK(again.open(&error, nullptr, &mismatch));
    FUZZ_CHECK(mismatch.isEmpty());
    FUZZ_CHECK(again.head() == next && again.nextSequence() == next + 1);
    FUZZ_CHECK(again.waiting() == 1);
    return 0;
}

}  // namespace

const std::vector<FuzzTarget>& fuzzTargets() {
    static const std::vector<FuzzTarget> targets{
        {"config_dat", configFile},
        {"station_history", stationHistory},
        {"recorder_history", recorderHistory},
        {"meter_value_reply", meterValueReply},
        {"meter_param_reply", meterParamReply},
        {"recorder_status_reply", recorderStatusReply},
        {"recorder_block_reply", recorderBlockReply},
        {"meters_file", metersFile},
        {"mqtt_ini", mqttIni},
        {"mqtt_queue", mqttQueue},
    };
    return targets;
}

const FuzzTarget* findFuzzTarget(const char* name) {
    for (const FuzzTarget& t : fuzzTargets()) {
        if (std::strcmp(t.name, name) == 0) {
            return &t;
        }
    }
    return nullptr;
}

}  // namespace tamlo::fuzz
