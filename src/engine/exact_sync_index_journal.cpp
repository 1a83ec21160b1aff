// The journal of a run's deletions and the record of the conflicts it left: what a run that
// ends half-way leaves written down for the next one.
#include <algorithm>
#include <string>
#include <vector>

#include "engine/exact_sync_index_files.h"
#include "engine/exact_sync_index_store.h"
#include "platform/file_io.h"
#include "platform/file_system.h"
#include "platform/sha256.h"
#include "platform/system_log.h"
#include "sessions/plist_codec.h"

namespace qv::engine {

namespace {

// A file of the index folder for a pair, whichever way round its folders are given.
std::string PairRecordName(const char* prefix, const std::string& sourceFolder,
                           const std::string& destFolder) {
    const bool ordered = sourceFolder <= destFolder;
    const std::string key =
        (ordered ? sourceFolder : destFolder) + '\0' + (ordered ? destFolder : sourceFolder);
    return std::string(prefix) + platform::Sha256Hex(key).substr(0, 16) + ".plist";
}

}  // namespace

std::string ExactSyncIndexStore::JournalPath(const std::string& sourceFolder,
                                             const std::string& destFolder) const {
    return platform::JoinPath(folder_, PairRecordName(kJournalPrefix, sourceFolder, destFolder));
}

std::string ExactSyncIndexStore::LeftConflictsPath(const std::string& sourceFolder,
                                                   const std::string& destFolder) const {
    return platform::JoinPath(folder_,
                              PairRecordName(kLeftConflictsPrefix, sourceFolder, destFolder));
}

void ExactSyncIndexStore::KeepLeftConflicts(const std::string& sourceFolder,
                                            const std::string& destFolder,
                                            const std::vector<std::string>& paths) {
    const std::string path = LeftConflictsPath(sourceFolder, destFolder);
    if (paths.empty()) {
        platform::sys().unlink(path.c_str());
        return;
    }
    plist::Array list;
    for (const std::string& p : paths) list.push_back(EncodeIndexText(p));
    if (!platform::IsExistingFolder(folder_)) platform::CreateFolderWithFoldersInBetween(folder_);
    // Without the record, the backup dates the conflicts' sides were given still find them
    // again (all but links): the failure is told, and the run goes on.
    const platform::WriteResult written =
        plist::WriteBinaryFile(path, plist::Value(std::move(list)), kOwnFile);
    if (!written.ok) {
        platform::SystemLog("Can't record the conflicts left as they were in \"" + path +
                            "\": " + written.reason);
    }
}

void ExactSyncIndexStore::JournalDeletions(const std::string& sourceFolder,
                                           const std::string& destFolder,
                                           const std::vector<PlannedDeletion>& deleting) {
    if (deleting.empty()) return;
    // Only a pair with an index deletes on an index's word.
    const plist::ReadResult main = plist::ReadFile(MainIndexPath());
    if (!main.value || !main.value->isDict() ||
        FindEntry(*main.value, EncodeIndexText(sourceFolder), EncodeIndexText(destFolder)) < 0) {
        return;
    }
    plist::Value record = plist::Dict{};
    record.set("absolutePathSource", EncodeIndexText(sourceFolder));
    record.set("absolutePathDest", EncodeIndexText(destFolder));
    plist::Array& items = record.set("deleting", plist::Array{}).array();
    items.reserve(deleting.size());
    for (const PlannedDeletion& d : deleting) {
        items.emplace_back(plist::Dict{
            {"path", plist::Value(EncodeIndexText(d.path))},
            {"ino", plist::Value(static_cast<std::int64_t>(d.seen.ino))},
            {"size", plist::Value(static_cast<std::int64_t>(d.seen.size))},
            {"mtime", plist::Value(d.seen.mtimeSec)},
            {"mtimeNsec", plist::Value(static_cast<std::int64_t>(d.seen.mtimeNsec))},
            {"type", plist::Value(static_cast<std::int64_t>(d.seen.type))},
        });
    }
    if (!plist::WriteBinaryFile(JournalPath(sourceFolder, destFolder), record, kOwnFile).ok) {
        // Without the record, an end of the process during the deletions would leave an index
        // that deletes again what is saved anew at their paths.
        platform::SystemLog("Can't record the deletions of the Exact Sync index of \"" +
                            sourceFolder + "\" and \"" + destFolder + "\": the index is dropped");
        DropPair(sourceFolder, destFolder);
    }
}

void ExactSyncIndexStore::ClearJournal(const std::string& sourceFolder,
                                       const std::string& destFolder) {
    platform::sys().unlink(JournalPath(sourceFolder, destFolder).c_str());
}

namespace {

// The item at path is still the one the scan saw when the run planned its deletion.
bool StillAsSeen(const std::string& path, const plist::Value& record) {
    const std::int64_t ino = record.intAt("ino");
    if (ino == 0) return false;
    const platform::ItemAttributes now = platform::ReadItemAttributes(path.c_str());
    if (!now.exists() || static_cast<std::int64_t>(now.ino) != ino ||
        static_cast<std::int64_t>(now.type) != record.intAt("type")) {
        return false;
    }
    return now.isDirectory() ||
           (static_cast<std::int64_t>(now.size) == record.intAt("size") &&
            now.mtime.sec == record.intAt("mtime") && now.mtime.nsec == record.intAt("mtimeNsec"));
}

}  // namespace

void ExactSyncIndexStore::ReplayJournal(const std::string& sourceFolder,
                                        const std::string& destFolder) {
    const std::string path = JournalPath(sourceFolder, destFolder);
    const plist::ReadResult read = plist::ReadFile(path);
    if (read.failure == plist::ReadFailure::Missing) return;
    const plist::Value* source = read.value ? TextAt(*read.value, "absolutePathSource") : nullptr;
    const plist::Value* dest = read.value ? TextAt(*read.value, "absolutePathDest") : nullptr;
    const plist::Value* items = read.value ? read.value->arrayAt("deleting") : nullptr;
    std::optional<std::string> from = source ? DecodeIndexText(source->str()) : std::nullopt;
    std::optional<std::string> to = dest ? DecodeIndexText(dest->str()) : std::nullopt;
    if (!from || !to || items == nullptr) {
        // A record that cannot be read tells nothing of what was deleted: the index goes.
        DropPair(sourceFolder, destFolder);
    } else {
        // What the run deleted, or what changed since its scan (saved anew), is forgotten;
        // an item it did not reach stays, and its deletion is proposed again.
        std::vector<std::string> forget;
        for (const plist::Value& item : items->array()) {
            const plist::Value* text = item.isDict() ? TextAt(item, "path") : nullptr;
            std::optional<std::string> p = text ? DecodeIndexText(text->str()) : std::nullopt;
            if (p && !StillAsSeen(*p, item)) forget.push_back(std::move(*p));
        }
        ForgetDeletedItems(*from, *to, forget);
    }
    platform::sys().unlink(path.c_str());
}

}  // namespace qv::engine
