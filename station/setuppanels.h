#pragma once

#include <QValidator>
#include <memory>

class QFrame;
class QLabel;
class QLineEdit;
class QProxyStyle;
class QPushButton;
class QWidget;

namespace tamlo::station {

// Accepts a text whose GBK bytes fit a field of config.dat (the tag and the password hold 8):
// four Chinese characters or eight ASCII. A longer entry is refused, never cut behind the
// operator's back.
class GbkFieldValidator final : public QValidator {
public:
    GbkFieldValidator(int maxBytes, QObject* parent) : QValidator(parent), maxBytes_(maxBytes) {}
    State validate(QString& input, int&) const override;

private:
    int maxBytes_;
};

// The two small raised panels of setup mode over the device page, hidden until asked for: the
// log-in panel Panel2 and the password panel Panel3. Password edits show "#" for each character.
class SetupPanels {
public:
    explicit SetupPanels(QWidget* page);
    ~SetupPanels();

    QFrame* Panel2;
    QLabel* Label11;
    QLabel* Label7;
    QLineEdit* Edit1;
    QPushButton* Button7;
    QPushButton* Button8;
    QLabel* Label13;
    QFrame* Panel3;
    QLabel* Label10;
    QLabel* Label8;
    QLabel* Label9;
    QLineEdit* Edit2;
    QLineEdit* Edit3;
    QPushButton* Button9;
    QPushButton* Button10;
    QLabel* Label12;

private:
    std::unique_ptr<QProxyStyle> passwordStyle_;
};

}  // namespace tamlo::station
