#include "sessions/script_options.h"

#include <sys/stat.h>

#include <cctype>
#include <cstring>

#include "platform/localization.h"
#include "sessions/multi_options.h"
#include "sessions/session_document.h"

namespace qv::sessions {

using platform::GLS;

namespace {

constexpr const char* kShell = "/bin/sh";

std::string_view Trimmed(std::string_view text) {
    const auto blank = [](char c) { return std::isspace(static_cast<unsigned char>(c)) != 0; };
    while (!text.empty() && blank(text.front())) text.remove_prefix(1);
    while (!text.empty() && blank(text.back())) text.remove_suffix(1);
    return text;
}

// A text written for the other platform's scripting language: its usual first lines.
bool LooksLikeAppleScript(std::string_view text) {
    std::string first(Trimmed(text.substr(0, text.find('\n'))));
    for (char& c : first) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    static constexpr const char* kShapes[] = {"tell application",
                                              "tell app ",
                                              "on run",
                                              "display dialog",
                                              "display alert",
                                              "display notification",
                                              "do shell script",
                                              "activate application",
                                              "--",
                                              "(*"};
    for (const char* shape : kShapes) {
        if (first.starts_with(shape)) return true;
    }
    return false;
}

// The line the shell names in its complaint, once "sh: " is taken off: "2: Syntax error" or
// "-c: line 2: syntax error".
int FaultyLine(std::string_view message) {
    std::size_t at = 0;
    if (message.empty() || std::isdigit(static_cast<unsigned char>(message[0])) == 0) {
        at = message.find("line ");
        if (at == std::string_view::npos) return 0;
        at += 5;
    }
    int line = 0;
    for (; at < message.size() && std::isdigit(static_cast<unsigned char>(message[at])); ++at) {
        line = line * 10 + (message[at] - '0');
        if (line > 100000000) return 0;
    }
    return line;
}

std::string WithoutFinalNewlines(std::string text) {
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
    return text;
}

// A path in a message of the log, whose lines end with carriage returns: one inside the path
// is written "\r", so that it cannot start a line of its own.
std::string Quoted(std::string_view path) {
    std::string text = "\"";
    for (const char c : path) text += c == '\r' ? std::string("\\r") : std::string(1, c);
    return text + "\"";
}

const char* NameOf(ScriptWhen when) { return when == ScriptWhen::kBefore ? "Before" : "After"; }

}  // namespace

plist::Value DefaultAppleScriptDict() {
    return plist::Dict{{"asStartOn", 0},
                       {"asStartText", kDefaultScriptText},
                       {"asEndOn", 0},
                       {"asEndText", kDefaultScriptText}};
}

bool IsEmptyScript(std::string_view text) {
    const std::string_view t = Trimmed(text);
    return t.empty() || t == kDefaultScriptText || t == kFormerDefaultScriptText;
}

std::optional<ScriptFault> CheckScript(platform::ChildRunner& runner, const std::string& text) {
    if (text.find('\0') != std::string::npos) {
        return ScriptFault{"\r" + GLS("Cannot convert the text code to an AppleScript."), 0};
    }
    if (LooksLikeAppleScript(text)) {
        return ScriptFault{"\r" + GLS("The text is written for the scripting language of "
                                      "another system, not for the shell: rewrite it as a shell "
                                      "script."),
                           1};
    }
    platform::ChildRequest request;
    // "--": a text that starts with "-" is the script, not more options.
    request.argv = {kShell, "-n", "-c", "--", text};
    request.options.captureErrors = true;
    request.deadline = std::chrono::seconds(30);
    const platform::ChildResult result = runner.Run(request);
    if (result.ok()) return std::nullopt;
    if (!result.startError.empty()) return ScriptFault{"\r" + result.startError, 0};
    std::string message = WithoutFinalNewlines(result.output);
    // The shell names itself first: the line is what the user can act on.
    for (const std::string& name : {std::string(kShell) + ": ", std::string("sh: ")}) {
        if (message.starts_with(name)) message.erase(0, name.size());
    }
    const int line = FaultyLine(message);
    if (line > 0 && message.starts_with(std::to_string(line) + ": ")) {
        message = GLS("line") + " " + message;
    }
    return ScriptFault{"\r" + message, line};
}

platform::ChildResult RunScript(platform::ChildRunner& runner, const std::string& text,
                                std::vector<std::pair<std::string, std::string>> environment,
                                std::chrono::seconds timeout, const std::atomic<bool>* stop) {
    platform::ChildRequest request;
    request.argv = {kShell, "-c", "--", text, kScriptArgumentZero};
    request.options.environment = std::move(environment);
    request.options.captureErrors = true;
    request.deadline = timeout;
    request.stop = stop;
    return runner.Run(request);
}

ScriptVariables ScriptEnvironment(const SessionDocument& document, std::int64_t sessionIndex,
                                  ScriptWhen when) {
    std::string source, destination;
    if (const plist::Value* session = document.GetSessionDict(sessionIndex)) {
        const plist::Value* multi = session->dictAt("multiDict");
        const plist::Value* console = session->dictAt("consoleDict");
        if (multi != nullptr && multi->intAt("multiOn", 0) == 1) {
            const std::vector<MultiPair> rows = CountMultiValid(*session);
            if (!rows.empty()) {
                source = rows.front().source;
                destination = rows.front().destination;
            }
        } else if (console != nullptr) {
            source = console->stringAt("topFolder");
            destination = console->stringAt("bottomFolder");
        }
    }
    return {{"QUORVEL_SESSION", document.GetSessionName(sessionIndex)},
            {"QUORVEL_SOURCE", source},
            {"QUORVEL_DESTINATION", destination},
            {"QUORVEL_WHEN", when == ScriptWhen::kBefore ? "before" : "after"}};
}

bool ScriptsMayRunAsRoot(const SessionDocument& document, uid_t invokingUser, std::string* why) {
    if (!document.readFrom) return true;  // made in this instance, never read from a file
    const SessionDocument::ReadFrom& file = *document.readFrom;
    if ((file.owner == 0 || file.owner == invokingUser) && (file.mode & (S_IWGRP | S_IWOTH)) == 0) {
        return true;
    }
    if (why != nullptr) {
        const std::string& path = document.isDocumentTemplate ? document.pathFileDocTemplate()
                                                              : document.pathDocumentFile;
        *why = platform::FormatText(
            GLS("The scripts of the document %@ are not run: with root privileges, only the "
                "scripts of a document owned by root or by you, which no one else can write, are "
                "run."),
            {Quoted(path)});
    }
    return false;
}

std::chrono::seconds ScriptTimeout(std::int64_t preference) {
    constexpr std::int64_t kLongest = 366LL * 24 * 3600;  // a year: beyond it, no limit
    return std::chrono::seconds(preference <= 0 || preference > kLongest ? 0 : preference);
}

std::string ScriptErrorDescription(const platform::ChildResult& result) {
    std::string text = "\r" + GLS("Error: ");
    if (!result.startError.empty()) {
        return text + result.startError;
    } else if (result.timedOut) {
        text += GLS("it ran past its time limit and was ended") + ".";
    } else if (result.stopped) {
        text += GLS("it was ended when the run was stopped") + ".";
    } else if (result.termSignal != 0) {
        text += GLS("it was ended by signal") + " " + std::to_string(result.termSignal) + " (" +
                ::strsignal(result.termSignal) + ").";
    } else {
        text += std::to_string(result.exitCode) + ".";
    }
    const std::string output = WithoutFinalNewlines(result.output);
    if (output.empty()) return text;
    // Its lines are indented below the message: what it printed can't pass for a line of the
    // log of its own.
    text += "\r\t";
    for (const char c : output) {
        if (c == '\n') {
            text += "\r\t";
        } else if (static_cast<unsigned char>(c) < 0x20 && c != '\t') {
            // Escape sequences and the like: shown, never acted on by a terminal or a viewer.
            static const char kHex[] = "0123456789abcdef";
            text += "\\x";
            text += kHex[static_cast<unsigned char>(c) >> 4];
            text += kHex[c & 0xf];
        } else if (c == '\x7f') {
            text += "\\x7f";
        } else {
            text.push_back(c);
        }
    }
    return result.truncated ? text + " [...]" : text;
}

std::string WithoutFinalFullStop(std::string text) {
    if (!text.empty() && text.back() == '.') text.pop_back();
    return text;
}

ScriptEditor::ScriptEditor(const plist::Value& dict)
    : on_{dict.intAt("asStartOn", 0) != 0, dict.intAt("asEndOn", 0) != 0},
      text_{dict.stringAt("asStartText"), dict.stringAt("asEndText")} {}

bool ScriptEditor::GetPanels(plist::Value& session, platform::ChildRunner& runner,
                             Failure* failure) const {
    if (!session.isDict()) return true;
    for (const ScriptWhen when : {ScriptWhen::kBefore, ScriptWhen::kAfter}) {
        if (!on(when) || IsEmptyScript(text(when))) continue;
        if (const std::optional<ScriptFault> fault = CheckScript(runner, text(when))) {
            if (failure != nullptr) {
                failure->message =
                    GLS(when == ScriptWhen::kBefore ? "Error compiling the first AppleScript."
                                                    : "Error compiling the second AppleScript.") +
                    fault->description;
                failure->when = when;
                failure->line = fault->line;
            }
            return false;
        }
    }
    session.set("appleScriptDict", plist::Dict{{"asStartOn", on_[0] ? 1 : 0},
                                               {"asStartText", text_[0]},
                                               {"asEndOn", on_[1] ? 1 : 0},
                                               {"asEndText", text_[1]}});
    return true;
}

bool ScriptEditor::Try(ScriptWhen when, platform::ChildRunner& runner, ScriptVariables environment,
                       std::chrono::seconds timeout, const std::atomic<bool>* stop,
                       Failure* failure, platform::ChildResult* ran) const {
    const std::string checking =
        platform::FormatText(GLS("Error compiling the AppleScript \"%@\"."), {NameOf(when)});
    Failure failed{.message = {}, .when = when, .line = 0};
    if (IsEmptyScript(text(when))) {
        failed.message = checking + "\r" + GLS("Cannot compile an empty AppleScript text code.");
    } else if (const std::optional<ScriptFault> fault = CheckScript(runner, text(when))) {
        failed.message = checking + fault->description;
        failed.line = fault->line;
    } else {
        platform::ChildResult result =
            RunScript(runner, text(when), std::move(environment), timeout, stop);
        const bool ok = result.ok();
        if (!ok) {
            failed.message =
                platform::FormatText(GLS("Error running the AppleScript \"%@\"."), {NameOf(when)}) +
                ScriptErrorDescription(result);
        }
        if (ran != nullptr) *ran = std::move(result);
        if (ok) return true;
    }
    if (failure != nullptr) *failure = std::move(failed);
    return false;
}

}  // namespace qv::sessions
