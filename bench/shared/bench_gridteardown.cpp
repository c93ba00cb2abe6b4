// Releasing the persistent index an accessibility client keeps for every grid cell it has read
// (what closing the station costs after a screen reader has walked its data grid): the grids'
// model against a model with Qt's plain indexes, 65 columns, more and more rows.
#include <QCoreApplication>
#include <QPersistentModelIndex>
#include <cstdio>
#include <vector>

#include "bench/benchtiming.h"
#include "shared/stringgrid.h"

namespace {

class PlainModel final : public QAbstractTableModel {
public:
    PlainModel(int columns, int rows) : columns_(columns), rows_(rows) {}
    int rowCount(const QModelIndex& = {}) const override { return rows_; }
    int columnCount(const QModelIndex& = {}) const override { return columns_; }
    QVariant data(const QModelIndex&, int) const override { return {}; }

private:
    int columns_;
    int rows_;
};

double releaseMs(const QAbstractItemModel& model) {
    std::vector<QPersistentModelIndex> seen;
    for (int r = 0; r < model.rowCount(); ++r) {
        for (int c = 0; c < model.columnCount(); ++c) {
            seen.emplace_back(model.index(r, c));
        }
    }
    return tamlo::bench::timeMs([&] { seen.clear(); });
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    std::printf("%8s %14s %14s\n", "cells", "grid ms", "plain ms");
    for (const int rows : {40, 80, 160, 320, 640}) {
        tamlo::StringGridModel grid;
        grid.setSize(65, rows);
        const double gridMs = releaseMs(grid);
        if (rows > 80) {  // the plain model takes minutes from here on
            std::printf("%8d %14.1f %14s\n", 65 * rows, gridMs, "-");
            continue;
        }
        std::printf("%8d %14.1f %14.1f\n", 65 * rows, gridMs, releaseMs(PlainModel(65, rows)));
    }
    return 0;
}
