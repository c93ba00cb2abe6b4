#include "gridview.h"

#include <QAccessible>
#include <QAccessibleActionInterface>
#include <QAccessibleWidget>
#include <QHash>
#include <QItemSelectionModel>
#include <QPointer>
#include <algorithm>

#include "shared/stringgrid.h"

namespace tamlo {

namespace {

// The fixed (header) rows, or columns, of a grid's model; none for another model.
int fixedOf(const QAbstractItemModel* model, Qt::Orientation orientation) {
    const auto* grid = qobject_cast<const GridTableModel*>(model);
    if (!grid) {
        return 0;
    }
    return orientation == Qt::Vertical ? grid->fixedRows() : grid->fixedColumns();
}

// The accessible cell of a grid's view at a place; null outside the grid.
QAccessibleInterface* cellOf(QTableView* view, int row, int column) {
    QAccessibleInterface* grid = view ? QAccessible::queryAccessibleInterface(view) : nullptr;
    return grid && grid->tableInterface() ? grid->tableInterface()->cellAt(row, column) : nullptr;
}

// One cell of a grid, known by its place. It holds no model index: a persistent index per cell a
// reader has seen made every change of the model, and the grid's destruction, cost in proportion
// to the cells read. A cell's text is read when asked, so values that change every second need
// no event.
class GridCellAccessible final : public QAccessibleInterface,
                                 public QAccessibleTableCellInterface,
                                 public QAccessibleActionInterface {
public:
    GridCellAccessible(QTableView* view, int row, int column)
        : view_(view), row_(row), column_(column) {}

    bool isValid() const override {
        return view_ && row_ < view_->model()->rowCount() &&
               column_ < view_->model()->columnCount();
    }
    QObject* object() const override { return nullptr; }
    QWindow* window() const override { return view_ ? view_->window()->windowHandle() : nullptr; }
    QAccessibleInterface* parent() const override {
        return view_ ? QAccessible::queryAccessibleInterface(view_.data()) : nullptr;
    }
    QAccessibleInterface* child(int) const override { return nullptr; }
    int childCount() const override { return 0; }
    int indexOfChild(const QAccessibleInterface*) const override { return -1; }
    QAccessibleInterface* childAt(int, int) const override { return nullptr; }

    QString text(QAccessible::Text t) const override {
        if (t != QAccessible::Name || !isValid()) {
            return {};
        }
        return index().data(Qt::DisplayRole).toString();
    }
    void setText(QAccessible::Text, const QString&) override {}
    QRect rect() const override {
        if (!isValid()) {
            return {};
        }
        const QRect r = view_->visualRect(index());
        return r.translated(view_->viewport()->mapToGlobal(QPoint(0, 0)));
    }
    QAccessible::Role role() const override { return QAccessible::Cell; }
    QAccessible::State state() const override {
        QAccessible::State s;
        if (!isValid()) {
            s.invalid = true;
            return s;
        }
        const QModelIndex i = index();
        s.selectable = i.flags().testFlag(Qt::ItemIsSelectable);
        s.selected = isSelected();
        s.focusable = view_->focusPolicy() != Qt::NoFocus;
        s.focused = view_->hasFocus() && view_->currentIndex() == i;
        s.disabled = !i.flags().testFlag(Qt::ItemIsEnabled);
        if (!view_->isVisible() || !view_->viewport()->rect().intersects(view_->visualRect(i))) {
            s.invisible = true;
            s.offscreen = true;
        }
        return s;
    }
    void* interface_cast(QAccessible::InterfaceType t) override {
        if (t == QAccessible::TableCellInterface) {
            return static_cast<QAccessibleTableCellInterface*>(this);
        }
        return t == QAccessible::ActionInterface ? static_cast<QAccessibleActionInterface*>(this)
                                                 : nullptr;
    }

    // A reader's press is a click on the cell: it becomes the current one and the grid's click
    // handler runs, as for the mouse.
    QStringList actionNames() const override {
        return isValid() ? QStringList{pressAction()} : QStringList{};
    }
    void doAction(const QString& name) override {
        if (name == pressAction() && isValid()) {
            view_->setFocus(Qt::OtherFocusReason);
            view_->setCurrentIndex(index());
            emit view_->clicked(index());
        }
    }
    QStringList keyBindingsForAction(const QString&) const override { return {}; }

    bool isSelected() const override {
        return isValid() && view_->selectionModel() && view_->selectionModel()->isSelected(index());
    }
    QList<QAccessibleInterface*> columnHeaderCells() const override {
        return headerCells(Qt::Vertical);
    }
    QList<QAccessibleInterface*> rowHeaderCells() const override {
        return headerCells(Qt::Horizontal);
    }
    int columnIndex() const override { return column_; }
    int rowIndex() const override { return row_; }
    int columnExtent() const override { return 1; }
    int rowExtent() const override { return 1; }
    QAccessibleInterface* table() const override { return parent(); }

    const QTableView* view() const { return view_.data(); }

private:
    QModelIndex index() const { return view_->model()->index(row_, column_, view_->rootIndex()); }
    // The cells of the fixed rows (Vertical) or columns naming this one; none for a fixed cell.
    QList<QAccessibleInterface*> headerCells(Qt::Orientation fixedAlong) const {
        QList<QAccessibleInterface*> cells;
        const bool rows = fixedAlong == Qt::Vertical;
        const int fixed = fixedOf(view_ ? view_->model() : nullptr, fixedAlong);
        for (int f = 0; f < fixed && (rows ? row_ : column_) >= fixed; ++f) {
            if (QAccessibleInterface* cell =
                    cellOf(view_.data(), rows ? f : row_, rows ? column_ : f)) {
                cells.append(cell);
            }
        }
        return cells;
    }

    QPointer<QTableView> view_;
    int row_;
    int column_;
};

// The grid as a table: its children are the cells the screen shows, so a client walking every
// child reads a screenful, not tens of thousands; a reader still reaches every cell by row and
// column. Cells are made on first use and kept, one per place, until the grid goes.
class GridAccessible final : public QAccessibleWidget, public QAccessibleTableInterface {
public:
    explicit GridAccessible(GridView* view) : QAccessibleWidget(view, QAccessible::Table) {}
    ~GridAccessible() override {
        for (const QAccessible::Id id : std::as_const(cells_)) {
            QAccessible::deleteAccessibleInterface(id);
        }
    }

