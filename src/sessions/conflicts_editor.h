#pragma once
// The conflict policies of one session being edited: a working copy of its `conflictsDict`
// that the conflicts panel shows and the command changes.

#include <array>
#include <cstdint>
#include <string>

#include "sessions/plist_value.h"

namespace qv::sessions {

// One kind of conflict, in the panel's (and the log's) order.
struct ConflictKind {
    // The command's name: backup1, backup2, exactBackup, sync, exactSync, fileFolder.
    const char* name;
    const char* label;  // "Backup", "Exact Backup", ...
    const char* radioKey;
    const char* askKey;
    std::int64_t proceeds;     // the radio value that lets the planned action go ahead
    const char* tag1Title;     // the title of the radio cell with tag 1
    const char* tag2Title;     // ... tag 2
    const char* logSeparator;  // what follows the label in the log: " 1: ", " 2: " or ": "
};
const std::array<ConflictKind, 6>& ConflictKinds();

class ConflictsEditor {
  public:
    explicit ConflictsEditor(const plist::Value& conflictsDict);

    std::int64_t radio(std::size_t kind) const;           // 1 or 2
    bool setRadio(std::size_t kind, std::int64_t value);  // false for another value
    bool ask(std::size_t kind) const;
    void setAsk(std::size_t kind, bool on);

    const plist::Value& CurrentConflictsDict() const { return dict_; }
    bool IconOn() const;  // differs from a new session's policies
    bool GetPanels(plist::Value& session, std::string* message) const;  // never refuses
    std::string GetLog() const;

  private:
    plist::Value dict_;
};

}  // namespace qv::sessions
