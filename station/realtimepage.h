#pragma once

#include <QList>
#include <QString>
#include <QStringList>

class QLabel;
class QWidget;

namespace tamlo {
class HistoryChartPanel;
class Prompter;
namespace chart {
class TChart;
}
}  // namespace tamlo

namespace tamlo::station {

// The real-time page: Chart1 with one line per active device holding the newest 600 records,
// and the channel panel (rows, colours, range, zoom, print preview) of the shared curve panel
// under this page's control names.
class RealTimePage {
public:
    static constexpr int kPoints = 600;

    RealTimePage(QWidget* tabSheet, Prompter& prompter);

    HistoryChartPanel* panel() const { return panel_; }
    chart::TChart* chart() const { return Chart1; }
    QLabel* clockLabel() const { return Label_real_time; }

    // One series of 600 zero points labelled " " per device, replacing any series.
    void buildSeries(int count);
    // After a save: series k below both counts keep their points and colours, each added
    // device gets a flat series lined up with the others, series of removed devices go.
    void followDeviceCount(int count);
    // Rows for the devices, one per tag; every line becomes visible.
    void buildRows(const QStringList& tags);
    // The record step: one point per series, values[k] for series k, all with one label.
    void appendRecord(const float* values, int count, const QString& label);
    // The value box of device i takes its text of this second.
    void setValueText(int device, const QString& text);

    // The curve list: check box, value box and swatch of device i at 3i, 3i + 1 and 3i + 2.
    QList<QWidget*> curveList() const;

    // Handlers.
    void CheckBox_forallClick();
    void CheckBox_realch_allClick();
    void Combox_realch_colorChange();
    void Pnl_real_colorClick();
    void Panel_back_colorClick();
    void But_real_modarangClick();
    void But_real_prinviewClick();
    void But_real_zoomoutClick();
    void But_real_zomminClick();
    void But_real_unzoomClick();

private:
    // A series of 600 zero points labelled " " whose x values run from firstX.
    void addFlatSeries(double firstX);

    HistoryChartPanel* panel_;
    chart::TChart* Chart1;
    QLabel* Label_real_time;
};

}  // namespace tamlo::station