    void* interface_cast(QAccessible::InterfaceType t) override {
        if (t == QAccessible::TableInterface) {
            return static_cast<QAccessibleTableInterface*>(this);
        }
        return QAccessibleWidget::interface_cast(t);
    }

    int childCount() const override {
        return static_cast<int>(view()->shownRows().size() * view()->shownColumns().size());
    }
    QAccessibleInterface* child(int index) const override {
        const std::vector<int> columns = view()->shownColumns();
        const std::vector<int> rows = view()->shownRows();
        if (index < 0 || columns.empty() ||
            static_cast<std::size_t>(index) >= rows.size() * columns.size()) {
            return nullptr;
        }
        const auto i = static_cast<std::size_t>(index);
        return cellAt(rows[i / columns.size()], columns[i % columns.size()]);
    }
    int indexOfChild(const QAccessibleInterface* child) const override {
        const auto* cell = dynamic_cast<const GridCellAccessible*>(child);
        if (!cell || cell->view() != view()) {
            return -1;
        }
        const std::vector<int> rows = view()->shownRows();
        const std::vector<int> columns = view()->shownColumns();
        const auto r = std::find(rows.begin(), rows.end(), cell->rowIndex());
        const auto c = std::find(columns.begin(), columns.end(), cell->columnIndex());
        if (r == rows.end() || c == columns.end()) {
            return -1;  // scrolled out of sight: reached by row and column only
        }
        return static_cast<int>((r - rows.begin()) * std::ssize(columns) + (c - columns.begin()));
    }
    QAccessibleInterface* childAt(int x, int y) const override {
        const QModelIndex i = view()->indexAt(view()->viewport()->mapFromGlobal(QPoint(x, y)));
        return i.isValid() ? cellAt(i.row(), i.column()) : nullptr;
    }
    QAccessibleInterface* focusChild() const override {
        const QModelIndex i = view()->currentIndex();
        return view()->hasFocus() && i.isValid() ? cellAt(i.row(), i.column()) : nullptr;
    }

