#include "schedule/run_log.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <string_view>

#include "platform/file_io.h"
#include "platform/item_attributes.h"
#include "platform/localization.h"
#include "platform/version.h"
#include "run/log_name.h"
#include "sessions/conflict_options.h"
#include "sessions/filter_editor.h"
#include "sessions/preference_labels.h"
#include "sessions/settings_options.h"
#include "sessions/trigger_options.h"

namespace qv::schedule {

using platform::GLS;
using platform::YesNo;

namespace {

// Readers of the log find its parts by these separators, so their widths never change.
const std::string kRuleLine = std::string(85, '=') + "\r";
const std::string kBarLine(85, '|');
std::string TaskRule() {
    std::string rule;
    for (int i = 0; i < 35; ++i) rule += "\xE2\x80\xA6";  // U+2026
    return rule + "\r";
}
const std::string kTaskRule = TaskRule();
const std::string kTimerRule = "\r\t" + std::string(98, '-');

constexpr std::size_t kScriptFirstLineCharacters = 64;
// Room for the headers and one session's options, so that appending rarely reallocates.
constexpr std::size_t kFixedPartBytes = 8 * 1024;
constexpr std::size_t kBytesPerSession = 4 * 1024;
constexpr std::size_t kBytesPerTask = 2 * 1024;

std::string Num(std::int64_t n) { return std::to_string(n); }

// "Skipped 3 special files": what the walk passed by without a word in the summary otherwise.
std::string SpecialFilesLine(const run::RunState& s) {
    return platform::FormatText(GLS("Skipped %ld special files"),
                                {Num(s.totals.gSpecialFilesSkipped)});
}

// "Conflicts left as they were: 2": items a policy or the user kept from the planned action
// (both sides stay; later runs find them again).
std::string ConflictsLine(const run::RunState& s) {
    return GLS("Conflicts left as they were:") + " " + Num(s.totals.gGlobalConflictsSkipped);
}

std::string FormatLocalDate(double seconds, const char* format) {
    const std::time_t t = static_cast<std::time_t>(std::floor(seconds));
    std::tm local{};
    if (::localtime_r(&t, &local) == nullptr) return {};
    char buffer[256];
    const std::size_t n = std::strftime(buffer, sizeof buffer, format, &local);
    return std::string(buffer, n);
}

double DateAt(const plist::Value& dict, std::string_view key) {
    const plist::Value* v = dict.find(key);
    if (v == nullptr) return 0;
    return v->isDate() ? v->date().seconds : v->realValue();
}

const plist::Value& SubDict(const plist::Value* session, std::string_view key) {
    static const plist::Value kEmpty = plist::Dict{};
    const plist::Value* sub = session ? session->dictAt(key) : nullptr;
    return sub ? *sub : kEmpty;
}

// A task between two files logs the files themselves, not the folders that hold them.
std::string SourcePath(const run::TaskLog& task) {
    return task.gSourceFileName.empty()
               ? task.gSourceFolder
               : platform::JoinPath(task.gSourceFolder, task.gSourceFileName);
}
std::string DestPath(const run::TaskLog& task) {
    return task.gDestFileName.empty() ? task.gDestFolder
                                      : platform::JoinPath(task.gDestFolder, task.gDestFileName);
}

// A path that does not exist yet is a folder the run will create.
std::string KindOf(const std::string& path, const items::TWUtilities& tw) {
    const platform::ItemAttributes attributes = platform::ReadItemAttributes(path.c_str());
    if (!attributes.exists()) return GLS("Folder");
    if (attributes.isDirectory() && !tw.IsFilePackage(path, attributes)) return GLS("Folder");
    return GLS("File");
}

struct SideLabels {
    std::string first, second;
};
SideLabels LabelsFor(const plist::Value* session) {
    if (SubDict(session, "settingsDict").intAt("settTask", 0) == sessions::kTaskSynchronize) {
        return {GLS("1st"), GLS("2nd")};
    }
    return {GLS("Source"), GLS("Destination")};
}

std::int64_t SessionErrorSum(const run::SessionLog& record) {
    std::int64_t sum = record.hookErrors;
    for (const run::TaskLog& task : record.logTaskArray) sum += task.gTotError;
    return sum;
}

std::string ExecutedByText(int executedBy) {
    switch (executedBy) {
        case run::kExecutedByUser:
            return GLS("executed by clicking on the button");
        case run::kExecutedByTimer:
            return GLS("executed by the timer list");
        case run::kExecutedBySyncAndQuit:
            return GLS("executed by the Sync And Quit option");
        case run::kExecutedBySyncAndLogout:
            return GLS("executed by the Sync And Logout option");
        case run::kExecutedByCommandLine:
            return GLS("executed by the command line");
        case run::kExecutedByTrigger:
            return GLS("executed by a trigger");
        default:
            return {};
    }
}

std::string ElapsedText(double start, double end) {
    const double total = std::max(0.0, std::round(end - start));
    const double hours = std::floor(total / 3600);
    const double minutes = std::floor((total - hours * 3600) / 60);
    const double seconds = total - hours * 3600 - minutes * 60;
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, "%02.0f:%02.0f:%02.0f", hours, minutes, seconds);
    return buffer;
}

std::string IntervalText(const plist::Value& row) {
    std::string text;
    auto add = [&text](const std::string& part) {
        if (!text.empty()) text += ", ";
        text += part;
    };
    struct Unit {
        const char* key;
        const char* one;
        const char* many;
    };
    constexpr Unit kUnits[] = {{"intervalYears", "year", "years"},
                               {"intervalMonths", "month", "months"},
                               {"intervalDays", "day", "days"}};
    for (const Unit& unit : kUnits) {
        const std::int64_t n = row.intAt(unit.key, 0);
        if (n > 0) add(Num(n) + " " + GLS(n == 1 ? unit.one : unit.many));
    }
    const std::int64_t hours = row.intAt("intervalHours", 0);
    const std::int64_t minutes = row.intAt("intervalMinutes", 0);
    if (hours + minutes > 0) {
        char buffer[48];
        std::snprintf(buffer, sizeof buffer, "%02lld:%02lld", static_cast<long long>(hours),
                      static_cast<long long>(minutes));
        add(buffer);
    }
    return text;
}

std::string WeekdaysText(const plist::Value& row) {
    struct Day {
        const char* key;
        const char* name;
    };
    constexpr Day kDays[] = {{"onlyMonday", "Mon"},    {"onlyTuesday", "Tue"},
                             {"onlyWednesday", "Wed"}, {"onlyThursday", "Thu"},
                             {"onlyFriday", "Fri"},    {"onlySaturday", "Sat"},
                             {"onlySunday", "Sun"}};
    std::string text;
    int set = 0;
    for (const Day& day : kDays) {
        if (row.intAt(day.key, 0) == 0) continue;
        ++set;
        if (!text.empty()) text += ", ";
        text += GLS(day.name);
    }
    return set == 7 ? GLS("Everyday") : text;
}

std::string TimersSection(const plist::Value& timerDict) {
    const plist::Value* rows = timerDict.arrayAt("timerArray");
    if (timerDict.intAt("timerOn", 0) == 0 || rows == nullptr) return {};
    constexpr const char* kFullDate = "%d %b %Y, %H:%M";
    std::string text = "\r" + GLS("• Timers: ") + "\r";
    const plist::Array& array = rows->array();
    for (std::size_t i = 0; i < array.size(); ++i) {
        const plist::Value& row = array[i];
        if (row.intAt("onOff", 0) == 0 || row.intAt("valid", 0) == 0) continue;
        text += "\t" + std::to_string(i + 1) + ":\t" + GLS("Start at:") + "\t\t" +
                FormatLocalDate(DateAt(row, "start"), kFullDate);
        if (row.intAt("intervalOn", 0) != 0) {
            text += "\r\t\t" + GLS("Interval:") + "\t\t" + IntervalText(row);
            if (row.intAt("endOn", 0) != 0) {
                text += "\r\t\t" + GLS("End at:") + "\t\t" +
                        FormatLocalDate(DateAt(row, "end"),
                                        row.intAt("endDateOn", 0) != 0 ? kFullDate : "%H:%M");
            }
            text += "\r\t\t" + GLS("Execute On:") + "\t" + WeekdaysText(row);
        }
        text += kTimerRule + "\r";
    }
    return text;
}

// At most the first 64 characters of a script, up to its first line end; "..." tells that
// there is more. Characters, not bytes: a cut never splits a UTF-8 sequence.
std::string ScriptFirstLine(const std::string& script) {
    std::string line;
    std::size_t characters = 0;
    std::size_t i = 0;
    for (; i < script.size(); ++i) {
        const unsigned char c = static_cast<unsigned char>(script[i]);
        const bool startsCharacter = (c & 0xC0) != 0x80;
        if (startsCharacter) {
            if (characters == kScriptFirstLineCharacters) break;
            ++characters;
        }
        if (c == '\r' || c == '\n') return line + "...";
        line += script[i];
    }
    return i < script.size() ? line + "..." : line;
}

std::string ScriptsSection(const plist::Value& scriptDict) {
    const bool startOn = scriptDict.intAt("asStartOn", 0) == 1;
    const bool endOn = scriptDict.intAt("asEndOn", 0) == 1;
    if (!startOn && !endOn) return {};
    std::string text = "\r\r" + GLS("• AppleScript: ");
    const std::string& startText = scriptDict.stringAt("asStartText");
    if (startOn && !startText.empty()) text += "\r\tBefore Session: " + ScriptFirstLine(startText);
    const std::string& endText = scriptDict.stringAt("asEndText");
    if (endOn && !endText.empty()) text += "\r\tAfter Session:    " + ScriptFirstLine(endText);
    return text;
}

class LogComposer {
  public:
    LogComposer(run::RunState& state, const LogInputs& inputs) : s_(state), in_(inputs) {}

