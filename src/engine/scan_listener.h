#pragma once
// What a task's walk hands to the run as it meets it: the errors it found and the questions it
// must have answered. They are handed over in the walk's order, since the run's error policy
// may stop the walk and an answer decides where it goes next; counting, logging and the policy
// are the run's, in one place.
#include <string>

#include "run/main_thread_proxy.h"

namespace qv::engine {

// Titles of the check-boxes that the privilege hints name.
inline constexpr const char* kRunAsRootCheckboxTitle = "Run with root privileges";
inline constexpr const char* kUnlockCheckboxTitle = "Unlock locked items";

struct ScanError {
    enum class Kind {
        kUnreadable,               // an item or folder that could not be read
        kFoldersMissing,           // neither top folder of the task is there
        kSpecialInFolderToDelete,  // a folder to delete keeps a FIFO, socket or device
        kPrivileges,               // the copy needs privileges the run lacks, or the item is locked
    };
    Kind kind;
    std::string text;  // the message as the log shows it
    // kPrivileges: the item is locked rather than beyond the run's privileges.
    bool locked = false;
};

class ScanListener {
  public:
    virtual void OnScanError(const ScanError& error) = 0;
    virtual run::ConflictReply OnQuestion(const run::ConflictQuestion& question) = 0;
    // A few times a second at most, while the walk goes on.
    virtual void OnScanProgress() = 0;

  protected:
    ~ScanListener() = default;
};

}  // namespace qv::engine
