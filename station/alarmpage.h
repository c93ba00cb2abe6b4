#pragma once

#include <QList>
#include <utility>

#include "alarms.h"
#include "devicetable.h"

class QPushButton;
class QWidget;

namespace tamlo {
class StringGrid;
}

namespace tamlo::station {

// The alarm page: AlarmGrid lists the active alarms, EventGrid below it the last events
// (newest first), ButtonAck acknowledges. It shows what it is given; the window wires it.
class AlarmPage {
public:
    explicit AlarmPage(QWidget* tabSheet);

    StringGrid* alarmGrid() const { return AlarmGrid; }
    StringGrid* eventGrid() const { return EventGrid; }
    QPushButton* ackButton() const { return ButtonAck; }

    // Tags are those of the active table (序号 is the device's index + 1).
    void showAlarms(const QList<ActiveAlarm>& alarms, const DeviceTable& active);
    void showEvents(const QList<AlarmEvent>& events);
    // The alarms of the selected rows of AlarmGrid; none when nothing is selected.
    QList<std::pair<int, AlarmKind>> selectedAlarms() const;

private:
    StringGrid* AlarmGrid;
    StringGrid* EventGrid;
    QPushButton* ButtonAck;
    QList<ActiveAlarm> shown_;  // AlarmGrid's rows 1.., in order
};

}  // namespace tamlo::station
