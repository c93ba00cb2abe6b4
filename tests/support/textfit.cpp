#include "textfit.h"

#include <QAbstractScrollArea>
#include <QAbstractSpinBox>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QStyleOption>
#include <QTabBar>
#include <QTabWidget>
#include <QTableView>

namespace tamlo::test {
namespace {

QString nameOf(const QWidget* w) {
    QString name = w->objectName();
    for (const QWidget* p = w->parentWidget(); name.isEmpty() && p; p = p->parentWidget()) {
        if (!p->objectName().isEmpty()) {
            name = QStringLiteral("%1 in %2").arg(QString::fromLatin1(w->metaObject()->className()),
                                                   p->objectName());
        }
    }
    return name.isEmpty() ? QString::fromLatin1(w->metaObject()->className()) : name;
}

class Walk {
public:
    QStringList faults;

    bool check(const QWidget* w, const QString& text, QSize needed, QSize room) {
        const bool cut = needed.width() > room.width() || needed.height() > room.height();
        if (cut) {
            add(QStringLiteral("%1 \"%2\": needs %3 x %4, has %5 x %6")
                    .arg(nameOf(w), text)
                    .arg(needed.width())
                    .arg(needed.height())
                    .arg(room.width())
                    .arg(room.height()));
        }
        return !cut;
    }
    void add(const QString& fault) {
        if (!faults.contains(fault)) {
            faults << fault;
        }
    }

    void visit(const QWidget* w) {
        const QFontMetrics fm = w->fontMetrics();
        // Trailing blanks pad texts; cutting them cuts nothing one can read.
        const auto size = [&fm](const QString& text, int flags = 0) {
            return fm.size(flags, text.trimmed());
        };
        const QStyle* style = w->style();
        if (const auto* l = qobject_cast<const QLabel*>(w)) {
            if (!l->text().trimmed().isEmpty() && !l->wordWrap()) {
                int indent = l->indent();
                if (indent < 0 && l->frameWidth() > 0) {
                    indent = fm.horizontalAdvance(QLatin1Char('x')) / 2;
                }
                const int m = l->margin();
                const QRect room = l->contentsRect().adjusted(m, m, -m, -m);
                check(l, l->text(), size(l->text()) + QSize(std::max(indent, 0), 0), room.size());
            }
        } else if (const auto* b = qobject_cast<const QAbstractButton*>(w)) {
            QStyleOptionButton opt;
            opt.initFrom(b);
            opt.text = b->text();
            QStyle::SubElement contents = QStyle::SE_PushButtonContents;
            if (const auto* push = qobject_cast<const QPushButton*>(b); push && push->autoDefault()) {
                opt.features |= QStyleOptionButton::AutoDefaultButton;
            }
            if (qobject_cast<const QCheckBox*>(b)) {
                contents = QStyle::SE_CheckBoxContents;
            } else if (qobject_cast<const QRadioButton*>(b)) {
                contents = QStyle::SE_RadioButtonContents;
            } else if (!qobject_cast<const QPushButton*>(b)) {
                return;  // tool buttons of tab bars and scroll areas show no text
            }
            if (!b->text().isEmpty()) {
                check(b, b->text(), size(b->text(), Qt::TextShowMnemonic),
                      style->subElementRect(contents, &opt, b).size());
            }
        } else if (const auto* g = qobject_cast<const QGroupBox*>(w)) {
            // The title sits on the frame, indented as the style draws it.
            const int inset = style->pixelMetric(QStyle::PM_LayoutLeftMargin, nullptr, g);
            check(g, g->title(), size(g->title(), Qt::TextShowMnemonic),
                  QSize(g->width() - 2 * inset, g->height()));
        } else if (const auto* e = qobject_cast<const QLineEdit*>(w)) {
            QStyleOptionFrame opt;
            opt.initFrom(e);
            opt.lineWidth = e->hasFrame() ? style->pixelMetric(QStyle::PM_DefaultFrameWidth) : 0;
            // QLineEdit keeps 2 pixels beside its text and 1 above and below.
            const QRect room = style->subElementRect(QStyle::SE_LineEditContents, &opt, e)
                                   .marginsRemoved(e->textMargins())
                                   .adjusted(2, 0, -2, 0);
            if (!e->displayText().isEmpty()) {
                check(e, e->displayText(), QSize(fm.horizontalAdvance(e->displayText()),
                                                 fm.ascent() + fm.descent()),
                      room.size());
            }
        } else if (const auto* c = qobject_cast<const QComboBox*>(w); c && !c->isEditable()) {
            QStyleOptionComboBox opt;
            opt.initFrom(c);
            opt.frame = c->hasFrame();
            opt.currentText = c->currentText();
            const QRect room =
                style->subControlRect(QStyle::CC_ComboBox, &opt, QStyle::SC_ComboBoxEditField, c);
            check(c, c->currentText(), size(c->currentText()), room.size());
        } else if (const auto* t = qobject_cast<const QTabBar*>(w)) {
            const int space = style->pixelMetric(QStyle::PM_TabBarTabHSpace, nullptr, t);
            for (int i = 0; i < t->count(); ++i) {
                const QRect r = t->tabRect(i);
                check(t, t->tabText(i), size(t->tabText(i)) + QSize(space, 0),
                      t->rect().intersected(r).size());
            }
        } else if (const auto* h = qobject_cast<const QHeaderView*>(w)) {
            visitHeader(h);
        } else if (const auto* v = qobject_cast<const QTableView*>(w)) {
            visitCells(v);
        }
    }

