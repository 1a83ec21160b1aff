#include "engine/exclude_list.h"

#include <limits.h>

#include <algorithm>

#include "platform/case_fold.h"
#include "platform/file_io.h"
#include "platform/file_system.h"

namespace qv::engine {

namespace {

// The path's names, empty ones (a doubled or trailing "/") left out.
std::vector<std::string> Components(std::string_view path) {
    std::vector<std::string> parts;
    std::size_t start = 0;
    while (start <= path.size()) {
        const std::size_t slash = std::min(path.find('/', start), path.size());
        if (slash > start) parts.emplace_back(path.substr(start, slash - start));
        start = slash + 1;
    }
    return parts;
}

// The path written one way: names joined by single "/", none at the end.
std::string Normalized(std::string_view path) {
    std::string out;
    for (const std::string& part : Components(path)) out += "/" + part;
    return out.empty() ? "/" : out;
}

bool IsNormalized(std::string_view path) {
    return !path.empty() && path.front() == '/' && (path.size() == 1 || path.back() != '/') &&
           path.find("//") == std::string_view::npos;
}

}  // namespace

ExcludeList::ExcludeList(const std::vector<std::string>& paths) {
    for (const std::string& path : paths) {
        const std::vector<std::string> parts = Components(path);
        if (parts.empty()) continue;
        Add(path);
        // The folder's links resolved, the item's own name kept as it is: an excluded link is
        // the link, not what it points to.
        std::string folder;
        for (std::size_t i = 0; i + 1 < parts.size(); ++i) folder += "/" + parts[i];
        char buf[PATH_MAX];
        if (platform::sys().realpath(folder.empty() ? "/" : folder.c_str(), buf) == nullptr) {
            continue;
        }
        const std::string resolved = platform::JoinPath(buf, parts.back());
        if (Components(resolved) != parts) Add(resolved);
    }
}

void ExcludeList::Add(std::string_view path) {
    Entry entry;
    entry.path = Normalized(path);
    entry.folded = platform::FoldCase(entry.path);
    entries_.push_back(std::move(entry));
}

bool ExcludeList::IsToBeExcluded(std::string_view path, bool ignoreCase) const {
    if (entries_.empty()) return false;
    std::string written;
    if (!IsNormalized(path)) {
        written = Normalized(path);
        path = written;
    }
    if (ignoreCase) {
        const std::string folded = platform::FoldCase(path);
        return std::any_of(entries_.begin(), entries_.end(),
                           [&](const Entry& entry) { return entry.folded == folded; });
    }
    return std::any_of(entries_.begin(), entries_.end(),
                       [&](const Entry& entry) { return entry.path == path; });
}

}  // namespace qv::engine
