#include "engine/settled_record.h"

#include <iterator>
#include <utility>

#include "engine/exact_sync_index.h"
#include "items/tw_utilities.h"

namespace qv::engine {

SettledRecord::SettledRecord(std::optional<std::string> key, std::size_t pairs, bool quiet)
    : key_(std::move(key)), settled_(key_.has_value()), quiet_(settled_ && quiet) {
    if (settled_) items_.reserve(pairs);
}

run::SettledEntry SettledRecord::Recorded(run::SettledEntry entry, const ListedItem* a,
                                          const ListedItem* b) {
    if (a) entry.aRecord = ItemRecord(a->attributes);
    if (b) entry.bRecord = ItemRecord(b->attributes);
    return entry;
}

void SettledRecord::Meet(const ListedItem* a, const ListedItem* b) {
    if (!settled_) return;
    if (!a || !b || a->name != b->name || a->attributes.type != b->attributes.type) {
        settled_ = false;
    } else {
        items_.push_back({{a->name, a->attributes.type}, a, b});
    }
}

void SettledRecord::Kinds(bool aIsFolder, bool bIsFolder) {
    if (!settled_) return;
    if (aIsFolder != bIsFolder) settled_ = false;
    items_.back().entry.isFolder = aIsFolder;
    items_.back().kindKnown = true;
}

void SettledRecord::LeftAsIs(const ListedItem* a, const ListedItem* b, bool quiet) {
    if (settled_) {
        if (quiet) items_.back().quiet = true;
    } else if (key_ && (!a || !b || a->name == b->name)) {
        const ListedItem& listed = a ? *a : *b;
        run::SettledEntry entry{listed.name, listed.attributes.type};
        entry.stamp = !quiet;
        (quiet ? quietEntries_ : seenEntries_).push_back(Recorded(std::move(entry), a, b));
    }
}

bool SettledRecord::TakeWhole(int aDirFd, int bDirFd, const items::TWUtilities& tw,
                              std::vector<run::SettledEntry>& entries) {
    entries.reserve(items_.size());
    for (Item& item : items_) {
        const ListedItem& a = *item.a;
        const ListedItem& b = *item.b;
        const bool isDir = a.attributes.isDirectory();
        if (isDir && !item.kindKnown) {
            const bool package = tw.IsFilePackage(aDirFd, a.name, a.attributes);
            if (package != tw.IsFilePackage(bDirFd, b.name, b.attributes)) return false;
            item.entry.isFolder = !package;
        }
        // Files and packages carry a backup date, links and special files none.
        item.entry.stamp = !item.entry.isFolder && !item.quiet &&
                           (isDir || a.attributes.type == platform::ItemType::RegularFile);
        if (!item.entry.isFolder) {
            item.entry.aRecord = ItemRecord(a.attributes);
            item.entry.bRecord = ItemRecord(b.attributes);
        }
        entries.push_back(std::move(item.entry));
    }
    return true;
}

void SettledRecord::Finish(int aDirFd, int bDirFd, const FolderListing& aList,
                           const FolderListing& bList, bool running, const items::TWUtilities& tw,
                           run::SettledFolders& folders) {
    if (settled_ && running) {
        std::vector<run::SettledEntry> entries;
        settled_ = TakeWhole(aDirFd, bDirFd, tw, entries);
        if (settled_) {
            folders.insert_or_assign(
                *key_, run::SettledFolder{aList.folder.ctime, bList.folder.ctime, aList.folder.ino,
                                          bList.folder.ino, std::move(entries)});
            return;
        }
    } else if (!settled_) {
        // Unsettled on the way: what was met before is left as it was too.
        for (Item& item : items_) {
            item.entry.stamp = !item.quiet;
            (item.quiet ? quietEntries_ : seenEntries_)
                .push_back(Recorded(std::move(item.entry), item.a, item.b));
        }
    }
    if (!key_ || !running) return;
    run::SettledFolder partial;
    partial.complete = false;
    partial.entries = std::move(quietEntries_);
    partial.entries.insert(partial.entries.end(), std::make_move_iterator(seenEntries_.begin()),
                           std::make_move_iterator(seenEntries_.end()));
    folders.insert_or_assign(*key_, std::move(partial));
}

}  // namespace qv::engine
