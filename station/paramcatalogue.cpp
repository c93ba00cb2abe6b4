#include "paramcatalogue.h"

#include <array>

namespace tamlo::station {

namespace {

// Kinds: 0 is a plain number, 1 to 10 the option list that names the values.
constexpr std::uint8_t kNumber = 0;

// clang-format off
constexpr MeterParameter kSentinel{kSentinelName, 0, kNumber, 0, 0};

// Table A: TM210 and TP7, 20 rows.
constexpr MeterParameter kTableA[] = {
    // name               register  kind     low   high
    {"给定值",            21,       kNumber, -999, 9999},
    {"输入类型",          0,        1,       0,    17},
    {"小数点",            1,        9,       0,    3},
    {"冷端补偿",          2,        2,       0,    2},
    {"量程下限",          3,        kNumber, -999, 9999},
    {"量程上限",          4,        kNumber, -999, 9999},
    {"平移修正",          5,        kNumber, -999, 9999},
    {"滤波系数",          6,        kNumber, 0,    99},
    {"变送输出",          7,        3,       0,    1},
    {"1号辅助输出",       8,        4,       0,    6},
    {"2号辅助输出",       9,        4,       0,    6},
    {"3号辅助输出",       10,       4,       0,    6},
    {"4号辅助输出",       11,       4,       0,    6},
    {"下限报警值",        12,       kNumber, -999, 9999},
    {"上限报警值",        13,       kNumber, -999, 9999},
    {"下下限报警值",      14,       kNumber, -999, 9999},
    {"上上限报警值",      15,       kNumber, -999, 9999},
    {"下偏差报警值",      16,       kNumber, -999, 9999},
    {"上偏差报警值",      17,       kNumber, -999, 9999},
    {"回差",              18,       kNumber, 0,    2000},
    kSentinel,
};

// Table B: TM220, 17 rows.
constexpr MeterParameter kTableB[] = {
    // name               register  kind     low   high
    {"输入类型",          0,        1,       0,    17},
    {"小数点",            1,        9,       0,    3},
    {"冷端补偿",          2,        2,       0,    2},
    {"量程下限",          3,        kNumber, -999, 9999},
    {"量程上限",          4,        kNumber, -999, 9999},
    {"平移修正",          5,        kNumber, -999, 9999},
    {"滤波系数",          6,        kNumber, 0,    99},
    {"变送输出",          7,        3,       0,    1},
    {"1号辅助输出",       8,        4,       0,    6},
    {"2号辅助输出",       9,        4,       0,    6},
    {"3号辅助输出",       10,       4,       0,    6},
    {"4号辅助输出",       11,       4,       0,    6},
    {"下限报警值",        12,       kNumber, -999, 9999},
    {"上限报警值",        13,       kNumber, -999, 9999},
    {"下下限报警值",      14,       kNumber, -999, 9999},
    {"上上限报警值",      15,       kNumber, -999, 9999},
    {"回差",              16,       kNumber, 0,    2000},
    kSentinel,
};

// Table C: TM230, 29 rows listed. Rows 2 to 20 are those of table A. The thirtieth entry
// (display selection) sits behind the listed rows as the meter has it; no model lists it.
constexpr MeterParameter kTableC[] = {
    // name               register  kind     low   high
    {"给定值",            31,       kNumber, -999, 9999},
    {"输入类型",          0,        1,       0,    17},
    {"小数点",            1,        9,       0,    3},
    {"冷端补偿",          2,        2,       0,    2},
    {"量程下限",          3,        kNumber, -999, 9999},
    {"量程上限",          4,        kNumber, -999, 9999},
    {"平移修正",          5,        kNumber, -999, 9999},
    {"滤波系数",          6,        kNumber, 0,    99},
    {"变送输出",          7,        3,       0,    1},
    {"1号辅助输出",       8,        4,       0,    6},
    {"2号辅助输出",       9,        4,       0,    6},
    {"3号辅助输出",       10,       4,       0,    6},
    {"4号辅助输出",       11,       4,       0,    6},
    {"下限报警值",        12,       kNumber, -999, 9999},
    {"上限报警值",        13,       kNumber, -999, 9999},
    {"下下限报警值",      14,       kNumber, -999, 9999},
    {"上上限报警值",      15,       kNumber, -999, 9999},
    {"下偏差报警值",      16,       kNumber, -999, 9999},
    {"上偏差报警值",      17,       kNumber, -999, 9999},
    {"回差",              18,       kNumber, 0,    2000},
    {"控制方式",          19,       5,       0,    3},
    {"控制周期",          20,       kNumber, 0,    240},
    {"输出类型",          21,       6,       0,    4},
    {"比例带",            22,       kNumber, 1,    9999},
    {"积分时间",          23,       kNumber, 1,    3600},
    {"微分时间",          24,       kNumber, 0,    1000},
    {"正反作用",          25,       7,       0,    1},
    {"输出下限",          26,       kNumber, 0,    250},
    {"输出上限",          27,       kNumber, 0,    250},
    {"显示",              28,       8,       0,    1},
    kSentinel,
};

// Table D: TM250 and TM260, 12 rows. The registers do not follow the row order.
constexpr MeterParameter kTableD[] = {
    // name               register  kind     low   high
    {"输入类型",          1,        1,       0,    17},
    {"小数点",            3,        9,       0,    3},
    {"冷端补偿",          2,        2,       0,    2},
    {"量程下限",          6,        kNumber, -999, 9999},
    {"量程上限",          7,        kNumber, -999, 9999},
    {"平移修正",          5,        kNumber, -999, 9999},
    {"滤波系数",          4,        kNumber, 0,    99},
    {"下限报警值",        8,        kNumber, -999, 9999},
    {"上限报警值",        9,        kNumber, -999, 9999},
    {"回差",              10,       kNumber, 0,    2000},
    {"下限报警输出",      11,       10,      0,    4},
    {"上限报警输出",      12,       10,      0,    4},
    kSentinel,
};

// Table E: TM610, 17 rows.
constexpr MeterParameter kTableE[] = {
    // name               register  kind     low   high
    {"校正系数K1",        0,        kNumber, 0,    9999},
    {"K1小数点Kp1",       1,        9,       0,    3},
    {"频率平移修正ost1",  2,        kNumber, -999, 999},
    {"标度系数K2",        3,        kNumber, 0,    9999},
    {"K2小数点Kp2",       4,        9,       0,    3},
    {"标度平移修正ost2",  5,        kNumber, -999, 9999},
    {"参数小数点",        6,        9,       0,    3},
    {"滤波系数",          7,        kNumber, 0,    99},
    {"1号辅助输出",       8,        4,       0,    6},
    {"2号辅助输出",       9,        4,       0,    6},
    {"3号辅助输出",       10,       4,       0,    6},
    {"4号辅助输出",       11,       4,       0,    6},
    {"下限报警值",        12,       kNumber, -999, 9999},
    {"上限报警值",        13,       kNumber, -999, 9999},
    {"下下限报警值",      14,       kNumber, -999, 9999},
    {"上上限报警值",      15,       kNumber, -999, 9999},
    {"回差",              16,       kNumber, 0,    2000},
    kSentinel,
};

// The model directory, in model order. Two pairs of models share a table.
constexpr ModelParameters kModels[] = {
    {20, kTableA},  // 0 TM210
    {17, kTableB},  // 1 TM220
    {29, kTableC},  // 2 TM230
    {12, kTableD},  // 3 TM250
    {12, kTableD},  // 4 TM260
    {20, kTableA},  // 5 TP7
    {17, kTableE},  // 6 TM610
};

// The option lists, each from value 0 upwards and ended by its terminator " ".
// Input type.
constexpr std::string_view kList1[] = {"K", "S", "B", "T", "E", "J", "N", "_1_", "Pt100", "Cu50", "Cu100", "_2_", "0-5V", "1-5V", "4-20mA", "0-10mA", "_3_", " "};
// Cold-junction compensation.
constexpr std::string_view kList2[] = {"无", "二极管", "Cu50", " "};
// Transmitter output.
constexpr std::string_view kList3[] = {"0-10mA", "4-20mA", " "};
// Auxiliary outputs.
constexpr std::string_view kList4[] = {"LA", "HA", "LLA", "HHA", " "};
// Control mode.
constexpr std::string_view kList5[] = {"位式控制", "PID控制", "自整定", "手动控制", " "};
// Output type.
constexpr std::string_view kList6[] = {"SSR", "继电器", "0-10mA", "4-20mA", "自定义电流", " "};
// Direct/reverse action.
constexpr std::string_view kList7[] = {"加热", "制冷", " "};
// Display selection.
constexpr std::string_view kList8[] = {"给定值", "输出百分比", " "};
// Decimal points.
constexpr std::string_view kList9[] = {"个位", "十位", "百位", "千位", " "};
// Alarm outputs.
constexpr std::string_view kList10[] = {"无", "out1", "out2", "out3", "out4", " "};

// clang-format on

// Indexed by kind; kind 0 has no list.
constexpr std::array<std::span<const std::string_view>, kOptionListCount + 1> kOptionLists{{
    {},
    kList1,
    kList2,
    kList3,
    kList4,
    kList5,
    kList6,
    kList7,
    kList8,
    kList9,
    kList10,
}};

}  // namespace

std::span<const ModelParameters> modelDirectory() {
    return kModels;
}

std::span<const std::string_view> optionList(int kind) {
    if (kind < 1 || kind > kOptionListCount) {
        return {};
    }
    return kOptionLists[static_cast<std::size_t>(kind)];
}

int parameterRowCount(int model) {
    if (model < 0 || model >= static_cast<int>(std::size(kModels))) {
        return 0;
    }
    return static_cast<int>(kModels[model].rows);
}

const MeterParameter* parameterAt(int model, int row) {
    if (row < 0 || row >= parameterRowCount(model)) {
        return nullptr;
    }
    const std::span<const MeterParameter> table = kModels[model].table;
    const auto index = static_cast<std::size_t>(row);
    if (index >= table.size() || table[index].name == kSentinelName) {
        return nullptr;
    }
    return &table[index];
}

std::string_view optionText(int kind, int value) {
    const std::span<const std::string_view> list = optionList(kind);
    if (value < 0 || static_cast<std::size_t>(value) >= list.size()) {
        return {};
    }
    return list[static_cast<std::size_t>(value)];
}

std::vector<std::string_view> optionsForSelection(int kind) {
    std::vector<std::string_view> entries;
    for (std::string_view entry : optionList(kind)) {
        if (entry == kSentinelName || entries.size() >= kMaxSelectionEntries) {
            break;
        }
        entries.push_back(entry);
    }
    return entries;
}

bool withinBounds(const MeterParameter& parameter, std::int16_t value) {
    return value >= parameter.low && value <= parameter.high;
}

std::string parameterValueText(const MeterParameter& parameter, std::int16_t value) {
    if (parameter.kind == kNumber) {
        return std::to_string(value);
    }
    if (!withinBounds(parameter, value)) {
        return {};
    }
    const std::string_view text = optionText(parameter.kind, value);
    return text.empty() ? std::to_string(value) : std::string(text);
}

}  // namespace tamlo::station
