#include "datagridpage.h"

#include <QVBoxLayout>

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

void DataGridPage::showSecond(const RecordCycle::Tick& tick, int deviceCount) {
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