    std::string Compose() {
        std::size_t bytes = kFixedPartBytes;
        for (const run::SessionLog& record : s_.logSessionArray) {
            bytes += kBytesPerSession;
            for (const run::TaskLog& task : record.logTaskArray) {
                bytes += kBytesPerTask + task.gDetailedLogText.size();
            }
        }
        logString_.reserve(bytes);
        MakeLogHeader();
        for (run::SessionLog& record : s_.logSessionArray) MakeLogSession(record);
        return std::move(logString_);
    }

  private:
    void MakeLogHeader() {
        // Appended, not assigned: the room reserved for the whole log is kept.
        logString_.clear();
        logString_ += GetFixedLogHeader(in_.facts);
        logString_ += "• " + GLS("Task") + ": " + ExecutedByText(s_.config.mExecutedBy) + "\r\r";
        if (!in_.startedBy.empty()) {
            logString_ += "• " + GLS("Started by trigger:") + " " + in_.startedBy + "\r\r";
        }
        if (!in_.machineNotice.empty()) logString_ += "• " + in_.machineNotice + "\r\r";
        logString_ += GLS("• Errors: ") + Num(s_.totals.gGlobalError) + "\r\r";
        if (s_.totals.gSpecialFilesSkipped > 0) logString_ += "• " + SpecialFilesLine(s_) + "\r\r";
        if (s_.totals.gGlobalConflictsSkipped > 0) logString_ += "• " + ConflictsLine(s_) + "\r\r";
        // Quitting stops the run too: it is told as what the user did.
        if (s_.gTerminateAfterSync) {
            logString_ += GLS("• User Action: ") +
                          GLS("user did quit the application during the task.") + "\r\r";
        } else if (s_.mUserPressedStop) {
            logString_ += GLS("• User Action: ") + GLS("user pressed the Stop button.") + "\r\r";
        }
        constexpr const char* kTimingDate = "%A, %B %d, %Y - %H:%M:%S";
        logString_ += GLS("• Timing: ") + "\r\t" + GLS("Start at:") + " " +
                      FormatLocalDate(s_.totals.gStartSyncDateTime, kTimingDate) + "\r\t" +
                      GLS("End at:") + "  " +
                      FormatLocalDate(s_.totals.gEndSyncDateTime, kTimingDate) + "\r\t" +
                      GLS("Elapsed Time (HMS): ") +
                      ElapsedText(s_.totals.gStartSyncDateTime, s_.totals.gEndSyncDateTime) + "\r";
        if (in_.allSessions) {
            logString_ += "\r" + GLS("• Sessions: ") + "(" +
                          std::to_string(s_.logSessionArray.size()) + ")\r";
            for (std::size_t i = 0; i < s_.logSessionArray.size(); ++i) {
                const run::SessionLog& record = s_.logSessionArray[i];
                logString_ += "\t" + std::to_string(i + 1) + ": " +
                              run::LogName(in_.document.GetSessionName(record.sessionIndex)) +
                              " - " + GLS("Errors:") + " " + Num(SessionErrorSum(record)) + "\r";
            }
        }
        AppendPreferences();
    }

