// Finding the versions of a session's items, and putting one back.
#include <algorithm>
#include <cerrno>
#include <cstring>

#include "fileops/executor_internal.h"
#include "fileops/versions.h"
#include "platform/file_io.h"
#include "platform/localization.h"
#include "run/log_name.h"

namespace qv::fileops {

using namespace executor_internal;
using platform::FolderHandle;

namespace {

std::pair<std::string, std::string> SplitLast(const std::string& relative) {
    const std::size_t slash = relative.rfind('/');
    if (slash == std::string::npos) return {"", relative};
    return {relative.substr(0, slash), relative.substr(slash + 1)};
}

// The files below a folder, their sizes added.
std::uint64_t TreeSize(const FolderHandle& folder) {
    std::vector<platform::FolderEntry> entries;
    if (!folder.valid() || sys().readfolder(folder.fd(), entries) != 0) return 0;
    std::uint64_t size = 0;
    for (const platform::FolderEntry& e : entries) {
        const platform::StatResult st = StatAt(folder.fd(), e.name);
        if (st.attributes.isDirectory()) {
            size += TreeSize(folder.OpenChild(e.name));
        } else if (st.ok()) {
            size += st.attributes.size;
        }
    }
    return size;
}

struct SideToList {
    bool onB;
    std::size_t pair;
};

// The versions in the mirror folder `in` (the folder `relative` below the side's top), and
// below it when `deep`; only those of `onlyName` when it is given.
void Collect(const FolderHandle& in, const std::string& relative, const SideToList& side,
             const std::string& onlyName, bool deep, std::vector<VersionInfo>& into) {
    std::vector<platform::FolderEntry> entries;
    if (sys().readfolder(in.fd(), entries) != 0) return;
    for (const platform::FolderEntry& e : entries) {
        const platform::StatResult st = StatAt(in.fd(), e.name);
        if (!st.ok()) continue;
        const bool isFolder = st.attributes.isDirectory();
        if (items::IsTemporaryName(e.name)) continue;
        if (const auto parts = ParseVersionName(e.name, isFolder)) {
            if (!onlyName.empty() && parts->original != onlyName) continue;
            VersionInfo v;
            v.relativePath = platform::JoinPath(relative, parts->original);
            if (relative.empty()) v.relativePath = parts->original;
            v.stamp = parts->stamp;
            v.isFolder = isFolder;
            v.size = isFolder ? TreeSize(in.OpenChild(e.name)) : st.attributes.size;
            v.onB = side.onB;
            v.pair = side.pair;
            v.versionPath = in.PathOf(e.name);
            into.push_back(std::move(v));
        } else if (isFolder && deep) {
            Collect(in.OpenChild(e.name),
                    relative.empty() ? e.name : platform::JoinPath(relative, e.name), side, {},
                    true, into);
        }
    }
}

}  // namespace

std::vector<VersionInfo> ListVersions(const std::vector<VersionPair>& pairs,
                                      const run::VersionsSettings& settings,
                                      const std::string& relative,
                                      std::vector<std::string>* errors) {
    std::vector<VersionInfo> found;
    for (std::size_t p = 0; p < pairs.size(); ++p) {
        for (const bool onB : {false, true}) {
            const std::string& topPath = onB ? pairs[p].b : pairs[p].a;
            int error = 0;
            const FolderHandle top = FolderHandle::OpenTaskTop(topPath, &error);
            if (!top.valid()) continue;
            SideVersions side(settings, top, topPath);
            std::string why;
            const FolderHandle& root = side.Root(false, &why);
            if (!root.valid()) {
                // A side that never kept a version has no folder for them.
                if (why.find(std::strerror(ENOENT)) == std::string::npos) errors->push_back(why);
                continue;
            }
            const SideToList which{onB, p};
            if (relative.empty()) {
                Collect(root, {}, which, {}, true, found);
                continue;
            }
            const auto [parent, name] = SplitLast(relative);
            const FolderHandle in = root.OpenBelow(parent);
            if (in.valid()) Collect(in, parent, which, name, false, found);
            const FolderHandle below = root.OpenBelow(relative);
            if (below.valid()) Collect(below, relative, which, {}, true, found);
        }
    }
    std::sort(found.begin(), found.end(), [](const VersionInfo& x, const VersionInfo& y) {
        if (x.relativePath != y.relativePath) return x.relativePath < y.relativePath;
        return NewerStamp(x.stamp, y.stamp);
    });
    return found;
}

namespace {

// The version itself, open in its folder.
struct OpenVersion {
    FolderHandle folder;
    std::string name;
};

bool FindVersion(const VersionPair& pair, const run::VersionsSettings& settings,
                 const VersionInfo& version, OpenVersion* open, std::string* why) {
    const std::string& topPath = version.onB ? pair.b : pair.a;
    int error = 0;
    const FolderHandle top = FolderHandle::OpenTaskTop(topPath, &error);
    if (!top.valid()) {
        *why = run::Quoted(topPath) + ": " + std::strerror(error);
        return false;
    }
    SideVersions side(settings, top, topPath);
    const FolderHandle& root = side.Root(false, why);
    if (!root.valid()) return false;
    const auto [parent, name] = SplitLast(version.relativePath);
    open->folder = root.OpenBelow(parent, &error);
    open->name = VersionName(name, version.stamp, version.isFolder);
    if (!open->folder.valid() || StatAt(open->folder.fd(), open->name).error != 0) {
        *why = GLS("The version is no longer there:") + " " + run::Quoted(version.versionPath);
        return false;
    }
    return true;
}

// Puts the version at its path below one side's top, what stands there kept first.
bool RestoreInto(const std::string& topPath, const run::VersionsSettings& settings,
                 const OpenVersion& version, const std::string& relativePath, std::time_t now,
                 const Metadata& metadata, std::vector<std::string>* done, std::string* why) {
    int error = 0;
    const FolderHandle top = FolderHandle::OpenTaskTop(topPath, &error);
    if (!top.valid()) {
        *why = run::Quoted(topPath) + ": " + std::strerror(error);
        return false;
    }
    const auto [parentPath, name] = SplitLast(relativePath);
    const FolderHandle parent = MakeFoldersBelow(top, parentPath, why, 0777);
    if (!parent.valid()) return false;
    if (StatAt(parent.fd(), name).error != ENOENT) {
        run::VersionsSettings keepAll = settings;
        keepAll.on = true;
        SideVersions side(keepAll, top, topPath);
        const FolderHandle& root = side.Root(true, why);
        const FolderHandle into = root.valid() ? MakeFoldersBelow(root, parentPath, why) : root;
        std::string kept;
        if (!into.valid() || !KeepVersionIn(parent, name, into, name, VersionStamp(now), metadata,
                                            now, &kept, why)) {
            *why = GLS("Can't keep the item standing there as a version:") + " " +
                   run::Quoted(parent.PathOf(name)) + ": " + *why;
            return false;
        }
        done->push_back(GLS("Version kept of") + " " + run::Quoted(parent.PathOf(name)) + ": " +
                        run::Quoted(into.PathOf(kept)));
    }
    if (!CopyItemAs(version.folder, version.name, parent, name, metadata, now, why)) {
        *why = GLS("Can't restore the version to") + " " + run::Quoted(parent.PathOf(name)) + ": " +
               *why;
        return false;
    }
    done->push_back(GLS("Restored") + " " + run::Quoted(parent.PathOf(name)));
    return true;
}

}  // namespace

bool RestoreVersion(const std::vector<VersionPair>& pairs, const run::VersionsSettings& settings,
                    const VersionInfo& version, const std::optional<std::string>& toFolder,
                    std::time_t now, const Metadata& metadata, std::vector<std::string>* done,
                    std::string* why) {
    if (version.pair >= pairs.size()) {
        *why = GLS("The session has no such folder pair.");
        return false;
    }
    const VersionPair& pair = pairs[version.pair];
    OpenVersion open;
    if (!FindVersion(pair, settings, version, &open, why)) return false;
    const std::string name = SplitLast(version.relativePath).second;
    if (toFolder) {
        int error = 0;
        const FolderHandle folder = FolderHandle::OpenTop(*toFolder, &error);
        if (!folder.valid()) {
            *why = run::Quoted(*toFolder) + ": " + std::strerror(error);
            return false;
        }
        if (StatAt(folder.fd(), name).error != ENOENT) {
            *why = platform::FormatText(GLS("%@ already exists: nothing was overwritten."),
                                        {run::Quoted(folder.PathOf(name))});
            return false;
        }
        if (!CopyItemAs(open.folder, open.name, folder, name, metadata, now, why)) return false;
        done->push_back(GLS("Restored") + " " + run::Quoted(folder.PathOf(name)));
        return true;
    }
    // Both sides take it, so that the pair is in step with what was put back and no run
    // takes the other side's item for the newer one.
    for (const std::string* top : {&pair.a, &pair.b}) {
        if (!RestoreInto(*top, settings, open, version.relativePath, now, metadata, done, why)) {
            return false;
        }
    }
    return true;
}

}  // namespace qv::fileops
