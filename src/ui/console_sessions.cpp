// The session pop-up's commands after the sessions: New, Duplicate, Rename, Remove and Sort,
// with the name sheet, the questions before a removal, and the sort window. The rules and the
// words are the session commands' (shared with `quorvel session`); here they meet the window.

#include <QApplication>
#include <QComboBox>
#include <QMessageBox>
#include <QPushButton>
#include <QStackedWidget>

#include "platform/localization.h"
#include "sessions/session_commands.h"
#include "ui/console_window.h"
#include "ui/option_panel.h"
#include "ui/qt_text.h"
#include "ui/session_name_sheet.h"
#include "ui/sort_sessions_window.h"

namespace qv::ui {

using platform::GLS;

void ConsoleWindow::SessionCommand(int tag) {
    sessions::SessionDocument& doc = app_.document();
    const std::int64_t current = doc.mSessionIndex;
    // The pop-up shows the current session while the command asks.
    sessionPopup_->setCurrentIndex(static_cast<int>(current));
    const bool all = doc.IsAllSessions(current);
    auto refuse = [this](const std::string& message) {
        sheets_.sessionAlert = OpenWarning(message, "sessionAlert", this);
    };
    auto askName = [this, &doc](const std::string& proposed, std::optional<std::int64_t> renaming,
                                auto apply) {
        auto* sheet = new SessionNameSheet(doc, proposed, renaming, this);
        sheet->setAttribute(Qt::WA_DeleteOnClose);
        connect(sheet, &QDialog::finished, this, [this, sheet, apply](int result) {
            if (result == QDialog::Accepted) SessionCommandDone(apply(sheet->name()));
        });
        sheets_.sessionDialog = sheet;
        sheet->open();
    };
    auto askRemoval = [this](const std::string& question, auto remove) {
        auto* box = new QMessageBox(QMessageBox::Warning, Str(GLS("Warning:")), Str(question),
                                    QMessageBox::NoButton, this);
        box->setObjectName(QStringLiteral("removeQuestion"));
        box->setAttribute(Qt::WA_DeleteOnClose);
        box->setWindowModality(Qt::WindowModal);
        QAbstractButton* ok = box->addButton(Str(GLS("OK")), QMessageBox::AcceptRole);
        box->addButton(Str(GLS("Cancel")), QMessageBox::RejectRole);
        connect(box, &QMessageBox::finished, this, [this, box, ok, remove] {
            if (box->clickedButton() == ok) SessionCommandDone(remove());
        });
        sheets_.sessionDialog = box;
        box->open();
    };

    switch (tag) {
        case kTagNewSession:
            askName(sessions::ProposedNewSessionName(doc), std::nullopt,
                    [&doc](const std::string& name) { return sessions::NewSession(doc, name); });
            break;
        case kTagDuplicateSession:
            if (all) return refuse(GLS("Can't duplicate the \"All\" Session."));
            askName(sessions::ProposedDuplicateName(doc, current), std::nullopt,
                    [&doc, current](const std::string& name) {
                        return sessions::DuplicateSession(doc, current, name);
                    });
            break;
        case kTagRenameSession:
            if (all) return refuse(GLS("Can't rename the \"All\" Session."));
            doc.gRename = "isRename";
            askName(doc.GetSessionName(current), current, [&doc, current](const std::string& name) {
                return sessions::RenameSession(doc, current, name);
            });
            break;
        case kTagRemoveSession:
            if (doc.SessionCount() <= 1) return refuse(GLS("Can't remove the last Session."));
            if (all) return refuse(GLS("Can't remove the \"All\" Session."));
            if (QApplication::keyboardModifiers() & Qt::AltModifier) {
                askRemoval(sessions::RemoveAllButFirstQuestion(),
                           [&doc] { return sessions::RemoveAllButFirst(doc); });
            } else {
                askRemoval(sessions::RemoveSessionQuestion(doc, current),
                           [&doc, current] { return sessions::RemoveSession(doc, current); });
            }
            break;
        case kTagSortSessions: {
            auto* sort = new SortSessionsWindow(doc, this);
            sort->setAttribute(Qt::WA_DeleteOnClose);
            connect(sort, &QDialog::finished, this, [this, sort, &doc](int result) {
                if (result != 0) SessionCommandDone(sessions::ApplySortedOrder(doc, sort->order()));
            });
            sheets_.sessionDialog = sort;
            sort->open();
            break;
        }
        default:
            break;
    }
}

void ConsoleWindow::SessionCommandDone(const sessions::SessionCommandResult& result) {
    app_.document().gRename.clear();
    if (!result) {
        if (!result.message.empty()) {
            sheets_.sessionAlert = OpenWarning(result.message, "sessionAlert", this);
        }
        return;
    }
    // The list changed: the pop-up is rebuilt and the page on screen shows the current session.
    SetSessionsPopUpMenu();
    const std::string tab = currentPanel();
    if (tab != "console" && app_.document().GetSessionDict(app_.document().mSessionIndex)) {
        GoPanel(tab);
    }
    DocumentChanged();
}

}  // namespace qv::ui
