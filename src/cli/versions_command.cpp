#include "cli/versions_command.h"

#include <ostream>

#include "app/session_versions.h"
#include "cli/cli.h"
#include "cli/json_writer.h"
#include "cli/terminal_text.h"
#include "platform/utf8.h"

namespace qv::cli {

namespace {

constexpr int kExitFailed = 1;

std::string SideName(const fileops::VersionInfo& v) {
    std::string side = v.onB ? "B" : "A";
    if (v.pair > 0) side += std::to_string(v.pair + 1);
    return side;
}

void WriteJsonText(std::ostream& out, const std::string& text) {
    WriteJsonString(out, text, !platform::IsValidUtf8(text));
}

void WriteList(const std::vector<fileops::VersionInfo>& versions, bool json, std::ostream& out) {
    if (!json) {
        for (const fileops::VersionInfo& v : versions) {
            out << v.stamp << '\t' << v.size << '\t' << SideName(v) << '\t'
                << TerminalName(v.relativePath) << (v.isFolder ? "/" : "") << '\n';
        }
        return;
    }
    out << "[";
    const char* separator = "";
    for (const fileops::VersionInfo& v : versions) {
        out << separator << "{\"path\": ";
        WriteJsonText(out, v.relativePath);
        out << ", \"stamp\": \"" << v.stamp << "\", \"size\": " << v.size << ", \"side\": \""
            << SideName(v) << "\", \"folder\": " << (v.isFolder ? "true" : "false")
            << ", \"version\": ";
        WriteJsonText(out, v.versionPath);
        out << "}";
        separator = ", ";
    }
    out << "]\n";
}

}  // namespace

std::string CheckVersionsArguments(const VersionsArguments& args) {
    const std::string verb = args.words.empty() ? "" : args.words.front();
    if (verb != "list" && verb != "restore") return "versions needs list or restore";
    if (!args.session && !args.sessionIndex) {
        return "versions needs --session NAME or --session-index N";
    }
    if (verb == "list" && args.words.size() > 2) return "versions list takes at most one PATH";
    if (verb == "restore" && args.words.size() != 2) return "versions restore needs one PATH";
    if (verb == "list" && (args.at || args.to)) return "--at and --to are for versions restore";
    if (verb == "restore" && args.json) return "--json is for versions list";
    return {};
}

int RunVersionsCommand(app::MainApp& app, const VersionsArguments& args, std::ostream& out,
                       std::ostream& err) {
    const std::int64_t index =
        SelectSession(app.document(), args.sessionIndex, args.session.value_or(""), err);
    if (index < 0) return kExitUsage;
    const plist::Value& session = *app.document().GetSessionDict(index);
    const std::vector<fileops::VersionPair> pairs = app::VersionPairsOf(session);
    const std::string relative =
        args.words.size() > 1 ? app::RelativeVersionPath(pairs, args.words[1]) : "";
    std::vector<std::string> errors;
    const std::vector<fileops::VersionInfo> versions =
        fileops::ListVersions(pairs, app::VersionsSettingsOfSession(session), relative, &errors);
    for (const std::string& error : errors) err << "quorvel: " << TerminalName(error) << "\n";
    if (args.words.front() == "list") {
        WriteList(versions, args.json, out);
        return kExitOk;
    }
    if (relative.empty()) return Refuse(err, "versions restore needs the path of an item");
    std::string why;
    const std::optional<fileops::VersionInfo> chosen =
        app::ChooseVersion(versions, relative, args.at, &why);
    if (!chosen) return Refuse(err, why);
    std::vector<std::string> done;
    const bool ok = app::RestoreSessionVersion(app, session, *chosen, args.to, &done, &why);
    for (const std::string& line : done) out << TerminalName(line) << "\n";
    if (!ok) {
        err << "quorvel: " << TerminalName(why) << "\n";
        return kExitFailed;
    }
    return kExitOk;
}

}  // namespace qv::cli
