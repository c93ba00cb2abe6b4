#include "textfit.h"

#include <QAbstractScrollArea>
#include <QAbstractSpinBox>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QStyleOption>
#include <QTabBar>
#include <QTabWidget>
#include <QTableView>
#include <cmath>

namespace tamlo::test {
namespace {

QString nameOf(const QWidget* w) {
    const QWidget* named = w;
    while (named->objectName().isEmpty() && named->parentWidget()) {
        named = named->parentWidget();
    }
    return named == w ? w->objectName()
                      : QStringLiteral("%1 in %2").arg(QString::fromLatin1(w->metaObject()->className()),
                                                        named->objectName());
}

struct Walk {
    QStringList faults;

    void add(const QString& fault) {
        if (!faults.contains(fault)) {
            faults << fault;
        }
    }
    bool fits(const QWidget* w, const QString& text, QSize needed, QSize room) {
        if (needed.width() <= room.width() && needed.height() <= room.height()) {
            return true;
        }
        add(QStringLiteral("%1 \"%2\": needs %3 x %4, has %5 x %6")
                .arg(nameOf(w), text)
                .arg(needed.width())
                .arg(needed.height())
                .arg(room.width())
                .arg(room.height()));
        return false;
    }

    void visit(const QWidget* w) {
        const QFontMetrics fm = w->fontMetrics();
        const QStyle* style = w->style();
        // Trailing blanks pad texts; cutting them cuts nothing one can read.
        const auto size = [&fm](const QString& text) {
            return fm.size(Qt::TextShowMnemonic, text.trimmed());
        };
        if (const auto* l = qobject_cast<const QLabel*>(w)) {
            const int indent = l->indent() < 0 && l->frameWidth() > 0
                                   ? fm.horizontalAdvance(QLatin1Char('x')) / 2
                                   : std::max(l->indent(), 0);
            const int m = l->margin();
            if (!l->text().trimmed().isEmpty() && !l->wordWrap()) {
                fits(l, l->text(), size(l->text()) + QSize(indent, 0),
                     l->contentsRect().adjusted(m, m, -m, -m).size());
            }
        } else if (const auto* b = qobject_cast<const QAbstractButton*>(w)) {
            QStyleOptionButton opt;
            opt.initFrom(b);
            opt.text = b->text();
            const auto* push = qobject_cast<const QPushButton*>(b);
            if (push && push->autoDefault()) {
                opt.features |= QStyleOptionButton::AutoDefaultButton;
            }
            const QStyle::SubElement contents =
                push ? QStyle::SE_PushButtonContents
                : qobject_cast<const QCheckBox*>(b) ? QStyle::SE_CheckBoxContents
                                                      : QStyle::SE_RadioButtonContents;
            // Tool buttons (of tab bars, scroll areas) show arrows, not texts.
            if (!b->text().isEmpty() && (push || qobject_cast<const QCheckBox*>(b) ||
                                         qobject_cast<const QRadioButton*>(b))) {
                fits(b, b->text(), size(b->text()), style->subElementRect(contents, &opt, b).size());
            }
        } else if (const auto* g = qobject_cast<const QGroupBox*>(w)) {
            const int inset = style->pixelMetric(QStyle::PM_LayoutLeftMargin, nullptr, g);
            fits(g, g->title(), size(g->title()), g->size() - QSize(2 * inset, 0));
        } else if (const auto* e = qobject_cast<const QLineEdit*>(w)) {
            QStyleOptionFrame opt;
            opt.initFrom(e);
            opt.lineWidth = e->hasFrame() ? style->pixelMetric(QStyle::PM_DefaultFrameWidth) : 0;
            // QLineEdit keeps 2 pixels beside its text.
            const QRect room = style->subElementRect(QStyle::SE_LineEditContents, &opt, e)
                                   .marginsRemoved(e->textMargins())
                                   .adjusted(2, 0, -2, 0);
            if (!e->displayText().isEmpty()) {
                fits(e, e->displayText(),
                     QSize(fm.horizontalAdvance(e->displayText()), fm.ascent() + fm.descent()),
                     room.size());
            }
        } else if (const auto* c = qobject_cast<const QComboBox*>(w); c && !c->isEditable()) {
            QStyleOptionComboBox opt;
            opt.initFrom(c);
            opt.frame = c->hasFrame();
            fits(c, c->currentText(), size(c->currentText()),
                 style->subControlRect(QStyle::CC_ComboBox, &opt, QStyle::SC_ComboBoxEditField, c)
                     .size());
        } else if (const auto* t = qobject_cast<const QTabBar*>(w)) {
            const int space = style->pixelMetric(QStyle::PM_TabBarTabHSpace, nullptr, t);
            for (int i = 0; i < t->count(); ++i) {
                fits(t, t->tabText(i), size(t->tabText(i)) + QSize(space, 0),
                     t->rect().intersected(t->tabRect(i)).size());
            }
        } else if (const auto* v = qobject_cast<const QTableView*>(w)) {
            visitCells(v);
        }
    }

    // The cells of the first thousand rows (those below are written alike), one fault a column.
    void visitCells(const QTableView* v) {
        if (!v->model()) {
            return;
        }
        const int grid = v->showGrid() ? 1 : 0;
        const int margin = v->style()->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, v) + 1;
        const int rows = std::min(v->model()->rowCount(), 1000);
        for (int c = 0; c < v->model()->columnCount(); ++c) {
            for (int r = 0; r < rows && !v->isColumnHidden(c); ++r) {
                // A cell's text is elided, blanks at its end included, when it is a fraction
                // of a pixel too wide.
                const QString text = v->model()->index(r, c).data().toString();
                const QFontMetricsF fm(v->font());
                if (!text.trimmed().isEmpty() && !v->isRowHidden(r) &&
                    !fits(v, QStringLiteral("%1 (column %2)").arg(text).arg(c),
                          QSize(int(std::ceil(fm.horizontalAdvance(text))) + 2 * margin,
                                int(std::ceil(fm.height()))),
                          QSize(v->columnWidth(c) - grid, v->rowHeight(r) - grid))) {
                    break;
                }
            }
        }
    }

    // A control reaching past its parent is cut by it. In a scroll area a control may lie wholly
    // out of view, to be scrolled to, but not half in it.
    void checkInside(const QWidget* w) {
        const QWidget* p = w->parentWidget();
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
            add(QStringLiteral("%1 reaches past %2: %3 x %4 at %5,%6 in %7 x %8")
                    .arg(nameOf(w), nameOf(p))
                    .arg(w->width())
                    .arg(w->height())
                    .arg(w->x())
                    .arg(w->y())
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
            // The parts of spin and combo boxes are theirs to place.
            const bool part = qobject_cast<QAbstractSpinBox*>(w->parent()) ||
                              qobject_cast<QComboBox*>(w->parent());
            if (!part && (qobject_cast<QAbstractButton*>(w) || qobject_cast<QLabel*>(w) ||
                          qobject_cast<QGroupBox*>(w) || qobject_cast<QComboBox*>(w) ||
                          qobject_cast<QAbstractSpinBox*>(w) || qobject_cast<QLineEdit*>(w))) {
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
