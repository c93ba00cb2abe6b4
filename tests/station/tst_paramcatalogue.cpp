// The meter parameter catalogue held against the meters' published tables. The expected rows
// are parsed from the tables as the meters' documentation prints them (name, register in
// decimal and hexadecimal, kind, bounds), not taken from the catalogue.
#include <QRegularExpression>
#include <QTest>

#include "shared/gbk.h"
#include "station/devicetable.h"
#include "station/paramcatalogue.h"

using namespace tamlo;
using namespace tamlo::station;

namespace {

struct Row {
    QString name;
    int registerNumber;
    int kind;
    int low;
    int high;
};

// Table A: TM210, TP7.
const char* const kTableA = R"(
| 1 | "给定值" (set point) | 21 (0x15) | number | -999 | 9999 |
| 2 | "输入类型" (input type) | 0 (0x00) | list 1 | 0 | 17 |
| 3 | "小数点" (decimal point) | 1 (0x01) | list 9 | 0 | 3 |
| 4 | "冷端补偿" (cold-junction compensation) | 2 (0x02) | list 2 | 0 | 2 |
| 5 | "量程下限" (range low limit) | 3 (0x03) | number | -999 | 9999 |
| 6 | "量程上限" (range high limit) | 4 (0x04) | number | -999 | 9999 |
| 7 | "平移修正" (offset correction) | 5 (0x05) | number | -999 | 9999 |
| 8 | "滤波系数" (filter coefficient) | 6 (0x06) | number | 0 | 99 |
| 9 | "变送输出" (transmitter output) | 7 (0x07) | list 3 | 0 | 1 |
| 10 | "1号辅助输出" (auxiliary output 1) | 8 (0x08) | list 4 | 0 | 6 |
| 11 | "2号辅助输出" (auxiliary output 2) | 9 (0x09) | list 4 | 0 | 6 |
| 12 | "3号辅助输出" (auxiliary output 3) | 10 (0x0A) | list 4 | 0 | 6 |
| 13 | "4号辅助输出" (auxiliary output 4) | 11 (0x0B) | list 4 | 0 | 6 |
| 14 | "下限报警值" (low alarm value) | 12 (0x0C) | number | -999 | 9999 |
| 15 | "上限报警值" (high alarm value) | 13 (0x0D) | number | -999 | 9999 |
| 16 | "下下限报警值" (low-low alarm value) | 14 (0x0E) | number | -999 | 9999 |
| 17 | "上上限报警值" (high-high alarm value) | 15 (0x0F) | number | -999 | 9999 |
| 18 | "下偏差报警值" (low deviation alarm value) | 16 (0x10) | number | -999 | 9999 |
| 19 | "上偏差报警值" (high deviation alarm value) | 17 (0x11) | number | -999 | 9999 |
| 20 | "回差" (hysteresis) | 18 (0x12) | number | 0 | 2000 |
)";

// Table B: TM220.
const char* const kTableB = R"(
| 1 | "输入类型" (input type) | 0 (0x00) | list 1 | 0 | 17 |
| 2 | "小数点" (decimal point) | 1 (0x01) | list 9 | 0 | 3 |
| 3 | "冷端补偿" (cold-junction compensation) | 2 (0x02) | list 2 | 0 | 2 |
| 4 | "量程下限" (range low limit) | 3 (0x03) | number | -999 | 9999 |
| 5 | "量程上限" (range high limit) | 4 (0x04) | number | -999 | 9999 |
| 6 | "平移修正" (offset correction) | 5 (0x05) | number | -999 | 9999 |
| 7 | "滤波系数" (filter coefficient) | 6 (0x06) | number | 0 | 99 |
| 8 | "变送输出" (transmitter output) | 7 (0x07) | list 3 | 0 | 1 |
| 9 | "1号辅助输出" (auxiliary output 1) | 8 (0x08) | list 4 | 0 | 6 |
| 10 | "2号辅助输出" (auxiliary output 2) | 9 (0x09) | list 4 | 0 | 6 |
| 11 | "3号辅助输出" (auxiliary output 3) | 10 (0x0A) | list 4 | 0 | 6 |
| 12 | "4号辅助输出" (auxiliary output 4) | 11 (0x0B) | list 4 | 0 | 6 |
| 13 | "下限报警值" (low alarm value) | 12 (0x0C) | number | -999 | 9999 |
| 14 | "上限报警值" (high alarm value) | 13 (0x0D) | number | -999 | 9999 |
| 15 | "下下限报警值" (low-low alarm value) | 14 (0x0E) | number | -999 | 9999 |
| 16 | "上上限报警值" (high-high alarm value) | 15 (0x0F) | number | -999 | 9999 |
| 17 | "回差" (hysteresis) | 16 (0x10) | number | 0 | 2000 |
)";

