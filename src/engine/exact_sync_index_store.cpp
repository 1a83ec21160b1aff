#include "engine/exact_sync_index_store.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <mutex>
#include <thread>
#include <unordered_set>
#include <vector>

#include "fileops/error_path.h"
#include "fileops/tw_utilities.h"
#include "platform/file_io.h"
#include "platform/localization.h"
#include "platform/system_log.h"
#include "sessions/plist_codec.h"

namespace qv::engine {

using platform::GLS;

namespace {

constexpr char kHex[] = "0123456789ABCDEF";

int HexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// The components of a path as the index counts them: the root "/" is one, then every name.
std::vector<std::string_view> PathComponents(std::string_view path) {
    std::vector<std::string_view> parts;
    if (!path.empty() && path.front() == '/') parts.push_back("/");
    std::size_t i = 0;
    while (i < path.size()) {
        const std::size_t slash = path.find('/', i);
        const std::size_t end = slash == std::string_view::npos ? path.size() : slash;
        if (end > i) parts.push_back(path.substr(i, end - i));
        i = end + 1;
    }
    return parts;
}

// A pair file's name as the main index gives it: one plain name inside the index folder.
bool IsPlainName(const std::string& name) {
    return !name.empty() && name != "." && name != ".." && name.find('/') == std::string::npos;
}

const plist::Value* TextAt(const plist::Value& dict, std::string_view key) {
    const plist::Value* v = dict.find(key);
    return v != nullptr && v->isString() ? v : nullptr;
}

// How an entry's (or a pair file's) two paths match the task's: 1 direct, 2 reversed, 0 not.
int Match(const plist::Value& dict, const std::string& source, const std::string& dest) {
    const plist::Value* s = TextAt(dict, "absolutePathSource");
    const plist::Value* d = TextAt(dict, "absolutePathDest");
    if (s == nullptr || d == nullptr) return 0;
    if (s->str() == source && d->str() == dest) return 1;
    if (s->str() == dest && d->str() == source) return 2;
    return 0;
}

// The entry of indexFilesList that names the pair's file, or -1.
std::ptrdiff_t FindEntry(const plist::Value& mainIndex, const std::string& source,
                         const std::string& dest) {
    const plist::Value* list = mainIndex.arrayAt("indexFilesList");
    if (list == nullptr) return -1;
    for (std::size_t i = 0; i < list->array().size(); ++i) {
        const plist::Value& entry = list->array()[i];
        const plist::Value* name = TextAt(entry, "indexFileName");
        if (entry.isDict() && name != nullptr && IsPlainName(name->str()) &&
            Match(entry, source, dest) != 0) {
            return static_cast<std::ptrdiff_t>(i);
        }
    }
    return -1;
}

const char* ClassName(const plist::Value& v) {
    switch (v.type()) {
        case plist::Value::Type::String:
            return "String";
        case plist::Value::Type::Integer:
        case plist::Value::Type::Real:
        case plist::Value::Type::Boolean:
            return "Number";
        case plist::Value::Type::Date:
            return "Date";
        case plist::Value::Type::Data:
            return "Data";
        case plist::Value::Type::Array:
            return "Array";
        case plist::Value::Type::Dict:
            return "Dictionary";
    }
    return "";
}

std::string Describe(const plist::Value& v) {
    if (v.isString()) return v.str();
    std::string text;
    plist::ToXml(v, &text, nullptr);
    return text;
}

// Rebuilds the two trees of a pair from the disk, then stamps the backup date of every file
// found except those whose date must stay as it was (restoreBackupDateArray, and paths kept in
// the index although gone from their side, with their other side's item). The two sides are
// walked, and then stamped, side by side; the stamping waits for both walks, so that an item
// exempted by the other side's walk keeps its date whichever side was walked first.
class IndexBuilder {
  public:
    IndexBuilder(run::RunState& state, const fileops::TWUtilities& tw) : s_(state), tw_(tw) {
        restore_.insert(s_.restoreBackupDateArray.begin(), s_.restoreBackupDateArray.end());
    }

    void Build(plist::Value& treeSource, plist::Value& treeDest) {
        Side a, b;
        std::thread other([&] { MakeExactSyncIndex(s_.gSourceFolder, treeSource, kSideA, a); });
        MakeExactSyncIndex(s_.gDestFolder, treeDest, kSideB, b);
        other.join();
        std::thread stampA([&] { StampAll(a); });
        StampAll(b);
        stampA.join();
    }

