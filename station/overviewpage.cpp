#include "overviewpage.h"

#include <QDir>
#include <QFontDatabase>
#include <QLabel>
#include <QPainter>
#include <QScrollArea>
#include <QScrollBar>
#include <QVBoxLayout>

namespace tamlo::station {

namespace {

// The labels are right-justified and grow to the left as their text grows: the tag ends where
// its 80-pixel field ends, the value just before the unit, which starts at its own position.
constexpr int kTagLeft = 110;
constexpr int kTagWidth = 80;
constexpr int kUnitLeft = 200;
constexpr int kValueRight = 195;
constexpr int kTextTop = 28;
constexpr int kValueTop = 54;
// A tile's digits are red already: a high or low alarm shows them amber. A frame would
// widen the value past the tile's left edge.
const QColor kWarningDigits(255, 200, 0);

void setTextColor(QLabel* label, const QColor& color) {
    QPalette palette = label->palette();
    palette.setColor(QPalette::WindowText, color);
    label->setPalette(palette);
}

// Fits an auto-sized label to its text with its right edge kept.
void fitRightAnchored(QLabel* label, int right) {
    label->adjustSize();
    label->move(right - label->width(), label->y());
}

QLabel* tileLabel(QWidget* parent, const QString& text, const QColor& color) {
    auto* label = new QLabel(text, parent);
    label->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    setTextColor(label, color);
    return label;
}

}  // namespace

OverviewPage::OverviewPage(QWidget* tabSheet, const QString& workingDirectory)
    : workingDirectory_(workingDirectory), valueFont_(valueFont()) {
    auto* layout = new QVBoxLayout(tabSheet);
    layout->setContentsMargins(0, 0, 0, 0);
    ScrollBox1 = new QScrollArea(tabSheet);
    ScrollBox1->setObjectName(QStringLiteral("ScrollBox1"));
    content_ = new QWidget;
    content_->setObjectName(QStringLiteral("ScrollBox1Content"));
    QFont font(QStringLiteral("MS Sans Serif"));
    font.setPointSize(8);
    content_->setFont(font);
    content_->resize(4 * kTileStepX + 10, kTileStepY + 10);
    ScrollBox1->setWidget(content_);
    ScrollBox1->setBackgroundRole(QPalette::Window);
    layout->addWidget(ScrollBox1);
}

QPixmap OverviewPage::meterPicture(const QString& workingDirectory) {
    QPixmap picture;
    if (picture.load(QDir(workingDirectory).filePath(QStringLiteral("meter.BMP"))) &&
        !picture.isNull()) {
        return picture;
    }
    return drawnMeterFace();
}

QPixmap OverviewPage::drawnMeterFace() {
    // A grey panel-meter front: a bevelled case, a light window for the tag and unit, and a
    // dark display window for the red digits.
    QPixmap face(kPictureWidth, kPictureHeight);
    face.fill(QColor(192, 192, 192));
    QPainter p(&face);
    const QRect outer(0, 0, kPictureWidth - 1, kPictureHeight - 1);
    p.setPen(Qt::white);
    p.drawLine(outer.topLeft(), outer.topRight());
    p.drawLine(outer.topLeft(), outer.bottomLeft());
    p.setPen(QColor(64, 64, 64));
    p.drawLine(outer.bottomLeft(), outer.bottomRight());
    p.drawLine(outer.topRight(), outer.bottomRight());
    p.setPen(QColor(128, 128, 128));
    p.setBrush(QColor(236, 236, 228));
    p.drawRect(8, 22, kPictureWidth - 17, 26);
    p.setBrush(QColor(24, 16, 16));
    p.drawRect(8, 52, kPictureWidth - 17, 44);
    p.setBrush(QColor(160, 160, 160));
    for (const QPoint& screw :
         {QPoint(4, 4), QPoint(kPictureWidth - 9, 4), QPoint(4, kPictureHeight - 9),
          QPoint(kPictureWidth - 9, kPictureHeight - 9)}) {
        p.drawEllipse(QRect(screw, QSize(5, 5)));
    }
    return face;
}

QFont OverviewPage::valueFont() {
    const QStringList families = QFontDatabase::families();
    QFont font;
    if (families.contains(QStringLiteral("LED BOARD REVERSED"))) {
        font = QFont(QStringLiteral("LED BOARD REVERSED"));
    } else if (families.contains(QStringLiteral("DSEG7 Classic"))) {
        font = QFont(QStringLiteral("DSEG7 Classic"));
    } else {
        font = QFontDatabase::systemFont(QFontDatabase::FixedFont);
        font.setBold(true);
    }
    font.setPointSize(30);
    return font;
}

void OverviewPage::build(const QStringList& tags, const QStringList& units) {
    tileList_.clear();
    ScrollBox1->horizontalScrollBar()->setValue(0);
    ScrollBox1->verticalScrollBar()->setValue(0);
    const int count = static_cast<int>(std::min(tags.size(), units.size()));
    // The picture is read once per build: every tile shows the same file.
    const QPixmap picture = count > 0 ? meterPicture(workingDirectory_) : QPixmap();
    for (int n = 0; n < count; ++n) {
        const int x = kTileStepX * (n % 4);
        const int y = kTileStepY * (n / 4);
        auto* meter = new QLabel(content_);
        meter->setAlignment(Qt::AlignLeft | Qt::AlignTop);
        meter->setPixmap(picture);
        meter->setGeometry(x + 10, y + 10, kPictureWidth, kPictureHeight);

        QLabel* tag = tileLabel(content_, QStringLiteral(" ") + tags[n], Qt::black);
        tag->setGeometry(x + kTagLeft, y + kTextTop, kTagWidth, tag->sizeHint().height());
        fitRightAnchored(tag, x + kTagLeft + kTagWidth);

        QLabel* unit = tileLabel(content_, QStringLiteral(" ") + units[n], QColor(0, 0, 255));
        unit->move(x + kUnitLeft, y + kTextTop);
        unit->adjustSize();

        QLabel* value = tileLabel(content_, QString(), QColor(255, 0, 0));
        value->setFont(valueFont_);
        value->move(x + kValueRight, y + kValueTop);
        fitRightAnchored(value, x + kValueRight);

        for (QLabel* control : {meter, tag, unit, value}) {
            control->show();
            tileList_.append(control);
        }
    }
    const int rows = (count + 3) / 4;
    content_->resize(4 * kTileStepX + 10, std::max(1, rows) * kTileStepY + 10);
}

void OverviewPage::remove() {
    // Deleted at once, so that no control of an old tile is left on the page.
    qDeleteAll(tileList_);
    tileList_.clear();
}

QLabel* OverviewPage::valueLabel(int device) const {
    const qsizetype index = 4 * static_cast<qsizetype>(device) + 3;
    return device >= 0 && index < tileList_.size() ? static_cast<QLabel*>(tileList_[index])
                                                   : nullptr;
}

void OverviewPage::setValueShade(int device, AlarmShade shade) {
    QLabel* value = valueLabel(device);
    if (!value) {
        return;
    }
    const QColor digits = shade == AlarmShade::Background ? QColor(Qt::white)
                          : shade == AlarmShade::Text     ? kWarningDigits
                                                          : QColor(255, 0, 0);
    setTextColor(value, digits);
    QPalette palette = value->palette();
    palette.setColor(QPalette::Window, QColor(255, 0, 0));
    value->setPalette(palette);
    value->setAutoFillBackground(shade == AlarmShade::Background);
}

void OverviewPage::setValueText(int device, const QString& text) {
    QLabel* value = valueLabel(device);
    if (!value || value->text() == text) {
        return;
    }
    const int right = value->x() + value->width();
    value->setText(text);
    fitRightAnchored(value, right);
}

}  // namespace tamlo::station
