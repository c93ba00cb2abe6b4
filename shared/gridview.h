#pragma once

#include <QTableView>
#include <vector>

namespace tamlo {

// The table view under the programs' grids. What a screen reader sees of it costs the same
// however many cells the grid holds: its children are the cells on the screen (and the fixed
// header rows and columns), any other cell is reached by row and column, and a cell it has read
// keeps no model index alive. The first grid built installs that face.
class GridView : public QTableView {
    Q_OBJECT
public:
    explicit GridView(QWidget* parent = nullptr);

    // The rows and columns whose cells are a reader's children: the fixed ones, then those the
    // viewport shows, in order, hidden ones left out.
    std::vector<int> shownRows() const;
    std::vector<int> shownColumns() const;

protected:
    // QTableView announces the current and selected cells by their place among every cell; these
    // announce the cell itself.
    void currentChanged(const QModelIndex& current, const QModelIndex& previous) override;
    void selectionChanged(const QItemSelection& selected,
                          const QItemSelection& deselected) override;
};

}  // namespace tamlo
