// What the index forgets after a run whose index stays as it was (its walk or its copy did not
// complete), and what it records of the items that run did bring into step; or, when the pair's
// file cannot be corrected, the pair dropped.
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "engine/exact_sync_index_builder.h"
#include "engine/exact_sync_index_files.h"
#include "engine/exact_sync_index_store.h"
#include "platform/file_system.h"
#include "sessions/plist_codec.h"

namespace qv::engine {

namespace {

// The paths below either folder, as "/x/y" below it; the folders themselves and paths outside
// both are left out.
std::vector<std::string> PathsBelowEither(const std::vector<std::string>& paths,
                                          const std::string& sourceFolder,
                                          const std::string& destFolder) {
    std::vector<std::string> below;
    for (const std::string& path : paths) {
        std::optional<std::string> p = PathBelow(path, sourceFolder);
        if (!p) p = PathBelow(path, destFolder);
        if (p && !p->empty()) below.push_back(std::move(*p));
    }
    return below;
}

// The item at below ("/x/y" below the tree's top folder) leaves the tree, when the folders on
// its way are there.
void ForgetInTree(plist::Value& top, const std::string& below) {
    plist::Value* folder = &top;
    // Below the top folder: "/x/y" names x, then y.
    const std::vector<std::string_view> parts = PathComponents(std::string_view(below).substr(1));
    for (std::size_t i = 0; folder != nullptr && i + 1 < parts.size(); ++i) {
        folder = folder->find(EncodeIndexText(std::string(parts[i])));
        if (folder != nullptr && !folder->isDict()) folder = nullptr;
    }
    if (folder != nullptr && !parts.empty()) {
        folder->remove(EncodeIndexText(std::string(parts.back())));
    }
}

// The items (below either top folder) leave both trees of the pair file; false when the file
// does not hold its two trees as the index writes them.
bool ForgetInTrees(plist::Value& pair, const std::vector<std::string>& below) {
    // Each tree holds one folder, the top folder of its side; the item goes on both sides.
    for (const char* key : {"treeSource", "treeDest"}) {
        plist::Value* tree = pair.find(key);
        if (tree == nullptr || !tree->isDict() || tree->dict().size() != 1 ||
            !tree->dict().begin()->second.isDict()) {
            return false;
        }
        for (const std::string& path : below) ForgetInTree(tree->dict().begin()->second, path);
    }
    return true;
}

// The pair file keeps each item's record (not its name only).
bool KeepsRecords(const plist::Value& pair) {
    const plist::Value* version = pair.find("fileVersion");
    return version != nullptr && version->isNumber() &&
           version->intValue() >= kFirstVersionWithRecords;
}

// The item at path (below: "/x/y" below the tree's top folder) is recorded in the tree as it is
// now: its record, a folder, or gone. The folders on its way are made when missing.
void RecordInTree(plist::Value& top, const std::string& below, const std::string& path) {
    plist::Value* folder = &top;
    const std::vector<std::string_view> parts = PathComponents(std::string_view(below).substr(1));
    for (std::size_t i = 0; folder != nullptr && i + 1 < parts.size(); ++i) {
        const std::string name = EncodeIndexText(std::string(parts[i]));
        if (plist::Value* next = folder->find(name); next == nullptr || !next->isDict()) {
            folder->set(name, plist::Dict{});
        }
        folder = folder->find(name);
    }
    if (folder == nullptr || parts.empty()) return;
    const std::string name = EncodeIndexText(std::string(parts.back()));
    const platform::ItemAttributes now = platform::ReadItemAttributes(path.c_str());
    if (!now.exists()) {
        folder->remove(name);
    } else if (now.isDirectory()) {
        if (const plist::Value* old = folder->find(name); old == nullptr || !old->isDict()) {
            folder->set(name, plist::Dict{});
        }
    } else {
        folder->set(name, plist::Value(static_cast<std::int64_t>(ItemRecord(now))));
    }
}

// What the run did bring into step (done: absolute paths) is recorded as it is now, each item
// on its side (the pair's trees may be stored the other way round). The pair file holds its two
// trees as the index writes them.
void RecordDoneItems(plist::Value& pair, const std::string& sourceFolder,
                     const std::string& destFolder, const std::vector<std::string>& done) {
    const bool swapped = pair.stringAt("absolutePathSource") != EncodeIndexText(sourceFolder);
    for (const std::string& path : done) {
        const bool inA = PathBelow(path, sourceFolder).has_value();
        const std::optional<std::string> below = PathBelow(path, inA ? sourceFolder : destFolder);
        if (!below || below->empty()) continue;
        plist::Value* tree = pair.find(inA != swapped ? "treeSource" : "treeDest");
        RecordInTree(tree->dict().begin()->second, *below, path);
    }
}

}  // namespace

void ExactSyncIndexStore::ForgetDeletedItems(const std::string& sourceFolder,
                                             const std::string& destFolder,
                                             const std::vector<std::string>& deleted,
                                             const std::vector<std::string>& done) {
    const std::vector<std::string> below = PathsBelowEither(deleted, sourceFolder, destFolder);
    if (below.empty() && done.empty()) return;
    const std::optional<std::string> pairPath = PairFilePath(sourceFolder, destFolder);
    if (!pairPath) return;

    plist::ReadResult pairRead = plist::ReadFile(*pairPath);
    bool corrected = pairRead.value && pairRead.value->isDict();
    if (corrected) {
        plist::Value& pair = *pairRead.value;
        corrected = ForgetInTrees(pair, below);
        if (corrected && KeepsRecords(pair)) {
            RecordDoneItems(pair, sourceFolder, destFolder, done);
        }
        corrected = corrected && plist::WriteBinaryFile(*pairPath, pair, kOwnFile).ok;
    }
    if (!corrected) DropPair(sourceFolder, destFolder);
}

std::optional<std::string> ExactSyncIndexStore::PairFilePath(const std::string& sourceFolder,
                                                             const std::string& destFolder) const {
    const plist::ReadResult read = plist::ReadFile(MainIndexPath());
    if (!read.value || !read.value->isDict()) return std::nullopt;
    const std::ptrdiff_t entry =
        FindEntry(*read.value, EncodeIndexText(sourceFolder), EncodeIndexText(destFolder));
    if (entry < 0) return std::nullopt;
    return platform::JoinPath(folder_, read.value->arrayAt("indexFilesList")
                                           ->array()[static_cast<std::size_t>(entry)]
                                           .stringAt("indexFileName"));
}

void ExactSyncIndexStore::DropPair(const std::string& sourceFolder, const std::string& destFolder) {
    const std::string mainPath = MainIndexPath();
    plist::ReadResult read = plist::ReadFile(mainPath);
    if (!read.value || !read.value->isDict()) return;
    plist::Value mainIndex = std::move(*read.value);
    const std::ptrdiff_t entry =
        FindEntry(mainIndex, EncodeIndexText(sourceFolder), EncodeIndexText(destFolder));
    if (entry < 0) return;
    plist::Array& entries = mainIndex.arrayAt("indexFilesList")->array();
    const std::string pairPath = platform::JoinPath(
        folder_, entries[static_cast<std::size_t>(entry)].stringAt("indexFileName"));
    platform::sys().unlink(pairPath.c_str());
    entries.erase(entries.begin() + entry);
    plist::WriteBinaryFile(mainPath, mainIndex, kOwnFile);
}

}  // namespace qv::engine
