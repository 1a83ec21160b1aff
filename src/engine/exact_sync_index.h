#pragma once
// What the scan asks of the ExactSync index: whether an index of the last exact run exists for
// the task, and whether a path was present then on a side.

#include <string>

namespace qv::engine {

inline constexpr int kSideA = 1;
inline constexpr int kSideB = 0;

class ExactSyncIndex {
  public:
    virtual ~ExactSyncIndex() = default;
    // Looks for the index of the task's two folders and loads it; true when found and read.
    virtual bool ExactSyncFileExists(const std::string& sourceFolder,
                                     const std::string& destFolder) = 0;
    // The path was present in that side's tree at the end of the last exact run.
    virtual bool ItWasExixting(const std::string& path, int side) const = 0;
};

// Until indexes are kept, no task has one: Exact Synchronize then plans like Synchronize.
class NoExactSyncIndex : public ExactSyncIndex {
  public:
    bool ExactSyncFileExists(const std::string&, const std::string&) override { return false; }
    bool ItWasExixting(const std::string&, int) const override { return false; }
};

}  // namespace qv::engine
