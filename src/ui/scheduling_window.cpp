#include "ui/scheduling_window.h"

#include <QComboBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QLabel>
#include <QPushButton>
#include <QTableWidget>
#include <QVBoxLayout>
#include <algorithm>
#include <cstdio>

#include "platform/localization.h"
#include "schedule/scheduler.h"
#include "sessions/timer_editor.h"
#include "ui/qt_text.h"
#include "ui/window_scheduler.h"

namespace qv::ui {

using platform::GLS;

namespace {

enum Column { kProgressive, kStartDate, kSessionName, kState, kErrors, kNextExe, kColumns };

QString StartDateText(const platform::LocalMinute& when) {
    char text[40];
    std::snprintf(text, sizeof text, "%04lld.%02lld.%02lld, %02lld:%02lld - ",
                  static_cast<long long>(when.day.year), static_cast<long long>(when.day.month),
                  static_cast<long long>(when.day.day), static_cast<long long>(when.minute / 60),
                  static_cast<long long>(when.minute % 60));
    return QString::fromLatin1(text) +
           Str(sessions::WeekdayLabel(when.day.day, when.day.month, when.day.year));
}

QColor StateColor(int state, const QPalette& palette) {
    if (state == schedule::kEntryRun) return QColor(Qt::red);
    if (state == schedule::kEntryWait) return palette.color(QPalette::Text);
    return QColor(Qt::gray);
}

}  // namespace

SchedulingWindow::SchedulingWindow(WindowScheduler& scheduler, QWidget* parent)
    : QWidget(parent, Qt::Window), scheduler_(scheduler) {
    setObjectName(QStringLiteral("schedulingWindow"));
    setWindowTitle(Str(GLS("Scheduling")));
    auto* outer = new QVBoxLayout(this);

    auto* bar = new QHBoxLayout;
    bar->addWidget(new QLabel(Str(GLS("Show the next")), this));
    horizon_ = new QComboBox(this);
    horizon_->setObjectName(QStringLiteral("horizonPopUp"));
    horizon_->addItem(Str(GLS("1 day")));
    for (int days = 2; days <= kMaxHorizonDays; ++days) {
        horizon_->addItem(Str(platform::FormatText(GLS("%@ days"), {std::to_string(days)})));
    }
    bar->addWidget(horizon_);
    bar->addStretch(1);
    openLog_ = new QPushButton(Str(GLS("Open Log")), this);
    openLog_->setObjectName(QStringLiteral("openLog"));
    delete_ = new QPushButton(Str(GLS("Delete")), this);
    delete_->setObjectName(QStringLiteral("deleteEntries"));
    delete_->setToolTip(Str(GLS("Removes the selected Done entries from the list")));
    bar->addWidget(openLog_);
    bar->addWidget(delete_);
    outer->addLayout(bar);

    table_ = new QTableWidget(0, kColumns, this);
    table_->setObjectName(QStringLiteral("schedulingTable"));
    table_->setHorizontalHeaderLabels({QStringLiteral("#"), Str(GLS("Start Date")),
                                       Str(GLS("Session")), Str(GLS("State")), Str(GLS("Errors")),
                                       Str(GLS("Next"))});
    QHeaderView* header = table_->horizontalHeader();
    header->setSectionResizeMode(QHeaderView::ResizeToContents);
    header->setSectionResizeMode(kSessionName, QHeaderView::Stretch);
    table_->verticalHeader()->setVisible(false);
    table_->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    table_->verticalHeader()->setDefaultSectionSize(table_->fontMetrics().height() + 6);
    table_->setSelectionBehavior(QAbstractItemView::SelectRows);
    table_->setSelectionMode(QAbstractItemView::ExtendedSelection);
    table_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    table_->setAlternatingRowColors(true);
    table_->setWordWrap(false);
    outer->addWidget(table_, 1);

    notice_ = new QLabel(this);
    notice_->setObjectName(QStringLiteral("schedulingNotice"));
    outer->addWidget(notice_);

    connect(horizon_, &QComboBox::activated, this,
            [this](int index) { scheduler_.scheduler().ChooseHorizon(index + 1); });
    connect(delete_, &QPushButton::clicked, this, &SchedulingWindow::DeleteTimerRow);
    connect(openLog_, &QPushButton::clicked, this, &SchedulingWindow::SchedulingOpenLog);
    connect(table_, &QTableWidget::cellDoubleClicked, this, &SchedulingWindow::SchedulingOpenLog);
    connect(table_, &QTableWidget::itemSelectionChanged, this, &SchedulingWindow::SelectionChanged);
    connect(&scheduler_, &WindowScheduler::changed, this, &SchedulingWindow::SetArray);
    resize(720, 360);
    SetArray();
}

void SchedulingWindow::SetArray() {
    const schedule::Scheduler& s = scheduler_.scheduler();
    const std::vector<schedule::ExecutionEntry>& entries = s.executiveTimerArray();
    const QSignalBlocker quiet(table_);
    table_->clearSelection();
    table_->setRowCount(static_cast<int>(entries.size()));
    const QIcon next(QStringLiteral(":/icons/icnPreviewViolet.svg"));
    for (int r = 0; r < table_->rowCount(); ++r) {
        const schedule::ExecutionEntry& e = entries[static_cast<std::size_t>(r)];
        const bool done = e.state != schedule::kEntryWait && e.state != schedule::kEntryRun &&
                          e.state != schedule::kEntrySkipped;
        const QString texts[kColumns] = {QString::number(r + 1),
                                         StartDateText(e.startDate),
                                         Str(e.sessionName),
                                         Str(schedule::EntryStateLabel(e.state)),
                                         done ? QString::number(e.errors) : QString(),
                                         QString()};
        const QColor color = StateColor(e.state, palette());
        for (int c = 0; c < kColumns; ++c) {
            auto* item = new QTableWidgetItem(texts[c]);
            item->setForeground(color);
            if (c == kNextExe && e.nextExe == 1) item->setIcon(next);
            if (c == kProgressive || c == kErrors) {
                item->setTextAlignment(Qt::AlignRight | Qt::AlignVCenter);
            }
            table_->setItem(r, c, item);
        }
    }
    horizon_->setCurrentIndex(static_cast<int>(s.howManyDaysPreview()) - 1);
    // SetBlocked: the horizon stays while a timer run goes on.
    horizon_->setEnabled(!s.blocked());
    if (const std::optional<std::size_t> row = s.rowToShow(); row && *row < entries.size()) {
        table_->scrollToItem(table_->item(static_cast<int>(*row), 0));
    }
    const QString status = scheduler_.StatusText();
    notice_->setText(status);
    notice_->setVisible(!status.isEmpty());
    SelectionChanged();
}

std::vector<std::size_t> SchedulingWindow::SelectedRows() const {
    std::vector<std::size_t> rows;
    for (const QModelIndex& index : table_->selectionModel()->selectedRows()) {
        rows.push_back(static_cast<std::size_t>(index.row()));
    }
    std::sort(rows.begin(), rows.end());
    return rows;
}

void SchedulingWindow::SelectionChanged() {
    const std::vector<std::size_t> rows = SelectedRows();
    const schedule::Scheduler& s = scheduler_.scheduler();
    openLog_->setEnabled(rows.size() == 1 && !s.LogToOpen(rows.front()).empty());
    const auto& entries = s.executiveTimerArray();
    delete_->setEnabled(!rows.empty() && !s.blocked() &&
                        std::all_of(rows.begin(), rows.end(), [&](std::size_t r) {
                            return r < entries.size() && entries[r].state == schedule::kEntryDone;
                        }));
}

void SchedulingWindow::DeleteTimerRow() {
    std::size_t select = 0;
    if (!scheduler_.scheduler().DeleteTimerRows(SelectedRows(), &select)) return;
    // The list was given back to the table by the change; the lowest removed index is next.
    if (select < static_cast<std::size_t>(table_->rowCount())) {
        table_->selectRow(static_cast<int>(select));
    }
}

void SchedulingWindow::SchedulingOpenLog() {
    const std::vector<std::size_t> rows = SelectedRows();
    if (rows.size() != 1) return;
    const std::string path = scheduler_.scheduler().LogToOpen(rows.front());
    if (!path.empty() && onOpenLog) onOpenLog(path);
}

}  // namespace qv::ui
