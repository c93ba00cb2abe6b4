// CRC-16, number texts, date-time values and patterns, GBK texts.
#include <QTest>
#include <limits>

#include "shared/crc16.h"
#include "shared/datetime.h"
#include "shared/gbk.h"
#include "shared/numbertext.h"

using namespace tamlo;

class TextsAndTimes : public QObject {
    Q_OBJECT
private slots:
    void crcCheckValues() {
        const std::uint8_t digits[] = {'1', '2', '3', '4', '5', '6', '7', '8', '9'};
        QCOMPARE(crc16(digits, 9), (std::array<std::uint8_t, 2>{0x37, 0x4B}));
        const std::uint8_t abc[] = {0x61, 0x62, 0x63};
        QCOMPARE(crc16(abc, 3), (std::array<std::uint8_t, 2>{0x49, 0x57}));
        QCOMPARE(crc16(abc, 0), (std::array<std::uint8_t, 2>{0xFF, 0xFF}));
    }

    void crcWorkedFrames_data() {
        QTest::addColumn<QByteArray>("frame");
        QTest::newRow("value single-channel") << QByteArray::fromHex("014301 00F19C");
        QTest::newRow("value multi-channel") << QByteArray::fromHex("01430200016C44");
        QTest::newRow("parameter") << QByteArray::fromHex("014101 05905F");
        QTest::newRow("parameter with channel") << QByteArray::fromHex("01410202062D5E");
        QTest::newRow("recorder status") << QByteArray::fromHex("0143030201 07A5D3");
        QTest::newRow("recorder seek") << QByteArray::fromHex("014305031027000003 9D");
    }
    void crcWorkedFrames() {
        QFETCH(QByteArray, frame);
        auto* bytes = reinterpret_cast<std::uint8_t*>(frame.data());
        QVERIFY(crc16Matches(bytes, static_cast<std::size_t>(frame.size())));
        QByteArray rebuilt = frame;
        appendCrc16(reinterpret_cast<std::uint8_t*>(rebuilt.data()),
                    static_cast<std::size_t>(frame.size() - 2));
        QCOMPARE(rebuilt, frame);
        bytes[frame.size() - 1] ^= 1;
        QVERIFY(!crc16Matches(bytes, static_cast<std::size_t>(frame.size())));
    }

    void generalFormat_data() {
        QTest::addColumn<double>("value");
        QTest::addColumn<QString>("text");
        QTest::newRow("1234.5") << double(12345.0f / 10.0f) << "1234.5";
        QTest::newRow("1") << double(1000.0f / 1000.0f) << "1";
        QTest::newRow("-0.05") << double(-5.0f / 100.0f) << "-0.05";
        QTest::newRow("25") << double(250.0f / 10.0f) << "25";
        QTest::newRow("123.45 float") << double(12345.0f / 100.0f) << "123.45";
        QTest::newRow("zero") << 0.0 << "0";
        QTest::newRow("32767") << 32767.0 << "32767";
        QTest::newRow("-32768") << -32768.0 << "-32768";
        QTest::newRow("rounds to 5 digits") << 3.14159265 << "3.1416";
        QTest::newRow("0.001") << double(1.0f / 1000.0f) << "0.001";
        QTest::newRow("0.0001") << 0.0001 << "0.0001";
        QTest::newRow("large") << 123456.0 << "1.2346E+5";
        QTest::newRow("tiny") << 0.000001 << "1E-6";
        QTest::newRow("carry to next digit") << 99999.6 << "1E+5";
    }
    void generalFormat() {
        QFETCH(double, value);
        QFETCH(QString, text);
        QCOMPARE(formatGeneral(value, 5), text);
    }

