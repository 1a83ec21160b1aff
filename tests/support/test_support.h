#pragma once
// Shared fixtures: a fresh temporary folder per test, and a home of its own so that no test
// touches the real user's preferences or documents.

#include <gtest/gtest.h>

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

}  // namespace qv::test
