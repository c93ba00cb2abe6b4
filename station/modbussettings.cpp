#include "modbussettings.h"

#include <QDir>
#include <QFile>
#include <QSettings>

#include <arpa/inet.h>

namespace tamlo::station {

namespace {

const QString kFileName = QStringLiteral("modbus.ini");

bool isAddress(const QString& text) {
    const QByteArray bytes = text.toLatin1();
    unsigned char buffer[sizeof(in6_addr)];
    return inet_pton(AF_INET, bytes.constData(), buffer) == 1 ||
           inet_pton(AF_INET6, bytes.constData(), buffer) == 1;
}

// Checks one key at a time; the first refusal ends the reading. A key this station does not
// know is refused too, so that a typing error never leaves a setting silently at its default.
class Reader {
public:
    explicit Reader(QSettings& ini) : ini_(ini) {}

    QString error;

    bool knownKeys() {
        static const QStringList known = {"enabled", "listen", "port", "unit_id", "max_clients"};
        for (const QString& key : ini_.childKeys()) {
            // QSettings takes "# key = value" for a key; here it is a comment, as in mqtt.ini.
            if (!known.contains(key) && !key.startsWith(QLatin1Char('#')))
                return refuse(key, QStringLiteral("是未知的键"));
        }
        return true;
    }

    bool flag(const QString& key, bool& out) {
        if (!ini_.contains(key))
            return true;
        const QString v = text(key).toLower();
        if (v == QLatin1String("true") || v == QLatin1String("false")) {
            out = v == QLatin1String("true");
            return true;
        }
        return refuse(key, QStringLiteral("的值“%1”无效：应为 true 或 false").arg(text(key)));
    }

    bool integer(const QString& key, int low, int high, int& out) {
        if (!ini_.contains(key))
            return true;
        bool ok = false;
        const int v = text(key).toInt(&ok);
        if (ok && v >= low && v <= high) {
            out = v;
            return true;
        }
        return refuse(key, QStringLiteral("的值“%1”无效：应为 %2 到 %3 之间的整数")
                               .arg(text(key))
                               .arg(low)
                               .arg(high));
    }

    bool address(const QString& key, QString& out) {
        if (!ini_.contains(key))
            return true;
        if (!isAddress(text(key)))
            return refuse(key, QStringLiteral("的值“%1”无效：应为 IP 地址（如 127.0.0.1、"
                                              "0.0.0.0 或 ::1），不是主机名")
                                   .arg(text(key)));
        out = text(key);
        return true;
    }

private:
    // A value with a comma reads back as a list; it is shown and checked as written.
    QString text(const QString& key) const {
        const QVariant v = ini_.value(key);
        return v.metaType().id() == QMetaType::QStringList ? v.toStringList().join(QLatin1Char(','))
                                                           : v.toString().trimmed();
    }

    bool refuse(const QString& key, const QString& reason) {
        error = QStringLiteral("%1：%2 %3").arg(kFileName, key, reason);
        return false;
    }

    QSettings& ini_;
};

}  // namespace

LoadedModbusSettings loadModbusSettings(const QString& workingDirectory) {
    LoadedModbusSettings loaded;
    const QString path = QDir(workingDirectory).filePath(kFileName);
    if (!QFile::exists(path))
        return loaded;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        loaded.error = QStringLiteral("%1 无法读取：%2").arg(kFileName, file.errorString());
        return loaded;
    }
    QSettings ini(path, QSettings::IniFormat);
    if (ini.status() != QSettings::NoError) {
        loaded.error = QStringLiteral("%1 的格式有误").arg(kFileName);
        return loaded;
    }
    if (!ini.childGroups().contains(QLatin1String("modbus"))) {
        loaded.error = QStringLiteral("%1：没有 [modbus] 节").arg(kFileName);
        return loaded;
    }
    ini.beginGroup(QStringLiteral("modbus"));
    ModbusSettings s;
    Reader r(ini);
    // enabled = false turns serving off whatever else the file holds.
    if (!r.flag("enabled", s.enabled) || !s.enabled) {
        loaded.error = r.error;
        return loaded;
    }
    if (!(r.knownKeys() && r.address("listen", s.listen) && r.integer("port", 1, 65535, s.port) &&
          r.integer("unit_id", 1, 247, s.unitId) &&
          r.integer("max_clients", 1, 100, s.maxClients))) {
        loaded.error = r.error;
        return loaded;
    }
    loaded.settings = s;
    return loaded;
}

}  // namespace tamlo::station
