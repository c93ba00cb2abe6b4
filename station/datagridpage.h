#pragma once

#include <QStringList>
#include <vector>

#include "alarms.h"

#include "recordcycle.h"

class QWidget;

namespace tamlo {
class StringGrid;
}

namespace tamlo::station {

// The data page: StringGrid2 with one column per device and one row per record, the current
// second in the row of the next record and a band of asterisks after it.
class DataGridPage {
public:
    explicit DataGridPage(QWidget* tabSheet);

    StringGrid* grid() const { return StringGrid2; }

    // 65 columns and 640 rows with their widths and heights (start-up).
    void prepare();
    // "时间" and one tag per device; the other columns' headers are emptied.
    void writeHeader(const QStringList& tags);
    // This second's row; after a record, the band over `columns` columns (time and devices).
    void showSecond(const RecordCycle::Tick& tick, int deviceCount);
    // The unacknowledged alarm of each device colours its tag and the cell of this second.
    void setShades(std::vector<AlarmShade> shades);

private:
    void paintShades(int row);

    StringGrid* StringGrid2;
    std::vector<AlarmShade> shades_;
    int shadedRow_ = -1;  // the row of this second, whose cells carry the shades
};

}  // namespace tamlo::station