    void AppendPreferences() {
        using sessions::PreferenceChoiceTitle;
        using sessions::PreferenceLabelText;
        const plist::Value& prefs = in_.preferences;
        auto yesNoLine = [&](const char* key) {
            return "\t\t" + PreferenceLabelText(key) + ": " + YesNo(prefs.intAt(key, 0));
        };
        auto choiceLine = [&](const char* key) {
            return "\t\t" + PreferenceLabelText(key) + " " +
                   PreferenceChoiceTitle(key, prefs.intAt(key, 0)) + "\r";
        };
        auto whenLine = [&](const char* onKey, const char* whenKey) {
            std::string line = yesNoLine(onKey);
            if (prefs.intAt(onKey, 0) == 1) {
                line += " (" + PreferenceChoiceTitle(whenKey, prefs.intAt(whenKey, 0)) + ")";
            }
            return line + "\r";
        };
        std::string& log = logString_;
        log += "\r" + GLS("• Preferences: ") + "\r\t" + GLS("• General: ") + "\r";
        for (const char* key : {"prefSyncAndQuit", "prefAskConfirmation", "prefPreview",
                                "prefPreviewExpanded", "prefBeepWhenDone", "prefShutDown"}) {
            log += yesNoLine(key) + "\r";
        }
        log += choiceLine("prefOnError");
        log += "\t" + GLS("• Log: ") + "\r";
        log += whenLine("prefSaveLogFile", "prefSaveLogFileWhen");
        log += choiceLine("prefLogFileFormat");
        log += choiceLine("prefLogKind");
        log += "\t\t" + PreferenceLabelText("prefPathLogFolder") + " " +
               run::LogName(prefs.stringAt("prefPathLogFolder")) + "\r";
        log += whenLine("prefSendEmail", "prefSendEmailWhen");
        log += "\t\t" + PreferenceLabelText(sessions::kSendEmailToKey) + " " + in_.emailTo + "\r";
        log += "\t" + GLS("• Copy Mode: ") + "\r\t\t" + PreferenceLabelText("prefRoot") + ": " +
               YesNo(in_.facts.euid == 0) + "\r\t\t" +
               PreferenceLabelText("prefModificationDelta") + " " +
               (s_.config.gModificationDelta >= 1 ? Num(s_.config.gModificationDelta) : GLS("No")) +
               "\r\r";
    }

