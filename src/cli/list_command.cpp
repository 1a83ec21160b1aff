#include "cli/list_command.h"

#include <cstdint>
#include <filesystem>
#include <optional>
#include <ostream>

#include "cli/cli.h"
#include "cli/options_command.h"
#include "cli/terminal_text.h"
#include "cli/verb_table.h"
#include "platform/file_io.h"
#include "sessions/exclude_editor.h"
#include "sessions/multi_editor.h"
#include "sessions/session_commands.h"

namespace qv::cli {

namespace {

using sessions::ExcludeEditor;
using sessions::MultiEditor;

// How many words each verb takes after itself.
struct CommandVerb {
    const char* command;
    const char* name;
    std::size_t words;
    const char* usage;
};
constexpr CommandVerb kVerbs[] = {
    {"exclude", "list", 0, ""},     {"exclude", "add", 1, " PATH"},
    {"exclude", "remove", 1, " N"}, {"exclude", "toggle", 1, " N"},
    {"exclude", "on", 0, ""},       {"exclude", "off", 0, ""},
    {"multi", "list", 0, ""},       {"multi", "set", 3, " N SOURCE DESTINATION"},
    {"multi", "clear", 1, " N"},    {"multi", "toggle", 1, " N"},
    {"multi", "on", 0, ""},         {"multi", "off", 0, ""},
};

const CommandVerb* FindVerb(const std::string& command, const std::string& name) {
    for (const CommandVerb& verb : kVerbs) {
        if (command == verb.command && name == verb.name) return &verb;
    }
    return nullptr;
}

// A path as the panel stores a picked one.
std::optional<std::string> StoredPath(const std::string& given, std::ostream& err) {
    return cli::StoredPath(given, false, "an empty path names nothing", err);
}

const char* OnOff(bool on) { return on ? "on" : "off"; }

// Leaves the panel (GetPanels), then writes the document once.
template <typename Editor>
int StoreAndWrite(Editor& editor, plist::Value& session, app::MainApp& app,
                  const OptionsArguments& args, std::ostream& err) {
    std::string message;
    if (!editor.GetPanels(session, &message)) return Refuse(err, message);
    return WriteOptionsDocument(app, args.document, err);
}

int Exclude(app::MainApp& app, const OptionsArguments& args, plist::Value& session,
            std::ostream& out, std::ostream& err) {
    const plist::Value* stored = session.dictAt("excludeDict");
    ExcludeEditor editor(stored ? *stored : plist::Value());
    const std::string& verb = args.words.front();
    if (verb == "list") {
        // Rows with an item, then the state a run would see.
        out << "exclude\t" << OnOff(editor.listOn()) << "\n";
        for (std::size_t r = 0; r < editor.rowCount(); ++r) {
            if (editor.path(r).empty() && editor.rowOn(r)) continue;
            out << r + 1 << '\t' << OnOff(editor.rowOn(r)) << '\t' << TerminalName(editor.path(r))
                << '\n';
        }
        out << "valid\t" << editor.validCount() << '\n';
        return kExitOk;
    }
    std::string why;
    if (verb == "on" || verb == "off") {
        editor.setListOn(verb == "on");
    } else if (verb == "add") {
        const std::optional<std::string> path = StoredPath(args.words[1], err);
        if (!path) return kExitUsage;
        std::size_t row = 0;
        why = editor.add(*path, &row);
        if (why.empty()) out << "row " << row + 1 << '\n';
    } else {
        const std::optional<std::size_t> row =
            RowIndex(args.words[1], editor.rowCount(), "row", err);
        if (!row) return kExitUsage;
        why = verb == "toggle" ? editor.toggle(*row) : editor.clear(*row);
    }
    if (verb == "on" && editor.validCount() == 0) {
        why =
            "no row is on with an item: the list would have no effect and stays off; add one "
            "with 'quorvel exclude add PATH'";
    }
    if (!why.empty()) return Refuse(err, why);
    return StoreAndWrite(editor, session, app, args, err);
}

int Multi(app::MainApp& app, const OptionsArguments& args, std::int64_t sessionIndex,
          plist::Value& session, std::ostream& out, std::ostream& err) {
    const plist::Value* stored = session.dictAt("multiDict");
    MultiEditor editor(stored ? *stored : plist::Value());
    const std::string& verb = args.words.front();
    if (verb == "list") {
        out << "multi\t" << OnOff(editor.listOn()) << "\n";
        for (std::size_t r = 0; r < editor.rowCount(); ++r) {
            if (editor.source(r).empty() && editor.destination(r).empty() && editor.rowOn(r)) {
                continue;
            }
            out << r + 1 << '\t' << OnOff(editor.rowOn(r)) << '\t' << TerminalName(editor.source(r))
                << '\t' << TerminalName(editor.destination(r)) << '\n';
        }
        out << "valid\t" << editor.validCount() << '\n';
        return kExitOk;
    }
    std::string why;
    if (verb == "on" || verb == "off") {
        editor.setListOn(verb == "on");
    } else {
        const std::optional<std::size_t> row =
            RowIndex(args.words[1], editor.rowCount(), "row", err);
        if (!row) return kExitUsage;
        if (verb == "set") {
            const std::optional<std::string> src = StoredPath(args.words[2], err);
            if (!src) return kExitUsage;
            const std::optional<std::string> dst = StoredPath(args.words[3], err);
            if (!dst) return kExitUsage;
            why = editor.setPaths(*row, *src, *dst);
            // As when the folders are picked in the window: their volumes are listed for
            // mounting before a run.
            if (why.empty() && editor.CheckRows(&session).empty()) {
                app.AddToAutoMountVolumeArray(sessionIndex, *src);
                app.AddToAutoMountVolumeArray(sessionIndex, *dst);
            }
        } else {
            why = verb == "toggle" ? editor.toggle(*row) : editor.clear(*row);
        }
    }
    if (verb == "on" && editor.validCount() == 0) {
        why =
            "no row is on with both folders: the list would have no effect and stays off; "
            "set one with 'quorvel multi set N SOURCE DESTINATION'";
    }
    if (!why.empty()) return Refuse(err, why);
    return StoreAndWrite(editor, session, app, args, err);
}

}  // namespace

bool IsListCommand(const std::string& command) {
    return command == "exclude" || command == "multi";
}

std::string CheckListArguments(const OptionsArguments& args) {
    if (args.words.empty()) {
        return args.command == "exclude" ? "exclude needs list, add, remove, toggle, on or off"
                                         : "multi needs list, set, clear, toggle, on or off";
    }
    const CommandVerb* verb = FindVerb(args.command, args.words.front());
    if (verb == nullptr) return "unknown " + args.command + " verb '" + args.words.front() + "'";
    const std::string what = args.command + " " + verb->name;
    if (args.words.size() != verb->words + 1) {
        if (args.words.size() > verb->words + 1) {
            return "unexpected argument '" + args.words[verb->words + 1] + "'";
        }
        return what + " needs" + verb->usage;
    }
    if (args.session.has_value() == args.sessionIndex.has_value()) {
        return what + " needs either --session NAME or --session-index N";
    }
    if (args.json) return "--json is only for settings show and conflicts show";
    return {};
}

int RunListCommand(app::MainApp& app, const OptionsArguments& args, std::ostream& out,
                   std::ostream& err) {
    sessions::SessionDocument& doc = app.document();
    const std::int64_t index =
        SelectSession(doc, args.sessionIndex, args.session.value_or(""), err);
    if (index < 0) return kExitUsage;
    plist::Value& session = *doc.GetSessionDict(index);
    return args.command == "exclude" ? Exclude(app, args, session, out, err)
                                     : Multi(app, args, index, session, out, err);
}

}  // namespace qv::cli
