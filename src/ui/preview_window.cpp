#include "ui/preview_window.h"

#include <QAction>
#include <QApplication>
#include <QDesktopServices>
#include <QElapsedTimer>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLocale>
#include <QMessageBox>
#include <QMouseEvent>
#include <QPainter>
#include <QPushButton>
#include <QSettings>
#include <QStyle>
#include <QStyledItemDelegate>
#include <QToolBar>
#include <QTreeView>
#include <QUrl>
#include <QVBoxLayout>
#include <algorithm>
#include <utility>

#include "app/main_app.h"
#include "platform/file_io.h"
#include "platform/localization.h"
#include "platform/privileges.h"
#include "ui/in_place_commands.h"
#include "ui/path_table.h"
#include "ui/preview_item_model.h"
#include "ui/qt_text.h"
#include "ui/size_display.h"
#include "ui/versions_window.h"

namespace qv::ui {

using engine::PreviewNode;
using platform::GLS;

namespace {

constexpr const char* kFrameKey = "PreviewWindowFrame";
// How long one step of opening every folder may hold the window, in milliseconds.
constexpr qint64 kExpandSliceMs = 25;

// The dest column is indented as the outline column is, so that the two sides line up; the
// selection colours each whole cell, the middle one (an image and no text) included.
class PreviewDelegate : public QStyledItemDelegate {
  public:
    PreviewDelegate(QTreeView* tree, PreviewItemModel* items)
        : QStyledItemDelegate(tree), tree_(tree), items_(items) {}

    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override {
        if (option.state & QStyle::State_Selected) {
            const QPalette::ColorGroup group =
                option.state & QStyle::State_Active ? QPalette::Active : QPalette::Inactive;
            painter->fillRect(option.rect, option.palette.brush(group, QPalette::Highlight));
        }
        QStyleOptionViewItem cell(option);
        if (index.column() == PreviewItemModel::kDestColumn) {
            const PreviewNode* node = items_->NodeAt(index);
            const int level = node ? node->level() : 0;
            cell.rect.setLeft(
                std::min(option.rect.right(), option.rect.left() + tree_->indentation() * level));
        }
        QStyledItemDelegate::paint(painter, cell, index);
    }

