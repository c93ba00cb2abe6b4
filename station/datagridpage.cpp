#include "datagridpage.h"

#include <QVBoxLayout>
#include <algorithm>

#include "shared/stringgrid.h"

namespace tamlo::station {

DataGridPage::DataGridPage(QWidget* tabSheet) {
    auto* layout = new QVBoxLayout(tabSheet);
    layout->setContentsMargins(0, 0, 0, 0);
    StringGrid2 = new StringGrid(tabSheet);
    StringGrid2->setObjectName(QStringLiteral("StringGrid2"));
    StringGrid2->setFixed(1, 1);
    layout->addWidget(StringGrid2);
}

void DataGridPage::prepare() {
    StringGrid2->setSize(kDataGridColumns, kDataGridRows);
    StringGrid2->setColumnWidth(0, 86);
    for (int c = 1; c < kDataGridColumns; ++c) {
        StringGrid2->setColumnWidth(c, 60);
    }
    StringGrid2->setDefaultRowHeight(16);
}

void DataGridPage::writeHeader(const QStringList& tags) {
    StringGrid2->setCell(0, 0, QStringLiteral("时间"));
    for (int i = 0; i < kDataGridColumns - 1; ++i) {
        StringGrid2->setCell(i + 1, 0, tags.value(i));
    }
}

void DataGridPage::setShades(std::vector<AlarmShade> shades) {
    // Columns of devices that went away lose their colours too.
    shades.resize(std::max(shades.size(), shades_.size()), AlarmShade::None);
    if (shades != shades_) {
        shades_ = std::move(shades);
        paintShades(shadedRow_);
    }
}

void DataGridPage::paintShades(int row) {
    const QColor red(255, 0, 0);
    for (std::size_t i = 0; i < shades_.size(); ++i) {
        const AlarmShade shade = shades_[i];
        const QColor text = shade == AlarmShade::Text         ? red
                            : shade == AlarmShade::Background ? QColor(Qt::white)
                                                              : QColor();
        const QColor background = shade == AlarmShade::Background ? red : QColor();
        const int column = static_cast<int>(i) + 1;
        StringGrid2->gridModel()->setCellColors(column, 0, text, background);
        if (row > 0) {
            StringGrid2->gridModel()->setCellColors(column, row, text, background);
        }
    }
}

void DataGridPage::showSecond(const RecordCycle::Tick& tick, int deviceCount) {
    if (tick.hasDevices && tick.row != shadedRow_) {
        // The shades move with this second's row; the rows left behind are plain again.
        const std::vector<AlarmShade> shades = shades_;
        std::fill(shades_.begin(), shades_.end(), AlarmShade::None);
        paintShades(shadedRow_);
        shades_ = shades;
        shadedRow_ = tick.row;
        paintShades(shadedRow_);
    }
    if (tick.hasDevices) {
        StringGrid2->setCell(0, tick.row, tick.rowTime);
        for (int i = 0; i < tick.texts.size(); ++i) {
            StringGrid2->setCell(i + 1, tick.row, tick.texts[i]);
        }
    }
    if (tick.recorded) {
        // The band marks where the next rows will be written.
        const QString band = QString::fromLatin1(kBandText);
        for (int r = tick.bandStart; r < tick.bandStart + kBandRows && r < kDataGridRows; ++r) {
            for (int c = 0; c <= deviceCount; ++c) {
                StringGrid2->setCell(c, r, band);
            }
        }
    }
}

}  // namespace tamlo::station