    void MakeLogSession(run::SessionLog& record) {
        record.gTotError = SessionErrorSum(record);
        const plist::Value* session = in_.document.GetSessionDict(record.sessionIndex);
        const std::string name = run::LogName(in_.document.GetSessionName(record.sessionIndex));
        const SideLabels labels = LabelsFor(session);

        std::string block;
        block.reserve(kBytesPerSession);
        block += kBarLine + "\r" + GLS("• Session: ") + "\"" + name + "\" - " + GLS("Errors:") +
                 " " + Num(record.gTotError) + "\r" + kBarLine;
        block += TimersSection(SubDict(session, "timerDict"));
        block += sessions::GetTriggersLog(SubDict(session, sessions::kTriggerDictKey));
        if (SubDict(session, "multiDict").intAt("multiOn", 0) == 1 && record.executiveMultiArray) {
            block += "\r" + GLS("• Multiple List: ") + "\r";
            for (std::size_t i = 0; i < record.logTaskArray.size(); ++i) {
                const run::TaskLog& task = record.logTaskArray[i];
                if (i > 0) block += "\r\t--\r";
                const std::string source = SourcePath(task), dest = DestPath(task);
                block += "\t" + std::to_string(i + 1) + ": " + GLS("Errors:") + " " +
                         Num(task.gTotError) + "\r\t" + labels.first + " " +
                         KindOf(source, in_.tw) + ": " + run::LogName(source) + "\r\t" +
                         labels.second + " " + KindOf(dest, in_.tw) + ": " + run::LogName(dest);
            }
            block += "\r";
        }
        if (SubDict(session, "filterDict").intAt("filterOn", 0) == 1 &&
            record.executiveFilterArray) {
            block += sessions::GetFiltersLog(*record.executiveFilterArray);
        }
        if (SubDict(session, "excludeDict").intAt("excludeOn", 0) == 1 &&
            record.executiveExcludeArray) {
            block += "\r" + GLS("• Exclude: ") + "\r";
            const std::vector<std::string>& entries = *record.executiveExcludeArray;
            for (std::size_t i = 0; i < entries.size(); ++i) {
                block += "\t" + std::to_string(i + 1) + ": " + run::LogName(entries[i]) + "\r";
            }
        }
        block += sessions::GetSettingsLog(SubDict(session, "settingsDict"));
        block += sessions::GetConflictsLog(SubDict(session, "conflictsDict"));
        block += ScriptsSection(SubDict(session, "appleScriptDict"));
        if (!record.hookLogText.empty()) block += "\r" + record.hookLogText;
        block += "\r\r";
        logString_ += block;

        const std::int64_t totMulti = static_cast<std::int64_t>(record.logTaskArray.size());
        for (run::TaskLog& task : record.logTaskArray) {
            MakeLogOneTask(task, name, labels, totMulti);
        }
    }