  private:
    struct Side {
        std::vector<std::string> files;  // to stamp unless exempt
    };

    void MakeExactSyncIndex(const std::string& folder, plist::Value& parent, int side,
                            Side& found) {
        plist::Value& mine =
            parent.set(EncodeIndexText(platform::LastPathComponent(folder)), plist::Dict{});
        std::vector<Entry> listing = List(folder);
        {
            std::lock_guard lock(mutex_);
            if (!s_.addToExactIndexArray.empty()) AddToExactIndex(listing, folder, side);
        }
        platform::ItemAttributes directory;
        directory.type = platform::ItemType::Directory;
        for (const Entry& entry : listing) {
            std::string path = platform::JoinPath(folder, entry.name);
            bool isDir = entry.isDir;
            if (!entry.listed && !ItExistsInSourceOrDest(path, side, isDir)) continue;
            if (entry.listed && isDir && tw_.IsFilePackage(path, directory)) isDir = false;
            if (isDir) {
                MakeExactSyncIndex(path, mine, side, found);
                continue;
            }
            mine.set(EncodeIndexText(entry.name), "");
            // Files and packages carry a backup date; a link's target is not this pair's item,
            // and a FIFO, socket or device takes no user attribute (nor may its mode be opened
            // up to write one).
            if (entry.isFile || entry.isDir) found.files.push_back(std::move(path));
        }
    }

    struct Entry {
        std::string name;
        bool listed = true;  // read from the folder now, rather than kept from the last run
        bool isDir = false;
        bool isLink = false;
        bool isFile = false;  // a regular file
    };

