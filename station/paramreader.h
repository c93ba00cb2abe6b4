#pragma once

#include <QString>
#include <QStringList>
#include <array>
#include <cstdint>
#include <optional>

#include "devicetable.h"
#include "paramcatalogue.h"

namespace tamlo {
class ByteLink;
}

namespace tamlo::station {

// Last value read of one meter parameter.
struct ParameterCacheEntry {
    std::int16_t value = 0;
    std::uint8_t valid = 0;
};
inline constexpr int kParametersPerDevice = 40;
// The parameter list: a header row and one row per cache entry.
inline constexpr int kParameterListRows = kParametersPerDevice + 1;

// The parameter list of one device and the reads of its parameters, without widgets. Rows are
// those of the list: row r (1-based, below the header) is the model's catalogue row r - 1 and
// cache entry r - 1. The selection and the read act on the device whose list was filled last,
// so a value read always lands in the list the operator sees.
class ParameterReader {
public:
    // Every entry of the first `count` devices: value 0, not valid.
    void clear(int count);
    const ParameterCacheEntry& entry(int device, int index) const;

    struct ListRow {
        QString name;
        QString value;  // empty when never read, failed, or out of bounds
    };
    // The rows of device `device`'s list (at most 40, the model's row count), and the device
    // becomes the shown one.
    QList<ListRow> fill(const DeviceTable& active, int device);
    int shownDevice() const { return shownDevice_; }

    // What a row selection shows under the list.
    struct Selection {
        QString label;        // the row's name followed by "："
        bool choice = false;  // a list-kind parameter: the choice box instead of the edit box
        QStringList options;  // the choice box's entries
        int selected = -1;    // the entry selected, -1 for none
    };
    // Nothing for the header row or a row beyond the model's row count.
    std::optional<Selection> select(const DeviceTable& active, int row, const QString& name) const;

    struct ReadOutcome {
        bool asked = false;           // a request went to the line
        bool valid = false;           // the meter answered
        std::optional<QString> cell;  // the new text of the value cell; none keeps the old one
    };
    // Reads row `row`'s parameter from the shown device over `link`.
    ReadOutcome read(ByteLink& link, const DeviceTable& active, int row);

    // The READ_PARAM request body for a parameter of a device: the channel goes with it only for
    // TM250 and TM260 set to a channel other than 0. Returns its length (4 or 5).
    static int buildRequest(const DeviceEntry& device, const MeterParameter& parameter,
                            std::uint8_t* request);

private:
    const MeterParameter* parameterOfRow(const DeviceTable& active, int row) const;

    std::array<std::array<ParameterCacheEntry, kParametersPerDevice>, kDeviceSlots> cache_{};
    int shownDevice_ = 0;
};

}  // namespace tamlo::station