    void MakeLogOneTask(run::TaskLog& task, const std::string& sessionName,
                        const SideLabels& labels, std::int64_t totMulti) {
        const run::CopyCounters counters = task.copyCounters.value_or(run::CopyCounters{});
        s_.task.copy = counters;
        s_.task.gAFoldersScanned = task.gAFoldersScanned;
        s_.task.gAFilesScanned = task.gAFilesScanned;
        s_.task.gBFoldersScanned = task.gBFoldersScanned;
        s_.task.gBFilesScanned = task.gBFilesScanned;
        s_.task.gTotError = task.gTotError;

        const std::string source = SourcePath(task), dest = DestPath(task);
        const std::string sourceKind = KindOf(source, in_.tw), destKind = KindOf(dest, in_.tw);
        auto pathLine = [&](const std::string& label, const std::string& kind,
                            const std::string& path) {
            std::string line = label + " " + kind + ": " + run::Quoted(path);
            if (in_.tw.IsRemoteVolume(path)) line += " " + GLS("(on Remote Volume)");
            return line + "\r";
        };
        std::string& log = logString_;
        log += kTaskRule + "• " + GLS("Task") + " " + Num(task.taskIndex + 1) + " " + GLS("of") +
               " " + Num(totMulti) + " (" + GLS("Session") + ": \"" + sessionName + "\") - " +
               GLS("Errors:") + " " + Num(task.gTotError) + "\r" + kTaskRule;
        log += pathLine(labels.first, sourceKind, source);
        log += pathLine(labels.second, destKind, dest) + "\r";
        if (s_.config.gMakeDetailedLog || s_.config.gMakeErrorsLog) {
            log += GLS("Start") + "\r--\r";
            log += task.gDetailedLogText;
            log += "--\r" + GLS("End") + "\r\r";
        }
        // The detailed text can be most of a large log: let it go as soon as it is written.
        std::string().swap(task.gDetailedLogText);

        struct Side {
            const std::string& label;
            const std::string& kind;
            const std::string& path;
            std::int64_t foldersScanned, filesScanned, foldersCreated, filesReplaced, filesCopied,
                itemVisible, itemInvisible, foldersDeleted, filesDeleted, versionsKept;
            const char* beforeVisible;
        };
        const Side sides[] = {
            {labels.first, sourceKind, source, task.gAFoldersScanned, task.gAFilesScanned,
             counters.gAFoldersCreated, counters.gAFilesReplaced, counters.gAFilesCopied,
             counters.gAItemVisible, counters.gAItemInvisible, counters.gAFoldersDeleted,
             counters.gAFilesDeleted, counters.gAVersionsKept, " "},
            {labels.second, destKind, dest, task.gBFoldersScanned, task.gBFilesScanned,
             counters.gBFoldersCreated, counters.gBFilesReplaced, counters.gBFilesCopied,
             counters.gBItemVisible, counters.gBItemInvisible, counters.gBFoldersDeleted,
             counters.gBFilesDeleted, counters.gBVersionsKept, "  "},
        };
        for (const Side& side : sides) {
            log += "• " + GLS("Summary") + " " + side.label + " " + side.kind + ":\r\t" +
                   run::LogName(side.path) + "\r\t" + GLS("Folders Found: ") +
                   Num(side.foldersScanned) + "\r\t" + GLS("Files Found: ") +
                   Num(side.filesScanned) + "\r\t-\r\t" + GLS("Folders Created: ") +
                   Num(side.foldersCreated) + "\r\t" + GLS("Files Replaced: ") +
                   Num(side.filesReplaced) + "\r\t" + GLS("Files Copied (new additions): ") +
                   Num(side.filesCopied) + "\r\t" + GLS("Total of items copied:") + " " +
                   Num(side.itemVisible) + side.beforeVisible + GLS("visible") + " + " +
                   Num(side.itemInvisible) + " " + GLS("invisible") + " = " +
                   Num(side.itemVisible + side.itemInvisible) + "\r\t-\r\t" +
                   GLS("Folders Deleted: ") + Num(side.foldersDeleted) + "\r\t" +
                   GLS("Files Deleted: ") + Num(side.filesDeleted) + "\r";
            if (side.versionsKept > 0) {
                log += "\t" + GLS("Versions kept:") + " " + Num(side.versionsKept) + "\r";
            }
            log += "\r";
        }
    }