    void visitHeader(const QHeaderView* h) {
        if (!h->model()) {
            return;
        }
        const int margin = h->style()->pixelMetric(QStyle::PM_HeaderMargin, nullptr, h);
        for (int s = 0; s < h->count(); ++s) {
            const QString text =
                h->model()->headerData(s, h->orientation(), Qt::DisplayRole).toString();
            if (h->isSectionHidden(s) || text.isEmpty()) {
                continue;
            }
            const int room = h->orientation() == Qt::Horizontal ? h->sectionSize(s) : h->width();
            check(h, text, QSize(h->fontMetrics().horizontalAdvance(text) + 2 * margin, 0),
                  QSize(room, 0));
        }
    }

    // Every cell of the first thousand rows: the rows below are written the same way.
    void visitCells(const QTableView* v) {
        const QAbstractItemModel* model = v->model();
        if (!model) {
            return;
        }
        const int grid = v->showGrid() ? 1 : 0;
        const int margin = v->style()->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, v) + 1;
        const int rows = std::min(model->rowCount(), 1000);
        for (int c = 0; c < model->columnCount(); ++c) {
            if (v->isColumnHidden(c)) {
                continue;
            }
            for (int r = 0; r < rows; ++r) {
                const QModelIndex index = model->index(r, c);
                const QString text = index.data(Qt::DisplayRole).toString();
                if (v->isRowHidden(r) || text.isEmpty()) {
                    continue;
                }
                const QVariant itemFont = index.data(Qt::FontRole);
                const QFontMetrics fm(itemFont.isValid() ? itemFont.value<QFont>() : v->font());
                // One fault per column is enough to find it.
                if (!check(v, QStringLiteral("%1 (column %2)").arg(text).arg(c),
                           QSize(fm.horizontalAdvance(text.trimmed()) + 2 * margin, fm.height()),
                           QSize(v->columnWidth(c) - grid, v->rowHeight(r) - grid))) {
                    break;
                }
            }
        }
    }

    // A control reaches past its parent: the parent cuts it. In a scroll area a control may lie
    // wholly out of view, to be scrolled to, but not half in it.
    void checkInside(const QWidget* w) {
        const QWidget* p = w->parentWidget();
        if (!p || w->isWindow()) {
            return;
        }
        for (const QWidget* a = p; a && !a->isWindow(); a = a->parentWidget()) {
            const auto* area = qobject_cast<const QAbstractScrollArea*>(a->parentWidget());
            if (area && area->viewport() == a) {
                if (a == p) {
                    return;  // the scrolled content itself
                }
                const QRect shown(w->mapTo(a, QPoint(0, 0)), w->size());
                if (shown.intersects(a->rect()) && !a->rect().contains(shown)) {
                    add(QStringLiteral("%1 is cut by %2").arg(nameOf(w), nameOf(area)));
                }
            }
        }
        if (!p->rect().contains(w->geometry())) {
            add(QStringLiteral("%1 reaches past %2: %3,%4 %5 x %6 in %7 x %8")
                    .arg(nameOf(w), nameOf(p))
                    .arg(w->x())
                    .arg(w->y())
                    .arg(w->width())
                    .arg(w->height())
                    .arg(p->width())
                    .arg(p->height()));
        }
    }

    void walk(QWidget* window) {
        for (QWidget* w : window->findChildren<QWidget*>()) {
            if (!w->isVisible() || w->isWindow() || w->window() != window) {
                continue;
            }
            visit(w);
            if (qobject_cast<QAbstractButton*>(w) || qobject_cast<QLabel*>(w) ||
                qobject_cast<QGroupBox*>(w) || qobject_cast<QComboBox*>(w) ||
                qobject_cast<QAbstractSpinBox*>(w) ||
                (qobject_cast<QLineEdit*>(w) && !qobject_cast<QAbstractSpinBox*>(w->parent()) &&
                 !qobject_cast<QComboBox*>(w->parent()))) {
                checkInside(w);
            }
        }
    }
};

void settle() {
    QApplication::sendPostedEvents(nullptr, QEvent::LayoutRequest);
    QApplication::processEvents();
}

}  // namespace

QStringList clippedTexts(QWidget* window) {
    Walk walk;
    const bool wasVisible = window->isVisible();
    window->show();
    settle();
    walk.walk(window);
    // Each page of each page control, then back to the page it showed.
    for (QTabWidget* tabs : window->findChildren<QTabWidget*>()) {
        const int shown = tabs->currentIndex();
        for (int i = 0; i < tabs->count(); ++i) {
            tabs->setCurrentIndex(i);
            settle();
            walk.walk(window);
        }
        tabs->setCurrentIndex(shown);
    }
    if (!wasVisible) {
        window->hide();
    }
    return walk.faults;
}

}  // namespace tamlo::test