// Table C: TM230. Rows 2 to 20 are rows 2 to 20 of table A; these are row 1 and rows 21 to 29.
const char* const kTableCOwnRows = R"(
| 1 | "给定值" (set point) | 31 (0x1F) | number | -999 | 9999 |
| 21 | "控制方式" (control mode) | 19 (0x13) | list 5 | 0 | 3 |
| 22 | "控制周期" (control period) | 20 (0x14) | number | 0 | 240 |
| 23 | "输出类型" (output type) | 21 (0x15) | list 6 | 0 | 4 |
| 24 | "比例带" (proportional band) | 22 (0x16) | number | 1 | 9999 |
| 25 | "积分时间" (integral time) | 23 (0x17) | number | 1 | 3600 |
| 26 | "微分时间" (derivative time) | 24 (0x18) | number | 0 | 1000 |
| 27 | "正反作用" (direct/reverse action) | 25 (0x19) | list 7 | 0 | 1 |
| 28 | "输出下限" (output low limit) | 26 (0x1A) | number | 0 | 250 |
| 29 | "输出上限" (output high limit) | 27 (0x1B) | number | 0 | 250 |
)";
// Behind the listed rows of table C: the display selection, listed by no model.
const char* const kTableCHiddenRow = R"(
| 30 | "显示" (display selection) | 28 (0x1C) | list 8 | 0 | 1 |
)";

// Table D: TM250, TM260.
const char* const kTableD = R"(
| 1 | "输入类型" (input type) | 1 (0x01) | list 1 | 0 | 17 |
| 2 | "小数点" (decimal point) | 3 (0x03) | list 9 | 0 | 3 |
| 3 | "冷端补偿" (cold-junction compensation) | 2 (0x02) | list 2 | 0 | 2 |
| 4 | "量程下限" (range low limit) | 6 (0x06) | number | -999 | 9999 |
| 5 | "量程上限" (range high limit) | 7 (0x07) | number | -999 | 9999 |
| 6 | "平移修正" (offset correction) | 5 (0x05) | number | -999 | 9999 |
| 7 | "滤波系数" (filter coefficient) | 4 (0x04) | number | 0 | 99 |
| 8 | "下限报警值" (low alarm value) | 8 (0x08) | number | -999 | 9999 |
| 9 | "上限报警值" (high alarm value) | 9 (0x09) | number | -999 | 9999 |
| 10 | "回差" (hysteresis) | 10 (0x0A) | number | 0 | 2000 |
| 11 | "下限报警输出" (low alarm output) | 11 (0x0B) | list 10 | 0 | 4 |
| 12 | "上限报警输出" (high alarm output) | 12 (0x0C) | list 10 | 0 | 4 |
)";

