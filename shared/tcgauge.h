#pragma once

#include <QColor>
#include <QProgressBar>
#include <cstdint>

namespace tamlo {

// A progress gauge with a minimum, a maximum, a position and a hint (its tool tip). The range
// may be empty or wider than an int, and the position may run past the maximum; the bar shows
// the clamped share and never turns into a busy indicator.
class TCGauge : public QProgressBar {
    Q_OBJECT

public:
    explicit TCGauge(QWidget* parent = nullptr);

    void setMinValue(std::int64_t value);
    void setMaxValue(std::int64_t value);
    void setProgress(std::int64_t position);
    std::int64_t minValue() const { return min_; }
    std::int64_t maxValue() const { return max_; }
    std::int64_t progress() const { return position_; }

    void setForeColor(const QColor& color);
    QColor foreColor() const { return foreColor_; }
    void setHint(const QString& hint) { setToolTip(hint); }
    QString hint() const { return toolTip(); }

private:
    void refresh();

    std::int64_t min_ = 0;
    std::int64_t max_ = 100;
    std::int64_t position_ = 0;
    QColor foreColor_;
};

}  // namespace tamlo
