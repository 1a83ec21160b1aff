#include "cli/session_command.h"

#include <charconv>
#include <filesystem>
#include <istream>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "app/main_app.h"
#include "cli/cli.h"
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

// The options that take a value, and where that value goes.
std::optional<std::string>* ValueOption(SessionArguments& args, const std::string& name) {
    if (name == "--session-index") return &args.sessionIndex;
    if (name == "--task") return &args.task;
    if (name == "--source") return &args.source;
    if (name == "--dest") return &args.dest;
    if (name == "--to") return &args.to;
    return nullptr;
}

bool Parse(int argc, char** argv, SessionArguments* args, std::string* error) {
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        if (a == "--") {
            // Everything after it is an operand, a name beginning with "-" included.
            for (++i; i < argc; ++i) args->words.emplace_back(argv[i]);
            break;
        }
        const std::size_t equals = a.find('=');
        std::optional<std::string> inlineValue;
        if (a.starts_with("--") && equals != std::string::npos) {
            inlineValue = a.substr(equals + 1);
            a.resize(equals);
        }
        const bool takesValue = a == "--document" || ValueOption(*args, a) != nullptr;
        if (takesValue) {
            if (!inlineValue && i + 1 >= argc) {
                *error = a + " needs a value";
                return false;
            }
            const std::string value = inlineValue ? *inlineValue : argv[++i];
            if (a == "--document") {
                args->document = value;
            } else {
                *ValueOption(*args, a) = value;
            }
        } else if (inlineValue) {
            *error = "unknown option '" + a + "'";
            return false;
        } else if (a == "--yes") {
            args->yes = true;
        } else if (a == "--force") {
            args->force = true;
        } else if (a.size() > 1 && a[0] == '-' && a != "-") {
            *error = "unknown option '" + a + "'";
            return false;
        } else {
            args->words.push_back(a);
        }
    }
    return true;
}

// What each verb takes: its operands (the session's NAME first, unless given by
// --session-index) and its options.
struct Verb {
    const char* command;
    const char* name;
    std::size_t minOperands;  // the session's NAME counted
    std::size_t maxOperands;
    bool namesSession;
    const char* options;  // the options it accepts, space-separated
};
constexpr Verb kVerbs[] = {
    {"session", "add", 1, 1, false, "--task --source --dest"},
    {"session", "duplicate", 1, 2, true, ""},
    {"session", "rename", 2, 2, true, ""},
    {"session", "remove", 1, 1, true, "--yes"},
    {"session", "move", 1, 1, true, "--to"},
    {"session", "set-folders", 1, 1, true, "--source --dest"},
    {"document", "save-as", 1, 1, false, "--force"},
};

// "" when the arguments suit the verb, otherwise what is wrong.
std::string CheckArguments(const SessionArguments& args, const Verb** verb) {
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
    const std::string accepted = std::string(" ") + v.options + " ";
    const std::pair<bool, const char*> given[] = {
        {args.task.has_value(), "--task"},
        {args.source.has_value(), "--source"},
        {args.dest.has_value(), "--dest"},
        {args.to.has_value(), "--to"},
        {args.yes, "--yes"},
        {args.force, "--force"},
    };
    for (const auto& [isGiven, option] : given) {
        if (isGiven && accepted.find(std::string(" ") + option + " ") == std::string::npos) {
            return std::string(option) + " is not for " + what;
        }
    }
    if (std::string(v.name) == "move" && !args.to) return "session move needs --to N";
    if (std::string(v.name) == "set-folders" && !args.source && !args.dest) {
        return "set-folders needs --source or --dest";
    }
    return {};
}

int Refuse(std::ostream& err, const std::string& message) {
    err << "quorvel: " << ForTerminal(message) << "\n";
    return kExitUsage;
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

bool IsSessionCommand(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--document") {
            ++i;
            continue;
        }
        if (a == "--") return i + 1 < argc && (std::string(argv[i + 1]) == "session" ||
                                               std::string(argv[i + 1]) == "document");
        if (a.size() > 1 && a[0] == '-') continue;
        return a == "session" || a == "document";
    }
    return false;
}

int RunSessionCommand(int argc, char** argv, std::istream& in, std::ostream& out, std::ostream& err,
                      bool interactive) {
    SessionArguments args;
    std::string error;
    const Verb* verb = nullptr;
    if (Parse(argc, argv, &args, &error)) error = CheckArguments(args, &verb);
    if (!error.empty()) {
        err << "quorvel: " << TerminalName(error) << "\nTry 'quorvel --help'.\n";
        return kExitUsage;
    }
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
