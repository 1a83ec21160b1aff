#include "items/alias_files.h"

#include <optional>
#include <sstream>

#include "platform/file_io.h"
#include "platform/item_attributes.h"

namespace qv::items {

namespace {

constexpr std::size_t kMaxLinkFileBytes = 64 * 1024;
constexpr int kMaxAliasChain = 16;

int HexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// The target path of a link file, or nothing when the file is not one.
std::optional<std::string> LinkTarget(const std::string& path) {
    const std::string suffix = ".desktop";
    if (path.size() <= suffix.size() ||
        path.compare(path.size() - suffix.size(), suffix.size(), suffix) != 0) {
        return std::nullopt;
    }
    if (platform::ReadItemAttributes(path.c_str()).type != platform::ItemType::RegularFile) {
        return std::nullopt;
    }
    platform::ReadFileResult file = platform::ReadWholeFile(path, kMaxLinkFileBytes);
    if (file.status != platform::ReadStatus::Ok) return std::nullopt;
    std::istringstream lines(file.bytes);
    std::string line;
    bool inEntry = false, isLink = false;
    std::string url;
    while (std::getline(lines, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (!line.empty() && line.front() == '[') {
            inEntry = line == "[Desktop Entry]";
            continue;
        }
        if (!inEntry) continue;
        if (line == "Type=Link") isLink = true;
        if (line.rfind("URL=", 0) == 0) url = line.substr(4);
    }
    const std::string scheme = "file://";
    if (!isLink || url.rfind(scheme, 0) != 0) return std::nullopt;
    std::string target;
    for (std::size_t i = scheme.size(); i < url.size(); ++i) {
        if (url[i] == '%' && i + 2 < url.size() && HexValue(url[i + 1]) >= 0 &&
            HexValue(url[i + 2]) >= 0) {
            target += static_cast<char>(HexValue(url[i + 1]) * 16 + HexValue(url[i + 2]));
            i += 2;
        } else {
            target += url[i];
        }
    }
    // "file://host/path": only the local host is ours.
    if (target.rfind("localhost/", 0) == 0) target.erase(0, 9);
    if (target.empty() || target.front() != '/' || target.find('\0') != std::string::npos) {
        return std::string();  // a link file, but to nothing we can reach
    }
    return target;
}

}  // namespace

bool IsAlias(const std::string& path) { return LinkTarget(path).has_value(); }

std::string AliasName(const std::string& path) {
    std::string name = platform::LastPathComponent(path);
    const std::string suffix = ".desktop";
    if (name.size() > suffix.size() &&
        name.compare(name.size() - suffix.size(), suffix.size(), suffix) == 0) {
        name.erase(name.size() - suffix.size());
    }
    return name;
}

bool ResolveTheAlias(std::string& path) {
    std::string current = path;
    for (int hop = 0; hop < kMaxAliasChain; ++hop) {
        std::optional<std::string> target = LinkTarget(current);
        if (!target) {
            if (hop > 0 && !platform::ItemExists(current)) return false;
            path = current;
            return true;
        }
        if (target->empty() || target->size() > kMaxAliasPathBytes) return false;
        current = *target;
    }
    return false;  // a chain that does not end
}

}  // namespace qv::items
