#include "ui/versions_window.h"

#include <QComboBox>
#include <QFileDialog>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QStackedWidget>
#include <QThread>
#include <QTreeWidget>
#include <QTreeWidgetItemIterator>
#include <QVBoxLayout>
#include <climits>
#include <memory>

#include "app/main_app.h"
#include "app/session_versions.h"
#include "platform/file_io.h"
#include "platform/file_system.h"
#include "platform/localization.h"
#include "ui/qt_text.h"
#include "ui/size_display.h"

namespace qv::ui {

using platform::GLS;

namespace {

constexpr int kVersionRole = Qt::UserRole;  // the index of a row's version, -1 for a folder
enum Column { kNameColumn, kSizeColumn, kSideColumn };
enum Detail { kItem, kKeptAt, kSize, kSide, kKeptIn };

// The path with its folder's links resolved, as the pairs' tops are; the item itself may be
// gone.
std::string ResolvedPath(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    std::string folder = slash == 0 ? "/" : path.substr(0, slash);
    char real[PATH_MAX];
    if (platform::sys().realpath(folder.c_str(), real) != nullptr) folder = real;
    return platform::JoinPath(folder, path.substr(slash + 1));
}

bool LiesIn(const std::vector<fileops::VersionPair>& pairs, const std::string& path) {
    if (path.empty() || path.front() != '/') return false;
    const std::string resolved = ResolvedPath(path);
    for (const fileops::VersionPair& pair : pairs) {
        for (const std::string* top : {&pair.a, &pair.b}) {
            if (top->empty()) continue;
            if (resolved == *top || *top == "/" ||
                resolved.compare(0, top->size() + 1, *top + "/") == 0) {
                return true;
            }
        }
    }
    return false;
}

// "A", "B"; "A2", "B2"... for the later rows of a multiple list.
std::string SideName(const fileops::VersionInfo& v) {
    return (v.onB ? "B" : "A") + (v.pair > 0 ? std::to_string(v.pair + 1) : std::string());
}

std::string TopOf(const std::vector<fileops::VersionPair>& pairs, const fileops::VersionInfo& v) {
    if (v.pair >= pairs.size()) return {};
    return v.onB ? pairs[v.pair].b : pairs[v.pair].a;
}

// "2026-12-07 18:12:00" for the stamp "2026-12-07 181200"; "(2)" follows a second version of
// the same second.
QString StampText(const std::string& stamp) {
    if (stamp.size() < 17 || stamp[10] != ' ') return Str(stamp);
    std::string text = stamp.substr(0, 13) + ":" + stamp.substr(13, 2) + ":" + stamp.substr(15, 2);
    if (stamp.size() > 18 && stamp[17] == '-') text += " (" + stamp.substr(18) + ")";
    return Str(text);
}

std::string JoinLines(const std::vector<std::string>& lines) {
    std::string text;
    for (const std::string& line : lines) text += (text.empty() ? "" : "\n") + line;
    return text;
}

void DefaultFolderChooser(QWidget* parent, const std::string& start,
                          std::function<void(const std::string&)> chosen) {
    auto* dialog = new QFileDialog(parent, Str(GLS("Choose the folder to restore into")));
    dialog->setObjectName(QStringLiteral("restoreToFolder"));
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->setOption(QFileDialog::DontUseNativeDialog);
    dialog->setOption(QFileDialog::DontResolveSymlinks);
    dialog->setFileMode(QFileDialog::Directory);
    dialog->setLabelText(QFileDialog::Accept, Str(GLS("Choose")));
    dialog->setDirectory(platform::IsExistingFolder(start) ? Path(start) : QDir::homePath());
    QObject::connect(dialog, &QFileDialog::fileSelected, parent,
                     [chosen](const QString& path) { chosen(PathBytes(path)); });
    dialog->open();
}

}  // namespace

std::optional<std::int64_t> SessionHoldingPath(const sessions::SessionDocument& document,
                                               const std::string& path, std::int64_t preferred) {
    std::vector<std::int64_t> order{preferred};
    for (std::int64_t i = 0; i < document.SessionCount(); ++i) {
        if (i != preferred) order.push_back(i);
    }
    for (const std::int64_t i : order) {
        const plist::Value* session = document.GetSessionDict(i);
        if (i < document.SessionCount() && session != nullptr &&
            LiesIn(app::VersionPairsOf(*session), path)) {
            return i;
        }
    }
    return std::nullopt;
}

VersionsWindow* OpenVersionsWindow(app::MainApp& app, QWidget* owner, std::int64_t session,
                                   const std::string& path, bool runGoingOn) {
    auto* window = owner->findChild<VersionsWindow*>(QString(), Qt::FindDirectChildrenOnly);
    if (window == nullptr) window = new VersionsWindow(app, owner);
    const std::optional<std::int64_t> holder =
        path.empty() ? std::nullopt : SessionHoldingPath(app.document(), path, session);
    window->setRunGoingOn(runGoingOn);
    window->ShowSession(holder.value_or(session), holder ? path : std::string());
    window->show();
    window->raise();
    window->activateWindow();
    return window;
}

VersionsWindow::VersionsWindow(app::MainApp& app, QWidget* parent)
    : QWidget(parent, Qt::Window), app_(app) {
    setObjectName(QStringLiteral("versionsWindow"));
    setWindowTitle(Str(GLS("Versions")));
    chooseFolder_ = [this](const std::string& start,
                           std::function<void(const std::string&)> chosen) {
        DefaultFolderChooser(this, start, std::move(chosen));
    };
    BuildWindow();
    resize(760, 520);
}

VersionsWindow::~VersionsWindow() {
    // The thread works on copies: it is only waited for.
    if (worker_ != nullptr) {
        worker_->wait();
        delete worker_;
    }
}

void VersionsWindow::BuildWindow() {
    auto* column = new QVBoxLayout(this);
    auto* top = new QHBoxLayout;
    top->addWidget(new QLabel(Str(GLS("Session:")), this));
    sessions_ = new QComboBox(this);
    sessions_->setSizeAdjustPolicy(QComboBox::AdjustToContents);
    top->addWidget(sessions_);
    scope_ = new QLabel(this);
    scope_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    top->addWidget(scope_, 1);
    showAll_ = new QPushButton(Str(GLS("Show All")), this);
    top->addWidget(showAll_);
    column->addLayout(top);

    pages_ = new QStackedWidget(this);
    tree_ = new QTreeWidget(pages_);
    tree_->setObjectName(QStringLiteral("versionsTree"));
    tree_->setHeaderLabels({Str(GLS("Name")), Str(GLS("Size")), Str(GLS("Side"))});
    tree_->header()->setSectionResizeMode(kNameColumn, QHeaderView::Stretch);
    tree_->header()->setStretchLastSection(false);
    tree_->setUniformRowHeights(true);
    pages_->addWidget(tree_);
    note_ = new QLabel(pages_);
    note_->setObjectName(QStringLiteral("versionsNote"));
    note_->setAlignment(Qt::AlignCenter);
    note_->setWordWrap(true);
    note_->setMargin(24);
    pages_->addWidget(note_);
    column->addWidget(pages_, 1);
    errors_ = new QLabel(this);
    errors_->setWordWrap(true);
    errors_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    errors_->hide();
    column->addWidget(errors_);
    column->addWidget(BuildDetails());

    auto* buttons = new QHBoxLayout;
    refresh_ = new QPushButton(Str(GLS("Refresh")), this);
    refresh_->setShortcut(QKeySequence::Refresh);
    buttons->addWidget(refresh_);
    buttons->addStretch(1);
    restoreTo_ = new QPushButton(Str(GLS("Restore To…")), this);
    restore_ = new QPushButton(Str(GLS("Restore")), this);
    restore_->setDefault(true);
    buttons->addWidget(restoreTo_);
    buttons->addWidget(restore_);
    column->addLayout(buttons);

    connect(sessions_, &QComboBox::activated, this,
            [this](int entry) { ShowSession(sessions_->itemData(entry).toLongLong()); });
    connect(showAll_, &QPushButton::clicked, this, [this] { ShowSession(session_); });
    connect(refresh_, &QPushButton::clicked, this, &VersionsWindow::Refresh);
    connect(tree_, &QTreeWidget::itemSelectionChanged, this, &VersionsWindow::ShowSelection);
    connect(restore_, &QPushButton::clicked, this, [this] { AskRestore(std::nullopt); });
    connect(restoreTo_, &QPushButton::clicked, this, [this] {
        const fileops::VersionInfo* v = Selected();
        if (v == nullptr) return;
        chooseFolder_(platform::ParentFolder(TopOf(listing_.pairs, *v)),
                      [this](const std::string& folder) { AskRestore(folder); });
    });
}

QWidget* VersionsWindow::BuildDetails() {
    auto* box = new QGroupBox(Str(GLS("Version")), this);
    auto* form = new QFormLayout(box);
    form->setFieldGrowthPolicy(QFormLayout::AllNonFixedFieldsGrow);
    const char* titles[kDetailLines] = {"Item:", "Kept at:", "Size:", "Side:", "Kept in:"};
    for (int line = 0; line < kDetailLines; ++line) {
        details_[line] = new QLabel(box);
        details_[line]->setTextInteractionFlags(Qt::TextSelectableByMouse);
        details_[line]->setWordWrap(true);
        form->addRow(Str(GLS(titles[line])), details_[line]);
    }
    return box;
}

void VersionsWindow::ShowSession(std::int64_t index, const std::string& path) {
    const sessions::SessionDocument& doc = app_.document();
    session_ = index >= 0 && index < doc.SessionCount() ? index : 0;
    path_ = path;
    ++shown_;  // a listing still being made for what was shown before is dropped
    FillSessionPopUp(session_);
    listing_ = {};
    tree_->clear();
    Refresh();
}

void VersionsWindow::FillSessionPopUp(std::int64_t index) {
    const sessions::SessionDocument& doc = app_.document();
    sessions_->clear();
    for (std::int64_t i = 0; i < doc.SessionCount(); ++i) {
        sessions_->addItem(Str(doc.GetSessionName(i)), QVariant::fromValue<qlonglong>(i));
    }
    sessions_->setCurrentIndex(static_cast<int>(index));
}

void VersionsWindow::setRunGoingOn(bool on) {
    runGoingOn_ = on;
    SyncButtons();
}

template <typename Result>
void VersionsWindow::InBackground(std::function<Result()> work, std::function<void(Result)> then) {
    auto result = std::make_shared<Result>();
    worker_ = QThread::create([work = std::move(work), result] { *result = work(); });
    connect(worker_, &QThread::finished, this, [this, result, then = std::move(then)] {
        worker_->wait();
        worker_->deleteLater();
        worker_ = nullptr;
        then(std::move(*result));
        SyncButtons();
    });
    worker_->start();
    SyncButtons();
}

void VersionsWindow::Refresh() {
    if (worker_ != nullptr) {
        refreshAgain_ = true;
        return;
    }
    const plist::Value* session = app_.document().GetSessionDict(session_);
    shownSession_ = session != nullptr ? *session : plist::Value();
    // The session as it is now, copied: the thread reads the folders only.
    InBackground<Listing>(
        [session = shownSession_, path = path_] {
            Listing l;
            l.pairs = app::VersionPairsOf(session);
            l.settings = app::VersionsSettingsOfSession(session);
            l.relative = path.empty() ? "" : app::RelativeVersionPath(l.pairs, path);
            l.versions = fileops::ListVersions(l.pairs, l.settings, l.relative, &l.errors);
            return l;
        },
        [this, shown = shown_](Listing listing) {
            if (shown == shown_) ShowListing(std::move(listing));
            if (refreshAgain_) {
                refreshAgain_ = false;
                Refresh();
            }
        });
}

void VersionsWindow::ShowListing(Listing listing) {
    // The selection is kept across a refresh.
    const fileops::VersionInfo* was = Selected();
    const std::optional<fileops::VersionInfo> selected =
        was ? std::optional<fileops::VersionInfo>(*was) : std::nullopt;
    listing_ = std::move(listing);
    tree_->clear();
    nodes_.clear();
    scope_->setText(listing_.relative.empty() ? QString() : Path(listing_.relative));
    showAll_->setVisible(!listing_.relative.empty());
    for (std::size_t i = 0; i < listing_.versions.size(); ++i) {
        const fileops::VersionInfo& v = listing_.versions[i];
        auto* row = new QTreeWidgetItem(NodeFor(v));
        row->setIcon(kNameColumn, NamedIcon("icnOptTimers"));
        row->setText(kNameColumn, StampText(v.stamp));
        row->setText(kSizeColumn, Str(SizeText(v.size)));
        row->setTextAlignment(kSizeColumn, Qt::AlignRight | Qt::AlignVCenter);
        row->setText(kSideColumn, Str(SideName(v)));
        row->setToolTip(kSideColumn, Path(TopOf(listing_.pairs, v)));
        row->setData(kNameColumn, kVersionRole, static_cast<int>(i));
    }
    nodes_.clear();
    tree_->expandAll();
    tree_->resizeColumnToContents(kSizeColumn);
    tree_->resizeColumnToContents(kSideColumn);
    if (listing_.versions.empty()) {
        if (!listing_.settings.on) {
            note_->setText(
                Str(GLS("This session keeps no versions. Turn on \"Keep versions of replaced and "
                        "deleted items\" in its settings.")));
        } else if (!listing_.relative.empty()) {
            note_->setText(
                Str(platform::FormatText(GLS("No version of %@ was kept."), {listing_.relative})));
        } else {
            note_->setText(Str(GLS("No versions were kept yet.")));
        }
    }
    pages_->setCurrentWidget(listing_.versions.empty() ? static_cast<QWidget*>(note_) : tree_);
    errors_->setText(Str(JoinLines(listing_.errors)));
    errors_->setVisible(!listing_.errors.empty());
    if (!selected || !SelectVersion(selected->relativePath, selected->stamp)) ShowSelection();
}

QTreeWidgetItem* VersionsWindow::NodeFor(const fileops::VersionInfo& v) {
    // The folders of the path, then the item: one node each, under its pair's when the session
    // has a multiple list of several pairs.
    std::string key = std::to_string(v.pair) + ":";
    QTreeWidgetItem* parent = nullptr;
    if (listing_.pairs.size() > 1) {
        auto& pairNode = nodes_[key];
        if (pairNode == nullptr) {
            const fileops::VersionPair& pair = listing_.pairs[v.pair];
            pairNode = new QTreeWidgetItem(tree_);
            pairNode->setText(kNameColumn, Path(pair.a) + QStringLiteral("  ↔  ") + Path(pair.b));
            pairNode->setIcon(kNameColumn, NamedIcon("icnOptMultiple"));
            pairNode->setData(kNameColumn, kVersionRole, -1);
        }
        parent = pairNode;
    }
    std::size_t start = 0;
    while (start <= v.relativePath.size()) {
        const std::size_t slash = std::min(v.relativePath.find('/', start), v.relativePath.size());
        const std::string name = v.relativePath.substr(start, slash - start);
        key += "/" + name;
        auto& node = nodes_[key];
        if (node == nullptr) {
            node = parent ? new QTreeWidgetItem(parent) : new QTreeWidgetItem(tree_);
            node->setText(kNameColumn, Path(name));
            const bool folder = slash < v.relativePath.size() || v.isFolder;
            node->setIcon(kNameColumn, NamedIcon(folder ? "icn_folder" : "icn_file"));
            node->setData(kNameColumn, kVersionRole, -1);
        }
        parent = node;
        start = slash + 1;
    }
    return parent;
}

const fileops::VersionInfo* VersionsWindow::Selected() const {
    const QList<QTreeWidgetItem*> rows = tree_->selectedItems();
    if (rows.isEmpty()) return nullptr;
    const int i = rows.front()->data(kNameColumn, kVersionRole).toInt();
    if (i < 0 || static_cast<std::size_t>(i) >= listing_.versions.size()) return nullptr;
    return &listing_.versions[static_cast<std::size_t>(i)];
}

bool VersionsWindow::SelectVersion(const std::string& relativePath, const std::string& stamp) {
    for (QTreeWidgetItemIterator it(tree_); *it != nullptr; ++it) {
        const int i = (*it)->data(kNameColumn, kVersionRole).toInt();
        if (i < 0) continue;
        const fileops::VersionInfo& v = listing_.versions[static_cast<std::size_t>(i)];
        if (v.relativePath == relativePath && v.stamp == stamp) {
            tree_->setCurrentItem(*it);
            tree_->scrollToItem(*it);
            return true;
        }
    }
    return false;
}

void VersionsWindow::ShowSelection() {
    const fileops::VersionInfo* v = Selected();
    QString lines[kDetailLines];
    if (v != nullptr) {
        const std::string top = TopOf(listing_.pairs, *v);
        lines[kItem] = Path(platform::JoinPath(top, v->relativePath));
        lines[kKeptAt] = StampText(v->stamp);
        lines[kSize] = Str(SizeText(v->size));
        lines[kSide] = Str(SideName(*v)) + QStringLiteral(": ") + Path(top);
        lines[kKeptIn] = Path(v->versionPath);
    }
    for (int line = 0; line < kDetailLines; ++line) details_[line]->setText(lines[line]);
    SyncButtons();
}

void VersionsWindow::SyncButtons() {
    const bool busy = worker_ != nullptr;
    const bool can = Selected() != nullptr && !busy && !runGoingOn_;
    restore_->setEnabled(can);
    restoreTo_->setEnabled(can);
    const QString why =
        runGoingOn_ ? Str(GLS("A run is under way; restore once it has ended.")) : QString();
    restore_->setToolTip(why);
    restoreTo_->setToolTip(why);
    refresh_->setEnabled(!busy);
    sessions_->setEnabled(!busy);
    showAll_->setEnabled(!busy);
}

void VersionsWindow::AskRestore(const std::optional<std::string>& toFolder) {
    const fileops::VersionInfo* selected = Selected();
    if (selected == nullptr || alert_ || worker_ != nullptr || runGoingOn_) return;
    const fileops::VersionInfo version = *selected;
    const std::string at = StampText(version.stamp).toStdString();
    const std::string what =
        toFolder ? platform::FormatText(GLS("Restore the version of %@ kept at %@ into %@?"),
                                        {version.relativePath, at, *toFolder})
                 : platform::FormatText(GLS("Restore the version of %@ kept at %@?"),
                                        {version.relativePath, at});
    auto* box = new QMessageBox(QMessageBox::Question, Str(GLS("Restore")), Path(what),
                                QMessageBox::NoButton, this);
    box->setObjectName(QStringLiteral("restoreQuestion"));
    box->setInformativeText(Str(
        toFolder ? GLS("It goes into that folder under its own name; nothing standing there is "
                       "overwritten.")
                 : GLS("It is put back on both sides of its folder pair; an item standing there "
                       "is first kept as a version itself.")));
    QPushButton* yes = box->addButton(Str(GLS("Restore")), QMessageBox::AcceptRole);
    box->addButton(Str(GLS("Cancel")), QMessageBox::RejectRole);
    box->setDefaultButton(yes);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setWindowModality(Qt::WindowModal);
    connect(box, &QMessageBox::finished, this, [this, box, yes, version, toFolder] {
        if (box->clickedButton() == yes) PerformRestore(version, toFolder);
    });
    alert_ = box;
    box->open();
}

void VersionsWindow::PerformRestore(const fileops::VersionInfo& version,
                                    const std::optional<std::string>& toFolder) {
    if (worker_ != nullptr || runGoingOn_) return;
    app::MainApp* app = &app_;
    InBackground<Restored>(
        [app, session = shownSession_, version, toFolder] {
            Restored r;
            r.ok = app::RestoreSessionVersion(*app, session, version, toFolder, &r.done, &r.why);
            return r;
        },
        [this](Restored result) {
            TellRestored(result);
            Refresh();
        });
}

void VersionsWindow::TellRestored(const Restored& result) {
    std::vector<std::string> lines = result.done;
    if (!result.ok) lines.insert(lines.begin(), result.why);
    auto* box = new QMessageBox(result.ok ? QMessageBox::Information : QMessageBox::Warning,
                                Str(result.ok ? GLS("Restore") : GLS("Warning:")),
                                Str(result.ok ? GLS("The version was restored.")
                                              : GLS("The version could not be restored.")),
                                QMessageBox::Ok, this);
    box->setObjectName(QStringLiteral("restoreReport"));
    box->setInformativeText(Lines(JoinLines(lines)));
    box->button(QMessageBox::Ok)->setText(Str(GLS("OK")));
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setWindowModality(Qt::WindowModal);
    alert_ = box;
    box->open();
}

}  // namespace qv::ui
