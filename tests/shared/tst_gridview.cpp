// What a screen reader reaches of a large grid: the cells on the screen as children, any cell by
// row and column with its text, a press on a cell, and the current cell named in the focus event.

#include <QAccessible>
#include <QAccessibleActionInterface>
#include <QSignalSpy>
#include <QTest>

#include "shared/stringgrid.h"

using namespace tamlo;

namespace {

// The focus events raised, as (row, column, text) of the cell each names.
QList<std::tuple<int, int, QString>> focused;

void recordFocus(QAccessibleEvent* event) {
    QAccessibleInterface* cell = event->accessibleInterface();
    if (event->type() == QAccessible::Focus && cell && cell->tableCellInterface()) {
        focused.append({cell->tableCellInterface()->rowIndex(),
                        cell->tableCellInterface()->columnIndex(), cell->text(QAccessible::Name)});
    }
}

}  // namespace

class TestGridView : public QObject {
    Q_OBJECT

    // The station's data grid: 65 columns, 640 rows, one fixed row and column.
    std::unique_ptr<StringGrid> grid_;

private slots:
    void init() {
        grid_ = std::make_unique<StringGrid>();
        grid_->setSize(65, 640);
        for (int r = 0; r < 640; ++r) {
            for (int c = 0; c < 65; ++c) {
                grid_->gridModel()->setCell(c, r, QStringLiteral("%1,%2").arg(c).arg(r));
            }
        }
        grid_->resize(400, 300);
        grid_->show();
        QVERIFY(QTest::qWaitForWindowExposed(grid_.get()));
    }
    void cleanup() { grid_.reset(); }

    void childrenAreTheCellsOnTheScreen() {
        grid_->scrollToBottom();
        QAccessibleInterface* table = QAccessible::queryAccessibleInterface(grid_.get());
        QCOMPARE(table->role(), QAccessible::Table);
        QCOMPARE(table->tableInterface()->rowCount(), 640);
        QCOMPARE(table->tableInterface()->columnCount(), 65);
        const QRect screen(grid_->viewport()->mapToGlobal(QPoint(0, 0)), grid_->viewport()->size());
        QSet<int> rows;
        for (int i = 0; i < table->childCount(); ++i) {
            QAccessibleInterface* cell = table->child(i);
            const int row = cell->tableCellInterface()->rowIndex();
            const int column = cell->tableCellInterface()->columnIndex();
            QVERIFY2(row == 0 || column == 0 || cell->rect().intersects(screen),
                     qPrintable(cell->text(QAccessible::Name)));
            QCOMPARE(table->indexOfChild(cell), i);
            rows.insert(row);
        }
        // A screenful (and the header row, scrolled out of sight), not 41,600 cells.
        QVERIFY(table->childCount() < 300);
        QVERIFY(rows.contains(0));
        QVERIFY(rows.contains(639));
    }

    void everyCellByRowAndColumn() {
        QAccessibleTableInterface* table =
            QAccessible::queryAccessibleInterface(grid_.get())->tableInterface();
        QAccessibleInterface* cell = table->cellAt(600, 40);
        QCOMPARE(cell->text(QAccessible::Name), QStringLiteral("40,600"));
        QCOMPARE(cell->tableCellInterface()->rowIndex(), 600);
        QCOMPARE(cell->tableCellInterface()->columnIndex(), 40);
        QCOMPARE(cell->tableCellInterface()->columnHeaderCells().value(0)->text(QAccessible::Name),
                 QStringLiteral("40,0"));
        QCOMPARE(table->columnDescription(40), QStringLiteral("40,0"));
        // The same cell, reading the value it holds now.
        grid_->setCell(40, 600, QStringLiteral("12.5"));
        QCOMPARE(table->cellAt(600, 40), cell);
        QCOMPARE(cell->text(QAccessible::Name), QStringLiteral("12.5"));
        QCOMPARE(table->cellAt(640, 0), nullptr);
    }

    void aPressIsAClick() {
        QSignalSpy clicks(grid_.get(), &StringGrid::cellClicked);
        QAccessibleInterface* cell =
            QAccessible::queryAccessibleInterface(grid_.get())->tableInterface()->cellAt(300, 7);
        cell->actionInterface()->doAction(QAccessibleActionInterface::pressAction());
        QCOMPARE(clicks.size(), 1);
        QCOMPARE(std::make_pair(grid_->col(), grid_->row()), std::make_pair(7, 300));
    }

    // The grid hears of changes only with a reader on the accessibility bus
    // (scripts/with-a11y-bus.sh).
    void rowsThatGoTakeTheirCells() {
        if (!QAccessible::isActive()) {
            QSKIP("no accessibility bus");
        }
        QAccessibleTableInterface* table =
            QAccessible::queryAccessibleInterface(grid_.get())->tableInterface();
        const QAccessible::Id kept = QAccessible::uniqueId(table->cellAt(99, 3));
        const QAccessible::Id gone = QAccessible::uniqueId(table->cellAt(100, 3));
        grid_->setRowCount(100);
        QVERIFY(QAccessible::accessibleInterface(kept));
        QCOMPARE(QAccessible::accessibleInterface(gone), nullptr);
    }

    void focusNamesTheCurrentCell() {
        if (!QAccessible::isActive()) {
            QSKIP("no accessibility bus");
        }
        grid_->activateWindow();
        grid_->setFocus();
        QVERIFY(QTest::qWaitForWindowActive(grid_.get()));
        focused.clear();
        QAccessible::installUpdateHandler(recordFocus);
        grid_->selectCell(20, 500);
        QAccessible::installUpdateHandler(nullptr);
        QCOMPARE(focused.size(), 1);
        QCOMPARE(focused[0], std::make_tuple(500, 20, QStringLiteral("20,500")));
    }
};

QTEST_MAIN(TestGridView)
#include "tst_gridview.moc"
