#include "meterbus.h"

#include "shared/crc16.h"

namespace tamlo::metersim {

namespace {

sim::Bytes withCrc(sim::Bytes frame) {
    frame.resize(frame.size() + 2);
    appendCrc16(frame.data(), frame.size() - 2);
    return frame;
}

std::uint8_t highByte(std::int16_t value) {
    return static_cast<std::uint8_t>(static_cast<std::uint16_t>(value) >> 8);
}
std::uint8_t lowByte(std::int16_t value) {
    return static_cast<std::uint8_t>(static_cast<std::uint16_t>(value) & 0xFF);
}

}  // namespace

Meter* MeterBus::singleChannelMeter(std::uint8_t address) {
    for (Meter& meter : meters_) {
        if (meter.address == address && !meter.multiChannel())
            return &meter;
    }
    return nullptr;
}

Meter* MeterBus::multiChannelMeter(std::uint8_t address, std::uint8_t channel) {
    for (Meter& meter : meters_) {
        if (meter.address == address && meter.multiChannel() && meter.channel == channel) {
            return &meter;
        }
    }
    return nullptr;
}

Meter* MeterBus::addressee(const sim::Bytes& request, bool& malformed) {
    malformed = false;
    const std::uint8_t address = request[0];
    const std::uint8_t function = request[1];
    const std::size_t dataLength = request[2];
    const std::uint8_t* data = request.data() + 3;
    if (function == kReadValue) {
        // The byte before the channel is always 0x00 in the value request.
        if (dataLength == 1 && data[0] == 0x00)
            return singleChannelMeter(address);
        if (dataLength == 2 && data[0] == 0x00)
            return multiChannelMeter(address, data[1]);
    } else if (function == kReadParam) {
        if (dataLength == 1) {
            Meter* meter = singleChannelMeter(address);
            return meter != nullptr ? meter : multiChannelMeter(address, 0);
        }
        if (dataLength == 2)
            return multiChannelMeter(address, data[0]);
    }
    malformed = true;
    return nullptr;
}

sim::Answer MeterBus::answer(const sim::Bytes& request, std::int64_t epochMs) {
    bool malformed = false;
    Meter* meter = addressee(request, malformed);
    if (meter == nullptr) {
        const bool knownFunction = request[1] == kReadValue || request[1] == kReadParam;
        std::string reason = !malformed      ? "unknown meter"
                             : knownFunction ? "malformed"
                                             : "unknown function " + sim::toHex(&request[1], 1);
        return {std::nullopt, reason};
    }
    const std::uint8_t address = request[0];
    if (request[1] == kReadValue) {
        std::int16_t raw = meter->value(epochMs);
        return {withCrc({address, kReadValue, 0x04, highByte(raw), lowByte(raw),
                         static_cast<std::uint8_t>(meter->decimals & 0x03), 0x00}),
                {}};
    }
    std::uint8_t code = request[2] == 1 ? request[3] : request[4];
    if (!modelHasRegister(meter->model, code)) {
        // A meter does not answer for a register it does not have.
        return {std::nullopt, "no parameter " + std::to_string(code) + " on " +
                                  std::string(modelName(meter->model))};
    }
    std::int16_t value = meter->parameter(code);
    return {withCrc({address, kReadParam, 0x02, highByte(value), lowByte(value)}), {}};
}

void MeterBus::answered(const sim::Bytes& request, std::int64_t) {
    if (request[1] != kReadValue)
        return;
    bool malformed = false;
    if (Meter* meter = addressee(request, malformed))
        meter->advance();
}

Meter* MeterBus::named(const std::string& addressText, const std::string& channelText,
                       std::string& error) {
    auto address = sim::parseInteger(addressText, 0, 255);
    auto channel = sim::parseInteger(channelText, 0, 255);
    if (!address || !channel) {
        error = "bad address or channel \"" + addressText + " " + channelText + "\" (0 to 255)";
        return nullptr;
    }
    for (Meter& meter : meters_) {
        if (meter.address == *address && meter.channel == *channel)
            return &meter;
    }
    if (Meter* meter = singleChannelMeter(static_cast<std::uint8_t>(*address)))
        return meter;
    error = "no meter at address " + addressText + " channel " + channelText;
    return nullptr;
}

std::string MeterBus::command(const std::vector<std::string>& words) {
    std::string error;
    if (words[0] == "set") {
        if (words.size() != 4)
            return "expected: set <address> <channel> <source>";
        Meter* meter = named(words[1], words[2], error);
        if (meter == nullptr)
            return error;
        auto source = ValueSource::parse(words[3], error);
        if (!source)
            return error;
        meter->setSource(*source);
        return {};
    }
    if (words[0] == "param") {
        if (words.size() != 5)
            return "expected: param <address> <channel> <code> <value>";
        Meter* meter = named(words[1], words[2], error);
        if (meter == nullptr)
            return error;
        auto code = sim::parseInteger(words[3], 0, 255);
        auto value = sim::parseInteger(words[4], -32768, 32767);
        if (!code || !value)
            return "bad code or value (code 0 to 255, value -32768 to 32767)";
        if (!modelHasRegister(meter->model, static_cast<std::uint8_t>(*code))) {
            return "parameter " + words[3] + " is not a register of " +
                   std::string(modelName(meter->model));
        }
        meter->parameters[static_cast<std::uint8_t>(*code)] = static_cast<std::int16_t>(*value);
        return {};
    }
    return "unknown command \"" + words[0] + "\" (fault, clear, set, param, quit)";
}

}  // namespace tamlo::metersim