// Table E: TM610.
const char* const kTableE = R"(
| 1 | "校正系数K1" (correction coefficient K1) | 0 (0x00) | number | 0 | 9999 |
| 2 | "K1小数点Kp1" (decimal point of K1) | 1 (0x01) | list 9 | 0 | 3 |
| 3 | "频率平移修正ost1" (frequency offset correction) | 2 (0x02) | number | -999 | 999 |
| 4 | "标度系数K2" (scale coefficient K2) | 3 (0x03) | number | 0 | 9999 |
| 5 | "K2小数点Kp2" (decimal point of K2) | 4 (0x04) | list 9 | 0 | 3 |
| 6 | "标度平移修正ost2" (scale offset correction) | 5 (0x05) | number | -999 | 9999 |
| 7 | "参数小数点" (parameter decimal point) | 6 (0x06) | list 9 | 0 | 3 |
| 8 | "滤波系数" (filter coefficient) | 7 (0x07) | number | 0 | 99 |
| 9 | "1号辅助输出" (auxiliary output 1) | 8 (0x08) | list 4 | 0 | 6 |
| 10 | "2号辅助输出" (auxiliary output 2) | 9 (0x09) | list 4 | 0 | 6 |
| 11 | "3号辅助输出" (auxiliary output 3) | 10 (0x0A) | list 4 | 0 | 6 |
| 12 | "4号辅助输出" (auxiliary output 4) | 11 (0x0B) | list 4 | 0 | 6 |
| 13 | "下限报警值" (low alarm value) | 12 (0x0C) | number | -999 | 9999 |
| 14 | "上限报警值" (high alarm value) | 13 (0x0D) | number | -999 | 9999 |
| 15 | "下下限报警值" (low-low alarm value) | 14 (0x0E) | number | -999 | 9999 |
| 16 | "上上限报警值" (high-high alarm value) | 15 (0x0F) | number | -999 | 9999 |
| 17 | "回差" (hysteresis) | 16 (0x10) | number | 0 | 2000 |
)";

// The option lists from value 0 upwards, without their terminators.
const char* const kOptionLists = R"(
| 1 | input type | "K", "S", "B", "T", "E", "J", "N", "_1_", "Pt100", "Cu50", "Cu100", "_2_", "0-5V", "1-5V", "4-20mA", "0-10mA", "_3_" |
| 2 | cold-junction compensation | "无" (none), "二极管" (diode), "Cu50" |
| 3 | transmitter output | "0-10mA", "4-20mA" |
| 4 | auxiliary outputs 1 to 4 | "LA", "HA", "LLA", "HHA" |
| 5 | control mode | "位式控制" (on/off control), "PID控制" (PID control), "自整定" (self-tuning), "手动控制" (manual control) |
| 6 | output type | "SSR", "继电器" (relay), "0-10mA", "4-20mA", "自定义电流" (user-defined current) |
| 7 | direct/reverse action | "加热" (heating), "制冷" (cooling) |
| 8 | display selection | "给定值" (set point), "输出百分比" (output percentage) |
| 9 | decimal points | "个位" (ones), "十位" (tens), "百位" (hundreds), "千位" (thousands) |
| 10 | alarm outputs | "无" (none), "out1", "out2", "out3", "out4" |
)";

