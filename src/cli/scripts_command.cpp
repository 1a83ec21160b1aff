#include "cli/scripts_command.h"

#include <csignal>
#include <ostream>

#include "cli/cli.h"
#include "cli/options_command.h"
#include "cli/terminal_text.h"
#include "platform/file_io.h"
#include "platform/localization.h"
#include "platform/privileges.h"
#include "sessions/script_options.h"

namespace qv::cli {

namespace {

using sessions::ScriptEditor;
using sessions::ScriptWhen;

constexpr std::size_t kMaxScriptBytes = 1 << 20;
constexpr int kExitCheckFailed = 1;
constexpr int kExitTimedOut = 124;  // as timeout(1) says it

std::optional<ScriptWhen> WhenOf(const std::string& word) {
    if (word == "before") return ScriptWhen::kBefore;
    if (word == "after") return ScriptWhen::kAfter;
    return std::nullopt;
}

// A script's text for the terminal, line by line.
void WriteText(std::ostream& out, const std::string& text) {
    std::size_t start = 0;
    while (start <= text.size()) {
        const std::size_t end = std::min(text.find('\n', start), text.size());
        out << "\t" << TerminalName(std::string_view(text).substr(start, end - start)) << "\n";
        start = end + 1;
    }
}

int Show(const ScriptEditor& editor, std::ostream& out) {
    out << "asStartOn\t" << (editor.on(ScriptWhen::kBefore) ? 1 : 0) << "\n";
    out << "asEndOn\t" << (editor.on(ScriptWhen::kAfter) ? 1 : 0) << "\n";
    out << "asStartText\n";
    WriteText(out, editor.text(ScriptWhen::kBefore));
    out << "asEndText\n";
    WriteText(out, editor.text(ScriptWhen::kAfter));
    return kExitOk;
}

// GetPanels, as leaving the panel does, then the document written.
int Store(app::MainApp& app, const ScriptsArguments& args, const ScriptEditor& editor,
          plist::Value& session, std::ostream& err) {
    ScriptEditor::Failure failure;
    if (!editor.GetPanels(session, platform::SystemChildRunner(), &failure)) {
        return Refuse(err, failure.message);
    }
    return WriteOptionsDocument(app, args.document, err);
}

int Set(app::MainApp& app, const ScriptsArguments& args, ScriptWhen when, ScriptEditor& editor,
        plist::Value& session, std::ostream& err) {
    std::string text;
    if (args.file) {
        platform::ReadFileResult read = platform::ReadWholeFile(*args.file, kMaxScriptBytes);
        if (read.status != platform::ReadStatus::Ok) {
            return Refuse(err, "\"" + TerminalName(*args.file) + "\": " + read.reason);
        }
        text = std::move(read.bytes);
    } else {
        text = *args.text;
    }
    // Checked even while it is switched off: a text stored now is one that will run.
    if (!sessions::IsEmptyScript(text)) {
        if (auto fault = sessions::CheckScript(platform::SystemChildRunner(), text)) {
            return Refuse(err, platform::GLS(when == ScriptWhen::kBefore
                                                 ? "Error compiling the first AppleScript."
                                                 : "Error compiling the second AppleScript.") +
                                   fault->description);
        }
    }
    editor.setText(when, std::move(text));
    return Store(app, args, editor, session, err);
}

// The run's own check of the switched-on scripts: an empty one does not pass either.
int Check(const ScriptEditor& editor, std::ostream& err) {
    int status = kExitOk;
    for (const ScriptWhen when : {ScriptWhen::kBefore, ScriptWhen::kAfter}) {
        if (!editor.on(when)) continue;
        std::optional<sessions::ScriptFault> fault;
        if (sessions::IsEmptyScript(editor.text(when))) {
            fault = sessions::ScriptFault{"\r" + platform::GLS("The script is empty."), 0};
        } else {
            fault = sessions::CheckScript(platform::SystemChildRunner(), editor.text(when));
        }
        if (!fault) continue;
        err << "quorvel: "
            << ForTerminal(platform::GLS(when == ScriptWhen::kBefore
                                             ? "Error compiling the first AppleScript."
                                             : "Error compiling the second AppleScript.") +
                           fault->description)
            << "\n";
        status = kExitCheckFailed;
    }
    return status;
}

int Try(app::MainApp& app, std::int64_t index, ScriptWhen when, const ScriptEditor& editor,
        std::ostream& out, std::ostream& err) {
    std::string refused;
    if (::geteuid() == 0) {
        const std::optional<platform::InvokingUserInfo> user = platform::InvokingUser();
        if (!sessions::ScriptsMayRunAsRoot(app.document(), user ? user->uid : ::getuid(),
                                           &refused)) {
            return Refuse(err, refused);
        }
    }
    const std::chrono::seconds timeout = sessions::ScriptTimeout(
        app.preferences().mPrefDict.intAt("prefScriptTimeout", sessions::kDefaultScriptTimeout));
    ScriptEditor::Failure failure;
    platform::ChildResult ran;
    const bool ok = editor.Try(when, platform::SystemChildRunner(),
                               sessions::ScriptEnvironment(app.document(), index, when), timeout,
                               nullptr, &failure, &ran);
    out << ran.output;
    if (ok) return kExitOk;
    err << "quorvel: " << ForTerminal(failure.message) << "\n";
    const bool neverRan = ran.exitCode < 0 && ran.termSignal == 0 && !ran.timedOut;
    if (!ran.startError.empty() || neverRan) return kExitUsage;  // it did not pass its check
    if (ran.timedOut) return kExitTimedOut;
    return ran.termSignal != 0 ? 128 + ran.termSignal : ran.exitCode;
}

}  // namespace

std::string CheckScriptsArguments(const ScriptsArguments& args) {
    if (args.words.empty()) return "scripts needs show, set, on, off, check or try";
    const std::string& verb = args.words.front();
    const bool takesWhen = verb == "set" || verb == "on" || verb == "off" || verb == "try";
    if (!takesWhen && verb != "show" && verb != "check") {
        return "unknown scripts verb '" + verb + "'";
    }
    if (takesWhen && (args.words.size() != 2 || !WhenOf(args.words[1]))) {
        return "scripts " + verb + " needs before or after";
    }
    if (!takesWhen && args.words.size() > 1) return "unexpected argument '" + args.words[1] + "'";
    if (args.session.has_value() == args.sessionIndex.has_value()) {
        return "scripts " + verb + " needs either --session NAME or --session-index N";
    }
    if (verb == "set" && args.file.has_value() == args.text.has_value()) {
        return "scripts set needs either --file FILE or --text TEXT";
    }
    if (verb != "set" && (args.file || args.text)) return "--file and --text are only for set";
    return {};
}

int RunScriptsCommand(app::MainApp& app, const ScriptsArguments& args, std::ostream& out,
                      std::ostream& err) {
    sessions::SessionDocument& doc = app.document();
    const std::int64_t index =
        SelectSession(doc, args.sessionIndex, args.session.value_or(""), err);
    if (index < 0) return kExitUsage;
    plist::Value& session = *doc.GetSessionDict(index);
    const plist::Value* stored = session.dictAt("appleScriptDict");
    ScriptEditor editor(stored ? *stored : sessions::DefaultAppleScriptDict());
    const std::string& verb = args.words.front();
    if (verb == "show") return Show(editor, out);
    if (verb == "check") return Check(editor, err);
    const ScriptWhen when = *WhenOf(args.words[1]);
    if (verb == "try") return Try(app, index, when, editor, out, err);
    if (verb == "set") return Set(app, args, when, editor, session, err);
    editor.setOn(when, verb == "on");
    return Store(app, args, editor, session, err);
}

}  // namespace qv::cli
