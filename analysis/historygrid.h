#pragma once

#include <QTableView>
#include <memory>

#include "historywindow.h"
#include "shared/stringgrid.h"

namespace tamlo::analysis {

// The data grid of a history window: a fixed header row ("time" and the channel names) over one
// row per grid row of the window. Cells are formatted when they are painted; nothing is kept
// per cell.
class HistoryGridModel final : public GridTableModel {
    Q_OBJECT
public:
    explicit HistoryGridModel(QObject* parent = nullptr);

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;

    // The header row: "time" and one name per channel.
    void setHeader(const QStringList& names);
    // The window's rows below the header; null keeps the header row alone.
    void setWindow(std::shared_ptr<const HistoryWindow> window);
    // The text of a cell, row 0 being the header.
    QString cell(int column, int row) const override;

private:
    QStringList header_;
    std::shared_ptr<const HistoryWindow> window_;
};

// StringGrid1: the grid page's view.
class HistoryGridView final : public GridView {
    Q_OBJECT
public:
    explicit HistoryGridView(QWidget* parent = nullptr);
    HistoryGridModel* gridModel() const { return model_; }
    QString cell(int column, int row) const { return model_->cell(column, row); }
    int rowCount() const { return model_->rowCount(); }
    int columnCount() const { return model_->columnCount(); }
    // Columns as wide as the widest time, value and channel name need: at least 96 for the
    // time and 54 for each channel.
    void fitColumns();

private:
    HistoryGridModel* model_;
};

}  // namespace tamlo::analysis
