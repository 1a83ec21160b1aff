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
    entry.components = Components(path);
    for (const std::string& part : entry.components)
        entry.folded.push_back(platform::FoldCase(part));
    entries_.push_back(std::move(entry));
}

bool ExcludeList::IsToBeExcluded(std::string_view path, bool ignoreCase) const {
    if (entries_.empty()) return false;
    const std::vector<std::string> parts = Components(path);
    std::vector<std::string> folded;
    if (ignoreCase) {
        for (const std::string& part : parts) folded.push_back(platform::FoldCase(part));
    }
    return std::any_of(entries_.begin(), entries_.end(), [&](const Entry& entry) {
        return ignoreCase ? entry.folded == folded : entry.components == parts;
    });
}

}  // namespace qv::engine
