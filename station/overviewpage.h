#pragma once

#include <QFont>
#include <QList>
#include <QPixmap>
#include <QString>
#include <QStringList>

#include "alarms.h"

class QLabel;
class QScrollArea;
class QWidget;

namespace tamlo::station {

// The overview page: one tile per active device in the scroll box ScrollBox1, four to a row.
// A tile is four controls: the meter picture, the tag label, the unit label and the value
// label, kept in one list so that entry 4n + 3 is the value label of device n.
class OverviewPage {
public:
    static constexpr int kPictureWidth = 217;
    static constexpr int kPictureHeight = 104;
    static constexpr int kTileStepX = 230;
    static constexpr int kTileStepY = 120;

    // Builds ScrollBox1 filling `tabSheet`. "meter.BMP" is looked up in `workingDirectory`.
    OverviewPage(QWidget* tabSheet, const QString& workingDirectory);

    QScrollArea* scrollBox() const { return ScrollBox1; }
    QWidget* content() const { return content_; }

    // One tile per device; tags and units as the device grid shows them.
    void build(const QStringList& tags, const QStringList& units);
    // Destroys every tile control.
    void remove();
    // The value label of device n takes the text of the data grid for this second.
    void setValueText(int device, const QString& text);
    // An unacknowledged alarm on the value: the digits are red already, so a high or low
    // alarm turns them amber; a high-high, low-low or link alarm gives white digits on red.
    void setValueShade(int device, AlarmShade shade);

    const QList<QWidget*>& tileList() const { return tileList_; }
    QLabel* valueLabel(int device) const;

    // "meter.BMP" when it loads, else a drawn panel-meter face of the same size.
    static QPixmap meterPicture(const QString& workingDirectory);
    static QPixmap drawnMeterFace();
    // "LED BOARD REVERSED" where installed, else a seven-segment font, else bold monospace;
    // 30 points.
    static QFont valueFont();

private:
    QScrollArea* ScrollBox1;
    QWidget* content_;
    QString workingDirectory_;
    QFont valueFont_;
    QList<QWidget*> tileList_;
};

}  // namespace tamlo::station
