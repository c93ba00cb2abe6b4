#include "paramreader.h"

#include <algorithm>

#include "pollcycle.h"
#include "shared/seriallink.h"

namespace tamlo::station {

namespace {

QString utf8(std::string_view text) {
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

QString valueText(const MeterParameter& parameter, std::int16_t value) {
    return QString::fromStdString(parameterValueText(parameter, value));
}

bool validDevice(int device) {
    return device >= 0 && device < kDeviceSlots;
}

}  // namespace

void ParameterReader::clear(int count) {
    for (int d = 0; d < count && d < kDeviceSlots; ++d) {
        cache_[static_cast<std::size_t>(d)].fill(ParameterCacheEntry{});
    }
}

const ParameterCacheEntry& ParameterReader::entry(int device, int index) const {
    return cache_.at(static_cast<std::size_t>(device)).at(static_cast<std::size_t>(index));
}

QList<ParameterReader::ListRow> ParameterReader::fill(const DeviceTable& active, int device) {
    QList<ListRow> rows;
    if (!validDevice(device)) {
        return rows;
    }
    shownDevice_ = device;
    const int model = active.entries[static_cast<std::size_t>(device)].model;
    const int count = std::min(parameterRowCount(model), kParametersPerDevice);
    for (int j = 0; j < count; ++j) {
        const MeterParameter* parameter = parameterAt(model, j);
        if (parameter == nullptr) {
            break;  // the sentinel
        }
        const ParameterCacheEntry& cached = entry(device, j);
        ListRow row{utf8(parameter->name), QString()};
        if (cached.valid != 0 && withinBounds(*parameter, cached.value)) {
            row.value = valueText(*parameter, cached.value);
        }
        rows << row;
    }
    return rows;
}

const MeterParameter* ParameterReader::parameterOfRow(const DeviceTable& active, int row) const {
    const int model = active.entries[static_cast<std::size_t>(shownDevice_)].model;
    if (row < 1 || row > std::min(parameterRowCount(model), kParametersPerDevice)) {
        return nullptr;
    }
    return parameterAt(model, row - 1);
}

std::optional<ParameterReader::Selection> ParameterReader::select(const DeviceTable& active,
                                                                  int row,
                                                                  const QString& name) const {
    const MeterParameter* parameter = parameterOfRow(active, row);
    if (parameter == nullptr) {
        return std::nullopt;
    }
    Selection selection;
    selection.label = name + QStringLiteral("：");
    if (parameter->kind == 0) {
        return selection;
    }
    selection.choice = true;
    for (std::string_view option : optionsForSelection(parameter->kind)) {
        selection.options << utf8(option);
    }
    // The entry at the position of the cached value's low byte, read or not: a parameter never
    // read shows the first entry.
    const std::int16_t value = entry(shownDevice_, row - 1).value;
    const int position = static_cast<std::uint8_t>(value & 0xFF);
    if (position < selection.options.size()) {
        selection.selected = position;
    } else if (withinBounds(*parameter, value) &&
               static_cast<std::size_t>(value) >= optionList(parameter->kind).size()) {
        // A valid value the list has no name for (auxiliary outputs 5 and 6) shows as its
        // number, as in the list.
        selection.options << valueText(*parameter, value);
        selection.selected = static_cast<int>(selection.options.size()) - 1;
    }
    return selection;
}

int ParameterReader::buildRequest(const DeviceEntry& device, const MeterParameter& parameter,
                                  std::uint8_t* request) {
    const std::uint8_t channel = device.isMultiChannel() ? device.channel : 0;
    return buildReadParam(device.address, channel, parameter.registerNumber, request);
}

ParameterReader::ReadOutcome ParameterReader::read(ByteLink& link, const DeviceTable& active,
                                                   int row) {
    ReadOutcome outcome;
    const MeterParameter* parameter = parameterOfRow(active, row);
    if (parameter == nullptr) {
        return outcome;
    }
    ParameterCacheEntry& cached =
        cache_[static_cast<std::size_t>(shownDevice_)][static_cast<std::size_t>(row - 1)];
    // Only devices of the running table are on the line: a device added and not yet saved has
    // no meter to ask (and with no active device there is none at all).
    if (shownDevice_ >= active.count) {
        cached.valid = 0;
        return outcome;
    }
    std::uint8_t request[kRequestBufferSize] = {};
    std::uint8_t reply[kParamReplySize] = {};
    const int n =
        buildRequest(active.entries[static_cast<std::size_t>(shownDevice_)], *parameter, request);
    outcome.asked = true;
    // Only this meter's answer to this request (a late reply of another has a good CRC too).
    if (!exchange(link, request, n, reply, kParamReplySize) || reply[0] != request[0] ||
        reply[1] != kReadParam) {
        cached.valid = 0;  // the value stays as it was
        return outcome;
    }
    cached.value = static_cast<std::int16_t>((reply[3] << 8) | reply[4]);
    cached.valid = 1;
    outcome.valid = true;
    // A number shows whatever its bounds; a list entry only for a value within them.
    const QString text = valueText(*parameter, cached.value);
    if (parameter->kind == 0 || withinBounds(*parameter, cached.value)) {
        outcome.cell = text;
    }
    return outcome;
}

}  // namespace tamlo::station