    QAccessibleInterface* cellAt(int row, int column) const override {
        if (row < 0 || column < 0 || row >= rowCount() || column >= columnCount()) {
            return nullptr;
        }
        const quint64 place = (quint64(quint32(row)) << 32) | quint32(column);
        if (const auto found = cells_.constFind(place); found != cells_.cend()) {
            if (QAccessibleInterface* cell = QAccessible::accessibleInterface(*found)) {
                return cell;
            }
        }
        auto* cell = new GridCellAccessible(view(), row, column);
        cells_.insert(place, QAccessible::registerAccessibleInterface(cell));
        return cell;
    }
    QAccessibleInterface* caption() const override { return nullptr; }
    QAccessibleInterface* summary() const override { return nullptr; }
    QString columnDescription(int column) const override {
        return model()->headerData(column, Qt::Horizontal).toString();
    }
    QString rowDescription(int row) const override {
        return model()->headerData(row, Qt::Vertical).toString();
    }
    int columnCount() const override { return model()->columnCount(view()->rootIndex()); }
    int rowCount() const override { return model()->rowCount(view()->rootIndex()); }

    int selectedCellCount() const override { return int(selected().selectedIndexes().size()); }
    int selectedColumnCount() const override { return int(selected().selectedColumns().size()); }
    int selectedRowCount() const override { return int(selected().selectedRows().size()); }
    QList<QAccessibleInterface*> selectedCells() const override {
        QList<QAccessibleInterface*> cells;
        for (const QModelIndex& i : selected().selectedIndexes()) {
            if (QAccessibleInterface* cell = cellAt(i.row(), i.column())) {
                cells.append(cell);
            }
        }
        return cells;
    }
    QList<int> selectedColumns() const override {
        return sections(selected().selectedColumns(), 1);
    }
    QList<int> selectedRows() const override { return sections(selected().selectedRows(), 0); }
    bool isColumnSelected(int column) const override {
        return selected().isColumnSelected(column, view()->rootIndex());
    }
    bool isRowSelected(int row) const override {
        return selected().isRowSelected(row, view()->rootIndex());
    }
    bool selectRow(int row) override { return select(row, 0, QAbstractItemView::SelectRows); }
    bool selectColumn(int column) override {
        return select(0, column, QAbstractItemView::SelectColumns);
    }
    bool unselectRow(int row) override { return unselect(row, 0, QItemSelectionModel::Rows); }
    bool unselectColumn(int column) override {
        return unselect(0, column, QItemSelectionModel::Columns);
    }

    void modelChange(QAccessibleTableModelChangeEvent* event) override {
        // Cells are places: a value or a row that moves changes what a cell says, not the cell.
        // Only the cells of rows and columns that are gone go with them.
        using Change = QAccessibleTableModelChangeEvent;
        if (event->modelChangeType() != Change::ModelReset &&
            event->modelChangeType() != Change::RowsRemoved &&
            event->modelChangeType() != Change::ColumnsRemoved) {
            return;
        }
        const int rows = rowCount();
        const int columns = columnCount();
        for (auto i = cells_.begin(); i != cells_.end();) {
            if (int(i.key() >> 32) >= rows || int(i.key() & 0xffffffffU) >= columns) {
                QAccessible::deleteAccessibleInterface(i.value());
                i = cells_.erase(i);
            } else {
                ++i;
            }
        }
    }

private:
    GridView* view() const { return static_cast<GridView*>(widget()); }
    QAbstractItemModel* model() const { return view()->model(); }
    const QItemSelectionModel& selected() const { return *view()->selectionModel(); }
    static QList<int> sections(const QModelIndexList& indexes, int column) {
        QList<int> list;
        for (const QModelIndex& i : indexes) {
            list.append(column ? i.column() : i.row());
        }
        return list;
    }
    // Whole rows or columns are selected only where the view selects them so itself.
    bool select(int row, int column, QAbstractItemView::SelectionBehavior whole) {
        const QModelIndex i = model()->index(row, column, view()->rootIndex());
        if (!i.isValid() || view()->selectionMode() == QAbstractItemView::NoSelection ||
            view()->selectionBehavior() != whole) {
            return false;
        }
        const auto flags = whole == QAbstractItemView::SelectRows ? QItemSelectionModel::Rows
                                                                  : QItemSelectionModel::Columns;
        const bool single = view()->selectionMode() == QAbstractItemView::SingleSelection;
        view()->selectionModel()->select(i, flags | (single ? QItemSelectionModel::ClearAndSelect
                                                            : QItemSelectionModel::Select));
        return true;
    }
    bool unselect(int row, int column, QItemSelectionModel::SelectionFlag whole) {
        const QModelIndex i = model()->index(row, column, view()->rootIndex());
        if (!i.isValid()) {
            return false;
        }
        view()->selectionModel()->select(i, QItemSelectionModel::Deselect | whole);
        return true;
    }