    run::RunState& s_;
    const LogInputs& in_;
    std::string logString_;
};

}  // namespace

std::string GetFixedLogHeader(const platform::SystemFacts& facts) {
    std::string header = kRuleLine;
    header += std::string("• Quorvel Hidden v. ") + platform::kShortVersion + " (Build " +
              platform::kBuildVersion + ") - " + std::to_string(sizeof(void*) * CHAR_BIT) +
              "bit - " + kWebSiteAddress + " - Hidden Mode\r";
    header += kRuleLine;
    header += GLS("• OS Info:") + "\r\t" + GLS("System version:") + " " + facts.systemVersion;
    if (!facts.systemBuild.empty()) header += " (Build " + facts.systemBuild + ")";
    header += "\r\t" + GLS("MacAddress:") + " " + facts.macAddress + "\r\t";
    header += GLS("Current User:") + " " + facts.fullName + " (" + facts.userName +
              ") - User id: " + std::to_string(facts.uid) +
              " - Group id: " + std::to_string(facts.gid) + "\r\t";
    header += GLS("Effective User id:") + " " + std::to_string(facts.euid) +
              " - Effective Group id: " + std::to_string(facts.egid) + "\r\r";
    header += kBarLine + "\r";
    return header;
}

std::string MakeLog(run::RunState& state, const LogInputs& inputs) {
    return LogComposer(state, inputs).Compose();
}

