#include "platform/system_facts.h"

#include <dirent.h>
#include <pwd.h>
#include <sys/utsname.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <optional>
#include <string_view>
#include <vector>

#include "platform/file_io.h"

namespace qv::platform {

namespace {

constexpr std::size_t kMaxOsReleaseBytes = 64 * 1024;
constexpr std::size_t kMaxSysfsBytes = 4096;
// What a system without an os-release file is called.
constexpr const char* kDefaultSystemName = "Linux";

// The value of an os-release assignment: shell-like, either bare or in single or double
// quotes, where a backslash in double quotes (or bare) takes the next character literally.
std::string UnquoteShellValue(std::string_view raw) {
    std::string value;
    char quote = 0;
    for (std::size_t i = 0; i < raw.size(); ++i) {
        const char c = raw[i];
        if (quote != 0 && c == quote) {
            quote = 0;
        } else if (quote == '\'') {
            value += c;  // nothing escapes inside single quotes
        } else if (c == '\\' && i + 1 < raw.size()) {
            value += raw[++i];
        } else if (quote == 0 && (c == '"' || c == '\'')) {
            quote = c;
        } else if (quote == 0 && c == '#' && (i == 0 || raw[i - 1] == ' ' || raw[i - 1] == '\t')) {
            break;  // a comment after the value
        } else {
            value += c;
        }
    }
    while (!value.empty() && (value.back() == ' ' || value.back() == '\t')) value.pop_back();
    return value;
}

// PRETTY_NAME of an os-release file (empty when it lacks one); nothing when the file cannot be
// read, which is the one case where the second file is looked at.
std::optional<std::string> PrettyNameIn(const std::string& path) {
    const ReadFileResult file = ReadWholeFile(path, kMaxOsReleaseBytes);
    if (file.status != ReadStatus::Ok) return std::nullopt;
    std::string_view rest = file.bytes;
    while (!rest.empty()) {
        const std::size_t end = rest.find('\n');
        std::string_view line = rest.substr(0, end);
        rest = end == std::string_view::npos ? std::string_view() : rest.substr(end + 1);
        while (!line.empty() && (line.front() == ' ' || line.front() == '\t'))
            line.remove_prefix(1);
        constexpr std::string_view kKey = "PRETTY_NAME=";
        if (line.starts_with(kKey)) return UnquoteShellValue(line.substr(kKey.size()));
    }
    return std::string();
}

std::string TrimmedFile(const std::string& path) {
    const ReadFileResult file = ReadWholeFile(path, kMaxSysfsBytes);
    if (file.status != ReadStatus::Ok) return {};
    std::string text = file.bytes;
    while (!text.empty() && std::isspace(static_cast<unsigned char>(text.back()))) text.pop_back();
    return text;
}

// Interfaces such as bridges' dummies or tunnels report an address of zeros: not a hardware
// address worth showing.
bool IsZeroAddress(const std::string& address) {
    return std::all_of(address.begin(), address.end(), [](char c) { return c == '0' || c == ':'; });
}

std::string FirstHardwareAddress(const std::string& netFolder) {
    std::vector<std::string> names;
    if (DIR* dir = ::opendir(netFolder.c_str())) {
        while (const dirent* entry = ::readdir(dir)) {
            const std::string name = entry->d_name;
            if (name != "." && name != "..") names.push_back(name);
        }
        ::closedir(dir);
    }
    std::sort(names.begin(), names.end());
    constexpr const char* kLoopbackType = "772";  // ARPHRD_LOOPBACK
    for (const std::string& name : names) {
        const std::string folder = netFolder + "/" + name;
        if (name == "lo" || TrimmedFile(folder + "/type") == kLoopbackType) continue;
        std::string address = TrimmedFile(folder + "/address");
        if (address.empty() || IsZeroAddress(address)) continue;
        for (char& c : address) {
            c = c == ':' ? '.' : static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
        }
        return address;
    }
    return {};
}

void ReadUser(uid_t uid, SystemFacts& facts) {
    long size = ::sysconf(_SC_GETPW_R_SIZE_MAX);
    std::vector<char> buffer(size > 0 ? static_cast<std::size_t>(size) : 1024);
    passwd entry{};
    passwd* found = nullptr;
    int err = 0;
    while ((err = ::getpwuid_r(uid, &entry, buffer.data(), buffer.size(), &found)) == ERANGE &&
           buffer.size() < (1u << 20)) {
        buffer.resize(buffer.size() * 2);
    }
    if (err == 0 && found != nullptr) {
        facts.userName = found->pw_name ? found->pw_name : "";
        const std::string gecos = found->pw_gecos ? found->pw_gecos : "";
        facts.fullName = gecos.substr(0, gecos.find(','));
    }
    if (facts.fullName.empty()) facts.fullName = facts.userName;
}

}  // namespace

SystemFacts ReadSystemFacts(const SystemFactSources& sources) {
    SystemFacts facts;
    std::optional<std::string> pretty = PrettyNameIn(sources.osRelease);
    if (!pretty) pretty = PrettyNameIn(sources.fallbackOsRelease);
    facts.systemVersion = pretty && !pretty->empty() ? *pretty : kDefaultSystemName;

    utsname names{};
    if (::uname(&names) == 0) facts.systemBuild = names.release;

    facts.macAddress = FirstHardwareAddress(sources.netFolder);

    facts.uid = static_cast<long>(::getuid());
    facts.gid = static_cast<long>(::getgid());
    facts.euid = static_cast<long>(::geteuid());
    facts.egid = static_cast<long>(::getegid());
    ReadUser(::getuid(), facts);
    return facts;
}

}  // namespace qv::platform
