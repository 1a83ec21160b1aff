#include "support/tree_fixture.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/xattr.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <stdexcept>

namespace qv::test {

namespace {

constexpr const char* kBackupXattr = "user.quorvel.backup";

struct Entry {
    std::string path;
    bool isFolder = false;
    std::string content;
    double mtime = -1;
    double atime = -1;
};

Entry Parse(const std::string& text) {
    Entry e;
    std::string rest = text;
    const auto at = rest.rfind('@');
    if (at != std::string::npos) {
        const std::string times = rest.substr(at + 1);
        const auto comma = times.find(',');
        e.mtime = std::stod(times.substr(0, comma));
        e.atime = comma == std::string::npos ? e.mtime : std::stod(times.substr(comma + 1));
        rest.resize(at);
    }
    const auto colon = rest.find(':');
    if (colon != std::string::npos) {
        e.content = rest.substr(colon + 1);
        rest.resize(colon);
    }
    e.isFolder = !rest.empty() && rest.back() == '/';
    if (e.isFolder) rest.pop_back();
    e.path = rest;
    return e;
}

timespec ToTimespec(double seconds) {
    timespec ts{};
    ts.tv_sec = static_cast<time_t>(std::floor(seconds));
    ts.tv_nsec = static_cast<long>(std::lround((seconds - std::floor(seconds)) * 1e9));
    return ts;
}

void Flatten(const std::vector<run::PlanItem>& items, const std::string& source,
             const std::string& dest, const run::TaskRoot& root, std::vector<std::string>& out) {
    const auto relative = [](const std::string& path, const std::string& top) {
        return path.compare(0, top.size() + 1, top + "/") == 0 ? path.substr(top.size() + 1) : path;
    };
    for (const run::PlanItem& item : items) {
        const std::string itemSource = item.source(source);
        const std::string itemDest = item.dest(dest);
        out.push_back(std::string(run::CopyModeName(item.copyMode)) + " " +
                      relative(itemSource, root.source) + " -> " + relative(itemDest, root.dest));
        if (item.isFolder) Flatten(item.subItems, itemSource, itemDest, root, out);
    }
}

}  // namespace

TreeFixture::TreeFixture() {
    std::filesystem::create_directories(a());
    std::filesystem::create_directories(b());
}

void TreeFixture::Build(const std::vector<std::string>& entries) {
    std::vector<Entry> parsed;
    for (const std::string& text : entries) parsed.push_back(Parse(text));
    for (const Entry& e : parsed) {
        const std::string full = path(e.path);
        if (e.isFolder) {
            std::filesystem::create_directories(full);
        } else {
            WriteText(full, e.content);
        }
    }
    for (const Entry& e : parsed) {
        if (e.mtime < 0) continue;
        const timespec times[2] = {ToTimespec(e.atime), ToTimespec(e.mtime)};
        if (::utimensat(AT_FDCWD, path(e.path).c_str(), times, AT_SYMLINK_NOFOLLOW) != 0) {
            throw std::runtime_error("utimensat " + e.path + ": " + std::strerror(errno));
        }
    }
}

void TreeFixture::Clear() const {
    for (const auto& e : std::filesystem::directory_iterator(dir_.path())) {
        std::filesystem::remove_all(e.path());
    }
    std::filesystem::create_directories(a());
    std::filesystem::create_directories(b());
}

Files TreeFixture::Contents(const std::string& relative) const {
    namespace fs = std::filesystem;
    const fs::path top = path(relative);
    if (!fs::is_directory(fs::symlink_status(top))) return {{"<no folder " + relative + ">", ""}};
    Files files;
    for (const fs::directory_entry& e : fs::recursive_directory_iterator(top)) {
        const std::string name = e.path().lexically_relative(top).string();
        if (e.is_symlink()) {
            files[name] = "-> " + fs::read_symlink(e.path()).string();
        } else if (e.is_directory()) {
            if (fs::is_empty(e.path())) files[name + "/"] = "";
        } else {
            files[name] = e.is_regular_file() ? ReadText(e.path().string()) : "<special>";
        }
    }
    return files;
}

bool TreeFixture::SetBackupDate(const std::string& relative, std::int64_t seconds) const {
    const std::string value = std::to_string(seconds);
    return ::lsetxattr(path(relative).c_str(), kBackupXattr, value.data(), value.size(), 0) == 0;
}

bool TreeFixture::HasUserXattrs() const {
    const char value = '1';
    if (::lsetxattr(dir_.path().c_str(), "user.quorvel.probe", &value, 1, 0) != 0) return false;
    ::lremovexattr(dir_.path().c_str(), "user.quorvel.probe");
    return true;
}

std::int64_t TreeFixture::BackupDate(const std::string& relative) const {
    char buffer[64];
    const ssize_t n = ::lgetxattr(path(relative).c_str(), kBackupXattr, buffer, sizeof buffer);
    if (n <= 0) return -1;
    return std::stoll(std::string(buffer, static_cast<std::size_t>(n)));
}

sessions::SessionDocument TwoFolderDocument(const std::string& top, const std::string& bottom,
                                            std::int64_t task) {
    sessions::SessionDocument doc("");
    doc.mMainDict = sessions::SessionDocument::NewTemplate();
    SetOption(doc, 0, "consoleDict", "topFolder", top);
    SetOption(doc, 0, "consoleDict", "bottomFolder", bottom);
    SetOption(doc, 0, "settingsDict", "settTask", task);
    return doc;
}

void SetOption(sessions::SessionDocument& doc, std::int64_t session, const std::string& dictName,
               const std::string& key, plist::Value value) {
    plist::Value* dict = doc.GetSessionDict(session)->dictAt(dictName);
    if (dict == nullptr) throw std::runtime_error("no dictionary " + dictName);
    dict->set(key, std::move(value));
}

std::vector<std::string> FlattenPlan(const run::TaskRoot& root) {
    std::vector<std::string> out;
    Flatten(root.subItems, root.source, root.dest, root, out);
    std::sort(out.begin(), out.end());
    return out;
}

std::vector<std::string> FlattenPlan(const run::RunState& state) {
    std::vector<std::string> out;
    for (const run::TaskRoot& root : state.plan.taskRootList) {
        const std::vector<std::string> lines = FlattenPlan(root);
        out.insert(out.end(), lines.begin(), lines.end());
    }
    return out;
}

}  // namespace qv::test
