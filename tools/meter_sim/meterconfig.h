#pragma once

#include "simlink.h"

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tamlo::metersim {

// Model rows as the station's device table numbers them.
inline constexpr int kModelCount = 7;
std::string_view modelName(int row);
// A row number 0..6 or a model name (TM210 TM220 TM230 TM250 TM260 TP7 TM610, any case).
std::optional<int> parseModel(std::string_view text);
// TM250 and TM260 (rows 3 and 4) carry several channels; their requests name the channel.
bool isMultiChannelModel(int row);
// Whether a model has parameter register `code`: the registers its parameter list shows.
// Meters of that model answer READ_PARAM for these and stay silent on any other.
bool modelHasRegister(int row, std::uint8_t code);

// Where a meter's raw value comes from.
struct ValueSource {
    enum class Kind { Constant, Ramp, Sine };
    Kind kind = Kind::Constant;
    int from = 0;  // the constant, or where a ramp starts (and wraps back to)
    int to = 0;    // where a ramp ends
    int step = 0;  // what a ramp adds per answered value request
    double mean = 0;
    double amplitude = 0;
    double periodSeconds = 1;

    // const:<raw> | ramp:<from>:<to>:<step> | sine:<mean>:<amplitude>:<period seconds>
    static std::optional<ValueSource> parse(std::string_view text, std::string& error);
};

struct Meter {
    std::uint8_t address = 0;
    int model = 0;
    std::uint8_t channel = 0;
    ValueSource source;
    int decimals = 0;
    std::map<std::uint8_t, std::int16_t> parameters;  // unset codes read 0
    std::int16_t rampValue = 0;                       // the value a ramp answers next

    bool multiChannel() const { return isMultiChannelModel(model); }
    void setSource(const ValueSource& newSource);
    // The raw value answered to a request that arrived at `epochMs`.
    std::int16_t value(std::int64_t epochMs) const;
    // A value reply went out: a ramp moves one step, wrapping past its end back to its start.
    void advance();
    std::int16_t parameter(std::uint8_t code) const;
};

struct MetersFile {
    std::vector<Meter> meters;
    std::vector<sim::FaultSetting> faults;
};

// The meters file: one meter a line, '#' starts a comment, blank lines are ignored.
//   <address> <model> <channel> <source> <decimals> [p<code>=<value> ...]
//   fault <address> <kind> [count]
// On failure `error` names the line and what is wrong with it.
std::optional<MetersFile> parseMeters(std::string_view text, std::string& error);
std::optional<MetersFile> loadMetersFile(const std::string& path, std::string& error);

}  // namespace tamlo::metersim
