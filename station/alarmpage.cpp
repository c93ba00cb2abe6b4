#include "alarmpage.h"

#include <QItemSelectionModel>
#include <QLabel>
#include <QPushButton>
#include <QSplitter>
#include <QVBoxLayout>
#include <set>

#include "alarmtexts.h"
#include "namedcontrols.h"
#include "shared/gbk.h"
#include "shared/stringgrid.h"

namespace tamlo::station {

namespace {

StringGrid* listGrid(QWidget* parent, const char* name, const QStringList& captions,
                     const std::vector<int>& widths) {
    auto* grid = named(new StringGrid(parent), name);
    grid->setSize(static_cast<int>(captions.size()), 1);
    grid->setFixed(0, 1);
    grid->setColumnWidths(widths);
    grid->setDefaultRowHeight(20);
    for (int c = 0; c < captions.size(); ++c) {
        grid->setCell(c, 0, captions[c]);
    }
    grid->setSelectionBehavior(QAbstractItemView::SelectRows);
    return grid;
}

}  // namespace

AlarmPage::AlarmPage(QWidget* tabSheet) {
    auto* layout = new QVBoxLayout(tabSheet);
    layout->setContentsMargins(2, 2, 2, 2);
    auto* top = new QHBoxLayout;
    top->addWidget(label(tabSheet, "LabelAlarms", QStringLiteral("当前报警")), 1);
    ButtonAck = button(tabSheet, "ButtonAck", QStringLiteral("确  认"));
    ButtonAck->setToolTip(QStringLiteral("确认选中的报警；未选中时确认全部报警"));
    top->addWidget(ButtonAck);
    layout->addLayout(top);

    auto* split = named(new QSplitter(Qt::Vertical, tabSheet), "SplitterAlarms");
    AlarmGrid = listGrid(split, "AlarmGrid",
                         {QStringLiteral("报警时间"), QStringLiteral("序号"),
                          QStringLiteral("工位号"), QStringLiteral("类型"), QStringLiteral("数值"),
                          QStringLiteral("限值"), QStringLiteral("确认")},
                         {140, 40, 80, 70, 70, 70, 50});
    AlarmGrid->setSelectionMode(QAbstractItemView::ExtendedSelection);
    auto* lower = new QWidget(split);
    auto* lowerLayout = new QVBoxLayout(lower);
    lowerLayout->setContentsMargins(0, 4, 0, 0);
    lowerLayout->addWidget(label(lower, "LabelEvents", QStringLiteral("报警记录（最近 500 条）")));
    EventGrid = listGrid(lower, "EventGrid",
                         {QStringLiteral("时间"), QStringLiteral("序号"), QStringLiteral("工位号"),
                          QStringLiteral("事件"), QStringLiteral("类型"), QStringLiteral("数值"),
                          QStringLiteral("限值")},
                         {140, 40, 80, 50, 70, 70, 70});
    lowerLayout->addWidget(EventGrid);
    split->addWidget(AlarmGrid);
    split->addWidget(lower);
    layout->addWidget(split, 1);
}

void AlarmPage::showAlarms(const QList<ActiveAlarm>& alarms, const DeviceTable& active) {
    // The selection is by alarm, not by row: a new alarm above must not move it to another.
    const QList<std::pair<int, AlarmKind>> selected = selectedAlarms();
    shown_ = alarms;
    AlarmGrid->clearSelection();
    AlarmGrid->setRowCount(static_cast<int>(alarms.size()) + 1);
    for (int i = 0; i < alarms.size(); ++i) {
        const ActiveAlarm& a = alarms[i];
        const int r = i + 1;
        const QString tag = a.device >= 0 && a.device < active.count
                                ? active.entries[static_cast<std::size_t>(a.device)].tagText()
                                : QString();
        const QStringList texts{
            alarmTimeText(a.raised),
            QString::number(a.device + 1),
            tag,
            alarmKindText(a.kind),
            alarmNumberText(a.value),
            alarmNumberText(a.limit),
            a.acknowledged ? QStringLiteral("已确认") : QStringLiteral("未确认")};
        for (int c = 0; c < texts.size(); ++c) {
            AlarmGrid->setCell(c, r, texts[c]);
        }
        const bool background = a.kind == AlarmKind::HighHigh || a.kind == AlarmKind::LowLow ||
                                a.kind == AlarmKind::Link;
        const QColor red(255, 0, 0);
        const QColor text = a.acknowledged ? QColor() : background ? QColor(Qt::white) : red;
        for (int c = 0; c < texts.size(); ++c) {
            AlarmGrid->gridModel()->setCellColors(c, r, text,
                                                  !a.acknowledged && background ? red : QColor());
        }
        if (selected.contains(std::pair{a.device, a.kind})) {
            AlarmGrid->selectionModel()->select(
                AlarmGrid->gridModel()->index(r, 0),
                QItemSelectionModel::Select | QItemSelectionModel::Rows);
        }
    }
}

void AlarmPage::showEvents(const QList<AlarmEvent>& events) {
    EventGrid->setRowCount(static_cast<int>(events.size()) + 1);
    for (int i = 0; i < events.size(); ++i) {
        const AlarmEvent& e = events[events.size() - 1 - i];
        const QStringList texts{alarmTimeText(e.time),           QString::number(e.device + 1),
                                gbkToString(bytesToZero(e.tag)), alarmEventText(e.type),
                                alarmKindText(e.kind),           alarmNumberText(e.value),
                                alarmNumberText(e.limit)};
        for (int c = 0; c < texts.size(); ++c) {
            EventGrid->setCell(c, i + 1, texts[c]);
        }
    }
}

QList<std::pair<int, AlarmKind>> AlarmPage::selectedAlarms() const {
    std::set<int> rows;
    for (const QModelIndex& index : AlarmGrid->selectionModel()->selectedIndexes()) {
        rows.insert(index.row());
    }
    QList<std::pair<int, AlarmKind>> alarms;
    for (const int r : rows) {
        if (r >= 1 && r <= shown_.size()) {
            const ActiveAlarm& a = shown_[r - 1];
            alarms << std::pair{a.device, a.kind};
        }
    }
    return alarms;
}

}  // namespace tamlo::station
