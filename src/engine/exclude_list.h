#pragma once
// The exclude list as the walk asks it: whether an item it meets is one of the paths the
// session leaves alone.

#include <string>
#include <string_view>
#include <vector>

namespace qv::engine {

class ExcludeList {
  public:
    ExcludeList() = default;
    // The valid rows' paths. Each entry is also kept in the form it has with the links of its
    // folder resolved, since a top folder reached through a link is walked by its target's path.
    explicit ExcludeList(const std::vector<std::string>& paths);

    // Whether path is an entry, whole component by component ("/a/b" never leaves out
    // "/a/bc"), a trailing "/" on either side aside. Case is ignored only when the item's folder
    // lies on a file system that ignores it: elsewhere B.TXT and b.txt are two files.
    bool IsToBeExcluded(std::string_view path, bool ignoreCase) const;

    bool empty() const { return entries_.empty(); }

  private:
    // Entries are kept written one way (no doubled or trailing "/"), so that the walk's paths,
    // which are written that way, are compared as whole strings: the test runs for every item
    // and must cost no allocation where case counts.
    struct Entry {
        std::string path;
        std::string folded;
    };
    void Add(std::string_view path);

    std::vector<Entry> entries_;
};

}  // namespace qv::engine
