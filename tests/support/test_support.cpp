#include "support/test_support.h"

#include <acl/libacl.h>
#include <grp.h>
#include <stdlib.h>
#include <sys/acl.h>
#include <sys/wait.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace qv::test {

TempDir::TempDir() {
    std::string tmpl = (std::filesystem::temp_directory_path() / "quorvel-test-XXXXXX").string();
    if (::mkdtemp(tmpl.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
    path_ = tmpl;
}

TempDir::~TempDir() {
    std::error_code ec;
    // Restore write permission first, so that a test that locked a folder can be cleaned up.
    for (auto it = std::filesystem::recursive_directory_iterator(path_, ec);
         !ec && it != std::filesystem::recursive_directory_iterator(); it.increment(ec)) {
        if (it->is_directory(ec) && !it->is_symlink(ec)) {
            std::filesystem::permissions(it->path(), std::filesystem::perms::owner_all,
                                         std::filesystem::perm_options::add, ec);
        }
    }
    std::filesystem::permissions(path_, std::filesystem::perms::owner_all,
                                 std::filesystem::perm_options::add, ec);
    std::filesystem::remove_all(path_, ec);
}

ScopedTimeZone::ScopedTimeZone(const std::string& zone) {
    env_.emplace().Set("TZ", zone);
    ::tzset();
}

ScopedTimeZone::~ScopedTimeZone() {
    env_.reset();  // TZ as it was
    ::tzset();
}

ScopedEnv::~ScopedEnv() {
    for (const auto& [name, value] : saved_) {
        if (value) {
            ::setenv(name.c_str(), value->c_str(), 1);
        } else {
            ::unsetenv(name.c_str());
        }
    }
}

void ScopedEnv::Remember(const std::string& name) {
    if (saved_.count(name)) return;
    const char* old = std::getenv(name.c_str());
    saved_[name] = old ? std::optional<std::string>(old) : std::nullopt;
}

void ScopedEnv::Set(const std::string& name, const std::string& value) {
    Remember(name);
    ::setenv(name.c_str(), value.c_str(), 1);
}

void ScopedEnv::Unset(const std::string& name) {
    Remember(name);
    ::unsetenv(name.c_str());
}

void UsePrivateHome(ScopedEnv& env, const std::string& home) {
    env.Set("HOME", home);
    env.Unset("XDG_CONFIG_HOME");
    env.Unset("XDG_DATA_HOME");
    // The run lock lives there: tests running side by side must not refuse each other's runs.
    // The home is private (0700), as Qt asks of this folder.
    env.Set("XDG_RUNTIME_DIR", home);
    for (const char* name : {"LANGUAGE", "LC_ALL", "LC_MESSAGES"}) env.Unset(name);
    env.Set("LANG", "C");
    // A test run through sudo or pkexec would otherwise work in the invoking user's home.
    env.Unset("SUDO_UID");
    env.Unset("PKEXEC_UID");
}

IsolatedHomeTest::IsolatedHomeTest() { UsePrivateHome(env_, dir_.path()); }

std::string ReadText(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

void WriteText(const std::string& path, const std::string& text) {
    std::filesystem::create_directories(std::filesystem::path(path).parent_path());
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << text;
}

int RunCommand(const std::string& command, std::string* output) {
    FILE* pipe = ::popen(command.c_str(), "r");
    if (pipe == nullptr) return -1;
    std::string text;
    std::array<char, 4096> buf{};
    size_t n;
    while ((n = std::fread(buf.data(), 1, buf.size(), pipe)) > 0) text.append(buf.data(), n);
    const int status = ::pclose(pipe);
    if (output) *output = text;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::string ShellQuote(const std::string& text) {
    std::string out = "'";
    for (char c : text) {
        if (c == '\'') {
            out += "'\\''";
        } else {
            out += c;
        }
    }
    return out + "'";
}

::testing::AssertionResult Contains(const std::string& text, const std::string& part) {
    if (text.find(part) != std::string::npos) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "\"" << part << "\" is not in:\n" << text;
}

std::string AclText(const std::string& path, bool defaultAcl) {
    const acl_t acl = ::acl_get_file(path.c_str(), defaultAcl ? ACL_TYPE_DEFAULT : ACL_TYPE_ACCESS);
    char* text = acl ? ::acl_to_any_text(acl, nullptr, ',', TEXT_NUMERIC_IDS) : nullptr;
    const std::string result = text ? text : "<none>";
    ::acl_free(text);
    ::acl_free(acl);
    return result;
}

int SetAcl(const std::string& path, const char* text, bool defaultAcl) {
    const acl_t acl = ::acl_from_text(text);
    const int err = acl && ::acl_set_file(path.c_str(),
                                          defaultAcl ? ACL_TYPE_DEFAULT : ACL_TYPE_ACCESS, acl) == 0
                        ? 0
                        : errno;
    ::acl_free(acl);
    return err;
}

int RunAsNobody(const std::function<int()>& run) {
    const pid_t child = ::fork();
    if (child == 0) {
        const bool dropped =
            ::setgroups(0, nullptr) == 0 && ::setgid(65534) == 0 && ::setuid(65534) == 0;
        ::_exit(dropped ? std::min(run(), 100) : 101);
    }
    int status = 0;
    if (::waitpid(child, &status, 0) != child || !WIFEXITED(status)) return 102;
    return WEXITSTATUS(status);
}

bool GiveToNobody(const std::string& top) {
    bool given = ::lchown(top.c_str(), 65534, 65534) == 0;
    for (const auto& e : std::filesystem::recursive_directory_iterator(top)) {
        given = ::lchown(e.path().c_str(), 65534, 65534) == 0 && given;
    }
    return given;
}

int SetXattr(const std::string& path, const char* name, const std::string& value) {
    return ::lsetxattr(path.c_str(), name, value.data(), value.size(), 0) == 0 ? 0 : errno;
}

}  // namespace qv::test
