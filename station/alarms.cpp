#include "alarms.h"

#include <QFile>
#include <QFileInfo>
#include <QLocale>
#include <QSaveFile>
#include <QStringList>
#include <QTextStream>
#include <cmath>

namespace tamlo::station {

const char* alarmKindName(AlarmKind kind) {
    switch (kind) {
        case AlarmKind::High:
            return "high";
        case AlarmKind::HighHigh:
            return "high_high";
        case AlarmKind::Low:
            return "low";
        case AlarmKind::LowLow:
            return "low_low";
        case AlarmKind::Link:
            return "link";
    }
    return "";
}

const char* alarmEventName(AlarmEventType type) {
    switch (type) {
        case AlarmEventType::Raise:
            return "raise";
        case AlarmEventType::Clear:
            return "clear";
        case AlarmEventType::Ack:
            return "ack";
    }
    return "";
}

const AlarmLimits* AlarmSettings::find(std::uint8_t address, std::uint8_t channel) const {
    const auto it = meters.find({address, channel});
    return it == meters.end() ? nullptr : &it->second;
}

namespace {

// The keys of a meter's section, in the order a saved file lists them.
enum MeterKey {
    KeyHigh,
    KeyLow,
    KeyHighHigh,
    KeyLowLow,
    KeyDeadband,
    KeyDelay,
    KeyLink,
    kMeterKeys
};
constexpr const char* kMeterKeyNames[kMeterKeys] = {"high",     "low",   "high_high", "low_low",
                                                    "deadband", "delay", "link"};
constexpr int kLongestDelaySeconds = 24 * 3600;

QString numberText(double v) {
    return QString::number(v, 'g', QLocale::FloatingPointShortest);
}

// Reads alarms.ini line by line, so that a refusal can name its line and key.
class Parser {
public:
    explicit Parser(QString fileName) : fileName_(std::move(fileName)) {}

    bool parse(const QString& text) {
        const QStringList lines = text.split(QLatin1Char('\n'));
        for (int i = 0; i < lines.size(); ++i) {
            lineNumber_ = i + 1;
            QString line = lines[i];
            if (line.endsWith(QLatin1Char('\r'))) {
                line.chop(1);
            }
            line = line.trimmed();
            if (line.isEmpty() || line.startsWith(QLatin1Char(';')) ||
                line.startsWith(QLatin1Char('#'))) {
                continue;
            }
            if (!(line.startsWith(QLatin1Char('[')) ? section(line) : keyValue(line))) {
                return false;
            }
        }
        return endSection();
    }

    AlarmSettings settings;
    QString message;

private:
    bool refuse(const QString& what, const QString& why) {
        message =
            QStringLiteral("%1 第 %2 行 %3：%4").arg(fileName_).arg(lineNumber_).arg(what, why);
        return false;
    }

    bool section(const QString& line) {
        if (!endSection()) {
            return false;
        }
        if (!line.endsWith(QLatin1Char(']'))) {
            return refuse(line, QStringLiteral("节名无效，应为 [alarms] 或 [meter 地址.通道]"));
        }
        const QString name = line.mid(1, line.size() - 2).trimmed();
        const QString shown = QLatin1Char('[') + name + QLatin1Char(']');
        keyLines_.fill(0);
        soundLine_ = 0;
        if (name == QLatin1String("alarms")) {
            if (alarmsSectionLine_ != 0) {
                return refuse(shown,
                              QStringLiteral("重复给出（第 %1 行已有）").arg(alarmsSectionLine_));
            }
            alarmsSectionLine_ = lineNumber_;
            inAlarms_ = true;
            meter_ = nullptr;
            return true;
        }
        const QStringList words = name.split(QLatin1Char(' '), Qt::SkipEmptyParts);
        const QStringList numbers =
            words.size() == 2 ? words[1].split(QLatin1Char('.')) : QStringList();
        bool addressOk = false;
        bool channelOk = false;
        const uint address = numbers.size() == 2 ? numbers[0].toUInt(&addressOk) : 0;
        const uint channel = numbers.size() == 2 ? numbers[1].toUInt(&channelOk) : 0;
        if (words.size() != 2 || words[0] != QLatin1String("meter") || !addressOk || !channelOk ||
            address > 255 || channel > 255) {
            return refuse(shown, QStringLiteral("节名无效，应为 [alarms] 或 [meter 地址.通道]"));
        }
        const auto key =
            std::make_pair(static_cast<std::uint8_t>(address), static_cast<std::uint8_t>(channel));
        const auto seen = meterLines_.find(key);
        if (seen != meterLines_.end()) {
            return refuse(shown, QStringLiteral("重复给出（第 %1 行已有）").arg(seen->second));
        }
        meterLines_[key] = lineNumber_;
        meter_ = &settings.meters[key];
        inAlarms_ = false;
        return true;
    }

