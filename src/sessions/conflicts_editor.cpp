#include "sessions/conflicts_editor.h"

#include "sessions/conflict_options.h"

namespace qv::sessions {

ConflictsEditor::ConflictsEditor(const plist::Value& conflictsDict)
    : dict_(conflictsDict.isDict() ? conflictsDict : plist::Value()) {
    // The controls hold integers: a boolean ask flag (as older documents store the
    // file-versus-folder one) becomes 0 or 1, and a missing key a new session's value.
    const plist::Value defaults = DefaultConflictsDict();
    for (const ConflictKind& kind : ConflictKinds()) {
        // Runs let the action go ahead only on its own value: any other drops it, as the
        // panel's other cell says.
        const std::int64_t stored =
            conflictsDict.intAt(kind.radioKey, defaults.intAt(kind.radioKey));
        dict_.set(kind.radioKey, stored == kind.proceeds ? kind.proceeds : 3 - kind.proceeds);
        dict_.set(kind.askKey, conflictsDict.intAt(kind.askKey, 0) != 0 ? 1 : 0);
    }
}

std::int64_t ConflictsEditor::radio(std::size_t kind) const {
    if (kind >= ConflictKinds().size()) return 0;
    return dict_.intAt(ConflictKinds()[kind].radioKey);
}

bool ConflictsEditor::setRadio(std::size_t kind, std::int64_t value) {
    if (kind >= ConflictKinds().size() || (value != 1 && value != 2)) return false;
    dict_.set(ConflictKinds()[kind].radioKey, value);
    return true;
}

bool ConflictsEditor::ask(std::size_t kind) const {
    return kind < ConflictKinds().size() && dict_.intAt(ConflictKinds()[kind].askKey) != 0;
}

void ConflictsEditor::setAsk(std::size_t kind, bool on) {
    if (kind < ConflictKinds().size()) dict_.set(ConflictKinds()[kind].askKey, on ? 1 : 0);
}

bool ConflictsEditor::IconOn() const { return !plist::EqualByValue(dict_, DefaultConflictsDict()); }

bool ConflictsEditor::GetPanels(plist::Value& session, std::string* message) const {
    // Only a session that is not a dictionary at all (a damaged document) cannot take it.
    if (!session.isDict()) {
        if (message != nullptr) *message = "the session is not a dictionary";
        return false;
    }
    session.set("conflictsDict", dict_);
    return true;
}

std::string ConflictsEditor::GetLog() const { return GetConflictsLog(dict_); }

}  // namespace qv::sessions
