#include "cli/options_command.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <ctime>
#include <ostream>

#include "cli/cli.h"
#include "cli/json_writer.h"
#include "cli/list_command.h"
#include "cli/terminal_text.h"
#include "platform/localization.h"
#include "platform/utf8.h"
#include "sessions/conflicts_editor.h"
#include "sessions/dest_subfolder.h"
#include "sessions/settings_editor.h"
#include "sessions/settings_options.h"

namespace qv::cli {

namespace {

using platform::GLS;
using sessions::ConflictKind;
using sessions::ConflictKinds;
using sessions::SettingsEditor;

constexpr int kExitNoName = 1;

// The checkboxes by the names the command gives them. A friendly name means what the
// checkbox's label says (skip-invisible on: invisible items are skipped, which the
// dictionary stores as 0); the dictionary key sets the stored value itself.
struct CheckboxName {
    const char* name;
    const char* key;
};
constexpr CheckboxName kCheckboxNames[] = {
    {"exact", "settExact"},
    {"skip-invisible", "settInvisibleItems"},
    {"dont-unlock", "settLockedItems"},
    {"resolve-aliases", "settResolveAlias"},
    {"resolve-symlinks", "settResolveSymLink"},
    {"skip-empty-folders", "settSkipEmptyFolders"},
    {"new-items-only", "settNewItemsOnly"},
    {"packages-as-folders", "settPackagesFolders"},
    {"move-to-trash", "settMoveToTrash"},
    {"skip-permission-check", "settSkipCheckPermissions"},
    {"check-attributes", "settCheckAttrChanged"},
    {"subfolder", "settCreateDestFolder"},
};

// The settings in the panel's order: task, exact, the option checkboxes, then the sub-folder.
std::vector<std::string> SettingsKeysInPanelOrder() {
    std::vector<std::string> keys = {"settTask", "settExact"};
    for (const sessions::SettingsCheckbox& box : sessions::SettingsCheckboxes()) {
        keys.emplace_back(box.key);
    }
    for (const char* key :
         {"settCheckAttrChanged", "settCreateDestFolder", "settCreateDestFolderNameKind",
          "settCreateDestFolderCustomNameFormat", sessions::kVersionsOnKey,
          sessions::kVersionsFolderKey, sessions::kVersionsKeepKey, sessions::kVersionsDaysKey}) {
        keys.emplace_back(key);
    }
    return keys;
}

bool IsInverted(std::string_view key) {
    for (const sessions::SettingsCheckbox& box : sessions::SettingsCheckboxes()) {
        if (key == box.key) return box.inverted;
    }
    return false;
}

std::string Lower(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}

std::string BadValue(const std::string& key, const std::string& value, const std::string& takes) {
    return "'" + key + "' takes " + takes + ", not '" + value + "'";
}

constexpr const char* kBooleanValues = "yes or no (1/0, on/off, true/false)";

// The session the arguments name, or -1 after saying why there is none.
std::int64_t SelectSession(const sessions::SessionDocument& doc, const OptionsArguments& args,
                           std::ostream& err) {
    return cli::SelectSession(doc, args.sessionIndex, args.session.value_or(""), err);
}

void WriteJsonValue(std::ostream& out, const plist::Value& value) {
    if (value.isString()) {
        WriteJsonString(out, value.str(), !platform::IsValidUtf8(value.str()));
    } else if (value.isBoolean()) {
        out << (value.intValue() != 0 ? "true" : "false");
    } else if (value.isInteger()) {
        out << value.intValue();
    } else if (value.isReal()) {
        out << value.realValue();
    } else {
        out << "null";  // no option of these dictionaries holds a date, data or a collection
    }
}

std::string TextValue(const plist::Value& value) {
    if (value.isString()) return TerminalName(value.str());
    if (value.isNumber()) return std::to_string(value.intValue());
    return "?";
}

void WriteJsonHead(std::ostream& out, const sessions::SessionDocument& doc, std::int64_t index) {
    const std::string name = doc.GetSessionName(index);
    out << "{\"session\": ";
    WriteJsonString(out, name, !platform::IsValidUtf8(name));
    out << ", \"sessionIndex\": " << index;
}

int WriteDocument(app::MainApp& app, const OptionsArguments& args, std::ostream& err) {
    return WriteOptionsDocument(app, args.document, err);
}

// A KEY=VALUE word of a set verb; false (said on err) for anything else.
bool SplitKeyValue(const std::string& word, std::string* key, std::string* value,
                   std::ostream& err) {
    const std::size_t equals = word.find('=');
    if (equals == std::string::npos || equals == 0) {
        err << "quorvel: '" << TerminalName(word) << "' is not KEY=VALUE\n";
        return false;
    }
    *key = word.substr(0, equals);
    *value = word.substr(equals + 1);
    return true;
}

// GetPanels, as leaving the option's panel does, then the document written.
template <typename Editor>
int StoreAndWrite(const Editor& editor, plist::Value& session, app::MainApp& app,
                  const OptionsArguments& args, std::ostream& err) {
    std::string message;
    if (!editor.GetPanels(session, &message)) {
        err << "quorvel: " << TerminalName(message) << "\n";
        return kExitUsage;
    }
    return WriteDocument(app, args, err);
}

// ---- settings ----

int ShowSettings(const sessions::SessionDocument& doc, std::int64_t index, bool json,
                 std::ostream& out) {
    const plist::Value* stored = doc.GetSessionDict(index)->dictAt("settingsDict");
    const SettingsEditor editor(stored ? *stored : plist::Value());
    // The versions keys are shown with their defaults when the document has none.
    plist::Value dict = editor.CurrentSettingsDict();
    const run::VersionsSettings versions = editor.versions();
    dict.set(sessions::kVersionsOnKey, versions.on ? 1 : 0);
    dict.set(sessions::kVersionsFolderKey, versions.folder);
    dict.set(sessions::kVersionsKeepKey, versions.keep);
    dict.set(sessions::kVersionsDaysKey, versions.days);
    // The panel's keys first, then any the panel does not know, in the dictionary's order.
    std::vector<std::string> keys = SettingsKeysInPanelOrder();
    for (const auto& [key, value] : dict.dict()) {
        if (std::find(keys.begin(), keys.end(), key) == keys.end()) keys.push_back(key);
    }
    if (json) {
        WriteJsonHead(out, doc, index);
        out << ", \"settingsDict\": {";
        const char* separator = "";
        for (const std::string& key : keys) {
            out << separator;
            WriteJsonString(out, key);
            out << ": ";
            WriteJsonValue(out, *dict.find(key));
            separator = ", ";
        }
        out << "}, \"marker\": " << (editor.IconOn() ? "true" : "false") << "}\n";
        return kExitOk;
    }
    for (const std::string& key : keys) {
        out << TerminalName(key) << '\t' << TextValue(*dict.find(key)) << '\n';
    }
    out << "marker\t" << (editor.IconOn() ? 1 : 0) << '\n';
    return kExitOk;
}

// The patterns the pop-up offers and the default, each with the name it gives now: what the
// panel's sheet shows below its field.
void WritePatternSamples(std::ostream& err, double now) {
    err << "Samples (pattern, then the name it gives now for a source folder named Photos):\n";
    std::vector<std::string> patterns = {sessions::kDefaultCustomNameFormat, "kSrc"};
    for (const sessions::SubFolderKind& kind : sessions::SubFolderKinds(now)) {
        if (kind.tag >= sessions::kFirstPatternKind) patterns.push_back(kind.title);
    }
    for (const std::string& pattern : patterns) {
        err << "  " << pattern << "\t"
            << TerminalName(sessions::CustomSubFolderName(pattern, "Photos", now)) << "\n";
    }
}

// Applies one KEY=VALUE to the editor; "" when done, else why it was refused.
std::string ApplySetting(SettingsEditor& editor, const std::string& key, const std::string& value,
                         double now) {
    if (key == "task" || key == "settTask") {
        const std::string v = Lower(value);
        if (v == "sync" || v == "synchronize" || v == "1") {
            editor.setTask(sessions::kTaskSynchronize);
        } else if (v == "backup" || v == "2") {
            editor.setTask(sessions::kTaskBackup);
        } else {
            return BadValue(key, value, "sync or backup (1 or 2)");
        }
        return {};
    }
    for (const CheckboxName& box : kCheckboxNames) {
        if (key != box.name && key != box.key) continue;
        const std::optional<bool> on = sessions::ParseBool(value);
        if (!on) return BadValue(key, value, kBooleanValues);
        // By its dictionary key, the stored value: an inverted checkbox shows the opposite.
        editor.setCheckbox(box.key, key == box.key && IsInverted(box.key) ? !*on : *on);
        return {};
    }
    if (key == "subfolder-kind" || key == "settCreateDestFolderNameKind") {
        const std::optional<std::int64_t> kind = ParseInteger(value);
        std::string offered;
        bool known = false;
        for (const sessions::SubFolderKind& entry : sessions::SubFolderKinds(now)) {
            offered += (offered.empty() ? "" : ", ") + std::to_string(entry.tag);
            known = known || (kind && *kind == entry.tag);
        }
        if (!known) return BadValue(key, value, "one of " + offered);
        editor.setNameKind(*kind);
        return {};
    }
    if (key == "subfolder-pattern" || key == "settCreateDestFolderCustomNameFormat") {
        editor.setPattern(value);
        return {};
    }
    if (std::optional<std::string> why = editor.SetVersionsValue(key, value)) return *why;
    return "unknown settings key '" + key + "' (see 'quorvel --help')";
}

int SetSettings(app::MainApp& app, const OptionsArguments& args, std::int64_t index,
                std::ostream& err) {
    plist::Value& session = *app.document().GetSessionDict(index);
    const plist::Value* stored = session.dictAt("settingsDict");
    SettingsEditor editor(stored ? *stored : plist::Value());
    const double now = static_cast<double>(std::time(nullptr));
    bool kindGiven = false;
    bool patternGiven = false;
    for (std::size_t i = 1; i < args.words.size(); ++i) {
        std::string key, value;
        if (!SplitKeyValue(args.words[i], &key, &value, err)) return kExitUsage;
        const std::string why = ApplySetting(editor, key, value, now);
        if (!why.empty()) {
            err << "quorvel: " << TerminalName(why) << "\n";
            return kExitUsage;
        }
        kindGiven = kindGiven || key == "subfolder-kind" || key == "settCreateDestFolderNameKind";
        patternGiven = patternGiven || key == "subfolder-pattern" ||
                       key == "settCreateDestFolderCustomNameFormat";
    }
    // The panel takes a custom pattern only through its sheet, which refuses a pattern that
    // gives no name; a pattern set here, or the custom kind chosen, is held to the same check.
    if (patternGiven || (kindGiven && editor.nameKind() == sessions::kNameKindCustom)) {
        const std::string why = editor.CheckCustomPattern(editor.pattern(), now);
        if (!why.empty()) {
            err << "quorvel: " << TerminalName(why) << "\n";
            WritePatternSamples(err, now);
            return kExitUsage;
        }
    }
    return StoreAndWrite(editor, session, app, args, err);
}

int SubFolderName(const sessions::SessionDocument& doc, std::int64_t index, std::ostream& out,
                  std::ostream& err) {
    const plist::Value* stored = doc.GetSessionDict(index)->dictAt("settingsDict");
    const SettingsEditor editor(stored ? *stored : plist::Value());
    if (!editor.checkbox("settCreateDestFolder")) {
        err << "quorvel: the session has no sub-folder: its runs write into the destination "
               "itself\n";
        return kExitOk;
    }
    // As a run names it: the session's source, its kind and pattern, now; "/" written as ":".
    std::string name =
        sessions::GetDestSubFolderName(doc, index, true, std::nullopt, editor.nameKind(),
                                       editor.pattern(), static_cast<double>(std::time(nullptr)));
    std::replace(name.begin(), name.end(), '/', ':');
    const std::string problem = sessions::SubFolderNameProblem(name);
    if (!problem.empty()) {
        err << "quorvel: " << TerminalName(problem) << "\n";
        return kExitNoName;
    }
    out << TerminalName(name) << '\n';
    return kExitOk;
}

// ---- conflicts ----

const char* Policy(const ConflictKind& kind, std::int64_t radio) {
    return radio == kind.proceeds ? "proceed" : "skip";
}

int ShowConflicts(const sessions::SessionDocument& doc, std::int64_t index, bool json,
                  std::ostream& out) {
    const plist::Value* stored = doc.GetSessionDict(index)->dictAt("conflictsDict");
    const sessions::ConflictsEditor editor(stored ? *stored : plist::Value());
    const auto& kinds = ConflictKinds();
    if (json) {
        WriteJsonHead(out, doc, index);
        out << ", \"conflicts\": {";
        for (std::size_t k = 0; k < kinds.size(); ++k) {
            out << (k == 0 ? "" : ", ") << '"' << kinds[k].name << "\": {\"policy\": \""
                << Policy(kinds[k], editor.radio(k))
                << "\", \"ask\": " << (editor.ask(k) ? "true" : "false")
                << ", \"radio\": " << editor.radio(k) << "}";
        }
        out << "}, \"marker\": " << (editor.IconOn() ? "true" : "false") << "}\n";
        return kExitOk;
    }
    // The lines are what set takes back.
    for (std::size_t k = 0; k < kinds.size(); ++k) {
        out << kinds[k].name << '\t' << Policy(kinds[k], editor.radio(k)) << '\n';
        out << kinds[k].name << "-ask\t" << (editor.ask(k) ? "on" : "off") << '\n';
    }
    out << "marker\t" << (editor.IconOn() ? 1 : 0) << '\n';
    return kExitOk;
}

std::string ApplyConflict(sessions::ConflictsEditor& editor, const std::string& key,
                          const std::string& value) {
    const auto& kinds = ConflictKinds();
    for (std::size_t k = 0; k < kinds.size(); ++k) {
        const std::string name = kinds[k].name;
        if (key == name) {
            const std::string v = Lower(value);
            if (v != "proceed" && v != "skip") return BadValue(key, value, "proceed or skip");
            const std::int64_t proceeds = kinds[k].proceeds;
            editor.setRadio(k, v == "proceed" ? proceeds : 3 - proceeds);
            return {};
        }
        if (key == name + "-ask") {
            const std::optional<bool> on = sessions::ParseBool(value);
            if (!on) return BadValue(key, value, kBooleanValues);
            editor.setAsk(k, *on);
            return {};
        }
    }
    std::string names;
    for (const ConflictKind& kind : kinds)
        names += std::string(names.empty() ? "" : ", ") + kind.name;
    return "unknown conflicts key '" + key + "' (the kinds are " + names +
           "; each also as KIND-ask)";
}

int SetConflicts(app::MainApp& app, const OptionsArguments& args, std::int64_t index,
                 std::ostream& err) {
    plist::Value& session = *app.document().GetSessionDict(index);
    const plist::Value* stored = session.dictAt("conflictsDict");
    sessions::ConflictsEditor editor(stored ? *stored : plist::Value());
    for (std::size_t i = 1; i < args.words.size(); ++i) {
        std::string key, value;
        if (!SplitKeyValue(args.words[i], &key, &value, err)) return kExitUsage;
        const std::string why = ApplyConflict(editor, key, value);
        if (!why.empty()) {
            err << "quorvel: " << TerminalName(why) << "\n";
            return kExitUsage;
        }
    }
    return StoreAndWrite(editor, session, app, args, err);
}

}  // namespace

std::string CheckOptionsArguments(const OptionsArguments& args) {
    if (IsListCommand(args.command)) return CheckListArguments(args);
    const std::string verb = args.words.empty() ? "" : args.words.front();
    const bool settings = args.command == "settings";
    if (verb.empty()) {
        return args.command +
               (settings ? " needs show, set or subfolder-name" : " needs show or set");
    }
    if (verb != "show" && verb != "set" && !(settings && verb == "subfolder-name")) {
        return "unknown " + args.command + " verb '" + verb + "'";
    }
    if (args.session.has_value() == args.sessionIndex.has_value()) {
        return args.command + " " + verb + " needs either --session NAME or --session-index N";
    }
    if (verb == "set" && args.words.size() < 2) return args.command + " set needs KEY=VALUE";
    if (verb != "set" && args.words.size() > 1) {
        return "unexpected argument '" + args.words[1] + "'";
    }
    if (args.json && verb != "show") return "--json is only for show";
    return {};
}

int RunOptionsCommand(app::MainApp& app, const OptionsArguments& args, std::ostream& out,
                      std::ostream& err) {
    if (IsListCommand(args.command)) return RunListCommand(app, args, out, err);
    const sessions::SessionDocument& doc = app.document();
    const std::int64_t index = SelectSession(doc, args, err);
    if (index < 0) return kExitUsage;
    const std::string& verb = args.words.front();
    if (args.command == "settings") {
        if (verb == "show") return ShowSettings(doc, index, args.json, out);
        if (verb == "set") return SetSettings(app, args, index, err);
        return SubFolderName(doc, index, out, err);
    }
    if (verb == "show") return ShowConflicts(doc, index, args.json, out);
    return SetConflicts(app, args, index, err);
}

int WriteOptionsDocument(app::MainApp& app, const std::string& document, std::ostream& err) {
    sessions::SessionDocument& doc = app.document();
    const std::string path = document.empty() ? doc.pathFileDocTemplate() : document;
    const sessions::DocResult written = doc.WriteFileSession(path);
    if (!written) {
        err << "quorvel: " << ForTerminal(written.alert)
            << (written.reason.empty() ? "" : " (" + TerminalName(written.reason) + ")") << "\n";
        return kExitUsage;
    }
    return kExitOk;
}

}  // namespace qv::cli
