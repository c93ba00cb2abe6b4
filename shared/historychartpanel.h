#pragma once

#include <QColor>
#include <QFrame>
#include <QPoint>
#include <QPointer>
#include <QString>
#include <QStringList>
#include <memory>
#include <optional>
#include <vector>

#include "historysource.h"
#include "panelcontrols.h"

class QCheckBox;
class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QScrollArea;
class QSlider;
class QSplitter;
class QVBoxLayout;

namespace tamlo::chart {
class TChart;
class TFastLineSeries;
}  // namespace tamlo::chart

namespace tamlo {

class Prompter;

// The object names the curve panel's controls take in a program. The defaults are those of the
// history windows (recorder analysis and station history viewer); the station's real-time page
// gives its own.
struct HistoryChartNames {
    QString column = QStringLiteral("Panel10");
    QString topGroup = QStringLiteral("GroupBox3");
    QString rangeLabel = QStringLiteral("Label23");
    QString rangeUpLabel;  // only with HistoryChartOptions::rangeEndsOnOwnLines
    QString rangeDown = QStringLiteral("ME_histr_down");
    QString rangeUp = QStringLiteral("ME_histr_up");
    QString rangeButton = QStringLiteral("but_mod_up");
    QString colorCombo = QStringLiteral("Combox_histrch_color");
    QString colorSwatch = QStringLiteral("Pnl_histr_color");
    QString backLabel = QStringLiteral("Label1");
    QString backSwatch = QStringLiteral("Panel_back_color");
    QString rowsBox = QStringLiteral("ScrollBox_hisrt_color");
    QString allCheck = QStringLiteral("CheckBox_allhisrt_curve");
    QString splitter = QStringLiteral("Splitter3");
    QString operationsBox = QStringLiteral("ScrollBox_hisrt_op");
    QString operationsGroup = QStringLiteral("GroupBox2");
    QString printButton = QStringLiteral("Button5");
    QString zoomInButton = QStringLiteral("Button11");
    QString zoomOutButton = QStringLiteral("Button12");
    QString unzoomButton = QStringLiteral("but_unzoom");
    QString chartSide = QStringLiteral("Panel20");
    QString chart = QStringLiteral("Chart2");
    QString trackBar = QStringLiteral("tb_histr_time");
    QString readout = QStringLiteral("Label_histr_oncross");
};

// The curve panel's texts and layout in a program. The defaults are those of the history
// windows.
struct HistoryChartOptions {
    QString topGroupTitle = QStringLiteral("查询");
    QString chartTitle = QStringLiteral("历史曲线");
    // The range edits sit in the operations group instead of the top group (the station).
    bool rangeInOperations = false;
    // Each end of the range on a line of its own with its own label (the station); else one
    // label before both edits.
    bool rangeEndsOnOwnLines = false;
    QString rangeLabelText = QStringLiteral("量程：");
    QString rangeUpLabelText;
    int rowsBoxHeight = 208;
    // The track bar under the chart and the cross-hair's time readout over it.
    bool trackBar = true;
    bool readout = true;
};

// The curve panel of the history windows and the station's real-time page: the left column
// (the channel rows "全选" and one ChannelRow per channel, the channel and background colours,
// the value range, zoom and print preview) and the chart side (the chart, the track bar and the
// cross-hair readout over the chart), with the handlers behind them. The program places the two
// widgets, adds its own controls to the slots, fills the series and keeps the window count and
// busy flag up to date.
class HistoryChartPanel : public QFrame {
    Q_OBJECT
public:
    HistoryChartPanel(Prompter& prompter, const HistoryChartNames& names = {},
                      const HistoryChartOptions& options = {}, QWidget* parent = nullptr);
    ~HistoryChartPanel() override;

    // The right-hand side: chart above the track bar. The program puts it into its layout.
    QFrame* chartSide() const { return chartSide_.data(); }
    chart::TChart* chart() const { return chart_; }
    // Where the program adds its own controls: at the top of the top group, and at the end of
    // the operations group.
    QVBoxLayout* topSlot() const { return topSlot_; }
    QVBoxLayout* operationsSlot() const { return operationsSlot_; }

