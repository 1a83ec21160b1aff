#include "cli/session_command.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <filesystem>
#include <istream>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "app/main_app.h"
#include "cli/cli.h"
#include "cli/option_table.h"
#include "cli/options_command.h"
#include "cli/terminal_text.h"
#include "platform/file_io.h"
#include "platform/localization.h"
#include "sessions/session_commands.h"
#include "sessions/settings_options.h"

namespace qv::cli {

namespace {

using platform::GLS;
using sessions::SessionDocument;

constexpr int kExitDeclined = 1;

struct SessionArguments {
    std::vector<std::string> words;  // the command, its verb, then the verb's operands
    std::string document;
    std::optional<std::string> sessionIndex;
    std::optional<std::string> task;
    std::optional<std::string> source;
    std::optional<std::string> dest;
    std::optional<std::string> to;
    bool yes = false;
    bool force = false;
};

// Every "--name=..." is read as a name and a value here.
constexpr OptionRow kDocument = WithValue("--document", "a value", Attach::kYes);
constexpr OptionRow kSessionIndex = WithValue("--session-index", "a value", Attach::kYes);
constexpr OptionRow kTask = WithValue("--task", "a value", Attach::kYes);
constexpr OptionRow kSource = WithValue("--source", "a value", Attach::kYes);
constexpr OptionRow kDest = WithValue("--dest", "a value", Attach::kYes);
constexpr OptionRow kTo = WithValue("--to", "a value", Attach::kYes);
constexpr OptionRow kYes = Switch("--yes");
constexpr OptionRow kForce = Switch("--force");
constexpr const OptionRow* kOptions[] = {&kDocument, &kSessionIndex, &kTask, &kSource,
                                         &kDest,     &kTo,           &kYes,  &kForce};
constexpr Grammar kGrammar{.options = kOptions, .splitEveryEquals = true};
constexpr Take<SessionArguments> kTakes[] = {
    {&kDocument, Into<&SessionArguments::document>},
    {&kSessionIndex, Into<&SessionArguments::sessionIndex>},
    {&kTask, Into<&SessionArguments::task>},
    {&kSource, Into<&SessionArguments::source>},
    {&kDest, Into<&SessionArguments::dest>},
    {&kTo, Into<&SessionArguments::to>},
    {&kYes, Into<&SessionArguments::yes>},
    {&kForce, Into<&SessionArguments::force>},
};
// The options a verb may or may not take; every verb takes --document, and --session-index
// in place of the NAME of the session it names.
constexpr const OptionRow* kVerbOptions[] = {&kTask, &kSource, &kDest, &kTo, &kYes, &kForce};

// What each verb takes: its operands (the session's NAME first, unless given by
// --session-index) and its options.
struct Verb {
    const char* command;
    const char* name;
    std::size_t minOperands;  // the session's NAME counted
    std::size_t maxOperands;
    bool namesSession;
    std::array<const OptionRow*, 3> options;  // those of kVerbOptions it takes
};
constexpr Verb kVerbs[] = {
    {"session", "add", 1, 1, false, {&kTask, &kSource, &kDest}},
    {"session", "duplicate", 1, 2, true, {}},
    {"session", "rename", 2, 2, true, {}},
    {"session", "remove", 1, 1, true, {&kYes}},
    {"session", "move", 1, 1, true, {&kTo}},
    {"session", "set-folders", 1, 1, true, {&kSource, &kDest}},
    {"document", "save-as", 1, 1, false, {&kForce}},
};

// "" when the arguments suit the verb, otherwise what is wrong.
std::string CheckArguments(const SessionArguments& args, const ParsedLine& line,
                           const Verb** verb) {
    // "--dest session": an option took the command's word as its value.
    if (args.words.empty()) return "the command word was taken as an option's value";
    if (args.words.size() < 2) return args.words.front() + " needs a verb";
    *verb = nullptr;
    for (const Verb& v : kVerbs) {
        if (args.words[0] == v.command && args.words[1] == v.name) *verb = &v;
    }
    if (*verb == nullptr) return "unknown " + args.words[0] + " verb '" + args.words[1] + "'";
    const Verb& v = **verb;
    const std::string what = std::string(v.command) + " " + v.name;
    std::size_t operands = args.words.size() - 2;
    if (args.sessionIndex) {
        if (!v.namesSession) return "--session-index is not for " + what;
        ++operands;  // the index stands for the NAME
    }
    if (operands < v.minOperands) return what + " needs more arguments";
    if (operands > v.maxOperands) {
        return "unexpected argument '" + args.words.back() + "'";
    }
    for (const OptionRow* option : kVerbOptions) {
        if (line.Has(*option) &&
            std::find(v.options.begin(), v.options.end(), option) == v.options.end()) {
            return std::string(option->name) + " is not for " + what;
        }
    }
    if (std::string(v.name) == "move" && !args.to) return "session move needs --to N";
    if (std::string(v.name) == "set-folders" && !args.source && !args.dest) {
        return "set-folders needs --source or --dest";
    }
    return {};
}

// The session the NAME operand (or --session-index) names, or -1 after saying why there is none.
std::int64_t SelectSession(const SessionDocument& doc, const SessionArguments& args,
                           std::ostream& err) {
    return cli::SelectSession(doc, args.sessionIndex,
                              args.sessionIndex ? std::string() : args.words[2], err);
}

// The operands after the session's NAME.
std::vector<std::string> Rest(const SessionArguments& args) {
    const std::size_t skip = args.sessionIndex ? 2 : 3;
    if (args.words.size() <= skip) return {};
    return {args.words.begin() + static_cast<std::ptrdiff_t>(skip), args.words.end()};
}

// A folder as it is stored (see StoredPath).
std::optional<std::string> StoredFolder(const std::string& given, const char* option,
                                        std::ostream& err) {
    return StoredPath(given, true, std::string(option) + " needs a folder", err);
}

bool SetFolders(SessionDocument& doc, std::int64_t index, const SessionArguments& args,
                std::ostream& err) {
    std::optional<std::string> source;
    std::optional<std::string> dest;
    if (args.source && !(source = StoredFolder(*args.source, "--source", err))) return false;
    if (args.dest && !(dest = StoredFolder(*args.dest, "--dest", err))) return false;
    plist::Value& session = *doc.GetSessionDict(index);
    plist::Value* console = session.dictAt("consoleDict");
    if (console == nullptr) console = &session.set("consoleDict", plist::Dict{});
    if (source) console->set("topFolder", *source);
    if (dest) console->set("bottomFolder", *dest);
    return true;
}

int Write(app::MainApp& app, const SessionArguments& args, std::ostream& err) {
    if (args.document.empty()) EnsureTemplateOnDisk(app, err);
    return WriteOptionsDocument(app, args.document, err);
}

int Add(app::MainApp& app, const SessionArguments& args, std::ostream& err) {
    std::int64_t task = sessions::kTaskSynchronize;
    if (args.task) {
        if (*args.task == "backup") {
            task = sessions::kTaskBackup;
        } else if (*args.task != "sync") {
            err << "quorvel: --task takes sync or backup, not '" << TerminalName(*args.task)
                << "'\n";
            return kExitUsage;
        }
    }
    SessionDocument& doc = app.document();
    const sessions::SessionCommandResult r = sessions::NewSession(doc, args.words[2], task);
    if (!r) return Refuse(err, r.message);
    if (!SetFolders(doc, r.sessionIndex, args, err)) return kExitUsage;
    return Write(app, args, err);
}

// Asks the removal question on a terminal; without one, only --yes removes.
std::optional<int> ConfirmRemoval(const std::string& question, const SessionArguments& args,
                                  std::istream& in, std::ostream& out, std::ostream& err,
                                  bool interactive) {
    if (args.yes) return std::nullopt;
    if (!interactive) {
        err << "quorvel: " << ForTerminal(question) << "\n"
            << "quorvel: not removed: without a terminal, give --yes\n";
        return kExitUsage;
    }
    out << GLS("Warning:") << " " << ForTerminal(question) << " [y] " << GLS("OK") << "   [N] "
        << GLS("Cancel") << "? " << std::flush;
    std::string line;
    const bool yes = std::getline(in, line) && !line.empty() && (line[0] == 'y' || line[0] == 'Y');
    if (yes) return std::nullopt;
    err << "quorvel: nothing removed\n";
    return kExitDeclined;
}

int SaveAs(app::MainApp& app, const SessionArguments& args, std::ostream& out, std::ostream& err) {
    std::string path = args.words[2];
    const std::string ext = std::string(".") + sessions::kDocumentExtension;
    if (!path.ends_with(ext)) path += ext;
    if (platform::ItemExists(path) && !args.force) {
        err << "quorvel: \"" << TerminalName(path)
            << "\" already exists; use --force to replace it\n";
        return kExitUsage;
    }
    const sessions::DocResult written = app.document().WriteFileSession(path);
    if (!written) {
        err << "quorvel: " << ForTerminal(written.alert)
            << (written.reason.empty() ? "" : " (" + TerminalName(written.reason) + ")") << "\n";
        return kExitUsage;
    }
    out << TerminalName(path) << "\n";
    return kExitOk;
}

}  // namespace

bool IsSessionCommand(std::span<const std::string> words) {
    for (std::size_t i = 0; i < words.size(); ++i) {
        const std::string& word = words[i];
        if (word == "--document") {
            ++i;
            continue;
        }
        if (word == "--") {
            return i + 1 < words.size() &&
                   (words[i + 1] == "session" || words[i + 1] == "document");
        }
        if (word.size() > 1 && word[0] == '-') continue;
        return word == "session" || word == "document";
    }
    return false;
}

int RunSessionCommand(std::span<const std::string> words, std::istream& in, std::ostream& out,
                      std::ostream& err, bool interactive) {
    ParsedLine line;
    SessionArguments args;
    const Verb* verb = nullptr;
    std::string error = ParseLine(kGrammar, words, &line);
    if (error.empty()) {
        Fill(kTakes, line, &args);
        args.words = line.operands;
        error = CheckArguments(args, line, &verb);
    }
    if (!error.empty()) return SayUsage(err, error);
    std::optional<std::int64_t> to;
    if (args.to && !(to = ParseInteger(*args.to))) {
        err << "quorvel: --to takes a session index, not '" << TerminalName(*args.to) << "'\n";
        return kExitUsage;
    }

    app::MainApp app(app::DefaultResourcesFolder());
    std::optional<platform::RunLock> hold;
    if (!StartApp(app, err, &hold)) return kExitUsage;
    if (!OpenDocument(app, args.document, err)) return kExitUsage;
    SessionDocument& doc = app.document();

    const std::string name = verb->name;
    if (name == "save-as") return SaveAs(app, args, out, err);
    if (name == "add") return Add(app, args, err);
    const std::int64_t index = SelectSession(doc, args, err);
    if (index < 0) return kExitUsage;
    const std::vector<std::string> rest = Rest(args);
    sessions::SessionCommandResult r;
    if (name == "duplicate") {
        const std::string newName =
            rest.empty() ? sessions::ProposedDuplicateName(doc, index) : rest.front();
        r = sessions::DuplicateSession(doc, index, newName);
    } else if (name == "rename") {
        r = sessions::RenameSession(doc, index, rest.front());
    } else if (name == "remove") {
        const std::string question = sessions::RemoveSessionQuestion(doc, index);
        r = sessions::RemoveSession(doc, index);
        if (!r) return Refuse(err, r.message);
        if (const std::optional<int> stop =
                ConfirmRemoval(question, args, in, out, err, interactive)) {
            return *stop;
        }
    } else if (name == "move") {
        if (*to < 0 || *to >= doc.SessionCount()) {
            err << "quorvel: --to takes an index from 0 to " << doc.SessionCount() - 1 << "\n";
            return kExitUsage;
        }
        r = sessions::MoveSession(doc, index, *to);
    } else {  // set-folders
        if (!SetFolders(doc, index, args, err)) return kExitUsage;
        r.ok = true;
    }
    if (!r) return Refuse(err, r.message);
    return Write(app, args, err);
}

}  // namespace qv::cli
