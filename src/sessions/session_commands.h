#pragma once
// The commands of the session menu over the open document: naming rules, new, duplicate,
// rename, remove, reorder, and the sort window's working copy. The window, the `quorvel session`
// verbs and the tests share them, so that each refuses the same names with the same words.
// Sessions are addressed by index only: two sessions may hold equal dictionaries.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "sessions/session_document.h"
#include "sessions/settings_options.h"

namespace qv::sessions {

// The session menu's entries after the sessions, localised, in order; "" is a separator. The
// first is a separator, so the "All Sessions" entry stands at index count + 1.
std::vector<std::string> FixedSessionEntryTitles();

enum class NameVerdict {
    Accepted,
    Empty,             // "Please insert a valid name."
    ControlCharacter,  // would break lines and tab-separated listings
    NotText,           // not UTF-8: a session document cannot store it
    FixedEntry,        // "Can't use this name."
    Unchanged,         // a rename to the session's own name: closes as if cancelled
    Duplicated,        // "Name duplicated."
};

struct NameCheck {
    NameVerdict verdict = NameVerdict::Accepted;
    std::string message;  // the localised alert text; empty for Accepted and Unchanged
};

// The name sheet's check. `renaming` is the index of the session being renamed, if any. The name
// is compared, exactly, with the menu's titles in menu order (sessions, then the fixed entries);
// the first equal title decides.
NameCheck CheckSessionName(const SessionDocument& doc, const std::string& name,
                           std::optional<std::int64_t> renaming = std::nullopt);

// Why a session cannot keep this folder path (bytes that are not UTF-8, or a control
// character: a session document cannot store them), for a "Warning:" alert; empty when it can.
std::string FolderPathProblem(const std::string& path);

// The names the name sheet proposes: "Session N" and "Copy N of NAME", N being count + 1.
std::string ProposedNewSessionName(const SessionDocument& doc);
std::string ProposedDuplicateName(const SessionDocument& doc, std::int64_t index);

// The outcome of a session command. A refusal has ok false and `message`, the text of the
// "Warning:" alert; the document is then unchanged. `sessionIndex` is the current index after.
struct SessionCommandResult {
    bool ok = false;
    std::string message;
    std::int64_t sessionIndex = 0;
    explicit operator bool() const { return ok; }
};

// Each command checks the name as the sheet does, and keeps mSessionIndex and the document's
// "sessionIndex" in step.
SessionCommandResult NewSession(SessionDocument& doc, const std::string& name,
                                std::int64_t task = kTaskSynchronize);
SessionCommandResult DuplicateSession(SessionDocument& doc, std::int64_t index,
                                      const std::string& name);
// A rename to the session's own name succeeds and changes nothing.
SessionCommandResult RenameSession(SessionDocument& doc, std::int64_t index,
                                   const std::string& name);
// The current session stays current, unless it is the one removed: then the one that took its
// place (or the new last one).
SessionCommandResult RemoveSession(SessionDocument& doc, std::int64_t index);
// Removes every session but the first, which becomes current. Refused as RemoveSession refuses
// the current session.
SessionCommandResult RemoveAllButFirst(SessionDocument& doc);
// Moves a session to index `to`; the current session stays current.
SessionCommandResult MoveSession(SessionDocument& doc, std::int64_t from, std::int64_t to);
// Replaces the session list by the sessions at these original indices, in this order (the sort
// window's result). The current session follows its new position; when it is gone, or "All" was
// current, the index is brought below the new count.
SessionCommandResult ApplySortedOrder(SessionDocument& doc,
                                      const std::vector<std::int64_t>& originalIndices);

// The questions asked before removing.
std::string RemoveSessionQuestion(const SessionDocument& doc, std::int64_t index);
std::string RemoveAllButFirstQuestion();

// The sort window's working copy: the sessions as their original indices, reordered and
// thinned out by the user until the window is applied or cancelled.
class SortSessionsModel {
  public:
    struct Row {
        std::int64_t original = 0;
        std::string name;
    };

    explicit SortSessionsModel(const SessionDocument& doc);

    const std::vector<Row>& rows() const { return rows_; }
    std::int64_t rowCount() const { return static_cast<std::int64_t>(rows_.size()); }
    // A drop "above" dropRow: the selected rows keep their relative order and land just before
    // the first unselected row at or after dropRow, or at the end when there is none. Rows
    // outside the list are skipped. Returns the moved rows' new positions, ascending.
    std::vector<std::int64_t> MoveRows(std::vector<std::int64_t> selectedRows,
                                       std::int64_t dropRow);
    // Nothing for an empty selection; refused ("Can't remove all the Sessions.") when every
    // row is selected.
    SessionCommandResult DeleteRows(std::vector<std::int64_t> selectedRows);
    std::vector<std::int64_t> order() const;

  private:
    std::vector<Row> rows_;
};

}  // namespace qv::sessions
