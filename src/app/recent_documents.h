#pragma once
// The documents opened or saved lately, newest first, for File > Open Recent. Kept in a file of
// their own beside the preferences (not among them: they change at every open, and the
// preferences are a record of what the user chose). Paths are kept byte for byte.

#include <string>
#include <vector>

namespace qv::app {

class RecentDocuments {
  public:
    static constexpr std::size_t kMaxDocuments = 10;

    explicit RecentDocuments(std::string file);

    // Reads the list; a missing or damaged file is an empty list.
    void Read();
    // Puts path first (once) and writes the list.
    void Add(const std::string& path);
    // Forgets path (it could not be opened) and writes the list.
    void Remove(const std::string& path);
    void Clear();
    const std::vector<std::string>& paths() const { return paths_; }

  private:
    void Write();

    std::string file_;
    std::vector<std::string> paths_;
};

}  // namespace qv::app
