#include "stringgrid.h"

#include <QApplication>
#include <QHeaderView>
#include <QKeyEvent>
#include <QPalette>
#include <QStyle>
#include <cmath>

namespace tamlo {

QModelIndex GridTableModel::index(int row, int column, const QModelIndex& parent) const {
    if (!hasIndex(row, column, parent)) {
        return {};
    }
    // Fibonacci hashing of the cell's place: equal cells get equal ids, neighbours far apart ones.
    const quint64 place = (quint64(quint32(row)) << 32) | quint32(column);
    return createIndex(row, column, quintptr(place * 0x9E3779B97F4A7C15ULL));
}

QVariant GridTableModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (role == Qt::DisplayRole) {
        if (orientation == Qt::Horizontal && fixedRows() > 0) {
            return cell(section, 0);
        }
        if (orientation == Qt::Vertical && fixedColumns() > 0) {
            return cell(0, section);
        }
    }
    return QAbstractTableModel::headerData(section, orientation, role);
}

StringGridModel::StringGridModel(QObject* parent) : GridTableModel(parent) {}

int StringGridModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : rows_;
}

int StringGridModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : columns_;
}

QVariant StringGridModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid()) {
        return {};
    }
    const bool fixed = index.row() < fixedRows_ || index.column() < fixedColumns_;
    if (!colors_.empty() && (role == Qt::BackgroundRole || role == Qt::ForegroundRole)) {
        const auto it = colors_.find({index.row(), index.column()});
        if (it != colors_.end()) {
            const QColor& color = role == Qt::ForegroundRole ? it->second.first : it->second.second;
            if (color.isValid()) {
                return color;
            }
        }
    }
    switch (role) {
        case Qt::DisplayRole:
            return cell(index.column(), index.row());
        case Qt::BackgroundRole:
            if (fixed) {
                return QApplication::palette().button();
            }
            return {};
        case Qt::ForegroundRole:
            if (fixed) {
                return QApplication::palette().buttonText();  // not greyed as a disabled cell
            }
            return {};
        case Qt::TextAlignmentRole:
            return QVariant::fromValue(Qt::AlignLeft | Qt::AlignVCenter);
        default:
            return {};
    }
}

Qt::ItemFlags StringGridModel::flags(const QModelIndex& index) const {
    // Fixed rows are headers: neither a click nor the keys select them, like a grid's fixed
    // cells (a header row taken for a row of data would be changed or deleted as one).
    if (!index.isValid() || index.row() < fixedRows_) {
        return Qt::NoItemFlags;
    }
    return Qt::ItemIsEnabled | Qt::ItemIsSelectable;
}

void StringGridModel::setSize(int columns, int rows) {
    beginResetModel();
    std::vector<QString> cells(static_cast<std::size_t>(std::max(columns, 0) * std::max(rows, 0)));
    for (int r = 0; r < std::min(rows, rows_); ++r) {
        for (int c = 0; c < std::min(columns, columns_); ++c) {
            cells[static_cast<std::size_t>(r * columns + c)] =
                std::move(cells_[static_cast<std::size_t>(r * columns_ + c)]);
        }
    }
    cells_ = std::move(cells);
    std::erase_if(
        colors_, [&](const auto& c) { return c.first.first >= rows || c.first.second >= columns; });
    columns_ = std::max(columns, 0);
    rows_ = std::max(rows, 0);
    endResetModel();
}

void StringGridModel::setRowCount(int rows) {
    if (rows == rows_) {
        return;
    }
    if (rows > rows_) {
        beginInsertRows({}, rows_, rows - 1);
        cells_.resize(static_cast<std::size_t>(columns_ * rows));
        rows_ = rows;
        endInsertRows();
    } else {
        // Cells of removed rows keep nothing: a grid that grows again shows them empty.
        beginRemoveRows({}, std::max(rows, 0), rows_ - 1);
        rows_ = std::max(rows, 0);
        colors_.erase(colors_.lower_bound({rows_, 0}), colors_.end());
        cells_.resize(static_cast<std::size_t>(columns_ * rows_));
        endRemoveRows();
    }
}

void StringGridModel::setColumnCount(int columns) { setSize(columns, rows_); }