std::vector<std::string> ReportLines(const run::RunState& state,
                                     const sessions::SessionDocument& document, bool allSessions,
                                     std::int64_t errors) {
    std::vector<std::string> lines;
    // What the run deleted (or moved to the trash) on each side, over every task.
    std::int64_t deletedA = 0, deletedB = 0, versionsKept = 0;
    for (const run::SessionLog& record : state.logSessionArray) {
        for (const run::TaskLog& task : record.logTaskArray) {
            if (!task.copyCounters) continue;
            deletedA += task.copyCounters->gAFoldersDeleted + task.copyCounters->gAFilesDeleted;
            deletedB += task.copyCounters->gBFoldersDeleted + task.copyCounters->gBFilesDeleted;
            versionsKept += task.copyCounters->gAVersionsKept + task.copyCounters->gBVersionsKept;
        }
    }
    bool deletionsTold = false;
    if (!allSessions || state.config.mExecutedBy == run::kExecutedByTimer) {
        const std::int64_t index = state.logSessionArray.empty()
                                       ? state.session.mSessionIndex
                                       : state.logSessionArray.front().sessionIndex;
        const plist::Value* session = document.GetSessionDict(index);
        if (SubDict(session, "multiDict").intAt("multiOn", 0) == 1) {
            lines.push_back("• " +
                            platform::FormatText(
                                GLS("Tasks of the multiple list done: %@ of %@"),
                                {Num(state.session.gTotMultiDone), Num(state.session.gTotMulti)}));
        } else {
            std::int64_t reachedA = 0, reachedB = 0;
            for (const run::SessionLog& record : state.logSessionArray) {
                for (const run::TaskLog& task : record.logTaskArray) {
                    if (!task.copyCounters) continue;
                    const run::CopyCounters& c = *task.copyCounters;
                    reachedA += c.gAFoldersCreated + c.gAFilesCopied + c.gAFilesReplaced;
                    reachedB += c.gBFoldersCreated + c.gBFilesCopied + c.gBFilesReplaced;
                }
            }
            const plist::Value& console = SubDict(session, "consoleDict");
            const std::string& top = console.stringAt("topFolder");
            const std::string& bottom = console.stringAt("bottomFolder");
            const std::string nameA =
                top.empty() ? GLS("Source Folder not defined") : run::LogName(top);
            const std::string nameB =
                bottom.empty() ? GLS("Destination Folder not defined") : run::LogName(bottom);
            lines.push_back("• " + nameA + ": " + Num(reachedA));
            lines.push_back("• " + nameB + ": " + Num(reachedB));
            for (const auto& [count, name] : {std::pair{deletedA, &nameA}, {deletedB, &nameB}}) {
                if (count > 0)
                    lines.push_back("• " + GLS("Deleted in") + " " + *name + ": " + Num(count));
            }
            deletionsTold = true;
        }
    } else {
        lines.push_back("• " + Num(state.session.gTotSessionsDone) + " " + GLS("Sessions Done of") +
                        " " + Num(state.session.gTotSessions));
    }
    if (!deletionsTold && deletedA + deletedB > 0) {
        lines.push_back("• " + GLS("Items deleted:") + " " + Num(deletedA + deletedB));
    }
    if (versionsKept > 0) lines.push_back("• " + GLS("Versions kept:") + " " + Num(versionsKept));
    if (state.totals.gSpecialFilesSkipped > 0) lines.push_back("• " + SpecialFilesLine(state));
    if (state.totals.gGlobalConflictsSkipped > 0) lines.push_back("• " + ConflictsLine(state));
    lines.push_back("• " + GLS("Errors:") + " " + Num(errors));
    if (state.mUserPressedStop) lines.push_back("• " + GLS("Stopped by the user."));
    return lines;
}

}  // namespace qv::schedule
