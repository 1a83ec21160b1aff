#include "ui/scripts_panel.h"

#include <QFontDatabase>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QTextBlock>
#include <QVBoxLayout>

#include "platform/localization.h"
#include "platform/privileges.h"
#include "ui/error_alert.h"
#include "ui/qt_text.h"

namespace qv::ui {

using platform::GLS;
using sessions::ScriptWhen;

namespace {

ScriptWhen WhenOf(int which) { return which == 0 ? ScriptWhen::kBefore : ScriptWhen::kAfter; }

}  // namespace

ScriptsPanel::ScriptsPanel(const sessions::SessionDocument& document, QWidget* parent,
                           platform::ChildRunner& runner)
    : OptionPanel("appleScript", "appleScriptDict", parent), document_(document), runner_(runner) {
    auto* outer = new QVBoxLayout(this);
    outer->setContentsMargins(4, 0, 4, 0);
    const char* titles[] = {"Run this shell script before the session",
                            "Run this shell script after the session"};
    const char* names[] = {"asStartOn", "asEndOn"};
    const QFont fixed = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    for (int which = 0; which < 2; ++which) {
        Row& row = rows_[which];
        auto* head = new QHBoxLayout;
        row.on = new QCheckBox(Str(GLS(titles[which])), this);
        row.on->setObjectName(QLatin1String(names[which]));
        row.tryButton = new QPushButton(Str(GLS("Try")), this);
        row.tryButton->setObjectName(QLatin1String(which == 0 ? "tryBefore" : "tryAfter"));
        row.tryButton->setToolTip(Str(GLS("Run the script now, as a run would")));
        head->addWidget(row.on);
        head->addStretch(1);
        head->addWidget(row.tryButton);
        outer->addLayout(head);
        row.text = new QPlainTextEdit(this);
        row.text->setObjectName(QLatin1String(which == 0 ? "asStartText" : "asEndText"));
        row.text->setFont(fixed);
        row.text->setLineWrapMode(QPlainTextEdit::NoWrap);
        row.text->setTabChangesFocus(true);
        outer->addWidget(row.text, 1);
        connect(row.on, &QCheckBox::toggled, this, [this] {
            emit iconOnChanged(rows_[0].on->isChecked() || rows_[1].on->isChecked());
        });
        connect(row.tryButton, &QPushButton::clicked, this, [this, which] { TryOrStop(which); });
    }
    auto* hint = new QLabel(Str(GLS("The scripts run with sh and are told QUORVEL_SESSION, "
                                    "QUORVEL_SOURCE, QUORVEL_DESTINATION and QUORVEL_WHEN; the "
                                    "after-script also QUORVEL_ERRORS and QUORVEL_STOPPED.")),
                            this);
    hint->setWordWrap(true);
    outer->addWidget(hint);
}

ScriptsPanel::~ScriptsPanel() {
    tryStop_ = true;
    if (tryThread_.joinable()) tryThread_.join();
}

void ScriptsPanel::SetPanels(const plist::Value& dict) {
    const sessions::ScriptEditor editor(dict);
    for (int which = 0; which < 2; ++which) {
        const QSignalBlocker block(rows_[which].on);
        rows_[which].on->setChecked(editor.on(WhenOf(which)));
        rows_[which].text->setPlainText(Str(editor.text(WhenOf(which))));
    }
}

sessions::ScriptEditor ScriptsPanel::Editor() const {
    sessions::ScriptEditor editor{plist::Value(plist::Dict{})};
    for (int which = 0; which < 2; ++which) {
        editor.setOn(WhenOf(which), rows_[which].on->isChecked());
        editor.setText(WhenOf(which), rows_[which].text->toPlainText().toStdString());
    }
    return editor;
}

bool ScriptsPanel::GetPanels(plist::Value& session, std::string* message) {
    sessions::ScriptEditor::Failure failure;
    if (Editor().GetPanels(session, runner_, &failure)) return true;
    SelectLine(failure.when == ScriptWhen::kBefore ? 0 : 1, failure.line);
    if (message != nullptr) *message = failure.message;
    return false;
}

bool ScriptsPanel::SetIconOn(const plist::Value& session) const {
    const plist::Value* dict = session.dictAt("appleScriptDict");
    return dict != nullptr && (dict->intAt("asStartOn", 0) == 1 || dict->intAt("asEndOn", 0) == 1);
}

void ScriptsPanel::SelectLine(int which, int line) {
    QPlainTextEdit* text = rows_[which].text;
    text->setFocus();
    const QTextBlock block = text->document()->findBlockByNumber(line - 1);
    if (line <= 0 || !block.isValid()) return;
    QTextCursor cursor(block);
    cursor.movePosition(QTextCursor::EndOfBlock, QTextCursor::KeepAnchor);
    text->setTextCursor(cursor);
    text->ensureCursorVisible();
}

void ScriptsPanel::TryOrStop(int which) {
    if (trying()) {
        tryStop_ = true;
        return;
    }
    if (tryThread_.joinable()) tryThread_.join();
    if (::geteuid() == 0) {
        const std::optional<platform::InvokingUserInfo> user = platform::InvokingUser();
        std::string refused;
        if (!sessions::ScriptsMayRunAsRoot(document_, user ? user->uid : ::getuid(), &refused)) {
            Alert(QMessageBox::Warning, GLS("Warning:"), refused);
            return;
        }
    }
    tryStop_ = false;
    tryDone_ = false;
    for (int other = 0; other < 2; ++other) rows_[other].tryButton->setEnabled(other == which);
    rows_[which].tryButton->setText(Str(GLS("Stop")));
    const sessions::ScriptEditor editor = Editor();
    const std::chrono::seconds timeout = sessions::ScriptTimeout(scriptTimeout());
    sessions::ScriptVariables environment =
        sessions::ScriptEnvironment(document_, document_.mSessionIndex, WhenOf(which));
    // The window stays live while the script runs; Stop ends it and its whole group.
    tryThread_ = std::thread([this, which, editor, timeout, environment]() mutable {
        sessions::ScriptEditor::Failure failure;
        platform::ChildResult ran;
        const bool ok = editor.Try(WhenOf(which), runner_, std::move(environment), timeout,
                                   &tryStop_, &failure, &ran);
        tryDone_ = true;
        QMetaObject::invokeMethod(
            this,
            [this, which, ok, failure, output = ran.output] {
                TryEnded(which, ok, failure, output);
            },
            Qt::QueuedConnection);
    });
}

void ScriptsPanel::TryEnded(int which, bool ok, const sessions::ScriptEditor::Failure& failure,
                            const std::string& output) {
    if (tryThread_.joinable()) tryThread_.join();
    for (Row& row : rows_) {
        row.tryButton->setEnabled(true);
        row.tryButton->setText(Str(GLS("Try")));
    }
    if (!ok) {
        SelectLine(which, failure.line);  // a fault in the text: the line it names
        Alert(QMessageBox::Warning, GLS("Warning:"), failure.message);
    } else if (!output.empty()) {
        Alert(QMessageBox::Information, GLS("The script ran successfully."), output);
    }
    emit tryEnded();
}

void ScriptsPanel::Alert(QMessageBox::Icon icon, const std::string& title,
                         const std::string& text) {
    if (alert_) alert_->close();
    alert_ = OpenAlert(this, icon, title, text, QStringLiteral("scriptAlert"));
}

}  // namespace qv::ui
