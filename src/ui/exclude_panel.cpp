#include "ui/exclude_panel.h"

#include <QHeaderView>
#include <QVBoxLayout>

#include "platform/localization.h"
#include "sessions/option_tables.h"
#include "ui/in_place_commands.h"
#include "ui/option_markers.h"
#include "ui/qt_text.h"
#include "ui/session_name_sheet.h"

namespace qv::ui {

using platform::GLS;

namespace {

constexpr int kOnColumn = 0;
constexpr int kPathColumn = 1;

}  // namespace

ExcludePanel::ExcludePanel(QWidget* parent) : OptionPanel("exclude", "excludeDict", parent) {
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(4, 0, 4, 0);
    listOn_ = new QCheckBox(Str(GLS("Exclude List")), this);
    listOn_->setObjectName(QStringLiteral("excludeOn"));
    layout->addWidget(listOn_);
    table_ = new PathTable(static_cast<int>(sessions::kTableRows),
                           {QString(), Str(GLS("Item to exclude"))}, this);
    table_->setObjectName(QStringLiteral("theList"));
    table_->setToolTip(
        Str(GLS("Click (or Return) to choose an item to exclude. Alt-click (or Delete) clears "
                "the row, Ctrl-click (or Ctrl+Return) shows the item in the file manager, a "
                "right-click lists these and its folders.")));
    table_->horizontalHeader()->setSectionResizeMode(kOnColumn, QHeaderView::Fixed);
    table_->setColumnWidth(kOnColumn, 28);
    table_->horizontalHeader()->setSectionResizeMode(kPathColumn, QHeaderView::Stretch);
    layout->addWidget(table_, 1);

    table_->acceptsDrop = [this](int, int) { return editor_ && editor_->listOn(); };
    table_->pathOf = [this](int row, int column) {
        return editor_ && column == kPathColumn ? editor_->path(static_cast<std::size_t>(row))
                                                : std::string();
    };
    connect(table_, &PathTable::cellClickedWith, this, &ExcludePanel::EditExcludeRow);
    AddCellCommands(
        table_,
        [this](int row, int column, Qt::KeyboardModifiers m) { EditExcludeRow(row, column, m); },
        true);
    connect(table_, &PathTable::pathsDropped, this,
            [this](int, int, const std::vector<std::string>& paths) { PathsDropped(paths); });
    connect(table_->horizontalHeader(), &QHeaderView::sectionResized, this, [this] { Refresh(); });
    connect(listOn_, &QCheckBox::toggled, this, [this](bool on) {
        if (!editor_ || filling_) return;
        editor_->setListOn(on);
        Refresh();
    });
}

void ExcludePanel::SessionShown(const plist::Value& session) {
    const plist::Value* console = session.dictAt("consoleDict");
    sourceFolder_ = console != nullptr ? console->stringAt("topFolder") : "";
}

void ExcludePanel::SetPanels(const plist::Value& excludeDict) {
    editor_.emplace(excludeDict);
    Refresh();
}

bool ExcludePanel::GetPanels(plist::Value& session, std::string* message) {
    if (!editor_) return true;
    const bool stored = editor_->GetPanels(session, message);
    Refresh();  // a list with no valid row was switched off
    return stored;
}

bool ExcludePanel::SetIconOn(const plist::Value& session) const {
    return OptionMarkers(session)[kExcludeOption];
}

void ExcludePanel::EditExcludeRow(int row, int column, Qt::KeyboardModifiers modifiers) {
    if (!editor_) return;
    const auto r = static_cast<std::size_t>(row);
    if (column == kOnColumn) {
        editor_->toggle(r);
    } else if (modifiers & Qt::ControlModifier) {
        RevealItem(editor_->path(r), this);
    } else if (modifiers & Qt::AltModifier) {
        editor_->clear(r);
    } else {
        if (picker_ && picker_->isVisible()) return;  // one picker at a time
        picker_ = OpenItemDialog(
            this, GLS("Exclude"), GLS("Exclude"), editor_->path(r),
            [this, r](const std::string& path) {
                if (!editor_) return;
                if (const std::string why = editor_->setPath(r, path); !why.empty()) {
                    Warn(why);
                }
                Refresh();
            },
            sourceFolder_);
        return;
    }
    Refresh();
}

void ExcludePanel::PathsDropped(const std::vector<std::string>& paths) {
    if (!editor_) return;  // the table takes drops only while the list is on
    for (const std::string& path : paths) {
        if (const std::string why = editor_->add(path, nullptr); !why.empty()) {
            Warn(why);  // the paths before it are in
            break;
        }
    }
    Refresh();
}

void ExcludePanel::Warn(const std::string& message) {
    if (!alert_) alert_ = OpenWarning(message, "excludeAlert", this);
}

void ExcludePanel::Refresh() {
    if (!editor_) return;
    filling_ = true;
    listOn_->setChecked(editor_->listOn());
    filling_ = false;
    const bool listOn = editor_->listOn();
    for (std::size_t r = 0; r < editor_->rowCount(); ++r) {
        const int row = static_cast<int>(r);
        const bool rowOn = editor_->rowOn(r);
        const QString path = Path(editor_->path(r));
        // A row without an item is neither on nor off yet.
        const char* mark = editor_->path(r).empty() ? "" : rowOn ? "•" : "-";
        table_->SetCell(row, kOnColumn, QString::fromUtf8(mark), !listOn);
        table_->SetCell(row, kPathColumn, path, !listOn || !rowOn, path);
    }
    emit iconOnChanged(editor_->IconOn());
}

}  // namespace qv::ui