    mutable QHash<quint64, QAccessible::Id> cells_;  // by row << 32 | column
};

QAccessibleInterface* gridFactory(const QString&, QObject* object) {
    auto* view = qobject_cast<GridView*>(object);
    return view ? new GridAccessible(view) : nullptr;
}

// Sections [0, fixed) and those from the one at 0 to the one at `extent` - 1 of the viewport.
template <typename SectionAt, typename Hidden>
std::vector<int> shown(int count, int fixed, int extent, SectionAt at, Hidden hidden) {
    std::vector<int> sections;
    fixed = std::min(fixed, count);
    for (int s = 0; s < fixed; ++s) {
        if (!hidden(s)) {
            sections.push_back(s);
        }
    }
    const int first = extent > 0 ? at(0) : -1;
    if (first < 0) {
        return sections;
    }
    const int last = at(extent - 1) < 0 ? count - 1 : at(extent - 1);
    for (int s = std::max(first, fixed); s <= last; ++s) {
        if (!hidden(s)) {
            sections.push_back(s);
        }
    }
    return sections;
}

void announce(GridView* view, const QModelIndex& index, QAccessible::Event type) {
    if (!QAccessible::isActive() || !index.isValid()) {
        return;
    }
    if (QAccessibleInterface* cell = cellOf(view, index.row(), index.column())) {
        QAccessibleEvent event(cell, type);
        QAccessible::updateAccessibility(&event);
    }
}

}  // namespace

GridView::GridView(QWidget* parent) : QTableView(parent) {
    static const bool installed = [] {
        QAccessible::installFactory(gridFactory);
        return true;
    }();
    Q_UNUSED(installed);
}

std::vector<int> GridView::shownRows() const {
    return shown(
        model()->rowCount(rootIndex()), fixedOf(model(), Qt::Vertical), viewport()->height(),
        [this](int y) { return rowAt(y); }, [this](int r) { return isRowHidden(r); });
}

std::vector<int> GridView::shownColumns() const {
    return shown(
        model()->columnCount(rootIndex()), fixedOf(model(), Qt::Horizontal), viewport()->width(),
        [this](int x) { return columnAt(x); }, [this](int c) { return isColumnHidden(c); });
}

void GridView::currentChanged(const QModelIndex& current, const QModelIndex& previous) {
    QAbstractItemView::currentChanged(current, previous);  // scrolls the cell into sight first
    if (hasFocus()) {  // a cell chosen by the program while the user is elsewhere takes no focus
        announce(this, current, QAccessible::Focus);
    }
}

void GridView::selectionChanged(const QItemSelection& selected, const QItemSelection& deselected) {
    QAbstractItemView::selectionChanged(selected, deselected);
    announce(this, selected.indexes().value(0), QAccessible::SelectionAdd);
    announce(this, deselected.indexes().value(0), QAccessible::SelectionRemove);
}

}  // namespace tamlo