QList<Row> parseRows(const char* text) {
    static const QRegularExpression row(QString::fromUtf8(
        R"re(^\| (\d+) \| "([^"]+)" \([^)]*\) \| (\d+) \(0x([0-9A-F]{2})\) \| (number|list (\d+)) \| (-?\d+) \| (-?\d+) \|$)re"));
    QList<Row> rows;
    for (const QString& line :
         QString::fromUtf8(text).split(QLatin1Char('\n'), Qt::SkipEmptyParts)) {
        const QRegularExpressionMatch m = row.match(line);
        if (!m.hasMatch()) {
            qFatal("table line not understood: %s", qPrintable(line));
        }
        const int decimal = m.captured(3).toInt();
        if (decimal != m.captured(4).toInt(nullptr, 16)) {
            qFatal("register written two ways: %s", qPrintable(line));
        }
        rows << Row{m.captured(2), decimal, m.captured(6).isEmpty() ? 0 : m.captured(6).toInt(),
                    m.captured(7).toInt(), m.captured(8).toInt()};
    }
    return rows;
}

QList<QStringList> parseOptionLists() {
    QList<QStringList> lists{{}};
    static const QRegularExpression quoted(QString::fromUtf8(R"re("([^"]+)")re"));
    for (const QString& line :
         QString::fromUtf8(kOptionLists).split(QLatin1Char('\n'), Qt::SkipEmptyParts)) {
        const QString entries = line.section(QLatin1Char('|'), 3, 3);
        QStringList list;
        for (const QRegularExpressionMatch& m : quoted.globalMatch(entries)) {
            list << m.captured(1);
        }
        lists << list;
    }
    return lists;
}

QString text(std::string_view utf8) {
    return QString::fromUtf8(utf8.data(), static_cast<qsizetype>(utf8.size()));
}

void compareRow(const MeterParameter& actual, const Row& expected, const QString& where) {
    QVERIFY2(text(actual.name) == expected.name, qPrintable(where + ": " + text(actual.name)));
    QVERIFY2(actual.registerNumber == expected.registerNumber, qPrintable(where));
    QVERIFY2(actual.kind == expected.kind, qPrintable(where));
    QVERIFY2(actual.low == expected.low, qPrintable(where));
    QVERIFY2(actual.high == expected.high, qPrintable(where));
}

void compareSentinel(const MeterParameter& entry, const QString& where) {
    QVERIFY2(entry.name == " " && entry.registerNumber == 0 && entry.kind == 0 && entry.low == 0 &&
                 entry.high == 0,
             qPrintable(where + ": no sentinel"));
}

}  // namespace

class ParamCatalogue : public QObject {
    Q_OBJECT
private slots:
    void everyRowOfEveryTable() {
        QList<Row> tableC = parseRows(kTableCOwnRows);
        const QList<Row> tableA = parseRows(kTableA);
        tableC = QList<Row>{tableC[0]} + tableA.mid(1, 19) + tableC.mid(1);
        const QList<QList<Row>> byModel{
            tableA, parseRows(kTableB), tableC, parseRows(kTableD), parseRows(kTableD),
            tableA, parseRows(kTableE)};
        const QList<int> counts{20, 17, 29, 12, 12, 20, 17};
        const std::span<const ModelParameters> directory = modelDirectory();
        QCOMPARE(directory.size(), std::size_t(7));
        for (int m = 0; m < 7; ++m) {
            const QString model = modelNames()[m];
            QCOMPARE(byModel[m].size(), counts[m]);
            QCOMPARE(parameterRowCount(m), counts[m]);
            QCOMPARE(directory[static_cast<std::size_t>(m)].rows, std::uint32_t(counts[m]));
            for (int r = 0; r < counts[m]; ++r) {
                const MeterParameter* p = parameterAt(m, r);
                QVERIFY2(p != nullptr, qPrintable(model));
                compareRow(*p, byModel[m][r], QStringLiteral("%1 row %2").arg(model).arg(r + 1));
                // The name field is 20 bytes with a terminating zero.
                QVERIFY2(stringToGbk(text(p->name)).size() <= kNameFieldBytes - 1,
                         qPrintable(text(p->name)));
            }
            QVERIFY(parameterAt(m, counts[m]) == nullptr);
            QVERIFY(parameterAt(m, -1) == nullptr);
            const auto& table = directory[static_cast<std::size_t>(m)].table;
            if (m == TM230) {
                // The thirtieth entry stays behind the listed rows, then the sentinel.
                QCOMPARE(table.size(), std::size_t(31));
                compareRow(table[29], parseRows(kTableCHiddenRow)[0],
                           QStringLiteral("TM230 entry 30"));
            } else {
                QCOMPARE(table.size(), std::size_t(counts[m] + 1));
            }
            compareSentinel(table.back(), model);
        }
        // Models beyond the list have no rows.
        QCOMPARE(parameterRowCount(7), 0);
        QCOMPARE(parameterRowCount(-1), 0);
        QVERIFY(parameterAt(7, 0) == nullptr);
    }

    void everyOptionList() {
        const QList<QStringList> lists = parseOptionLists();
        QCOMPARE(lists.size(), 11);
        QVERIFY(optionList(0).empty());
        QVERIFY(optionList(11).empty());
        for (int k = 1; k <= 10; ++k) {
            const auto list = optionList(k);
            QCOMPARE(list.size(), std::size_t(lists[k].size() + 1));
            for (int v = 0; v < lists[k].size(); ++v) {
                QCOMPARE(text(optionText(k, v)), lists[k][v]);
            }
            // The terminator is a real entry.
            QCOMPARE(text(optionText(k, lists[k].size())), QStringLiteral(" "));
            QVERIFY(optionText(k, lists[k].size() + 1).empty());
            QVERIFY(optionText(k, -1).empty());
            QCOMPARE(int(optionsForSelection(k).size()), lists[k].size());
        }
    }

    void catalogueEdgeCases() {
        // Pairs of models share one table.
        QCOMPARE(modelDirectory()[TM250].table.data(), modelDirectory()[TM260].table.data());
        QCOMPARE(modelDirectory()[TM210].table.data(), modelDirectory()[TP7].table.data());
        QCOMPARE(parameterRowCount(TM250), 12);
        QCOMPARE(parameterRowCount(TP7), 20);
        // The set point is register 21 for TM210 and TP7, 31 for TM230; 21 is TM230's output type.
        QCOMPARE(parameterAt(TM210, 0)->registerNumber, 21);
        QCOMPARE(parameterAt(TP7, 0)->registerNumber, 21);
        QCOMPARE(parameterAt(TM230, 0)->registerNumber, 31);
        QCOMPARE(text(parameterAt(TM230, 22)->name), QStringLiteral("输出类型"));
        QCOMPARE(parameterAt(TM230, 22)->registerNumber, 21);
        // Input type 17 is within bounds and reads as the terminator.
        const MeterParameter& inputType = *parameterAt(TM210, 1);
        QVERIFY(withinBounds(inputType, 17));
        QCOMPARE(parameterValueText(inputType, 17), std::string(" "));
        QCOMPARE(parameterValueText(inputType, 7), std::string("_1_"));
        QCOMPARE(parameterValueText(inputType, 11), std::string("_2_"));
        QCOMPARE(parameterValueText(inputType, 16), std::string("_3_"));
        QCOMPARE(parameterValueText(inputType, 8), std::string("Pt100"));
        QCOMPARE(parameterValueText(inputType, 18), std::string());
        QCOMPARE(parameterValueText(inputType, -1), std::string());
        // Offered for selection.
        QCOMPARE(optionsForSelection(1).size(), std::size_t(17));
        QCOMPARE(optionsForSelection(4).size(), std::size_t(4));
        QCOMPARE(optionsForSelection(10).size(), std::size_t(5));
        // Auxiliary outputs 5 and 6 lie within bounds but beyond the list's names.
        const MeterParameter& aux = *parameterAt(TM210, 9);
        QCOMPARE(parameterValueText(aux, 3), std::string("HHA"));
        QCOMPARE(parameterValueText(aux, 4), std::string(" "));
        QCOMPARE(parameterValueText(aux, 5), std::string("5"));
        QCOMPARE(parameterValueText(aux, 6), std::string("6"));
        QCOMPARE(parameterValueText(aux, 7), std::string());
        // Numbers show without a decimal point, whatever their bounds.
        const MeterParameter& rangeLow = *parameterAt(TM250, 3);
        QCOMPARE(parameterValueText(rangeLow, -1000), std::string("-1000"));
        QVERIFY(!withinBounds(rangeLow, -1000));
        QCOMPARE(parameterValueText(rangeLow, -50), std::string("-50"));
    }
};

QTEST_GUILESS_MAIN(ParamCatalogue)
#include "tst_paramcatalogue.moc"