void StringGridModel::setCell(int column, int row, const QString& text) {
    if (column < 0 || row < 0 || column >= columns_ || row >= rows_) {
        return;
    }
    QString& slot = cells_[static_cast<std::size_t>(row * columns_ + column)];
    if (slot == text) {
        return;
    }
    slot = text;
    const QModelIndex i = index(row, column);
    emit dataChanged(i, i, {Qt::DisplayRole});
    if (row < fixedRows_) {
        emit headerDataChanged(Qt::Horizontal, column, column);
    }
    if (column < fixedColumns_) {
        emit headerDataChanged(Qt::Vertical, row, row);
    }
}

QString StringGridModel::cell(int column, int row) const {
    if (column < 0 || row < 0 || column >= columns_ || row >= rows_) {
        return {};
    }
    return cells_[static_cast<std::size_t>(row * columns_ + column)];
}

void StringGridModel::setCellColors(int column, int row, const QColor& text,
                                    const QColor& background) {
    if (column < 0 || row < 0 || column >= columns_ || row >= rows_) {
        return;
    }
    const std::pair<int, int> place{row, column};
    const auto it = colors_.find(place);
    if (!text.isValid() && !background.isValid()) {
        if (it == colors_.end()) {
            return;
        }
        colors_.erase(it);
    } else if (it != colors_.end() && it->second == std::pair{text, background}) {
        return;
    } else {
        colors_[place] = {text, background};
    }
    const QModelIndex i = index(row, column);
    emit dataChanged(i, i, {Qt::BackgroundRole, Qt::ForegroundRole});
}

void StringGridModel::setFixed(int fixedColumns, int fixedRows) {
    fixedColumns_ = fixedColumns;
    fixedRows_ = fixedRows;
    if (rows_ > 0 && columns_ > 0) {
        emit dataChanged(index(0, 0), index(rows_ - 1, columns_ - 1),
                         {Qt::BackgroundRole, Qt::ForegroundRole});
    }
}

StringGrid::StringGrid(QWidget* parent) : GridView(parent), model_(new StringGridModel(this)) {
    setModel(model_);
    horizontalHeader()->hide();
    verticalHeader()->hide();
    setSelectionMode(QAbstractItemView::SingleSelection);
    setSelectionBehavior(QAbstractItemView::SelectItems);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setWordWrap(false);
    setCornerButtonEnabled(false);
    verticalHeader()->setDefaultSectionSize(24);
    horizontalHeader()->setDefaultSectionSize(64);
    // A click on a header cell selects nothing and is no click on a row.
    connect(this, &QTableView::clicked, this, [this](const QModelIndex& index) {
        if (model_->flags(index).testFlag(Qt::ItemIsSelectable)) {
            emit cellClicked();
        }
    });
    connect(this, &QTableView::doubleClicked, this, [this] { emit cellDoubleClicked(); });
}

int cellWidthFor(const QTableView& view, const QString& text) {
    // The style keeps a margin on either side of a cell's text and elides a text, blanks at its
    // end included, that is a fraction of a pixel too wide; the grid line takes a pixel.
    const int margin = view.style()->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, &view) + 1;
    return static_cast<int>(std::ceil(QFontMetricsF(view.font()).horizontalAdvance(text))) +
           2 * margin + (view.showGrid() ? 1 : 0);
}

void StringGrid::setCell(int column, int row, const QString& text) {
    model_->setCell(column, row, text);
    if (!text.isEmpty() && column < columnCount()) {
        const int needed = cellWidthFor(*this, text);
        if (needed > columnWidth(column)) {
            setColumnWidth(column, needed);
        }
    }
}

void StringGrid::setColumnWidths(const std::vector<int>& widths) {
    for (std::size_t i = 0; i < widths.size(); ++i) {
        setColumnWidth(static_cast<int>(i), widths[i]);
    }
}

void StringGrid::setDefaultRowHeight(int pixels) {
    verticalHeader()->setMinimumSectionSize(std::min(pixels, verticalHeader()->minimumSectionSize()));
    verticalHeader()->setDefaultSectionSize(pixels);
}

int StringGrid::row() const {
    const QModelIndex current = currentIndex();
    return current.isValid() ? current.row() : -1;
}

int StringGrid::col() const {
    const QModelIndex current = currentIndex();
    return current.isValid() ? current.column() : -1;
}

void StringGrid::keyPressEvent(QKeyEvent* event) {
    const QModelIndex before = currentIndex();
    QTableView::keyPressEvent(event);
    if (currentIndex() != before) {
        emit cellClicked();  // moving the selection with the keys counts as a click
    }
}

void StringGrid::selectCell(int column, int row) {
    const QModelIndex target = model_->index(row, column);
    if (target.isValid()) {
        setCurrentIndex(target);
    }
}

}  // namespace tamlo
