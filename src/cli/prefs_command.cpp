#include "cli/prefs_command.h"

#include <iostream>
#include <ostream>
#include <string>
#include <vector>

#include "app/main_app.h"
#include "cli/cli.h"
#include "cli/json_writer.h"
#include "cli/option_table.h"
#include "cli/terminal_text.h"
#include "platform/localization.h"
#include "platform/utf8.h"
#include "schedule/log_mail.h"
#include "sessions/email_settings.h"
#include "sessions/preference_labels.h"
#include "sessions/preferences_editor.h"

namespace qv::cli {

namespace {

using sessions::PreferencesEditor;

constexpr const char* kRootRefusal =
    "prefRoot cannot be set here: it follows the user the program runs as; use sudo or pkexec "
    "to run Quorvel as root";

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
        out << separator << "\"mSendEmailPassword\": \""
            << (editor.hasEmailPassword() ? "(set)" : "(none)") << "\"}\n";
        return kExitOk;
    }
    for (const std::string& key : keys) {
        out << key << '\t' << TerminalName(editor.GetAsText(key)) << '\t'
            << TerminalName(sessions::PreferenceLabelText(key)) << '\n';
    }
    // The password is never shown: only whether there is one.
    out << "mSendEmailPassword\t" << (editor.hasEmailPassword() ? "(set)" : "(none)") << '\t'
        << TerminalName(platform::GLS("Password:")) << '\n';
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

// --json wherever it stands; every other word is the verb's, even one that begins with "-".
struct PrefsArguments {
    std::vector<std::string> words;  // the verb and its words
    bool json = false;
};
constexpr OptionRow kJson = Switch("--json");
constexpr const OptionRow* kOptions[] = {&kJson};
constexpr Grammar kGrammar{.options = kOptions, .endMarker = false, .strangersAreWords = true};
constexpr Take<PrefsArguments> kTakes[] = {{&kJson, Into<&PrefsArguments::json>}};

// "" when the words make one of the verbs, otherwise what is wrong.
std::string CheckArguments(const PrefsArguments& args) {
    const std::vector<std::string>& words = args.words;
    const std::string verb = words.empty() ? "" : words.front();
    if (verb != "list" && verb != "get" && verb != "set" && verb != "reset" &&
        verb != "set-email-password") {
        return verb.empty() ? "prefs needs list, get, set, set-email-password or reset"
                            : "unknown prefs verb '" + verb + "'";
    }
    if (verb == "set-email-password" && words.size() != 1) {
        return "prefs set-email-password reads the password from standard input, never from an "
               "argument";
    }
    if (args.json && verb != "list") return "--json is only for prefs list";
    if ((verb == "list" || verb == "reset") && words.size() != 1) {
        return "unexpected argument '" + words[1] + "'";
    }
    if (verb == "get" && words.size() != 2) return "prefs get needs one KEY";
    if (verb == "set" && (words.size() < 3 || words.size() % 2 == 0)) {
        return "prefs set needs KEY VALUE pairs";
    }
    if (verb == "get" && !PreferencesEditor::IsSettable(words[1]) &&
        words[1] != "mSendEmailPassword") {
        return "unknown preference '" + words[1] + "' (see 'quorvel prefs list')";
    }
    return {};
}

}  // namespace

int RunMailCommand(std::span<const std::string> words, std::ostream& out, std::ostream& err) {
    if (words.size() != 1 || words.front() != "test") return SayUsage(err, "mail needs test");
    app::MainApp app(app::DefaultResourcesFolder());
    if (!StartApp(app, err)) return kExitUsage;
    const PreferencesEditor editor(app.preferences().mPrefDict);
    const plist::Value& settings = editor.emailSettings();
    std::string why = sessions::CheckSendEmailDict(settings);
    if (why.empty()) {
        const schedule::LogMailed mailed = schedule::SendTestMail(settings, nullptr);
        for (const std::string& failure : mailed.failures)
            why += (why.empty() ? "" : "; ") + failure;
        if (why.empty()) {
            out << platform::GLS("The test email has been properly sent.") << '\n';
            return kExitOk;
        }
    }
    err << "quorvel: "
        << ForTerminal(platform::GLS("The test email has not been sent. Please check your "
                                     "parameters.") +
                       " " + why)
        << '\n';
    return 1;
}

int RunPrefsCommand(std::span<const std::string> given, std::ostream& out, std::ostream& err) {
    ParsedLine line;
    ParseLine(kGrammar, given, &line);  // this grammar finds no word wrong
    PrefsArguments args;
    Fill(kTakes, line, &args);
    args.words = line.operands;
    if (const std::string why = CheckArguments(args); !why.empty()) return SayUsage(err, why);
    const std::vector<std::string>& words = args.words;
    const std::string& verb = words.front();

    app::MainApp app(app::DefaultResourcesFolder());
    std::optional<platform::RunLock> hold;
    if (!StartApp(app, err, &hold)) return kExitUsage;
    PreferencesEditor editor(app.preferences().mPrefDict);
    if (verb == "list") return List(editor, args.json, out);
    if (verb == "get") {
        out << (words[1] == "mSendEmailPassword"
                    ? std::string(editor.hasEmailPassword() ? "(set)" : "(none)")
                    : TerminalName(editor.GetAsText(words[1])))
            << '\n';
        return kExitOk;
    }
    if (verb == "set-email-password") {
        // One line: more would be a mistake of the pipe, not a password.
        std::string password, more;
        if (!std::getline(std::cin, password)) password.clear();
        if (std::getline(std::cin, more)) {
            return Refuse(err, "the password is one line of standard input; more was given");
        }
        if (const std::string why = editor.setEmailPassword(password); !why.empty()) {
            return Refuse(err, why);
        }
        std::string message;
        if (!editor.Apply(app.preferences(), &message)) return Refuse(err, message);
        return kExitOk;
    }
    if (verb == "set") return Set(app, editor, words, err);
    editor.Reset(app.preferences());
    std::string message;
    if (!editor.Apply(app.preferences(), &message)) return Refuse(err, message);
    return kExitOk;
}

}  // namespace qv::cli
