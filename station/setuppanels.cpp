#include "setuppanels.h"

#include <QFrame>
#include <QLabel>
#include <QLineEdit>
#include <QProxyStyle>
#include <QPushButton>

#include "devicetable.h"
#include "namedcontrols.h"
#include "shared/gbk.h"

namespace tamlo::station {

namespace {

const QString kSixSpaces = QStringLiteral("      ");

// Shows every typed character of a password edit as "#".
class HashPasswordStyle final : public QProxyStyle {
public:
    int styleHint(StyleHint hint, const QStyleOption* option, const QWidget* widget,
                  QStyleHintReturn* returnData) const override {
        if (hint == QStyle::SH_LineEdit_PasswordCharacter) {
            return '#';
        }
        return QProxyStyle::styleHint(hint, option, widget, returnData);
    }
};

}  // namespace

QValidator::State GbkFieldValidator::validate(QString& input, int&) const {
    return fitsGbk(input, maxBytes_) ? Acceptable : Invalid;
}

SetupPanels::SetupPanels(QWidget* page) {
    passwordStyle_ = std::make_unique<HashPasswordStyle>();
    const auto passwordEdit = [this](QWidget* parent, const char* name) {
        auto* edit = named(new QLineEdit(parent), name);
        edit->setMaxLength(kPasswordBytes);
        edit->setValidator(new GbkFieldValidator(kPasswordBytes, edit));
        edit->setEchoMode(QLineEdit::Password);
        edit->setStyle(passwordStyle_.get());
        return edit;
    };
    const auto titleBar = [](QWidget* parent, const char* name, const QString& text) {
        auto* title = label(parent, name, text);
        title->setAutoFillBackground(true);
        QPalette p = title->palette();
        p.setColor(QPalette::Window, p.color(QPalette::Highlight));
        p.setColor(QPalette::WindowText, Qt::white);
        title->setPalette(p);
        title->setGeometry(0, 0, 260, 22);
        title->setIndent(6);
        return title;
    };

    // A small raised panel over the device page, with a title bar and OK and cancel buttons.
    struct SetupPanel {
        QFrame* frame;
        QLabel* title;
        QPushButton* ok;
        QPushButton* cancel;
    };
    const auto setupPanel = [&](const char* name, int height, const char* titleName,
                                const QString& titleText, const char* okName,
                                const char* cancelName) {
        auto* frame = named(new QFrame(page), name);
        frame->setFrameShape(QFrame::Panel);
        frame->setFrameShadow(QFrame::Raised);
        frame->setAutoFillBackground(true);
        frame->setGeometry(180, 140, 260, height);
        SetupPanel panel{frame, titleBar(frame, titleName, titleText),
                         button(frame, okName, QStringLiteral("确  定")),
                         button(frame, cancelName, QStringLiteral("取  消"))};
        panel.ok->setGeometry(40, height - 45, 75, 27);
        panel.cancel->setGeometry(145, height - 45, 75, 27);
        frame->hide();
        return panel;
    };

    const SetupPanel login =
        setupPanel("Panel2", 150, "Label11", QStringLiteral("登入系统设置"), "Button7", "Button8");
    Panel2 = login.frame;
    Label11 = login.title;
    Button7 = login.ok;
    Button8 = login.cancel;
    Label7 = label(Panel2, "Label7", QStringLiteral("请输入密码："));
    Label7->move(20, 42);
    Edit1 = passwordEdit(Panel2, "Edit1");
    Edit1->setGeometry(110, 38, 120, 24);
    Label13 = label(Panel2, "Label13", kSixSpaces);
    Label13->setGeometry(110, 68, 120, 20);

    const SetupPanel change =
        setupPanel("Panel3", 173, "Label10", QStringLiteral("修改密码"), "Button9", "Button10");
    Panel3 = change.frame;
    Label10 = change.title;
    Button9 = change.ok;
    Button10 = change.cancel;
    Label8 = label(Panel3, "Label8", QStringLiteral("输入新密码："));
    Label8->move(20, 42);
    Edit2 = passwordEdit(Panel3, "Edit2");
    Edit2->setGeometry(110, 38, 120, 24);
    Label9 = label(Panel3, "Label9", QStringLiteral("再输入一次："));
    Label9->move(20, 74);
    Edit3 = passwordEdit(Panel3, "Edit3");
    Edit3->setGeometry(110, 70, 120, 24);
    Label12 = label(Panel3, "Label12", kSixSpaces);
    Label12->setGeometry(110, 98, 120, 20);
}

SetupPanels::~SetupPanels() = default;

}  // namespace tamlo::station
