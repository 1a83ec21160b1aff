#include "cli/triggers_command.h"

#include <ostream>

#include "cli/cli.h"
#include "cli/json_writer.h"
#include "cli/options_command.h"
#include "cli/terminal_text.h"
#include "cli/verb_table.h"
#include "platform/utf8.h"
#include "sessions/trigger_editor.h"

namespace qv::cli {

namespace {

using sessions::TriggerEditor;

constexpr Verb kVerbs[] = {
    {"show", 0, 0, "triggers show"},
    {"set", 1, SIZE_MAX, "triggers set KEY=VALUE..."},
    {"on", 1, 1, "triggers on mount|change"},
    {"off", 1, 1, "triggers off mount|change"},
};

constexpr const char* kKeys[] = {sessions::kTriggerOnMountKey, sessions::kTriggerOnChangeKey,
                                 sessions::kTriggerQuietKey, sessions::kTriggerMinMinutesKey};

int Show(app::MainApp& app, std::int64_t index, const TriggerEditor& editor, bool json,
         std::ostream& out) {
    const plist::Value& dict = editor.CurrentTriggerDict();
    const std::string description = editor.Description();
    if (!json) {
        for (const char* key : kKeys) out << key << '\t' << dict.intAt(key) << '\n';
        out << "description\t" << ForTerminal(description) << '\n';
        return kExitOk;
    }
    const std::string name = app.document().GetSessionName(index);
    out << "{\"session\": ";
    WriteJsonString(out, name, !platform::IsValidUtf8(name));
    out << ", \"sessionIndex\": " << index << ", \"triggerDict\": {";
    const char* separator = "";
    for (const char* key : kKeys) {
        out << separator << '"' << key << "\": " << dict.intAt(key);
        separator = ", ";
    }
    out << "}, \"description\": ";
    WriteJsonString(out, description, !platform::IsValidUtf8(description));
    out << "}\n";
    return kExitOk;
}

// Applies the verb's words to the editor; "" when every one was taken.
std::string Apply(TriggerEditor& editor, const TriggersArguments& args) {
    const std::string& verb = args.words.front();
    if (verb == "on" || verb == "off") {
        const std::string& kind = args.words[1];
        if (kind != "mount" && kind != "change") {
            return "triggers " + verb + " takes mount or change, not '" + kind + "'";
        }
        return editor.Set(
            kind == "mount" ? sessions::kTriggerOnMountKey : sessions::kTriggerOnChangeKey,
            verb == "on" ? "1" : "0");
    }
    for (std::size_t i = 1; i < args.words.size(); ++i) {
        const std::string& word = args.words[i];
        const std::size_t equals = word.find('=');
        if (equals == std::string::npos || equals == 0) return "'" + word + "' is not KEY=VALUE";
        std::string why = editor.Set(word.substr(0, equals), word.substr(equals + 1));
        if (!why.empty()) return why;
    }
    return {};
}

// What a trigger that is on cannot do for this session, said as a warning.
void WarnIfNothingToWatch(const plist::Value& session, const TriggerEditor& editor,
                          std::ostream& err) {
    const plist::Value* console = session.dictAt("consoleDict");
    const plist::Value* multi = session.dictAt("multiDict");
    const bool multiOn = multi != nullptr && multi->intAt("multiOn") == 1;
    if (editor.options().onChange && !multiOn &&
        (console == nullptr || console->stringAt("topFolder").empty())) {
        err << "quorvel: warning: the session has no source folder: its change trigger has "
               "nothing to watch\n";
    }
}

}  // namespace

std::string CheckTriggersArguments(const TriggersArguments& args) {
    if (std::string why = CheckVerbWords(kVerbs, "triggers", args.words); !why.empty()) return why;
    if (args.session.has_value() == args.sessionIndex.has_value()) {
        return "triggers " + args.words.front() +
               " needs either --session NAME or --session-index N";
    }
    if (args.json && args.words.front() != "show") return "--json is only for triggers show";
    return {};
}

bool TriggersVerbChanges(const TriggersArguments& args) {
    return !args.words.empty() && args.words.front() != "show";
}

int RunTriggersCommand(app::MainApp& app, const TriggersArguments& args, std::ostream& out,
                       std::ostream& err) {
    const std::int64_t index =
        SelectSession(app.document(), args.sessionIndex, args.session.value_or(""), err);
    if (index < 0) return kExitUsage;
    plist::Value& session = *app.document().GetSessionDict(index);
    const plist::Value* stored = session.dictAt(sessions::kTriggerDictKey);
    TriggerEditor editor(stored ? *stored : plist::Value());
    if (args.words.front() == "show") return Show(app, index, editor, args.json, out);
    if (const std::string why = Apply(editor, args); !why.empty()) {
        return Refuse(err, why);
    }
    std::string message;
    editor.GetPanels(session, &message);
    if (const int written = WriteOptionsDocument(app, args.document, err); written != kExitOk) {
        return written;
    }
    WarnIfNothingToWatch(session, editor, err);
    return kExitOk;
}

}  // namespace qv::cli
