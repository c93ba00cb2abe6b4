#include "historygrid.h"

#include <QApplication>
#include <QHeaderView>
#include <QPalette>

#include "shared/chartinteraction.h"
#include "shared/stringgrid.h"

namespace tamlo::analysis {

HistoryGridModel::HistoryGridModel(QObject* parent) : GridTableModel(parent) {}

int HistoryGridModel::rowCount(const QModelIndex& parent) const {
    if (parent.isValid()) {
        return 0;
    }
    return 1 + (window_ ? static_cast<int>(window_->gridRows.size()) : 0);
}

int HistoryGridModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : std::max<int>(1, static_cast<int>(header_.size()));
}

QString HistoryGridModel::cell(int column, int row) const {
    if (column < 0 || column >= columnCount() || row < 0 || row >= rowCount()) {
        return {};
    }
    if (row == 0) {
        return header_.value(column);
    }
    const int entry = window_->gridRows[static_cast<std::size_t>(row - 1)];
    const bool noData = entry < 0;
    const int record = noData ? -1 - entry : entry;
    if (column == 0) {
        return windowTimeText(*window_, record);
    }
    if (column > window_->channelCount) {
        return {};
    }
    return noData ? QString::fromUtf8(kNoDataText) : windowValueText(*window_, record, column - 1);
}

QVariant HistoryGridModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid()) {
        return {};
    }
    switch (role) {
        case Qt::DisplayRole:
            return cell(index.column(), index.row());
        case Qt::BackgroundRole:
            if (index.row() == 0 || index.column() == 0) {
                return QApplication::palette().button();
            }
            return {};
        default:
            return {};
    }
}

Qt::ItemFlags HistoryGridModel::flags(const QModelIndex& index) const {
    return index.isValid() ? Qt::ItemIsEnabled | Qt::ItemIsSelectable : Qt::NoItemFlags;
}

void HistoryGridModel::setHeader(const QStringList& names) {
    beginResetModel();
    header_ = names;
    endResetModel();
}

void HistoryGridModel::setWindow(std::shared_ptr<const HistoryWindow> window) {
    beginResetModel();
    window_ = std::move(window);
    endResetModel();
}

HistoryGridView::HistoryGridView(QWidget* parent)
    : GridView(parent), model_(new HistoryGridModel(this)) {
    setModel(model_);
    horizontalHeader()->hide();
    verticalHeader()->hide();
    // Every row is as high as the others: the view never measures rows it does not show.
    verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    verticalHeader()->setMinimumSectionSize(10);
    verticalHeader()->setDefaultSectionSize(18);
    horizontalHeader()->setSectionResizeMode(QHeaderView::Interactive);
    horizontalHeader()->setDefaultSectionSize(54);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setWordWrap(false);
    setCornerButtonEnabled(false);
}

void HistoryGridView::fitColumns() {
    // Digits are all as wide as 8 in the fonts the programs use; a value has at most five of them
    // with a sign and a point.
    setColumnWidth(0, std::max(96, cellWidthFor(*this, QStringLiteral("88-88-88 88:88:88"))));
    const int value = cellWidthFor(*this, QStringLiteral("-8.8888"));
    for (int c = 1; c < columnCount(); ++c) {
        setColumnWidth(c, std::max({54, value, cellWidthFor(*this, model_->cell(c, 0))}));
    }
}

}  // namespace tamlo::analysis