  private:
    QTreeView* tree_;
    PreviewItemModel* items_;
};

struct SearchButton {
    int tag;
    const char* icon;
    std::string label;
    std::string tip;
};

std::vector<SearchButton> SearchButtons(bool moveToTrash) {
    return {
        {0, "icnPreviewSkip", GLS("Skipped"),
         GLS("Select the next \"Skipped Item\". Hold on the Option key to select the previous "
             "one.")},
        {1, "icnPreviewNothing", GLS("Folders"),
         GLS("Select the next \"Existing Folder\". Hold on the Option key to select the previous "
             "one.")},
        {2, "icnPreviewViolet", GLS("A to B"),
         GLS("Select the next \"Item to Copy from A to B\". Hold on the Option key to select the "
             "previous one.")},
        {3, "icnPreviewOrange", GLS("B to A"),
         GLS("Select the next \"Item to Copy from B to A\". Hold on the Option key to select the "
             "previous one.")},
        moveToTrash
            ? SearchButton{6, "icnPreviewToolSearchTrash", GLS("Trash"),
                           GLS("Select the next \"Item to Trash\". Hold on the Option key to "
                               "select the previous one.")}
            : SearchButton{6, "icnPreviewDelete", GLS("Delete"),
                           GLS("Select the next \"Item to Delete\". Hold on the Option key to "
                               "select the previous one.")},
        {8, "icnPreviewAccessAB", GLS("Attr. A to B"),
         GLS("Select the next \"Attributes to Copy from A to B\". Hold on the Option key to "
             "select the previous one.")},
        {9, "icnPreviewAccessBA", GLS("Attr. B to A"),
         GLS("Select the next \"Attributes to Copy from B to A\". Hold on the Option key to "
             "select the previous one.")},
    };
}

}  // namespace

PreviewSettings PreviewSettingsFor(app::MainApp& app, const run::RunState& state) {
    PreviewSettings s;
    s.allSessions = app.document().IsAllSessions(state.session.mSessionIndex);
    s.exact = state.config.flags.gIsExactOn;
    s.sync = state.config.flags.gIsSyncOn;
    s.moveToTrash = state.config.flags.gIsMoveToTrash;
    s.expanded = app.preferences().mPrefDict.intAt("prefPreviewExpanded") != 0;
    s.describe = [&app](const std::string& path) { return app.DescribePreviewSide(path); };
    s.framesFile = platform::JoinPath(app.paths().pathFolderPref, "windows.ini");
    const std::int64_t session = state.session.mSessionIndex;
    s.showVersions = [&app, session](const std::string& path, QWidget* over) {
        OpenVersionsWindow(app, over, session, path, true);
    };
    return s;
}

PreviewWindow::PreviewWindow(run::RunState& state, PreviewSettings settings, QWidget* parent)
    : QDialog(parent),
      settings_(std::move(settings)),
      model_(std::make_unique<engine::PreviewModel>(state)) {
    setObjectName(QStringLiteral("previewWindow"));
    setWindowTitle(
        Str(engine::PreviewTitle(settings_.allSessions, settings_.exact, settings_.sync)));
    setSizeGripEnabled(true);
    BuildWindow();
    resize(960, 680);
    if (!settings_.framesFile.empty()) {
        QSettings frames(Path(settings_.framesFile), QSettings::IniFormat);
        restoreGeometry(frames.value(QLatin1String(kFrameKey)).toByteArray());
    }
    RefreshInfoFileBoxes();
    RefreshTotals();
    if (settings_.expanded) {
        // Opened a slice at a time from the event loop: the window shows at once, however
        // large the plan, and fills in while the user looks at its first rows.
        for (std::size_t i = model_->totRootItems(); i-- > 0;) {
            toExpand_.push_back(&model_->rootItem(i));
        }
        expandTimer_.setInterval(0);
        connect(&expandTimer_, &QTimer::timeout, this, &PreviewWindow::ExpandSomeMore);
        expandTimer_.start();
    }
}

PreviewWindow::~PreviewWindow() {
    expandTimer_.stop();
    // The view lets go of the rows before the nodes under them go.
    tree_->setModel(nullptr);
}

void PreviewWindow::BuildWindow() {
    auto* column = new QVBoxLayout(this);

    auto* toolbar = new QToolBar(this);
    toolbar->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
    for (const SearchButton& b : SearchButtons(settings_.moveToTrash)) {
        QAction* action = toolbar->addAction(NamedIcon(b.icon), Str(b.label));
        action->setToolTip(Str(b.tip));
        action->setData(b.tag);
        connect(action, &QAction::triggered, this, [this, tag = b.tag] {
            // Alt or Shift searches backward: some window managers keep Alt-clicks.
            const Qt::KeyboardModifiers keys = QApplication::keyboardModifiers();
            SearchNextOrPreviousItem(tag, keys & (Qt::AltModifier | Qt::ShiftModifier));
        });
    }
    auto* spacer = new QWidget(toolbar);
    spacer->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Preferred);
    toolbar->addWidget(spacer);
    stop_ = new QPushButton(Str(GLS("Stop")), toolbar);
    stop_->setObjectName(QStringLiteral("stopButton"));
    continue_ = new QPushButton(Str(GLS("Continue")), toolbar);
    continue_->setObjectName(QStringLiteral("continueButton"));
    continue_->setDefault(true);
    toolbar->addWidget(stop_);
    toolbar->addWidget(continue_);
    connect(stop_, &QPushButton::clicked, this, &PreviewWindow::StopPreview);
    connect(continue_, &QPushButton::clicked, this, &PreviewWindow::ContinuePreview);
    column->addWidget(toolbar);

