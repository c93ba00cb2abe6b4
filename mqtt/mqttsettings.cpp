#include "mqttsettings.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QSysInfo>

#include <sys/stat.h>

namespace tamlo::mqtt {

namespace {

const QString kFileName = QStringLiteral("mqtt.ini");

QString problem(const QString& key, const QString& reason) {
    return QStringLiteral("%1：%2 %3").arg(kFileName, key, reason);
}

// Key/value lines of section [mqtt]. Other sections are left to other tools; a line that is not
// "key = value", a key given twice or a key this station does not know is refused, so that a
// typing error never turns a setting (TLS, say) silently off. The first such line gives the
// error; the lines after it are still read, so that "enabled = false" is seen wherever it is.
struct IniReader {
    QHash<QString, QString> values;
    QString error;

    void read(const QByteArray& bytes) {
        QString text = QString::fromUtf8(bytes);
        if (text.startsWith(QChar(0xFEFF)))
            text.remove(0, 1);
        const QStringList lines = text.split(QLatin1Char('\n'));
        bool inSection = false;
        bool sawSection = false;
        for (qsizetype i = 0; i < lines.size(); ++i) {
            const QString line = lines[i].trimmed();
            const QString where = QStringLiteral("%1 第 %2 行").arg(kFileName).arg(i + 1);
            if (line.isEmpty() || line.startsWith(QLatin1Char(';')) ||
                line.startsWith(QLatin1Char('#')))
                continue;
            if (line.startsWith(QLatin1Char('['))) {
                if (!line.endsWith(QLatin1Char(']'))) {
                    fail(QStringLiteral("%1：节名“%2”缺少“]”").arg(where, line));
                    continue;
                }
                inSection = line.mid(1, line.size() - 2).trimmed() == QLatin1String("mqtt");
                sawSection = sawSection || inSection;
                continue;
            }
            if (!inSection)
                continue;
            const qsizetype equals = line.indexOf(QLatin1Char('='));
            if (equals <= 0) {
                fail(QStringLiteral("%1：“%2”不是“键 = 值”的形式").arg(where, line));
                continue;
            }
            const QString key = line.left(equals).trimmed();
            QString value = line.mid(equals + 1).trimmed();
            if (value.size() >= 2 && value.startsWith(QLatin1Char('"')) &&
                value.endsWith(QLatin1Char('"')))
                value = value.mid(1, value.size() - 2);
            if (!knownKeys().contains(key)) {
                fail(QStringLiteral("%1：未知的键 %2").arg(where, key));
                continue;
            }
            if (values.contains(key)) {
                fail(QStringLiteral("%1：键 %2 重复").arg(where, key));
                continue;
            }
            values.insert(key, value);
        }
        if (!sawSection)
            fail(QStringLiteral("%1：没有 [mqtt] 节").arg(kFileName));
    }

    void fail(const QString& text) {
        if (error.isEmpty())
            error = text;
    }

    static const QStringList& knownKeys() {
        static const QStringList keys = {
            "enabled",       "host",      "port",   "tls_ca",  "tls_cert", "tls_key",  "user",
            "password_file", "client_id", "prefix", "station", "qos",      "queue_mb", "live"};
        return keys;
    }
};

// Reads and checks the settings one key at a time; the first refusal ends it.
class SettingsParser {
public:
    SettingsParser(const QHash<QString, QString>& values, QString directory)
        : values_(values), directory_(std::move(directory)) {}

    QString error;

    bool flag(const QString& key, bool& out) {
        if (!values_.contains(key))
            return true;
        const QString v = values_.value(key).toLower();
        if (v == QLatin1String("true") || v == QLatin1String("false")) {
            out = v == QLatin1String("true");
            return true;
        }
        return refuse(key, QStringLiteral("的值“%1”无效：应为 true 或 false").arg(values_[key]));
    }

    bool integer(const QString& key, int low, int high, int& out) {
        if (!values_.contains(key))
            return true;
        bool ok = false;
        const int v = values_.value(key).toInt(&ok);
        if (ok && v >= low && v <= high) {
            out = v;
            return true;
        }
        return refuse(key, QStringLiteral("的值“%1”无效：应为 %2 到 %3 之间的整数")
                               .arg(values_[key])
                               .arg(low)
                               .arg(high));
    }

    bool text(const QString& key, QString& out) {
        if (values_.contains(key))
            out = values_.value(key);
        return true;
    }

    // A topic level: no MQTT wildcards; the station name is a single level.
    bool topicPart(const QString& key, QString& out, bool singleLevel) {
        text(key, out);
        if (out.isEmpty())
            return refuse(key, QStringLiteral("不能为空"));
        if (out.contains(QLatin1Char('+')) || out.contains(QLatin1Char('#')) ||
            (singleLevel && out.contains(QLatin1Char('/'))))
            return refuse(key, QStringLiteral("“%1”含有主题中不允许的字符（%2）")
                                   .arg(out, singleLevel ? "+ # /" : "+ #"));
        return true;
    }

