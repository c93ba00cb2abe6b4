#include "meterconfig.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <fstream>
#include <numbers>
#include <sstream>

namespace tamlo::metersim {

namespace {

constexpr std::string_view kModelNames[kModelCount] = {"TM210", "TM220", "TM230", "TM250",
                                                       "TM260", "TP7",   "TM610"};
constexpr long long kRawMin = -32768;
constexpr long long kRawMax = 32767;

std::vector<std::string_view> splitAt(std::string_view text, char separator) {
    std::vector<std::string_view> parts;
    std::size_t start = 0;
    for (;;) {
        std::size_t end = text.find(separator, start);
        parts.push_back(text.substr(start, end == std::string_view::npos ? end : end - start));
        if (end == std::string_view::npos)
            return parts;
        start = end + 1;
    }
}

std::optional<int> parseRaw(std::string_view text) {
    auto value = sim::parseInteger(text, kRawMin, kRawMax);
    if (!value)
        return std::nullopt;
    return static_cast<int>(*value);
}

bool parseMeterLine(const std::vector<std::string>& words, Meter& meter, std::string& error) {
    if (words.size() < 5) {
        error = "expected <address> <model> <channel> <source> <decimals> [p<code>=<value> ...]";
        return false;
    }
    auto address = sim::parseInteger(words[0], 0, 255);
    if (!address) {
        error = "bad address \"" + words[0] + "\" (0 to 255)";
        return false;
    }
    auto model = parseModel(words[1]);
    if (!model) {
        error = "unknown model \"" + words[1] +
                "\" (0 to 6 or TM210, TM220, TM230, TM250, TM260, TP7, TM610)";
        return false;
    }
    auto channel = sim::parseInteger(words[2], 0, 255);
    if (!channel) {
        error = "bad channel \"" + words[2] + "\" (0 to 255)";
        return false;
    }
    auto source = ValueSource::parse(words[3], error);
    if (!source)
        return false;
    auto decimals = sim::parseInteger(words[4], 0, 3);
    if (!decimals) {
        error = "bad decimals \"" + words[4] + "\" (0 to 3)";
        return false;
    }
    meter.address = static_cast<std::uint8_t>(*address);
    meter.model = *model;
    meter.channel = static_cast<std::uint8_t>(*channel);
    meter.setSource(*source);
    meter.decimals = static_cast<int>(*decimals);
    for (std::size_t i = 5; i < words.size(); ++i) {
        const std::string& word = words[i];
        std::size_t equals = word.find('=');
        std::optional<long long> code;
        std::optional<int> value;
        if (word.size() > 1 && word[0] == 'p' && equals != std::string::npos) {
            code = sim::parseInteger(std::string_view(word).substr(1, equals - 1), 0, 255);
            value = parseRaw(std::string_view(word).substr(equals + 1));
        }
        if (!code || !value) {
            error = "bad parameter \"" + word + "\" (p<code 0 to 255>=<value -32768 to 32767>)";
            return false;
        }
        auto key = static_cast<std::uint8_t>(*code);
        if (!modelHasRegister(meter.model, key)) {
            error = "parameter p" + std::to_string(*code) + " is not a register of " +
                    std::string(modelName(meter.model));
            return false;
        }
        if (meter.parameters.count(key) != 0) {
            error = "parameter p" + std::to_string(*code) + " is given twice";
            return false;
        }
        meter.parameters[key] = static_cast<std::int16_t>(*value);
    }
    return true;
}

// Two meters that would both answer the same request cannot be on one line.
std::string describeClash(const Meter& meter) {
    std::string address = std::to_string(meter.address);
    if (!meter.multiChannel())
        return "a single-channel meter at address " + address;
    return "a multi-channel meter at address " + address + " channel " +
           std::to_string(meter.channel);
}

bool clashes(const Meter& a, const Meter& b) {
    if (a.address != b.address || a.multiChannel() != b.multiChannel())
        return false;
    return !a.multiChannel() || a.channel == b.channel;
}

}  // namespace

std::string_view modelName(int row) {
    return row >= 0 && row < kModelCount ? kModelNames[row] : std::string_view("?");
}

std::optional<int> parseModel(std::string_view text) {
    if (auto row = sim::parseInteger(text, 0, kModelCount - 1))
        return static_cast<int>(*row);
    std::string upper(text);
    std::transform(upper.begin(), upper.end(), upper.begin(),
                   [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
    for (int row = 0; row < kModelCount; ++row) {
        if (kModelNames[row] == upper)
            return row;
    }
    return std::nullopt;
}

bool isMultiChannelModel(int row) {
    return row == 3 || row == 4;
}

bool modelHasRegister(int row, std::uint8_t code) {
    switch (row) {
        case 0:  // TM210
        case 5:  // TP7: registers 0 to 18, set point 21
            return code <= 18 || code == 21;
        case 1:  // TM220
        case 6:  // TM610
            return code <= 16;
        case 2:  // TM230: registers 0 to 27 (21 is the output type), set point 31
            return code <= 27 || code == 31;
        case 3:  // TM250
        case 4:  // TM260
            return code >= 1 && code <= 12;
        default:
            return false;
    }
}

std::optional<ValueSource> ValueSource::parse(std::string_view text, std::string& error) {
    std::vector<std::string_view> parts = splitAt(text, ':');
    ValueSource source;
    const std::string_view kind = parts[0];
    if (kind == "const" && parts.size() == 2) {
        auto raw = parseRaw(parts[1]);
        if (raw) {
            source.kind = Kind::Constant;
            source.from = source.to = *raw;
            return source;
        }
    } else if (kind == "ramp" && parts.size() == 4) {
        auto from = parseRaw(parts[1]);
        auto to = parseRaw(parts[2]);
        auto step = parseRaw(parts[3]);
        if (from && to && step) {
            if (*step == 0 || (*from < *to && *step < 0) || (*from > *to && *step > 0)) {
                error = "the ramp \"" + std::string(text) +
                        "\" never gets from its start to its end (step 0 or pointing away)";
                return std::nullopt;
            }
            source.kind = Kind::Ramp;
            source.from = *from;
            source.to = *to;
            source.step = *step;
            return source;
        }
    } else if (kind == "sine" && parts.size() == 4) {
        auto mean = sim::parseNumber(parts[1]);
        auto amplitude = sim::parseNumber(parts[2]);
        auto period = sim::parseNumber(parts[3]);
        if (mean && amplitude && period && *period > 0) {
            source.kind = Kind::Sine;
            source.mean = *mean;
            source.amplitude = *amplitude;
            source.periodSeconds = *period;
            return source;
        }
    }
    error = "bad source \"" + std::string(text) +
            "\" (const:<raw>, ramp:<from>:<to>:<step> or sine:<mean>:<amplitude>:<period s>; "
            "raw values -32768 to 32767, period above 0)";
    return std::nullopt;
}

void Meter::setSource(const ValueSource& newSource) {
    source = newSource;
    rampValue = static_cast<std::int16_t>(source.from);
}

std::int16_t Meter::value(std::int64_t epochMs) const {
    switch (source.kind) {
        case ValueSource::Kind::Constant:
            return static_cast<std::int16_t>(source.from);
        case ValueSource::Kind::Ramp:
            return rampValue;
        case ValueSource::Kind::Sine: {
            // Phase from the remainder in whole milliseconds: an epoch time in seconds as a
            // double would lose the fractions that short periods need.
            double periodMs = source.periodSeconds * 1000.0;
            double phase = std::fmod(static_cast<double>(epochMs), periodMs) / periodMs;
            double raw = source.mean + source.amplitude * std::sin(2 * std::numbers::pi * phase);
            raw = std::clamp(std::round(raw), static_cast<double>(kRawMin),
                             static_cast<double>(kRawMax));
            return static_cast<std::int16_t>(raw);
        }
    }
    return 0;
}

void Meter::advance() {
    if (source.kind != ValueSource::Kind::Ramp)
        return;
    int next = rampValue + source.step;
    bool beyondEnd = source.step > 0 ? next > source.to : next < source.to;
    rampValue = static_cast<std::int16_t>(beyondEnd ? source.from : next);
}

std::int16_t Meter::parameter(std::uint8_t code) const {
    auto it = parameters.find(code);
    return it == parameters.end() ? 0 : it->second;
}

std::optional<MetersFile> parseMeters(std::string_view text, std::string& error) {
    MetersFile file;
    std::vector<int> meterLines;
    int lineNumber = 0;
    for (std::string_view line : splitAt(text, '\n')) {
        ++lineNumber;
        if (!line.empty() && line.back() == '\r')
            line.remove_suffix(1);
        line = line.substr(0, line.find('#'));
        std::vector<std::string> words = sim::splitWords(line);
        if (words.empty())
            continue;
        std::string lineError;
        if (words[0] == "fault") {
            auto fault = sim::parseFaultSetting({words.begin() + 1, words.end()}, lineError);
            if (fault) {
                file.faults.push_back(*fault);
                continue;
            }
        } else {
            Meter meter;
            if (parseMeterLine(words, meter, lineError)) {
                for (std::size_t i = 0; i < file.meters.size(); ++i) {
                    if (clashes(file.meters[i], meter)) {
                        lineError = describeClash(meter) + " is already on line " +
                                    std::to_string(meterLines[i]);
                    }
                }
                if (lineError.empty()) {
                    file.meters.push_back(std::move(meter));
                    meterLines.push_back(lineNumber);
                    continue;
                }
            }
        }
        error = "line " + std::to_string(lineNumber) + ": " + lineError;
        return std::nullopt;
    }
    if (file.meters.empty()) {
        error = "no meters defined";
        return std::nullopt;
    }
    return file;
}

std::optional<MetersFile> loadMetersFile(const std::string& path, std::string& error) {
    std::ifstream stream(path, std::ios::binary);
    if (!stream) {
        error = "cannot read the meters file " + path;
        return std::nullopt;
    }
    std::ostringstream text;
    text << stream.rdbuf();
    auto file = parseMeters(text.str(), error);
    if (!file)
        error = path + ": " + error;
    return file;
}

}  // namespace tamlo::metersim
