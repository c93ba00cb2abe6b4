#pragma once

#include <QAbstractTableModel>
#include <QTableView>
#include <vector>

namespace tamlo {

// Cell texts of a string grid, addressed as (column, row) like the forms address them.
class StringGridModel final : public QAbstractTableModel {
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
    QString cell(int column, int row) const;
    void setFixed(int fixedColumns, int fixedRows);
    int fixedColumns() const { return fixedColumns_; }
    int fixedRows() const { return fixedRows_; }

private:
    int columns_ = 0;
    int rows_ = 0;
    int fixedColumns_ = 1;
    int fixedRows_ = 1;
    std::vector<QString> cells_;  // row-major
};

// The column width a grid cell needs to show `text` whole in `view`'s font.
int cellWidthFor(const QTableView& view, const QString& text);

// A grid of texts with fixed (header) rows and columns drawn in the button colour, selected by
// whole rows or cells. Light enough for the 65 x 640 data grid.
class StringGrid : public QTableView {
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
