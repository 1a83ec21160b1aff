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
            for (const VersionRecord& record : ReadVersionRecords(root)) {
                const auto [folder, name] = SplitLast(record.path);
                const auto parts = ParseVersionName(name, record.isFolder);
                if (!parts) continue;
                VersionInfo v;
                v.relativePath = folder.empty() ? parts->original : folder + "/" + parts->original;
                if (!relative.empty() && v.relativePath != relative &&
                    v.relativePath.compare(0, relative.size() + 1, relative + "/") != 0) {
                    continue;
                }
                const FolderHandle in = root.OpenBelow(folder);
                const platform::StatResult st =
                    in.valid() ? StatAt(in.fd(), name) : platform::StatResult{{}, ENOENT};
                if (!st.ok() || st.attributes.isDirectory() != record.isFolder) continue;
                v.stamp = parts->stamp;
                v.made = record.made;
                v.isFolder = record.isFolder;
                v.size = record.isFolder ? TreeSize(in.OpenChild(name)) : st.attributes.size;
                v.onB = onB;
                v.pair = p;
                v.versionPath = in.PathOf(name);
                v.stored = record.path;
                found.push_back(std::move(v));
            }
        }
    }
    std::sort(found.begin(), found.end(), [](const VersionInfo& x, const VersionInfo& y) {
        if (x.relativePath != y.relativePath) return x.relativePath < y.relativePath;
        if (x.made != y.made) return x.made > y.made;
        return x.stored > y.stored;
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
    const auto [folder, name] = SplitLast(version.stored);
    open->folder = root.OpenBelow(folder, &error);
    open->name = name;
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
    if (const platform::StatResult st = StatAt(parent.fd(), name); st.error != ENOENT) {
        SideVersions side(settings, top, topPath);
        const FolderHandle into = side.MakeBelow(parentPath, why);
        std::string kept;
        if (!into.valid() || !KeepVersionIn(parent, name, into, name, VersionStamp(now), metadata,
                                            now, false, &kept, why)) {
            *why = GLS("Can't keep the item standing there as a version:") + " " +
                   run::Quoted(parent.PathOf(name)) + ": " + *why;
            return false;
        }
        std::string recordWhy;
        AppendVersionRecord(side.Root(false, &recordWhy),
                            {static_cast<std::int64_t>(now), st.attributes.isDirectory(),
                             parentPath.empty() ? kept : parentPath + "/" + kept},
                            &recordWhy);
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