    // One series per channel, replacing every series. With keepColours the new series take
    // the colours of the rows' swatches (a new window of the same file), else the chart's default
    // colours. Curve 0's after-draw event forgets the cross-hair.
    void rebuildSeries(int count, bool keepColours);
    // Replaces the channel rows and the colour combo's items with one per caption; every curve
    // becomes visible; item 0 is selected and the colour swatch shows curve 0's colour.
    void buildRows(const QStringList& captions);
    int rowCount() const { return static_cast<int>(rows_.size()); }
    QCheckBox* rowCheckBox(int i) const { return rows_[static_cast<std::size_t>(i)].check; }
    QLineEdit* rowValueBox(int i) const { return rows_[static_cast<std::size_t>(i)].value; }
    ColorSwatch* rowSwatch(int i) const { return rows_[static_cast<std::size_t>(i)].swatch; }
    // The rows list: check box, value box and swatch of channel i at 3i, 3i + 1 and 3i + 2.
    std::vector<QWidget*> rowsList() const;

    // Shows a window of records in the curves that rebuildSeries made: every curve gets the
    // window's records, curve 0's points are labelled with their times, and the value boxes
    // take their texts from the source while the window is shown.
    void showWindow(std::shared_ptr<const HistoryWindowSource> source);

    // Points drawn per curve in the shown window; the cross-hair maps the mouse onto them.
    void setWindowCount(int count) { windowCount_ = count; }
    int windowCount() const { return windowCount_; }
    // While busy the cross-hair does nothing.
    void setBusy(bool busy) { busy_ = busy; }
    bool busy() const { return busy_; }
    std::optional<QPoint> crossHairPosition() const { return crossHair_; }

    QCheckBox* allCheckBox() const { return allCheck_; }

    // Handlers.
    void Chart2MouseMove(int x, int y);
    void Series65AfterDrawValues();
    void Button11Click();
    void Button12Click();
    void but_unzoomClick();
    void Chart2Zoom();
    void Chart2UndoZoom();
    void Chart2Scroll();
    void tb_histr_timeChange();
    void but_mod_upClick();
    void Combox_histrch_colorChange();
    void Pnl_histr_colorClick();
    void Panel_back_colorClick();
    void CheckBox_all_histr_curveClick();
    void CheckBox_allhisrt_curveClick();
    void Button5Click();

private:
    struct Row {
        QCheckBox* check;
        QLineEdit* value;
        ColorSwatch* swatch;
    };

    void buildColumn();
    void buildChartSide();
    void wire();
    QWidget* buildRangeControls(QWidget* parent);
    void syncTrackBar();
    void drawCrossHair(QPoint at);
    chart::TFastLineSeries* seriesAt(int i) const;

    Prompter& prompter_;
    HistoryChartNames names_;
    HistoryChartOptions options_;

    QGroupBox* topGroup_ = nullptr;
    QVBoxLayout* topSlot_ = nullptr;
    QLabel* rangeLabel_ = nullptr;
    QLabel* rangeUpLabel_ = nullptr;
    QLineEdit* rangeDown_ = nullptr;
    QLineEdit* rangeUp_ = nullptr;
    QPushButton* rangeButton_ = nullptr;
    QComboBox* colorCombo_ = nullptr;
    ColorSwatch* colorSwatch_ = nullptr;
    QLabel* backLabel_ = nullptr;
    ColorSwatch* backSwatch_ = nullptr;
    QSplitter* splitter_ = nullptr;
    QScrollArea* rowsBox_ = nullptr;
    QWidget* rowsContent_ = nullptr;
    QCheckBox* allCheck_ = nullptr;
    QScrollArea* operationsBox_ = nullptr;
    QGroupBox* operationsGroup_ = nullptr;
    QVBoxLayout* operationsSlot_ = nullptr;
    QPushButton* printButton_ = nullptr;
    QPushButton* zoomInButton_ = nullptr;
    QPushButton* zoomOutButton_ = nullptr;
    QPushButton* unzoomButton_ = nullptr;

    // Owned by the panel until the program places it.
    QPointer<QFrame> chartSide_;
    chart::TChart* chart_ = nullptr;
    QSlider* trackBar_ = nullptr;
    QLabel* readout_ = nullptr;

    std::vector<Row> rows_;
    // The shown window; none on the station's real-time page, whose value boxes show the curves'
    // values in general format.
    std::shared_ptr<const HistoryWindowSource> source_;
    int windowCount_ = 0;
    bool busy_ = true;
    bool trackBarSuppressed_ = false;
    std::optional<QPoint> crossHair_;
};

}  // namespace tamlo
