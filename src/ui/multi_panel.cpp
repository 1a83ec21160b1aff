#include "ui/multi_panel.h"

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
constexpr int kSourceColumn = 1;
constexpr int kDestinationColumn = 2;

}  // namespace

MultiPanel::MultiPanel(QWidget* parent) : OptionPanel("multi", "multiDict", parent) {
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(4, 0, 4, 0);
    listOn_ = new QCheckBox(Str(GLS("Multiple List")), this);
    listOn_->setObjectName(QStringLiteral("multiOn"));
    layout->addWidget(listOn_);
    table_ = new PathTable(static_cast<int>(sessions::kTableRows),
                           {QString(), Str(GLS("Source")), Str(GLS("Destination"))}, this);
    table_->setObjectName(QStringLiteral("theList"));
    table_->setToolTip(
        Str(GLS("Click (or Return) to choose a folder. Alt-click (or Delete) clears it, "
                "Ctrl-click (or Ctrl+Return) shows it in the file manager, a right-click "
                "lists these and its folders.")));
    QHeaderView* header = table_->horizontalHeader();
    header->setSectionResizeMode(kOnColumn, QHeaderView::Fixed);
    table_->setColumnWidth(kOnColumn, 28);
    header->setSectionResizeMode(kSourceColumn, QHeaderView::Stretch);
    header->setSectionResizeMode(kDestinationColumn, QHeaderView::Stretch);
    layout->addWidget(table_, 1);

    table_->acceptsDrop = [this](int, int column) {
        return editor_ && editor_->listOn() && column != kOnColumn;
    };
    table_->pathOf = [this](int row, int column) {
        if (!editor_ || column == kOnColumn) return std::string();
        const auto r = static_cast<std::size_t>(row);
        return column == kSourceColumn ? editor_->source(r) : editor_->destination(r);
    };
    connect(table_, &PathTable::cellClickedWith, this, &MultiPanel::EditMultiRow);
    AddCellCommands(
        table_,
        [this](int row, int column, Qt::KeyboardModifiers m) { EditMultiRow(row, column, m); },
        true);
    connect(table_, &PathTable::pathsDropped, this,
            [this](int row, int column, const std::vector<std::string>& paths) {
                if (!paths.empty()) {
                    SetPickedPath(static_cast<std::size_t>(row), column == kSourceColumn,
                                  paths.front());
                }
            });
    connect(header, &QHeaderView::sectionResized, this, [this] { Refresh(); });
    connect(listOn_, &QCheckBox::toggled, this, [this](bool on) {
        if (!editor_ || filling_) return;
        editor_->setListOn(on);
        Refresh();
    });
}

void MultiPanel::SetPanels(const plist::Value& multiDict) {
    editor_.emplace(multiDict);
    Refresh();
}

bool MultiPanel::GetPanels(plist::Value& session, std::string* message) {
    if (!editor_) return true;
    const bool stored = editor_->GetPanels(session, message);
    Refresh();  // a list with no valid row was switched off
    return stored;
}

bool MultiPanel::SetIconOn(const plist::Value& session) const {
    return OptionMarkers(session)[kMultiOption];
}

void MultiPanel::EditMultiRow(int row, int column, Qt::KeyboardModifiers modifiers) {
    if (!editor_) return;
    const auto r = static_cast<std::size_t>(row);
    const bool source = column == kSourceColumn;
    if (column == kOnColumn) {
        editor_->toggle(r);
    } else if (modifiers & Qt::ControlModifier) {
        RevealItem(source ? editor_->source(r) : editor_->destination(r), this);
    } else if (modifiers & Qt::AltModifier) {
        editor_->clearPath(r, source);
    } else {
        if (picker_ && picker_->isVisible()) return;  // one picker at a time
        picker_ = OpenItemDialog(
            this, GLS(source ? "Choose the source Folder" : "Choose the destination Folder"),
            GLS("Choose"), source ? editor_->source(r) : editor_->destination(r),
            [this, r, source](const std::string& path) { SetPickedPath(r, source, path); });
        return;
    }
    Refresh();
}

void MultiPanel::SetPickedPath(std::size_t row, bool source, const std::string& path) {
    if (!editor_) return;
    if (const std::string why = editor_->setPath(row, source, path); !why.empty()) {
        if (!alert_) alert_ = OpenWarning(why, "multiAlert", this);
    } else if (onFolderPicked) {
        onFolderPicked(source ? editor_->source(row) : editor_->destination(row));
    }
    Refresh();
}

void MultiPanel::Refresh() {
    if (!editor_) return;
    filling_ = true;
    listOn_->setChecked(editor_->listOn());
    filling_ = false;
    const bool listOn = editor_->listOn();
    for (std::size_t r = 0; r < editor_->rowCount(); ++r) {
        const int row = static_cast<int>(r);
        const bool rowOn = editor_->rowOn(r);
        // A row without folders is neither on nor off yet.
        const bool empty = editor_->source(r).empty() && editor_->destination(r).empty();
        const char* mark = empty ? "" : rowOn ? "•" : "-";
        table_->SetCell(row, kOnColumn, QString::fromUtf8(mark), !listOn);
        for (int column : {kSourceColumn, kDestinationColumn}) {
            const QString path =
                Path(column == kSourceColumn ? editor_->source(r) : editor_->destination(r));
            table_->SetCell(row, column, path, !listOn || !rowOn, path);
        }
    }
    emit iconOnChanged(editor_->IconOn());
}

}  // namespace qv::ui