    void conversions() {
        QCOMPARE(textToInt(QStringLiteral("300")), 300);
        QCOMPARE(textToInt(QStringLiteral(" 42 ")), 42);
        QCOMPARE(textToInt(QStringLiteral("-7")), -7);
        QCOMPARE(textToFloat(QStringLiteral("-12.5")), -12.5);
        for (const char* bad : {"", "  ", "abc", "12a", "1.5", "99999999999"}) {
            bool thrown = false;
            try {
                textToInt(QString::fromLatin1(bad));
            } catch (const ConversionError& e) {
                thrown = true;
                QVERIFY2(e.text().contains(QString::fromLatin1(bad)), qPrintable(e.text()));
            }
            QVERIFY2(thrown, bad);
        }
        QVERIFY_THROWS_EXCEPTION(ConversionError, textToFloat(QStringLiteral("1,5")));
        QVERIFY_THROWS_EXCEPTION(ConversionError, textToFloat(QStringLiteral("nan")));
    }

    void oleDates() {
        QCOMPARE(oleDateFromParts(1899, 12, 30), 0.0);
        QCOMPARE(oleDateFromParts(1900, 1, 1), 2.0);
        QCOMPARE(oleDateFromParts(2007, 4, 2, 12, 0, 0), 39174.5);
        const OleDate t = oleDateFromParts(2026, 12, 7, 10, 45, 18);
        QCOMPARE(fromOleDate(t), QDateTime(QDate(2026, 12, 7), QTime(10, 45, 18)));
        QCOMPARE(toOleDate(QDateTime(QDate(2026, 12, 7), QTime(10, 45, 18))), t);
        QCOMPARE(oleDateToMs(t) % 1000, 0);
    }

    void datesOutsideTheYears100To9999AreRefused() {
        QCOMPARE(kFirstOleDate, oleDateFromParts(100, 1, 1));
        QCOMPARE(kEndOleDate, oleDateFromParts(9999, 12, 31) + 1.0);
        const double nan = std::numeric_limits<double>::quiet_NaN();
        const double inf = std::numeric_limits<double>::infinity();
        for (double bad : {nan, inf, -inf, 1e300, -1e300, kEndOleDate, kFirstOleDate - 1e-6}) {
            QVERIFY(!isOleDateInRange(bad));
            QVERIFY_THROWS_EXCEPTION(DateRangeError, oleDateToMs(bad));
            QVERIFY_THROWS_EXCEPTION(DateRangeError, oleDateToSeconds(bad));
            QVERIFY_THROWS_EXCEPTION(DateRangeError, fromOleDate(bad));
            QVERIFY_THROWS_EXCEPTION(DateRangeError, addSeconds(bad, 0));
        }
        QVERIFY(isOleDateInRange(kFirstOleDate));
        const OleDate last = oleDateFromParts(9999, 12, 31, 23, 59, 59);
        QCOMPARE(fromOleDate(last), QDateTime(QDate(9999, 12, 31), QTime(23, 59, 59)));
        QVERIFY_THROWS_EXCEPTION(DateRangeError, addSeconds(last, 1));
        QVERIFY_THROWS_EXCEPTION(DateRangeError, addSeconds(kFirstOleDate, -1));
        // Steps that would overflow the millisecond count are refused, not wrapped.
        for (std::int64_t step :
             {std::numeric_limits<std::int64_t>::max(), std::numeric_limits<std::int64_t>::min(),
              std::numeric_limits<std::int64_t>::max() / 1000 + 1}) {
            QVERIFY_THROWS_EXCEPTION(DateRangeError, addSeconds(last, step));
            QVERIFY_THROWS_EXCEPTION(DateRangeError, addSeconds(kFirstOleDate, step));
            QVERIFY_THROWS_EXCEPTION(DateRangeError, secondsToOleDate(step));
            QVERIFY_THROWS_EXCEPTION(DateRangeError, addMilliseconds(last, step));
            QVERIFY_THROWS_EXCEPTION(DateRangeError, msToOleDate(step));
        }
        QVERIFY_THROWS_EXCEPTION(DateRangeError, oleDateFromParts(10000, 1, 1));
        QVERIFY_THROWS_EXCEPTION(DateRangeError,
                                 toOleDate(QDateTime(QDate(99, 12, 31), QTime(0, 0))));
    }

