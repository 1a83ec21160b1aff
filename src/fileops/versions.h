#pragma once
// Versions: what a run replaces or deletes is moved into a versions folder of its side instead
// of being removed, under its path below the side's top and with the run's start in its name
// ("report 2026-12-07 181200.txt", "Photos 2026-12-07 181200"); the oldest beyond the count
// or the age a session keeps are pruned. The versions folder is reached from the side's open
// top folder (or, when one folder outside the sides was chosen, from its own path), every
// folder in it opened without following a link.

#include <cstdint>
#include <ctime>
#include <optional>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "fileops/metadata.h"
#include "platform/folder_handle.h"
#include "run/versions_settings.h"

namespace qv::fileops {

// "2026-12-07 181200": the local time t.
std::string VersionStamp(std::time_t t);
// The time a stamp stands for (local time); nothing for what is no stamp.
std::optional<std::time_t> StampTime(const std::string& stamp);
// The name of the version of `name` kept at stamp: the stamp goes before a file's extension,
// after a folder's name.
std::string VersionName(const std::string& name, const std::string& stamp, bool isFolder);
// What a version's name says: the original name and the stamp (with the "-2" of a second
// version of one second). Nothing for a name the versions did not make.
struct VersionNameParts {
    std::string original;
    std::string stamp;
};
std::optional<VersionNameParts> ParseVersionName(const std::string& name, bool isFolder);

// The record a versions folder keeps of the versions it holds: when each was kept (UTC
// seconds, whatever the clock's zone said) and where it lies below the folder. Only what it
// records is a version: listed, restored and pruned; anything else found there is left alone.
using run::kVersionsListName;
struct VersionRecord {
    std::int64_t made = 0;
    bool isFolder = false;
    std::string path;  // below the versions folder: "docs/report 2026-12-07 181200.txt"
};
// The records of the folder, in the order they were written; those that cannot be read are
// skipped.
std::vector<VersionRecord> ReadVersionRecords(const platform::FolderHandle& root);
bool AppendVersionRecord(const platform::FolderHandle& root, const VersionRecord& record,
                         std::string* why);
bool WriteVersionRecords(const platform::FolderHandle& root,
                         const std::vector<VersionRecord>& records, std::string* why);

// The versions folder of one side of a folder pair.
class SideVersions {
  public:
    SideVersions(const run::VersionsSettings& settings, platform::FolderHandle top,
                 std::string topPath);
    // The folder in which the side's relative paths start, opened, created when asked:
    // invalid (and *why says why) when it cannot be, or when other users could change it.
    const platform::FolderHandle& Root(bool create, std::string* why);
    // Its path, for people.
    std::string RootPath() const;
    const std::string& topPath() const { return topPath_; }
    const platform::FolderHandle& top() const { return top_; }
    // The folder `relative` below the root, made when missing; each folder on the way must be
    // as safe as the root itself.
    platform::FolderHandle MakeBelow(const std::string& relative, std::string* why);