    bool keyValue(const QString& line) {
        const qsizetype eq = line.indexOf(QLatin1Char('='));
        if (eq <= 0) {
            return refuse(line, QStringLiteral("应为“键 = 值”"));
        }
        const QString key = line.left(eq).trimmed();
        const QString value = line.mid(eq + 1).trimmed();
        if (inAlarms_) {
            if (key != QLatin1String("sound")) {
                return refuse(key, QStringLiteral("未知的键"));
            }
            if (soundLine_ != 0) {
                return refuse(key, QStringLiteral("重复给出（第 %1 行已有）").arg(soundLine_));
            }
            soundLine_ = lineNumber_;
            return boolean(key, value, settings.sound);
        }
        if (meter_ == nullptr) {
            return refuse(key, QStringLiteral("不在任何节中"));
        }
        int k = 0;
        while (k < kMeterKeys && key != QLatin1String(kMeterKeyNames[k])) {
            ++k;
        }
        if (k == kMeterKeys) {
            return refuse(key, QStringLiteral("未知的键"));
        }
        if (keyLines_[static_cast<std::size_t>(k)] != 0) {
            return refuse(key, QStringLiteral("重复给出（第 %1 行已有）")
                                   .arg(keyLines_[static_cast<std::size_t>(k)]));
        }
        keyLines_[static_cast<std::size_t>(k)] = lineNumber_;
        switch (k) {
            case KeyHigh:
                return number(key, value, meter_->high);
            case KeyLow:
                return number(key, value, meter_->low);
            case KeyHighHigh:
                return number(key, value, meter_->highHigh);
            case KeyLowLow:
                return number(key, value, meter_->lowLow);
            case KeyDeadband:
                return number(key, value, meter_->deadband) &&
                       (meter_->deadband >= 0 ||
                        refuse(key, QStringLiteral("不能为负（%1）").arg(value)));
            case KeyDelay: {
                bool ok = false;
                const int seconds = value.toInt(&ok);
                if (!ok || seconds < 0 || seconds > kLongestDelaySeconds) {
                    return refuse(key, QStringLiteral("不是 0 到 %1 的整秒数（%2）")
                                           .arg(kLongestDelaySeconds)
                                           .arg(value));
                }
                meter_->delaySeconds = seconds;
                return true;
            }
            default:
                return boolean(key, value, meter_->link);
        }
    }

    bool number(const QString& key, const QString& value, double& out) {
        bool ok = false;
        const double v = QLocale::c().toDouble(value, &ok);
        if (!ok || !std::isfinite(v)) {
            return refuse(key, QStringLiteral("不是数字（%1）").arg(value));
        }
        out = v;
        return true;
    }

    bool boolean(const QString& key, const QString& value, bool& out) {
        if (value.compare(QLatin1String("true"), Qt::CaseInsensitive) == 0) {
            out = true;
        } else if (value.compare(QLatin1String("false"), Qt::CaseInsensitive) == 0) {
            out = false;
        } else {
            return refuse(key, QStringLiteral("应为 true 或 false（%1）").arg(value));
        }
        return true;
    }

