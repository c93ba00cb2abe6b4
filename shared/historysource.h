#pragma once

#include <QString>

namespace tamlo {

// A window of records as the history curve panel shows it: one curve per channel, record j at
// x = j. tamlo_ana's recorder window and tamlo_view's page each provide one.
class HistoryWindowSource {
public:
    virtual ~HistoryWindowSource() = default;
    // Records in the window.
    virtual int count() const = 0;
    virtual double valueAt(int record, int channel) const = 0;
    // Curve 0's label of a record: the time the record was taken, "MM-DD HH:NN:SS".
    virtual QString labelAt(int record) const = 0;
    // A channel row's value box with the cross-hair on the record.
    virtual QString valueText(int record, int channel) const = 0;
};

}  // namespace tamlo