    items_ = new PreviewItemModel(*model_, settings_.moveToTrash, this);
    tree_ = new QTreeView(this);
    tree_->setObjectName(QStringLiteral("previewOutline"));
    tree_->setUniformRowHeights(true);  // rows are not measured one by one
    tree_->setSelectionMode(QAbstractItemView::SingleSelection);
    tree_->setSelectionBehavior(QAbstractItemView::SelectRows);
    tree_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    tree_->setAllColumnsShowFocus(true);
    tree_->setModel(items_);
    tree_->setItemDelegate(new PreviewDelegate(tree_, items_));
    QHeaderView* header = tree_->header();
    header->setStretchLastSection(false);
    header->setSectionResizeMode(PreviewItemModel::kSourceColumn, QHeaderView::Stretch);
    header->setSectionResizeMode(PreviewItemModel::kModeColumn, QHeaderView::Fixed);
    header->setSectionResizeMode(PreviewItemModel::kDestColumn, QHeaderView::Stretch);
    header->resizeSection(PreviewItemModel::kModeColumn, 48);
    tree_->viewport()->installEventFilter(this);
    connect(tree_->selectionModel(), &QItemSelectionModel::selectionChanged, this,
            &PreviewWindow::RefreshInfoFileBoxes);
    // The clicks on a row, also as keys and in its right-click menu.
    auto onSelected = [this](int column, Qt::KeyboardModifiers modifiers) {
        return [this, column, modifiers] {
            const QModelIndexList rows = tree_->selectionModel()->selectedRows(column);
            if (!rows.isEmpty()) ClickTheRow(rows.front(), modifiers);
        };
    };
    AddInPlaceAction(tree_, InPlace::kPreviewSkip,
                     onSelected(PreviewItemModel::kModeColumn, Qt::NoModifier));
    AddInPlaceAction(tree_, InPlace::kPreviewTurn,
                     onSelected(PreviewItemModel::kModeColumn, Qt::AltModifier));
    AddInPlaceAction(tree_, InPlace::kPreviewShowSource,
                     onSelected(PreviewItemModel::kSourceColumn, Qt::ControlModifier));
    AddInPlaceAction(tree_, InPlace::kPreviewShowDestination,
                     onSelected(PreviewItemModel::kDestColumn, Qt::ControlModifier));
    tree_->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(tree_, &QWidget::customContextMenuRequested, this, &PreviewWindow::ShowRowMenu);
    column->addWidget(tree_, 1);

    auto* bottom = new QHBoxLayout;
    auto* sides = new QHBoxLayout;
    sides->addWidget(BuildSideBox(true), 1);
    sides->addWidget(BuildSideBox(false), 1);
    bottom->addLayout(sides, 1);
    bottom->addWidget(BuildTotalsBox());
    column->addLayout(bottom);
}

QWidget* PreviewWindow::BuildSideBox(bool source) {
    SideBox& s = source ? sideA_ : sideB_;
    s.box = new QGroupBox(Str(source ? GLS("Source") : GLS("Destination")), this);
    auto* grid = new QGridLayout(s.box);
    const std::string names[kFieldCount] = {GLS("Name:"),        GLS("Modified:"),
                                            GLS("Backup date:"), GLS("Attributes modified:"),
                                            GLS("Size:"),        GLS("Path:")};
    for (int f = 0; f < kFieldCount; ++f) {
        auto* name = new QLabel(Str(names[f]), s.box);
        name->setAlignment(Qt::AlignRight | Qt::AlignTop);
        s.fields[f] = new QLabel(s.box);
        s.fields[f]->setTextInteractionFlags(Qt::TextSelectableByMouse);
        s.fields[f]->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
        grid->addWidget(name, f, 0);
        grid->addWidget(s.fields[f], f, 1);
    }
    grid->setColumnStretch(1, 1);
    s.open = new QPushButton(Str(GLS("Open")), s.box);
    s.reveal = new QPushButton(NamedIcon("icn_reveal"), Str(GLS("Reveal")), s.box);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(s.open);
    buttons->addWidget(s.reveal);
    grid->addLayout(buttons, kFieldCount, 0, 1, 2);
    connect(s.open, &QPushButton::clicked, this, [this, source] { OpenFile(source); });
    connect(s.reveal, &QPushButton::clicked, this, [this, source] { RevealInFinder(source); });
    return s.box;
}

QWidget* PreviewWindow::BuildTotalsBox() {
    auto* box = new QGroupBox(Str(GLS("Totals")), this);
    auto* grid = new QGridLayout(box);
    const bool trash = settings_.moveToTrash;
    const struct {
        const char* icon;
        std::string label;
    } rows[kTotalRows] = {
        {"icnPreviewNothing", GLS("Existing folders:")},
        {"icnPreviewSkip", GLS("Skipped:")},
        {trash ? "icnPreviewTrash" : "icnPreviewDelete",
         trash ? GLS("To move to the trash:") : GLS("To delete:")},
        {"icnPreviewViolet", GLS("Copies A to B:")},
        {"icnPreviewOrange", GLS("Copies B to A:")},
        {"icnPreviewAccessAB", GLS("Attributes A to B:")},
        {"icnPreviewAccessBA", GLS("Attributes B to A:")},
        {nullptr, GLS("Total:")},
        {nullptr, GLS("Content to copy:")},
    };
    for (int r = 0; r < kTotalRows; ++r) {
        auto* image = new QLabel(box);
        if (rows[r].icon != nullptr) image->setPixmap(NamedIcon(rows[r].icon).pixmap(16, 16));
        if (r == 2 && trash) image->setToolTip(Str(GLS("These files will be moved to the trash")));
        totals_[r] = new QLabel(box);
        totals_[r]->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
        grid->addWidget(image, r, 0);
        grid->addWidget(new QLabel(Str(rows[r].label), box), r, 1);
        grid->addWidget(totals_[r], r, 2);
    }
    return box;
}

