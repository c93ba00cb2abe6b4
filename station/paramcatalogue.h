#pragma once

// The meter parameter catalogue: which parameters each meter model has, under which register
// each one is read, how its value reads and which values are valid. Constant data fixed at
// build time; no window code and no Qt.

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace tamlo::station {

// One parameter of a meter. Names are UTF-8 here; their GBK form fits the 20-byte name field
// of the meters' own documentation (at most 19 bytes used).
struct MeterParameter {
    std::string_view name;
    std::uint8_t registerNumber;  // the parameter code of the READ_PARAM request
    std::uint8_t kind;            // 0: plain number; 1 to 10: the OptionList naming its values
    std::int16_t low;             // smallest valid value
    std::int16_t high;            // largest valid value
};

inline constexpr int kNameFieldBytes = 20;
inline constexpr int kOptionListCount = 10;
// Every parameter table ends with an entry of this name, and every option list with this entry.
inline constexpr std::string_view kSentinelName = " ";
// Option entries offered for selection stop at the terminator or at this many.
inline constexpr int kMaxSelectionEntries = 20;

// A model's entry in the directory: the rows it lists and its table (sentinel included).
struct ModelParameters {
    std::uint32_t rows;
    std::span<const MeterParameter> table;
};

// The directory in model order (0 TM210 .. 6 TM610).
std::span<const ModelParameters> modelDirectory();
// The ten option lists by kind, 1 to 10; each includes its terminator " ".
std::span<const std::string_view> optionList(int kind);

// Rows listed for a model; 0 for a model byte outside the model list.
int parameterRowCount(int model);
// The parameter of a model's 0-based row; nullptr at or beyond the row count, or at the
// sentinel.
const MeterParameter* parameterAt(int model, int row);
// Entry `value` of list `kind` (the terminator included); empty when there is no such entry.
std::string_view optionText(int kind, int value);
// The entries of list `kind` offered for selection: from value 0 up to the first " ", at most 20.
std::vector<std::string_view> optionsForSelection(int kind);

// The text a stored value reads as (UTF-8): kind 0 as a signed decimal integer, whatever its
// bounds; kind k as entry v of list k for values within the parameter's bounds. A value within
// the bounds but beyond the list's entries (auxiliary outputs 5 and 6) reads as its number.
// Empty for a list-kind value outside the bounds.
std::string parameterValueText(const MeterParameter& parameter, std::int16_t value);
bool withinBounds(const MeterParameter& parameter, std::int16_t value);

}  // namespace tamlo::station
