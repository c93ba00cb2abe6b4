#pragma once

#include <QLabel>
#include <QPushButton>
#include <QString>

namespace tamlo::station {

// Controls are reachable by their control names (objectName).
template <class T>
T* named(T* widget, const char* name) {
    widget->setObjectName(QString::fromLatin1(name));
    return widget;
}

inline QLabel* label(QWidget* parent, const char* name, const QString& text) {
    return named(new QLabel(text, parent), name);
}

inline QPushButton* button(QWidget* parent, const char* name, const QString& text) {
    return named(new QPushButton(text, parent), name);
}

}  // namespace tamlo::station
