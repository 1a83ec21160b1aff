#include "items/temporary_names.h"

#include <algorithm>
#include <string_view>

#include "items/tw_utilities.h"
#include "platform/file_system.h"
#include "platform/folder_handle.h"

namespace qv::items {
namespace {

bool IsNumberedName(const std::string& name, std::string_view base) {
    if (name.compare(0, base.size(), base) != 0) return false;
    if (name.size() == base.size()) return true;
    if (name.size() < base.size() + 2 || name[base.size()] != ' ') return false;
    return std::all_of(name.begin() + static_cast<long>(base.size()) + 1, name.end(),
                       [](char c) { return c >= '0' && c <= '9'; });
}

}  // namespace

bool IsTemporaryName(const std::string& name) {
    return IsNumberedName(name, kReplaceTempName) || IsNumberedName(name, kLinkTempName);
}

bool IsMarkedTemporary(int dirFd, const std::string& name) {
    if (!IsTemporaryName(name)) return false;
    if (IsNumberedName(name, kLinkTempName)) {
        return platform::StatAt(dirFd, name).attributes.isSymbolicLink();
    }
    char value[4];
    return platform::sys().getxattrat(dirFd, name.c_str(), kTemporaryXattr, value,
                                      sizeof value) > 0;
}

}  // namespace qv::items
