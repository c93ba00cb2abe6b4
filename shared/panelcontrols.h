#pragma once

#include <QColor>
#include <QFrame>
#include <QLineEdit>

namespace tamlo {

// A colour swatch: a small panel painted in one colour, optionally clickable.
class ColorSwatch : public QFrame {
    Q_OBJECT
public:
    explicit ColorSwatch(QWidget* parent = nullptr);
    QColor color() const { return color_; }
    void setColor(const QColor& color);

signals:
    void clicked();

protected:
    void mousePressEvent(QMouseEvent* event) override;

private:
    QColor color_;
};

// A channel row's value box. The cross-hair rewrites sixteen of them on every mouse move, so
// while the box has no focus it draws its text and a plain sunken frame itself instead of going
// through the style; with the focus it is an ordinary line edit.
class ValueBox final : public QLineEdit {
public:
    ValueBox(const QString& text, QWidget* parent);

protected:
    void paintEvent(QPaintEvent* event) override;
};

}  // namespace tamlo
