#pragma once

#include <QAbstractTableModel>
#include <QColor>
#include <QTableView>
#include <map>
#include <utility>
#include <vector>

#include "shared/gridview.h"

namespace tamlo {

// A table of texts with header rows and columns at its top and left, as the grids of the forms
// draw them. A screen reader takes a cell's column and row names from the headers.
//
// Its model indexes carry an internal id scattered over row and column. Qt hashes an index as
// row * 16 + column + internal id and probes its hash tables linearly, so with plain indexes the
// cells of a wide grid crowd into one run of buckets, and removing a persistent index walks that
// run. Qt's own accessible table keeps one per cell a reader has read: a data grid whose cells had
// all been read took minutes to destroy, and the program as long to close. The grids' views now
// give readers cells that keep none (GridView), and any view Qt's table serves stays cheap.
class GridTableModel : public QAbstractTableModel {
    Q_OBJECT
public:
    using QAbstractTableModel::QAbstractTableModel;

    QModelIndex index(int row, int column, const QModelIndex& parent = {}) const override;
    QVariant headerData(int section, Qt::Orientation orientation,
                        int role = Qt::DisplayRole) const override;

    // The text of a cell; reads outside the grid give an empty text.
    virtual QString cell(int column, int row) const = 0;
    virtual int fixedColumns() const { return 1; }
    virtual int fixedRows() const { return 1; }
};

// Cell texts of a string grid, addressed as (column, row) like the forms address them.
class StringGridModel final : public GridTableModel {
    Q_OBJECT
public:
    explicit StringGridModel(QObject* parent = nullptr);

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;

    void setSize(int columns, int rows);
    void setRowCount(int rows);
    void setColumnCount(int columns);
    // Writes outside the grid are ignored; reads outside give an empty text.
    void setCell(int column, int row, const QString& text);
    QString cell(int column, int row) const override;
    void setFixed(int fixedColumns, int fixedRows);
    // Colours of one cell over the grid's own; invalid colours give the cell back its own.
    void setCellColors(int column, int row, const QColor& text, const QColor& background);
    int fixedColumns() const override { return fixedColumns_; }
    int fixedRows() const override { return fixedRows_; }

private:
    int columns_ = 0;
    int rows_ = 0;
    int fixedColumns_ = 1;
    int fixedRows_ = 1;
    std::vector<QString> cells_;  // row-major
    // The few coloured cells, by (row, column); empty in most grids, which then pay nothing.
    std::map<std::pair<int, int>, std::pair<QColor, QColor>> colors_;
};

// The column width a grid cell needs to show `text` whole in `view`'s font.
int cellWidthFor(const QTableView& view, const QString& text);

// A grid of texts with fixed (header) rows and columns drawn in the button colour, selected by
// whole rows or cells. Light enough for the 65 x 640 data grid.
class StringGrid : public GridView {
    Q_OBJECT
public:
    explicit StringGrid(QWidget* parent = nullptr);

    void setSize(int columns, int rows) { model_->setSize(columns, rows); }
    int rowCount() const { return model_->rowCount(); }
    int columnCount() const { return model_->columnCount(); }
    void setRowCount(int rows) { model_->setRowCount(rows); }
    void setColumnCount(int columns) { model_->setColumnCount(columns); }
    void setFixed(int fixedColumns, int fixedRows) { model_->setFixed(fixedColumns, fixedRows); }
    // A column too narrow for the text widens to it; columns never narrow by themselves.
    void setCell(int column, int row, const QString& text);
    QString cell(int column, int row) const { return model_->cell(column, row); }
    void setColumnWidths(const std::vector<int>& widths);
    void setDefaultRowHeight(int pixels);

    // The selected row, as the grid's Row; -1 when none.
    int row() const;
    int col() const;
    // Selects a cell without raising clicked(); a cell of a fixed row is never selected.
    void selectCell(int column, int row);

    StringGridModel* gridModel() const { return model_; }

protected:
    void keyPressEvent(QKeyEvent* event) override;

signals:
    // The user selected a cell with the mouse or the keyboard.
    void cellClicked();
    void cellDoubleClicked();

private:
    StringGridModel* model_;
};

}  // namespace tamlo