    // The folder's names, each with its kind from the listing; nothing when it cannot be read.
    static std::vector<Entry> List(const std::string& folder) {
        std::vector<Entry> entries;
        DIR* dir = ::opendir(folder.c_str());
        if (dir == nullptr) return entries;
        while (const dirent* e = ::readdir(dir)) {
            const std::string_view name = e->d_name;
            if (name == "." || name == "..") continue;
            unsigned char type = e->d_type;
            if (type == DT_UNKNOWN) {
                struct stat st {};
                if (::fstatat(::dirfd(dir), e->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0) continue;
                type = S_ISDIR(st.st_mode)   ? DT_DIR
                       : S_ISLNK(st.st_mode) ? DT_LNK
                       : S_ISREG(st.st_mode) ? DT_REG
                                             : DT_UNKNOWN;
            }
            entries.push_back(
                {std::string(name), true, type == DT_DIR, type == DT_LNK, type == DT_REG});
        }
        ::closedir(dir);
        return entries;
    }

    // The paths kept in the index although gone from their side, whose folder this is, join
    // the listing; their dates (and those of the other side's items) stay as they were.
    void AddToExactIndex(std::vector<Entry>& listing, const std::string& dir, int /*side*/) {
        std::vector<std::string>& pending = s_.addToExactIndexArray;
        for (std::size_t k = pending.size(); k-- > 0;) {
            if (platform::ParentFolder(pending[k]) != dir) continue;
            listing.push_back(
                {platform::LastPathComponent(pending[k]), false, false, false, false});
            Restore(pending[k]);
            pending.erase(pending.begin() + static_cast<std::ptrdiff_t>(k));
        }
    }

    bool ItExistsInSourceOrDest(const std::string& path, int side, bool& isDir) {
        platform::ItemAttributes here = platform::ReadItemAttributes(path.c_str());
        if (here.exists()) {
            isDir = here.isDirectory() && !tw_.IsFilePackage(path, here);
            return true;
        }
        const std::string& mine = side == kSideA ? s_.gSourceFolder : s_.gDestFolder;
        const std::string& other = side == kSideA ? s_.gDestFolder : s_.gSourceFolder;
        const auto pathParts = PathComponents(path);
        const auto mineParts = PathComponents(mine);
        if (pathParts.size() < mineParts.size()) return false;
        std::string mapped = other;
        for (std::size_t i = mineParts.size(); i < pathParts.size(); ++i) {
            mapped = platform::JoinPath(mapped, std::string(pathParts[i]));
        }
        const platform::ItemAttributes there = platform::ReadItemAttributes(mapped.c_str());
        if (!there.exists()) return false;
        isDir = there.isDirectory() && !tw_.IsFilePackage(mapped, there);
        std::lock_guard lock(mutex_);
        Restore(std::move(mapped));
        return true;
    }

    void Restore(std::string path) {
        restore_.insert(path);
        s_.restoreBackupDateArray.push_back(std::move(path));
    }

    bool Exempt(const std::string& path) const {
        if (!s_.restoreBackupDateArray.empty()) return restore_.count(path) != 0;
        for (const std::string& p : s_.addToExactIndexArray) {
            if (p == path) return true;
        }
        return false;
    }

    void StampAll(const Side& side) const {
        const std::string value = std::to_string(s_.gStartSyncDateTimeUTC);
        for (const std::string& path : side.files) {
            if (Exempt(path)) continue;
            if (::lsetxattr(path.c_str(), fileops::kBackupDateXattr, value.data(), value.size(),
                            0) == 0) {
                continue;
            }
            // A file system without user attributes keeps no backup dates (a volume mounted
            // inside the tree may be one; the others still take theirs).
            if (errno == ENOTSUP) continue;
            // A locked or read-only item is relaxed for the write.
            if (errno == EPERM || errno == EACCES) {
                tw_.SetBackupDateDitto(path, s_.gStartSyncDateTimeUTC);
            }
        }
    }

    run::RunState& s_;
    const fileops::TWUtilities& tw_;
    std::mutex mutex_;  // guards the two lists while both sides are walked
    std::unordered_set<std::string> restore_;
};

}  // namespace

std::string EncodeIndexText(std::string_view text) {
    if (plist::IsValidUtf8(text) && (text.empty() || text.front() != '%')) {
        return std::string(text);
    }
    std::string out = "%";
    for (char c : text) {
        const auto u = static_cast<unsigned char>(c);
        if (u == '%' || u < 0x20 || u > 0x7E) {
            out += '%';
            out += kHex[u >> 4];
            out += kHex[u & 0x0F];
        } else {
            out += c;
        }
    }
    return out;
}

std::optional<std::string> DecodeIndexText(std::string_view text) {
    if (text.empty() || text.front() != '%') {
        if (!plist::IsValidUtf8(text)) return std::nullopt;
        return std::string(text);
    }
    std::string out;
    for (std::size_t i = 1; i < text.size(); ++i) {
        if (text[i] != '%') {
            out += text[i];
            continue;
        }
        if (i + 2 >= text.size()) return std::nullopt;
        const int hi = HexValue(text[i + 1]), lo = HexValue(text[i + 2]);
        if (hi < 0 || lo < 0) return std::nullopt;
        out += static_cast<char>(hi * 16 + lo);
        i += 2;
    }
    if (EncodeIndexText(out) != text) return std::nullopt;
    return out;
}

ExactSyncIndexStore::ExactSyncIndexStore(std::string indexFolder)
    : folder_(std::move(indexFolder)) {}

std::string ExactSyncIndexStore::MainIndexPath() const {
    return platform::JoinPath(folder_, kExactSyncMainIndexName);
}

void ExactSyncIndexStore::DropTrees() {
    loaded_ = plist::Value();
    gExactSyncDictSrc = gExactSyncDictDst = nullptr;
}

bool ExactSyncIndexStore::ExactSyncFileExists(const ExactSyncTask& task, bool load) {
    if (load) DropTrees();
    lastExactSyncDate_.reset();
    loadProblem_.clear();
    const std::string mainPath = MainIndexPath();
    const plist::ReadResult main = plist::ReadFile(mainPath);
    if (!main.value) {
        if (main.failure != plist::ReadFailure::Missing) {
            loadProblem_ = "\"" + mainPath + "\": " + main.reason;
        }
        return false;
    }
    const plist::Value* version = main.value->find("fileVersion");
    if (version == nullptr || !version->isInteger() ||
        version->intValue() > kExactSyncIndexVersion) {
        loadProblem_ = "\"" + mainPath + "\": unknown format version";
        return false;
    }
    const plist::Value* list = main.value->arrayAt("indexFilesList");
    if (list == nullptr || list->array().empty()) return false;

    const std::string source = EncodeIndexText(task.source);
    const std::string dest = EncodeIndexText(task.dest);
    std::optional<plist::Value> pair;
    std::string pairPath;
    std::size_t entryIndex = 0;
    int match = 0;
    for (std::size_t i = 0; i < list->array().size() && !pair; ++i) {
        const plist::Value& entry = list->array()[i];
        if (!entry.isDict() || Match(entry, source, dest) == 0) continue;
        const plist::Value* name = TextAt(entry, "indexFileName");
        if (name == nullptr || !IsPlainName(name->str())) continue;
        const std::string path = platform::JoinPath(folder_, name->str());
        plist::ReadResult file = plist::ReadFile(path);
        if (!file.value) {
            loadProblem_ = "\"" + path + "\": " + file.reason;
            continue;
        }
        const plist::Value* fileVersion = file.value->find("fileVersion");
        if (fileVersion == nullptr || !fileVersion->isNumber() ||
            fileVersion->intValue() >= kExactSyncIndexVersion + 1) {
            loadProblem_ = "\"" + path + "\": unknown format version";
            continue;
        }
        match = Match(*file.value, source, dest);
        if (match == 0) {
            loadProblem_ = "\"" + path + "\": made for other folders";
            continue;
        }
        pair = std::move(file.value);
        pairPath = path;
        entryIndex = i;
    }
    if (!pair) return false;
    loadProblem_.clear();
    if (const plist::Value* date = pair->find("lastExactSyncDate"); date && date->isDate()) {
        lastExactSyncDate_ = date->date().seconds;
    }
    if (!load) return true;

    if (!task.isExactSync) {
        // The pair is no longer kept in step exactly: its index would only mislead a later run.
        if (task.mayChangeFiles) {
            ::unlink(pairPath.c_str());
            plist::Value updated = *main.value;
            plist::Array& entries = updated.arrayAt("indexFilesList")->array();
            entries.erase(entries.begin() + static_cast<std::ptrdiff_t>(entryIndex));
            plist::WriteBinaryFile(mainPath, updated);
        }
        return false;
    }

    loaded_ = std::move(*pair);
    const std::string srcName = EncodeIndexText(platform::LastPathComponent(task.source));
    const std::string dstName = EncodeIndexText(platform::LastPathComponent(task.dest));
    const plist::Value* treeSource = loaded_.find(match == 1 ? "treeSource" : "treeDest");
    const plist::Value* treeDest = loaded_.find(match == 1 ? "treeDest" : "treeSource");
    const plist::Value* src = treeSource ? treeSource->find(srcName) : nullptr;
    const plist::Value* dst = treeDest ? treeDest->find(dstName) : nullptr;
    const auto bail = [&](const char* why) {
        platform::SystemLog("BAIL");
        loadProblem_ = "\"" + pairPath + "\": " + why;
        DropTrees();
        return false;
    };
    if (src == nullptr || dst == nullptr) return bail("no tree for the folders");
    for (const auto& [label, dict] :
         {std::pair{"gExactSyncDictSrc", src}, {"gExactSyncDictDst", dst}}) {
        if (!dict->isDict()) {
            platform::SystemLog(std::string("!!!Error: ") + label + " className is " +
                                ClassName(*dict) + "\rContent: " + Describe(*dict));
            return bail("damaged tree");
        }
    }
    gExactSyncDictSrc = src;
    gExactSyncDictDst = dst;
    gExactSyncShiftPathSrc = PathComponents(task.source).size();
    gExactSyncShiftPathDst = PathComponents(task.dest).size();
    return true;
}

bool ExactSyncIndexStore::ItWasExixting(const std::string& path, int side) const {
    const plist::Value* dict = side == kSideA ? gExactSyncDictSrc : gExactSyncDictDst;
    const std::size_t shift = side == kSideA ? gExactSyncShiftPathSrc : gExactSyncShiftPathDst;
    if (dict == nullptr) return false;
    const auto parts = PathComponents(path);
    for (std::size_t i = shift;; ++i) {
        if (i >= parts.size()) return true;
        const plist::Value* item = dict->find(EncodeIndexText(parts[i]));
        if (item == nullptr) return false;
        // Nothing lies below a file: only the file itself was there.
        if (!item->isDict()) return i + 1 == parts.size();
        dict = item;
    }
}

bool ExactSyncIndexStore::Report(fileops::ErrorPath& errors, const std::string& sentence,
                                 const std::string& path, bool folderFailure,
                                 bool uniqueNameFailure) const {
    run::RunState& s = errors.state();
    errors.SetErrMsg({sentence, " \"", path, "\""});
    errors.LogErrString();
    if (folderFailure) {
        errors.AppendErrMsg(
            {".\r", GLS("Thus can't write the ExactSyncIndex file for this synchronization")});
    }
    errors.AppendErrMsg({".\r", GLS("The next Exact Sync on these two folders will not run as"),
                         " \"", GLS("Exact Sync"), "\""});
    if (uniqueNameFailure) {
        errors.AppendErrMsg({".\r", GLS("Please empty the folder"), " \"", folder_, "\""});
    }
    errors.ManageTheError(s.mErrString, 0);
    ++s.gTotError;
    return false;
}

bool ExactSyncIndexStore::WriteExactSyncIndex(int mode, fileops::ErrorPath& errors,
                                              const fileops::TWUtilities& tw) {
    run::RunState& s = errors.state();
    const std::string mainPath = MainIndexPath();
    if (!platform::IsExistingFolder(folder_) || !platform::IsExistingRegularFile(mainPath)) {
        // Pair files without the main index that names them cannot be found again.
        std::error_code ec;
        std::filesystem::remove_all(folder_, ec);
        if (ec && platform::ItemExists(folder_)) {
            return Report(errors, GLS("Can't delete the ExactSyncIndex folder"), folder_, true,
                          false);
        }
        if (!platform::CreateFolderWithFoldersInBetween(folder_)) {
            return Report(errors, GLS("Can't create the ExactSync Index Folder"), folder_, true,
                          false);
        }
    }
    if (!platform::IsExistingRegularFile(mainPath)) {
        plist::Value fresh = plist::Dict{};
        fresh.set("fileVersion", kExactSyncIndexVersion);
        if (!plist::WriteBinaryFile(mainPath, fresh).ok) {
            return Report(errors, GLS("Can't create the ExactSync MainIndex File"), mainPath, false,
                          false);
        }
    }

    plist::ReadResult read = plist::ReadFile(mainPath);
    plist::Value mainIndex = read.value && read.value->isDict() ? *read.value : plist::Dict{};
    const plist::Value* version = mainIndex.find("fileVersion");
    if (version == nullptr || !version->isNumber() ||
        version->intValue() >= kExactSyncIndexVersion + 1) {
        mainIndex.set("fileVersion", kExactSyncIndexVersion);
        mainIndex.remove("indexFilesList");
    }
    if (mainIndex.arrayAt("indexFilesList") == nullptr) {
        mainIndex.set("indexFilesList", plist::Array{});
        if (!plist::WriteBinaryFile(mainPath, mainIndex).ok) {
            return Report(errors, GLS("Can't update the ExactSync MainIndex File"), mainPath, false,
                          false);
        }
    }

    const std::string source = EncodeIndexText(s.gSourceFolder);
    const std::string dest = EncodeIndexText(s.gDestFolder);
    std::string pairPath;
    if (const std::ptrdiff_t i = FindEntry(mainIndex, source, dest); i >= 0) {
        const plist::Value& entry = mainIndex.arrayAt("indexFilesList")->array()[std::size_t(i)];
        pairPath = platform::JoinPath(folder_, entry.stringAt("indexFileName"));
        if (mode == 1 && platform::ItemExists(pairPath)) return false;
    } else {
        const std::string firstCandidate = platform::JoinPath(folder_, kExactSyncPairIndexName);
        pairPath = firstCandidate;
        if (!tw.FindUniqueNameInFolder(pairPath)) {
            return Report(errors, GLS("Can't find an unique name for the ExactSync Index File"),
                          firstCandidate, false, true);
        }
        plist::Value entry = plist::Dict{};
        entry.set("absolutePathSource", source);
        entry.set("absolutePathDest", dest);
        entry.set("indexFileName", platform::LastPathComponent(pairPath));
        mainIndex.arrayAt("indexFilesList")->array().push_back(std::move(entry));
        if (!plist::WriteBinaryFile(mainPath, mainIndex).ok) {
            return Report(errors, GLS("Can't update the ExactSync MainIndex File"), mainPath, false,
                          false);
        }
    }

    errors.proxy().DisplayExactSyncToConsole();
    plist::Value pair = plist::Dict{};
    pair.set("fileVersion", kExactSyncIndexVersion);
    pair.set("absolutePathSource", source);
    pair.set("absolutePathDest", dest);
    pair.set("lastExactSyncDate", plist::Date{s.gStartSyncDateTime});
    IndexBuilder(s, tw).Build(pair.set("treeSource", plist::Dict{}),
                              pair.set("treeDest", plist::Dict{}));
    s.restoreBackupDateArray.clear();
    s.addToExactIndexArray.clear();
    if (!plist::WriteBinaryFile(pairPath, pair).ok) {
        return Report(errors, GLS("Can't update the ExactSync Index File"), pairPath, false, false);
    }
    return true;
}

}  // namespace qv::engine
