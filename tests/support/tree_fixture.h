#pragma once
// Two folder trees, A (source) and B (destination), built in a fresh temporary folder from a
// compact description, plus the pieces a run over them needs: a session document naming the
// two folders, and the run's plan flattened into lines that compare easily.
//
// An entry is a path relative to the temporary folder, with optional content and times:
//   "A/dir/"                 a folder
//   "A/f.txt:hello@1000"     a file holding "hello", modified at 1000 s after 1970
//   "B/f.txt@1000.5,5000"    an empty file, modified at 1000.5 s, last accessed at 5000 s
//   "A/pkg.app/@3000"        a folder modified at 3000 s
// Missing parent folders are created. Times are set once every entry exists, so that creating
// an entry does not move its folder's date afterwards.

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "run/plan_item.h"
#include "run/run_state.h"
#include "sessions/plist_value.h"
#include "sessions/session_document.h"
#include "support/test_support.h"

namespace qv::test {

// What a folder holds, item by item: a file's path to its content, a link's to "-> " and its
// target, an empty folder's path (ending in "/") to "". One comparison says what a side holds.
using Files = std::map<std::string, std::string>;

class TreeFixture {
  public:
    TreeFixture();  // creates the empty folders A and B

    std::string a() const { return dir_ / "A"; }
    std::string b() const { return dir_ / "B"; }
    std::string path(const std::string& relative) const { return dir_ / relative; }

    void Build(const std::vector<std::string>& entries);
    // Everything removed, and the empty folders A and B made again: a fresh start for the next
    // case of a table.
    void Clear() const;
    // Everything below the folder at relative ("A", "B/d"), paths relative to it.
    Files Contents(const std::string& relative) const;
    // Writes the backup date (xattr user.quorvel.backup); false when the file system of the
    // temporary folder keeps no user extended attributes.
    bool SetBackupDate(const std::string& relative, std::int64_t seconds) const;
    bool HasUserXattrs() const;
    // The backup date written on the item, or -1 when it has none.
    std::int64_t BackupDate(const std::string& relative) const;

  private:
    TempDir dir_;
};

// A document of the template's two sessions; the first works on top -> bottom with the given
// task (sessions::kTaskSynchronize or kTaskBackup), the second keeps empty folders.
sessions::SessionDocument TwoFolderDocument(const std::string& top, const std::string& bottom,
                                            std::int64_t task);
// Sets one option of a session: dictName is "settingsDict", "conflictsDict", "multiDict", ...
void SetOption(sessions::SessionDocument& doc, std::int64_t session, const std::string& dictName,
               const std::string& key, plist::Value value);

// "MODENAME source -> dest" for every item of a task's tree, depth first, paths relative to
// the task's top folders, sorted.
std::vector<std::string> FlattenPlan(const run::TaskRoot& root);
// The same for every task of a run, one after the other.
std::vector<std::string> FlattenPlan(const run::RunState& state);

}  // namespace qv::test