    // The limits of the section just read must stand in order: low_low <= low <= high <=
    // high_high. The refusal names the later of the two lines.
    bool endSection() {
        if (meter_ == nullptr) {
            return true;
        }
        const double values[4] = {meter_->lowLow, meter_->low, meter_->high, meter_->highHigh};
        const int keys[4] = {KeyLowLow, KeyLow, KeyHigh, KeyHighHigh};
        for (int a = 0; a < 4; ++a) {
            for (int b = a + 1; b < 4; ++b) {
                if (std::isnan(values[a]) || std::isnan(values[b]) || values[a] <= values[b]) {
                    continue;
                }
                const int lineA = keyLines_[static_cast<std::size_t>(keys[a])];
                const int lineB = keyLines_[static_cast<std::size_t>(keys[b])];
                const QString nameA = QLatin1String(kMeterKeyNames[keys[a]]);
                const QString nameB = QLatin1String(kMeterKeyNames[keys[b]]);
                lineNumber_ = std::max(lineA, lineB);
                const QString why =
                    QStringLiteral("%1（%2）高于 %3（%4）")
                        .arg(nameA, numberText(values[a]), nameB, numberText(values[b]));
                meter_ = nullptr;
                return refuse(lineA > lineB ? nameA : nameB, why);
            }
        }
        meter_ = nullptr;
        return true;
    }

    QString fileName_;
    int lineNumber_ = 0;
    bool inAlarms_ = false;
    AlarmLimits* meter_ = nullptr;
    std::array<int, kMeterKeys> keyLines_{};
    int soundLine_ = 0;
    int alarmsSectionLine_ = 0;
    std::map<std::pair<std::uint8_t, std::uint8_t>, int> meterLines_;
};

}  // namespace

AlarmSettingsLoad loadAlarmSettings(const QString& path) {
    AlarmSettingsLoad load;
    QFile file(path);
    if (!file.exists()) {
        return load;
    }
    const QString name = QFileInfo(path).fileName();
    load.outcome = AlarmSettingsLoad::Outcome::Refused;
    if (!file.open(QIODevice::ReadOnly)) {
        load.message = QStringLiteral("%1 无法读取：%2").arg(name, file.errorString());
        return load;
    }
    QByteArray bytes = file.readAll();
    if (bytes.startsWith("\xEF\xBB\xBF")) {
        bytes.remove(0, 3);
    }
    Parser parser(name);
    if (!parser.parse(QString::fromUtf8(bytes))) {
        load.message = parser.message;
        return load;
    }
    load.outcome = AlarmSettingsLoad::Outcome::Loaded;
    load.settings = std::move(parser.settings);
    return load;
}

bool saveAlarmSettings(const QString& path, const AlarmSettings& settings, QString* error) {
    QString text;
    QTextStream out(&text);
    out << "[alarms]\n"
        << "sound = " << (settings.sound ? "true" : "false") << "\n";
    for (const auto& [key, limits] : settings.meters) {
        out << "\n[meter " << int(key.first) << '.' << int(key.second) << "]\n";
        const double limitValues[4] = {limits.high, limits.low, limits.highHigh, limits.lowLow};
        for (int k = KeyHigh; k <= KeyLowLow; ++k) {
            if (!std::isnan(limitValues[k])) {
                out << kMeterKeyNames[k] << " = " << numberText(limitValues[k]) << "\n";
            }
        }
        out << "deadband = " << numberText(limits.deadband) << "\n"
            << "delay = " << limits.delaySeconds << "\n"
            << "link = " << (limits.link ? "true" : "false") << "\n";
    }
    out.flush();
    QSaveFile file(path);
    const QByteArray bytes = text.toUtf8();
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size() || !file.commit()) {
        if (error != nullptr) {
            *error = QStringLiteral("%1 无法保存：%2")
                         .arg(QFileInfo(path).fileName(), file.errorString());
        }
        return false;
    }
    return true;
}

}  // namespace tamlo::station
