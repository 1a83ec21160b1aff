#pragma once
// Shared fixtures: a fresh temporary folder per test, and a home of its own so that no test
// touches the real user's preferences or documents.

#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <optional>
#include <string>

namespace qv::test {

// A temporary folder, removed with everything in it when the object goes.
class TempDir {
  public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::string& path() const { return path_; }
    std::string operator/(const std::string& name) const { return path_ + "/" + name; }

  private:
    std::string path_;
};

// Sets environment variables for its lifetime, restoring the old values afterwards.
class ScopedEnv {
  public:
    ScopedEnv() = default;
    ~ScopedEnv();
    ScopedEnv(const ScopedEnv&) = delete;
    ScopedEnv& operator=(const ScopedEnv&) = delete;
    void Set(const std::string& name, const std::string& value);
    void Unset(const std::string& name);

  private:
    void Remember(const std::string& name);
    std::map<std::string, std::optional<std::string>> saved_;
};

// The local time zone (TZ) for its lifetime, the old one restored afterwards.
class ScopedTimeZone {
  public:
    explicit ScopedTimeZone(const std::string& zone);
    ~ScopedTimeZone();
    ScopedTimeZone(const ScopedTimeZone&) = delete;
    ScopedTimeZone& operator=(const ScopedTimeZone&) = delete;

  private:
    std::optional<ScopedEnv> env_;
};

// HOME, the XDG folders (the run lock's included) and the language for a test: its own home,
// English, no preferences.
void UsePrivateHome(ScopedEnv& env, const std::string& home);

// A test whose HOME, XDG folders and language are private to it: English, no preferences.
class IsolatedHomeTest : public ::testing::Test {
  protected:
    IsolatedHomeTest();
    std::string home() const { return dir_.path(); }
    std::string configDir() const { return dir_.path() + "/.config/quorvel"; }
    TempDir dir_;
    ScopedEnv env_;
};

std::string ReadText(const std::string& path);
void WriteText(const std::string& path, const std::string& text);
// Runs a shell command; returns its exit status and, in *output, what it printed on stdout.
int RunCommand(const std::string& command, std::string* output = nullptr);
// The command line quoting of a path.
std::string ShellQuote(const std::string& text);
// Success when text holds part; a failure shows the whole text, so a log that lacks a line can
// be read in the test's output.
::testing::AssertionResult Contains(const std::string& text, const std::string& part);
// An item's access ACL (or with defaultAcl a folder's default one) in one line with numeric ids,
// as "user::rw-,user:4242:rw-,group::r--,mask::rw-,other::---"; "<none>" when there is none.
std::string AclText(const std::string& path, bool defaultAcl = false);
// Sets an ACL given in the short text form; the errno of a failure, 0 on success.
int SetAcl(const std::string& path, const char* text, bool defaultAcl = false);
// For root only: runs `run` as the user "nobody" (uid and gid 65534) in a child process, since
// an ordinary user takes other paths through a copy than root does. What `run` returned (at most
// 100), 101 when the ids could not be dropped, 102 when the child did not end normally.
int RunAsNobody(const std::function<int()>& run);
// Gives top and everything below it to "nobody"; false when an item could not be given.
bool GiveToNobody(const std::string& top);
// Sets an extended attribute of the item itself (a link's, not its target's); errno or 0.
int SetXattr(const std::string& path, const char* name, const std::string& value);

}  // namespace qv::test