void PreviewWindow::done(int code) {
    expandTimer_.stop();
    if (!settings_.framesFile.empty()) {
        QSettings frames(Path(settings_.framesFile), QSettings::IniFormat);
        frames.setValue(QLatin1String(kFrameKey), saveGeometry());
        frames.sync();
        platform::GiveCreatedItem(settings_.framesFile);  // as root: the user's file still
    }
    QDialog::done(code);
}

bool PreviewWindow::eventFilter(QObject* watched, QEvent* event) {
    if (watched == tree_->viewport()) {
        // A double click acts as its first click did: its second release would switch the row
        // back. The tree still gets the double click (it opens or closes a folder).
        if (event->type() == QEvent::MouseButtonDblClick) swallowRelease_ = true;
        if (event->type() == QEvent::MouseButtonRelease) {
            auto* mouse = static_cast<QMouseEvent*>(event);
            if (mouse->button() == Qt::LeftButton && !std::exchange(swallowRelease_, false)) {
                ClickTheRow(tree_->indexAt(mouse->position().toPoint()), mouse->modifiers());
            }
        }
    }
    return QDialog::eventFilter(watched, event);
}

void PreviewWindow::ClickTheRow(const QModelIndex& index, Qt::KeyboardModifiers modifiers) {
    PreviewNode* node = items_->NodeAt(index);
    if (node == nullptr) {
        tree_->selectionModel()->clear();
        return;
    }
    if (index.column() == PreviewItemModel::kModeColumn) {
        if (modifiers & Qt::AltModifier) {
            if (!model_->ChangeCopyModeDirection(*node)) {
                QApplication::beep();
                return;
            }
        } else {
            model_->ToggleSkip(*node);
        }
        items_->NodeChanged(*node);
        RefreshTotals();
        tree_->selectionModel()->setCurrentIndex(
            items_->IndexOf(node), QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
        return;
    }
    if (modifiers & Qt::ControlModifier) {
        const std::string path =
            index.column() == PreviewItemModel::kSourceColumn ? node->source() : node->dest();
        if (platform::ItemExists(path)) {
            RevealItem(path, this);
        } else {
            QApplication::beep();
        }
    }
}

bool PreviewWindow::SearchNextOrPreviousItem(int tag, bool backward) {
    const std::optional<engine::PreviewKind> kind = engine::PreviewKindNamed(std::to_string(tag));
    if (!kind) return false;
    PreviewNode* found = model_->SearchNextOrPreviousItem(SelectedNode(), *kind, backward);
    if (found == nullptr) return false;
    // The folders around it are opened from the outside in.
    std::vector<const PreviewNode*> parents;
    for (const PreviewNode* p = found->parent(); p != nullptr; p = p->parent()) {
        parents.push_back(p);
    }
    for (auto p = parents.rbegin(); p != parents.rend(); ++p) tree_->expand(items_->IndexOf(*p));
    const QModelIndex index = items_->IndexOf(found);
    tree_->selectionModel()->setCurrentIndex(
        index, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    tree_->scrollTo(index);
    return true;
}

void PreviewWindow::ShowRowMenu(const QPoint& at) {
    const QModelIndex index = tree_->indexAt(at);
    PreviewNode* node = items_->NodeAt(index);
    if (node == nullptr) return;
    tree_->selectionModel()->setCurrentIndex(
        index, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    auto* menu = new QMenu(tree_);
    menu->setObjectName(QStringLiteral("ContextRow"));
    menu->setAttribute(Qt::WA_DeleteOnClose);
    for (QAction* action : tree_->actions()) {
        const auto id = static_cast<InPlace>(action->data().toInt());
        // Only what can be done to this row is offered.
        if (id == InPlace::kPreviewTurn)
            action->setEnabled(engine::PreviewModel::IsTurnable(*node));
        if (id == InPlace::kPreviewShowSource) {
            action->setEnabled(platform::ItemExists(node->source()));
        }
        if (id == InPlace::kPreviewShowDestination) {
            action->setEnabled(platform::ItemExists(node->dest()));
        }
        menu->addAction(action);
    }
    if (settings_.showVersions) {
        menu->addSeparator();
        QAction* versions = menu->addAction(Str(GLS("Versions of This Item…")));
        versions->setObjectName(QStringLiteral("versionsOfItem"));
        const std::string path = node->source().empty() ? node->dest() : node->source();
        connect(versions, &QAction::triggered, this,
                [this, path] { settings_.showVersions(path, this); });
    }
    rowMenu_ = menu;
    connect(menu, &QMenu::aboutToHide, this, [this] {
        // The keys work whatever the menu last offered; the commands themselves refuse.
        for (QAction* action : tree_->actions()) action->setEnabled(true);
    });
    menu->popup(tree_->viewport()->mapToGlobal(at));
}

PreviewNode* PreviewWindow::SelectedNode() const {
    const QModelIndexList rows = tree_->selectionModel()->selectedRows();
    return rows.isEmpty() ? nullptr : items_->NodeAt(rows.front());
}

std::string PreviewWindow::SidePath(bool source) const {
    const PreviewNode* node = SelectedNode();
    if (node == nullptr) return {};
    return source ? node->source() : node->dest();
}

void PreviewWindow::RefreshInfoFileBoxes() {
    const bool selected = SelectedNode() != nullptr;
    for (bool source : {true, false}) {
        engine::PreviewSideInfo info;
        if (selected && settings_.describe) info = settings_.describe(SidePath(source));
        const SideBox& s = side(source);
        s.fields[kName]->setText(Path(info.name));
        s.fields[kModified]->setText(Str(info.modificationDate));
        s.fields[kBackup]->setText(Str(info.backupDate));
        s.fields[kAttributes]->setText(Str(info.attributeDate));
        s.fields[kSize]->setText(Str(info.size));
        s.fields[kPath]->setText(Path(info.path));
        s.fields[kPath]->setToolTip(info.exists ? Path(info.path) : QString());
        s.open->setEnabled(info.exists);
        s.reveal->setEnabled(info.exists);
    }
}

void PreviewWindow::RefreshTotals() {
    const engine::PreviewTotals t = model_->totals();
    const std::int64_t values[8] = {t.foldersToDescend, t.skipped,  t.toDelete, t.atoB, t.btoA,
                                    t.attrAtoB,         t.attrBtoA, t.total};
    for (int r = 0; r < 8; ++r) totals_[r]->setText(QLocale().toString(values[r]));
    totals_[8]->setText(Str(SizeText(t.bytes)));
}

bool PreviewWindow::RowSelected() {
    if (SelectedNode() != nullptr) return true;
    alert_ =
        new QMessageBox(QMessageBox::Warning, Str(GLS("Item not selected:")),
                        Str(GLS("Please firstly select a row in the list")), QMessageBox::Ok, this);
    alert_->button(QMessageBox::Ok)->setText(Str(GLS("OK")));
    alert_->setAttribute(Qt::WA_DeleteOnClose);
    alert_->open();
    return false;
}

void PreviewWindow::OpenFile(bool source) {
    if (!RowSelected()) return;
    const std::string path = SidePath(source);
    if (!platform::ItemExists(path)) {
        QApplication::beep();
        return;
    }
    OpenWithDesktop(path, this);
}

void PreviewWindow::RevealInFinder(bool source) {
    if (!RowSelected()) return;
    const std::string path = SidePath(source);
    if (!platform::ItemExists(path)) {
        QApplication::beep();
        return;
    }
    RevealItem(path, this);
}

void PreviewWindow::ExpandSomeMore() {
    QElapsedTimer slice;
    slice.start();
    while (!toExpand_.empty() && slice.elapsed() < kExpandSliceMs) {
        PreviewNode* node = toExpand_.back();
        toExpand_.pop_back();
        tree_->expand(items_->IndexOf(node));
        // Opened from the top down: each row the view adds then goes near the end of its list.
        for (std::size_t i = static_cast<std::size_t>(node->numberOfChildren()); i-- > 0;) {
            PreviewNode& child = node->childAt(i);
            if (child.numberOfChildren() > 0) toExpand_.push_back(&child);
        }
    }
    if (toExpand_.empty()) expandTimer_.stop();
}

}  // namespace qv::ui
