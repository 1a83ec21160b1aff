#pragma once
// `quorvel versions`: the versions a session kept of an item, and one put back.

#include <iosfwd>
#include <optional>
#include <string>
#include <vector>

#include "app/main_app.h"

namespace qv::cli {

struct VersionsArguments {
    std::vector<std::string> words;  // list [PATH] | restore PATH
    std::optional<std::string> session;
    std::optional<std::string> sessionIndex;
    std::string document;
    bool json = false;
    std::optional<std::string> at;  // --at STAMP
    std::optional<std::string> to;  // --to FOLDER
};

std::string CheckVersionsArguments(const VersionsArguments& args);

// Exit statuses: 0 done, 1 the restore failed, 2 a refusal (no such session or version).
int RunVersionsCommand(app::MainApp& app, const VersionsArguments& args, std::ostream& out,
                       std::ostream& err);

}  // namespace qv::cli