    // A file the client reads: it must exist and be readable. Secret files must not be readable
    // by group or others.
    bool file(const QString& key, QString& out, bool secret) {
        if (!values_.contains(key))
            return true;
        const QString given = values_.value(key);
        if (given.isEmpty())
            return refuse(key, QStringLiteral("不能为空"));
        out = QDir(directory_).absoluteFilePath(given);
        QFile f(out);
        if (!QFileInfo(out).isFile())
            return refuse(key, QStringLiteral("的文件“%1”不存在").arg(out));
        if (!f.open(QIODevice::ReadOnly))
            return refuse(key, QStringLiteral("的文件“%1”无法读取：%2").arg(out, f.errorString()));
        struct stat st {};
        if (secret && ::stat(QFile::encodeName(out).constData(), &st) == 0 &&
            (st.st_mode & (S_IRGRP | S_IROTH)) != 0) {
            return refuse(key, QStringLiteral("的文件“%1”可被其他用户读取（权限 %2），"
                                              "请执行 chmod 600 %1")
                                   .arg(out)
                                   .arg(st.st_mode & 0777, 4, 8, QLatin1Char('0')));
        }
        return true;
    }

    bool require(bool condition, const QString& key, const QString& reason) {
        return condition || refuse(key, reason);
    }

private:
    bool refuse(const QString& key, const QString& reason) {
        error = problem(key, reason);
        return false;
    }

    const QHash<QString, QString>& values_;
    QString directory_;
};

QString firstLine(const QString& path) {
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return {};
    QByteArray line = f.readLine();
    while (line.endsWith('\n') || line.endsWith('\r')) line.chop(1);
    return QString::fromUtf8(line);
}

}  // namespace

QString Settings::topic(const QString& leaf) const {
    return prefix + QLatin1Char('/') + station + QLatin1Char('/') + leaf;
}

QString Settings::broker() const {
    return QStringLiteral("%1:%2").arg(host).arg(port);
}

LoadedSettings loadSettings(const QString& workingDirectory) {
    LoadedSettings loaded;
    QFile file(QDir(workingDirectory).filePath(kFileName));
    if (!file.exists())
        return loaded;
    if (!file.open(QIODevice::ReadOnly)) {
        loaded.error = QStringLiteral("%1 无法读取：%2").arg(kFileName, file.errorString());
        return loaded;
    }
    IniReader ini;
    ini.read(file.readAll());
    if (ini.values.value(QStringLiteral("enabled")).toLower() == QLatin1String("false"))
        return loaded;  // off: nothing else in the file matters
    if (!ini.error.isEmpty()) {
        loaded.error = ini.error;
        return loaded;
    }
    Settings s;
    s.station = QSysInfo::machineHostName();
    SettingsParser p(ini.values, workingDirectory);
    const bool portGiven = ini.values.contains(QStringLiteral("port"));
    const bool ok =
        p.flag("enabled", s.enabled) && (!s.enabled || [&] {
            return p.text("host", s.host) &&
                   p.require(!s.host.isEmpty(), "host",
                             QStringLiteral("未设置（enabled = true 时必需）")) &&
                   p.integer("port", 1, 65535, s.port) && p.file("tls_ca", s.tlsCa, false) &&
                   p.file("tls_cert", s.tlsCert, false) && p.file("tls_key", s.tlsKey, true) &&
                   p.require(s.tlsCert.isEmpty() == s.tlsKey.isEmpty(),
                             s.tlsCert.isEmpty() ? "tls_cert" : "tls_key",
                             QStringLiteral("未设置（tls_cert 与 tls_key 须同时给出）")) &&
                   p.text("user", s.user) && p.file("password_file", s.passwordFile, true) &&
                   p.require(s.passwordFile.isEmpty() || !s.user.isEmpty(), "user",
                             QStringLiteral("未设置（给出 password_file 时必需）")) &&
                   p.topicPart("prefix", s.prefix, false) &&
                   p.topicPart("station", s.station, true) && p.text("client_id", s.clientId) &&
                   p.integer("qos", 0, 2, s.qos) && p.integer("queue_mb", 1, 1000000, s.queueMb) &&
                   p.flag("live", s.live);
        }());
    if (!ok) {
        loaded.error = p.error;
        return loaded;
    }
    if (!s.enabled)
        return loaded;
    if (!portGiven && s.tls())
        s.port = 8883;
    if (s.clientId.isEmpty())
        s.clientId = QStringLiteral("tamlo-") + s.station;
    if (!s.passwordFile.isEmpty())
        s.password = firstLine(s.passwordFile);
    loaded.settings = s;
    return loaded;
}

}  // namespace tamlo::mqtt
