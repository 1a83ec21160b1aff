#pragma once
// The index's two trees made again after a run from what the folders hold then, each file with
// its record, and the backup dates stamped; what the store and its builder share.

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "items/tw_utilities.h"
#include "run/run_state.h"
#include "sessions/plist_codec.h"

namespace qv::engine {

// The components of a path as the index counts them: the root "/" is one, then every name.
std::vector<std::string_view> PathComponents(std::string_view path);

// The record of a file in the index being replaced (0 when none).
using OldRecord = std::function<std::uint64_t(const std::string& path, int side)>;

struct IndexBuild {
    // The files of the index whose backup date this run left as it was; nothing when a folder
    // of either side could not be read to its end (no tree that misses items is written, and
    // nothing is stamped).
    std::optional<std::vector<std::string>> kept;
    std::string failedFolder;  // the folder that could not be read
};

IndexBuild BuildIndexTrees(run::RunState& state, const items::TWUtilities& tw, OldRecord oldRecord,
                           plist::NameTree& treeSource, plist::NameTree& treeDest);

}  // namespace qv::engine
