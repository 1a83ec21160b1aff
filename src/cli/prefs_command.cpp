#include "cli/prefs_command.h"

#include <ostream>
#include <string>
#include <vector>

#include "app/main_app.h"
#include "cli/cli.h"
#include "cli/json_writer.h"
#include "cli/terminal_text.h"
#include "platform/utf8.h"
#include "sessions/preference_labels.h"
#include "sessions/preferences_editor.h"

namespace qv::cli {

namespace {

using sessions::PreferencesEditor;

constexpr const char* kRootRefusal =
    "prefRoot cannot be set here: it follows the user the program runs as; use sudo or pkexec "
    "to run Quorvel as root";

int Usage(std::ostream& err, const std::string& message) {
    err << "quorvel: " << TerminalName(message) << "\nTry 'quorvel --help'.\n";
    return kExitUsage;
}

int Refuse(std::ostream& err, const std::string& message) {
    err << "quorvel: " << ForTerminal(message) << "\n";
    return kExitUsage;
}

bool IsTextual(const std::string& key) {
    const sessions::PreferenceLabel* row = sessions::FindPreferenceLabel(key);
    return row != nullptr && (row->control == sessions::PreferenceControl::Path ||
                              row->control == sessions::PreferenceControl::Text);
}

int List(const PreferencesEditor& editor, bool json, std::ostream& out) {
    const std::vector<std::string> keys = PreferencesEditor::SettableKeys();
    if (json) {
        out << '{';
        const char* separator = "";
        for (const std::string& key : keys) {
            out << separator;
            WriteJsonString(out, key);
            out << ": ";
            const std::string value = editor.GetAsText(key);
            if (IsTextual(key)) {
                WriteJsonString(out, value, !platform::IsValidUtf8(value));
            } else {
                out << value;
            }
            separator = ", ";
        }
        out << "}\n";
        return kExitOk;
    }
    for (const std::string& key : keys) {
        out << key << '\t' << TerminalName(editor.GetAsText(key)) << '\t'
            << TerminalName(sessions::PreferenceLabelText(key)) << '\n';
    }
    return kExitOk;
}

int Set(app::MainApp& app, PreferencesEditor& editor, const std::vector<std::string>& words,
        std::ostream& err) {
    for (std::size_t i = 1; i + 1 < words.size(); i += 2) {
        const std::string& key = words[i];
        if (key == "prefRoot") return Refuse(err, kRootRefusal);
        const std::string why = editor.SetFromText(key, words[i + 1]);
        if (!why.empty()) return Refuse(err, why);
    }
    std::string message;
    if (!editor.Apply(app.preferences(), &message)) return Refuse(err, message);
    return kExitOk;
}

}  // namespace

int RunPrefsCommand(int argc, char** argv, std::ostream& out, std::ostream& err) {
    std::vector<std::string> words;
    bool json = false;
    for (int i = 2; i < argc; ++i) {
        const std::string word = argv[i];
        if (word == "--json") {
            json = true;
        } else {
            words.push_back(word);
        }
    }
    const std::string verb = words.empty() ? "" : words.front();
    if (verb != "list" && verb != "get" && verb != "set" && verb != "reset") {
        return Usage(err, verb.empty() ? "prefs needs list, get, set or reset"
                                       : "unknown prefs verb '" + verb + "'");
    }
    if (json && verb != "list") return Usage(err, "--json is only for prefs list");
    if ((verb == "list" || verb == "reset") && words.size() != 1) {
        return Usage(err, "unexpected argument '" + words[1] + "'");
    }
    if (verb == "get" && words.size() != 2) return Usage(err, "prefs get needs one KEY");
    if (verb == "set" && (words.size() < 3 || words.size() % 2 == 0)) {
        return Usage(err, "prefs set needs KEY VALUE pairs");
    }
    if (verb == "get" && !PreferencesEditor::IsSettable(words[1])) {
        return Usage(err, "unknown preference '" + words[1] + "' (see 'quorvel prefs list')");
    }

    app::MainApp app(app::DefaultResourcesFolder());
    std::optional<platform::RunLock> hold;
    if (!StartApp(app, err, &hold)) return kExitUsage;
    PreferencesEditor editor(app.preferences().mPrefDict);
    if (verb == "list") return List(editor, json, out);
    if (verb == "get") {
        out << TerminalName(editor.GetAsText(words[1])) << '\n';
        return kExitOk;
    }
    if (verb == "set") return Set(app, editor, words, err);
    editor.Reset(app.preferences());
    std::string message;
    if (!editor.Apply(app.preferences(), &message)) return Refuse(err, message);
    return kExitOk;
}

}  // namespace qv::cli
