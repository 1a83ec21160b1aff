#pragma once
// `quorvel volumes`: the volumes a session mounts before it runs, listed, added from a folder,
// changed, and mounted or unmounted now (the panel's try buttons), through the editor the
// volumes panel uses.

#include <iosfwd>
#include <optional>
#include <string>
#include <vector>

#include "app/main_app.h"

namespace qv::cli {

struct VolumesArguments {
    // list | add FOLDER | set N KEY=VALUE... | toggle N | remove N | on | off | mount [N] |
    // unmount [N]
    std::vector<std::string> words;
    std::optional<std::string> session;
    std::optional<std::string> sessionIndex;
    std::string document;
};

std::string CheckVolumesArguments(const VolumesArguments& args);

// Exit statuses: 0 done, 1 a mount or unmount failed, 2 a refusal.
int RunVolumesCommand(app::MainApp& app, const VolumesArguments& args, std::istream& in,
                      std::ostream& out, std::ostream& err);

}  // namespace qv::cli