    void steppingByWholeSecondsLosesNoRecord() {
        // 8640 steps of 10 s from midnight end exactly on the next midnight; adding 10/86400
        // as a double 8640 times would not.
        const OleDate start = oleDateFromParts(2026, 12, 7);
        OleDate t = start;
        for (int i = 0; i < 8640; ++i) {
            t = addSeconds(t, 10);
        }
        QCOMPARE(t, oleDateFromParts(2026, 12, 8));
        QCOMPARE(addSeconds(start, 8640 * 10), t);
        QCOMPARE(formatOleDate(QStringLiteral("hh:nn:ss"), addSeconds(start, 86399)),
                 QStringLiteral("23:59:59"));
    }

    void patterns_data() {
        QTest::addColumn<QString>("pattern");
        QTest::addColumn<QString>("text");
        QTest::newRow("file times") << "YY-MM-DD HH:NN:SS" << "07-04-02 10:45:18";
        QTest::newRow("point labels") << "MM-DD HH:NN:SS" << "04-02 10:45:18";
        QTest::newRow("station clock") << "YY-DD-MM HH:NN:SS" << "07-02-04 10:45:18";
        QTest::newRow("data grid") << "hh':'nn':'ss" << "10:45:18";
        QTest::newRow("month directory") << "yy'年'mm'月'" << "07年04月";
        QTest::newRow("file stamp") << "dd'日'hh'时'nn'分'ss'秒'" << "02日10时45分18秒";
        QTest::newRow("minutes after hours") << "hh:mm" << "10:45";
        QTest::newRow("four-digit year") << "yyyy-mm-dd" << "2007-04-02";
    }
    void patterns() {
        QFETCH(QString, pattern);
        QFETCH(QString, text);
        const QDateTime t(QDate(2007, 4, 2), QTime(10, 45, 18));
        QCOMPARE(formatDateTime(pattern, t), text);
        QCOMPARE(formatOleDate(pattern, toOleDate(t)), text);
    }

    void twoDigitYearsOnlyWithinTheCentury() {
        const QString pattern = QStringLiteral("YY-DD-MM HH:NN:SS");
        QCOMPARE(formatDateTime(pattern, QDateTime(QDate(1998, 12, 31), QTime(23, 59, 59))),
                 QStringLiteral("1998-31-12 23:59:59"));
        QCOMPARE(formatDateTime(pattern, QDateTime(QDate(2000, 1, 2), QTime(0, 0))),
                 QStringLiteral("00-02-01 00:00:00"));
        QCOMPARE(formatOleDate(QStringLiteral("yy'年'mm'月'"), oleDateFromParts(2100, 3, 1)),
                 QStringLiteral("2100年03月"));
    }

    void gbkTexts() {
        const QString tag = QStringLiteral("温度A1");
        const QByteArray bytes = stringToGbk(tag);
        QCOMPARE(bytes.size(), 6);
        QCOMPARE(gbkToString(bytes), tag);
        // Cut between characters: 5 Chinese characters are 10 bytes, 4 fit in 8.
        QCOMPARE(gbkPrefix(QStringLiteral("一二三四五"), 8), stringToGbk(QStringLiteral("一二三四")));
        QCOMPARE(gbkPrefix(QStringLiteral("abcdefg温"), 8), QByteArray("abcdefg"));
        QCOMPARE(gbkPrefix(QStringLiteral("ABCDEFGHIJ"), 8), QByteArray("ABCDEFGH"));
        const char stored[8] = {'T', 'I', '1', '0', '1', 0, 'x', 'y'};
        QCOMPARE(gbkToString(QByteArrayView(stored, 8)), QStringLiteral("TI101"));
        QCOMPARE(bytesToZero(QByteArrayView(stored, 8)), QByteArray("TI101"));
        // What an 8-byte field takes: four Chinese characters or eight ASCII, nothing GBK lacks.
        QVERIFY(fitsGbk(QStringLiteral("中文密码"), 8));
        QVERIFY(!fitsGbk(QStringLiteral("中文密码1"), 8));
        QVERIFY(fitsGbk(QStringLiteral("abcdefgh"), 8));
        QVERIFY(!fitsGbk(QStringLiteral("\U0001F600"), 8));
    }
};

QTEST_GUILESS_MAIN(TextsAndTimes)
#include "tst_textsandtimes.moc"