  private:
    // Owned by this process's user or the side's owner, and writable by nobody else.
    bool Guarded(const platform::FolderHandle& folder) const;
    platform::FolderHandle OpenGuarded(const platform::FolderHandle& from,
                                       const std::string& relative, bool create,
                                       std::string* why) const;
    run::VersionsSettings settings_;
    platform::FolderHandle top_;
    std::string topPath_;
    platform::FolderHandle root_;
    bool tried_ = false;
    std::string error_;
};

// The folder `relative` ("x/y", "" for from itself) below from, its missing folders created
// with `mode`, none followed through a link. Invalid, with *why, when it cannot be.
platform::FolderHandle MakeFoldersBelow(const platform::FolderHandle& from,
                                        const std::string& relative, std::string* why, mode_t mode);

// Copies the item name of `from` into `into` under the name `as`, where nothing may stand,
// through a marked temporary folder of `into`: an interruption leaves no part of a copy at `as`.
bool CopyItemAs(const platform::FolderHandle& from, const std::string& name,
                const platform::FolderHandle& into, const std::string& as, const Metadata& metadata,
                std::int64_t backupDate, std::string* why);

// Moves the item name of `parent` into `into` as a version of originalName made at stamp (or,
// with copyOnly, copies it there): by rename on one file system, otherwise copied under a
// marked temporary, named, and only then removed. Nothing is removed without its version.
// *keptName is the version's name.
bool KeepVersionIn(const platform::FolderHandle& parent, const std::string& name,
                   const platform::FolderHandle& into, const std::string& originalName,
                   const std::string& stamp, const Metadata& metadata, std::int64_t backupDate,
                   bool copyOnly, std::string* keptName, std::string* why);

// A version kept of an item: the folder of its record below the versions folder, and the
// item's own name.
using VersionGroup = std::pair<std::string, std::string>;
// Prunes the recorded versions of root: beyond the newest `keep` of an item (0: no limit) and
// older than `days` days before now (0: no limit); only the items of `only` when given. Their
// records go with them, and so do the folders of the versions folder they leave empty.
void PruneVersions(const platform::FolderHandle& root, const run::VersionsSettings& settings,
                   std::time_t now, const std::vector<VersionGroup>* only, const Metadata& metadata,
                   std::vector<std::string>* errors);

// What a run's executor uses: one task's two sides, the versions it kept, and the pruning
// after the task.
class VersionKeeper {
  public:
    explicit VersionKeeper(const Metadata& metadata) : metadata_(metadata) {}
    // A new task: its settings, the run's start and its two open top folders.
    void Begin(const run::VersionsSettings& settings, std::time_t runStart,
               const platform::FolderHandle& a, const std::string& aPath,
               const platform::FolderHandle& b, const std::string& bPath);
    bool on() const { return settings_.on; }
    // Whether side B's (or A's) versions folder lies on another file system than `device`:
    // a version is then a copy, made before the item is replaced.
    bool OnOtherFileSystem(bool onB, dev_t device);
    // Keeps the item name of parent (the folder relativeParent below the top of side B or A)
    // as a version of originalName: moved there, or copied with copyOnly. *keptPath: where it
    // went, for people.
    bool Keep(bool onB, const platform::FolderHandle& parent, const std::string& relativeParent,
              const std::string& name, const std::string& originalName, bool copyOnly,
              std::string* keptPath, std::string* why);
    // After the task: the versions of the items kept are pruned by count, and, with an age
    // limit, every version recorded by age. Errors are added to *errors.
    void Prune(std::time_t now, std::vector<std::string>* errors);

  private:
    const Metadata& metadata_;
    run::VersionsSettings settings_;
    std::string stamp_;
    std::int64_t runStart_ = 0;
    std::vector<SideVersions> sides_;
    std::vector<VersionGroup> kept_[2];  // per side, A then B
    std::vector<std::string> problems_;  // versions kept but not recorded
    std::string blocked_;                // why no version can be kept in this task
};

// ---- Finding and restoring versions, for the command and the window ----

// One version of an item of a session's pair.
struct VersionInfo {
    std::string relativePath;  // the item's path below the side's top
    std::string stamp;
    std::int64_t made = 0;  // when it was kept, UTC seconds
    bool isFolder = false;
    std::uint64_t size = 0;  // a folder's: its files' in all
    bool onB = false;
    std::size_t pair = 0;     // the folder pair (0: the session's own A and B)
    std::string versionPath;  // where it lies, for people
    std::string stored;       // its path below the versions folder
};

// A folder pair of a session: its two top folders' paths.
struct VersionPair {
    std::string a, b;
};

// Every version of the pairs' items (of `relative` and what lay below it, or all when empty),
// newest first within an item, items in path order. Errors reading folders go to *errors.
std::vector<VersionInfo> ListVersions(const std::vector<VersionPair>& pairs,
                                      const run::VersionsSettings& settings,
                                      const std::string& relative,
                                      std::vector<std::string>* errors);

// Puts the version back: into both sides of its pair at its path, each item standing there
// first kept as a version itself (stamped now), or, with toFolder, into that folder under its
// original name, where nothing may stand. False, with *why, when it could not; what was done
// before a failure stays done and is said in *done.
bool RestoreVersion(const std::vector<VersionPair>& pairs, const run::VersionsSettings& settings,
                    const VersionInfo& version, const std::optional<std::string>& toFolder,
                    std::time_t now, const Metadata& metadata, std::vector<std::string>* done,
                    std::string* why);

}  // namespace qv::fileops
