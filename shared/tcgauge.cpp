#include "tcgauge.h"

#include <QPalette>
#include <algorithm>

namespace tamlo {
namespace {

constexpr int kSteps = 1000;

}  // namespace

TCGauge::TCGauge(QWidget* parent) : QProgressBar(parent) {
    setRange(0, kSteps);
    setTextVisible(true);
    setFormat(QStringLiteral("%p%"));
    setAlignment(Qt::AlignCenter);
    refresh();
}

void TCGauge::setMinValue(std::int64_t value) {
    min_ = value;
    refresh();
}

void TCGauge::setMaxValue(std::int64_t value) {
    max_ = value;
    refresh();
}

void TCGauge::setProgress(std::int64_t position) {
    position_ = position;
    refresh();
}

void TCGauge::setForeColor(const QColor& color) {
    foreColor_ = color;
    QPalette p = palette();
    p.setColor(QPalette::Highlight, color);
    setPalette(p);
}

void TCGauge::refresh() {
    int share = 0;
    if (max_ > min_) {
        const double done = static_cast<double>(std::clamp(position_, min_, max_) - min_) /
                            static_cast<double>(max_ - min_);
        share = static_cast<int>(done * kSteps);
    } else if (position_ > min_) {
        share = kSteps;
    }
    setValue(share);
}

}  // namespace tamlo
