#include "cli/main_verbs.h"

#include <unistd.h>

#include <iostream>
#include <optional>
#include <ostream>
#include <vector>

#include "app/main_app.h"
#include "cli/cli.h"
#include "cli/filter_command.h"
#include "cli/log_command.h"
#include "cli/option_table.h"
#include "cli/options_command.h"
#include "cli/plan_command.h"
#include "cli/run_command.h"
#include "cli/scheduler_command.h"
#include "cli/scripts_command.h"
#include "cli/terminal_text.h"
#include "cli/timers_command.h"
#include "cli/triggers_command.h"
#include "cli/versions_command.h"
#include "cli/volumes_command.h"
#include "platform/file_io.h"
#include "platform/localization.h"
#include "sessions/plist_codec.h"
#include "sessions/session_document.h"
#include "sessions/settings_options.h"

namespace qv::cli {

namespace {

using platform::GLS;

// ---- the main options ----
// Every verb of the group reads them all, so that the verb is found wherever it stands among
// them; a verb ignores those it does not take, unless it or kOnlyFor refuses them.

constexpr OptionRow kDocument = WithValue("--document", "a file", Attach::kYes);
constexpr OptionRow kForce = Switch("--force");
constexpr OptionRow kSession = WithValue("--session", "a name", Attach::kNo);
constexpr OptionRow kSessionIndex = WithValue("--session-index", "a number", Attach::kYes);
constexpr OptionRow kDays = WithValue("--days", "a number", Attach::kYes);
constexpr OptionRow kWait = Switch("--wait");
constexpr OptionRow kAll = Switch("--all");
constexpr OptionRow kJson = Switch("--json");
constexpr OptionRow kYes = Switch("--yes");
constexpr OptionRow kUnattended = Switch("--unattended");
constexpr OptionRow kPrintLog = Switch("--print-log");
constexpr OptionRow kSaveLog = Switch("--save-log");
constexpr OptionRow kPreview = Switch("--preview");
constexpr OptionRow kQuiet = Switch("--quiet");
constexpr OptionRow kNoProgress = Switch("--no-progress");
constexpr OptionRow kLast = Switch("--last");
constexpr OptionRow kErrors = Switch("--errors");
constexpr OptionRow kFile = WithValue("--file", "a file", Attach::kYes);
constexpr OptionRow kText = WithValue("--text", "a text", Attach::kYes);
constexpr OptionRow kAt = WithValue("--at", "a stamp", Attach::kYes);
constexpr OptionRow kTo = WithValue("--to", "a folder", Attach::kYes);

constexpr const OptionRow* kOptions[] = {
    &kDocument,   &kForce, &kSession,    &kSessionIndex, &kDays,    &kWait,    &kAll,
    &kJson,       &kYes,   &kUnattended, &kPrintLog,     &kSaveLog, &kPreview, &kQuiet,
    &kNoProgress, &kLast,  &kErrors,     &kFile,         &kText,    &kAt,      &kTo,
};
constexpr Grammar kGrammar{kOptions};

// Options refused by every verb that does not take them: "--wait is only for scheduler". A line
// with several mistakes is told the first in CheckLine's order: these two come before a plan or
// a run is asked for --session or --all,
struct OnlyFor {
    const OptionRow* option;
    const char* verbs;
};
constexpr OnlyFor kLogOnly[] = {{&kLast, "log show"}, {&kErrors, "log show"}};
// these after it.
constexpr OnlyFor kOnlyFor[] = {
    {&kSessionIndex,
     "settings, conflicts, scripts, volumes, filter, exclude, multi, timers, triggers and "
     "versions"},
    {&kAt, "versions"},
    {&kTo, "versions"},
    {&kFile, "scripts set"},
    {&kText, "scripts set"},
    {&kWait, "scheduler"},
    {&kDays, "timers and scheduler"},
};

// An option of the group that a verb refuses, and what it says.
struct Refusal {
    const OptionRow* option;
    const char* why;
};

// ---- each verb's arguments, and the options it takes into them ----

struct NewDocumentArguments {
    std::vector<std::string> words;  // FILE.qvd
    bool force = false;
};
constexpr Take<NewDocumentArguments> kNewDocumentOptions[] = {
    {&kForce, Into<&NewDocumentArguments::force>},
};

struct DocumentArguments {  // list, show
    std::string document;
};
constexpr Take<DocumentArguments> kDocumentOptions[] = {
    {&kDocument, Into<&DocumentArguments::document>},
};

constexpr Take<PlanArguments> kPlanOptions[] = {
    {&kDocument, Into<&PlanArguments::document>},
    {&kSession, Into<&PlanArguments::session>},
    {&kAll, Into<&PlanArguments::all>},
    {&kJson, Into<&PlanArguments::json>},
};

constexpr Take<RunArguments> kRunOptions[] = {
    {&kDocument, Into<&RunArguments::document>},
    {&kSession, Into<&RunArguments::session>},
    {&kAll, Into<&RunArguments::all>},
    {&kYes, Into<&RunArguments::yes>},
    {&kUnattended, Into<&RunArguments::unattended>},
    {&kPrintLog, Into<&RunArguments::printLog>},
    {&kSaveLog, Into<&RunArguments::saveLog>},
    {&kPreview, Into<&RunArguments::preview>},
    {&kQuiet, Into<&RunArguments::quiet>},
    {&kNoProgress, Into<&RunArguments::noProgress>},
};

constexpr Take<LogArguments> kLogOptions[] = {
    {&kLast, Into<&LogArguments::last>},
    {&kErrors, Into<&LogArguments::errorsOnly>},
};

// settings, conflicts, exclude, multi
constexpr Take<OptionsArguments> kOptionsOptions[] = {
    {&kDocument, Into<&OptionsArguments::document>},
    {&kSession, Into<&OptionsArguments::session>},
    {&kSessionIndex, Into<&OptionsArguments::sessionIndex>},
    {&kJson, Into<&OptionsArguments::json>},
};

constexpr Take<ScriptsArguments> kScriptsOptions[] = {
    {&kDocument, Into<&ScriptsArguments::document>},
    {&kSession, Into<&ScriptsArguments::session>},
    {&kSessionIndex, Into<&ScriptsArguments::sessionIndex>},
    {&kFile, Into<&ScriptsArguments::file>},
    {&kText, Into<&ScriptsArguments::text>},
};

constexpr Take<VolumesArguments> kVolumesOptions[] = {
    {&kDocument, Into<&VolumesArguments::document>},
    {&kSession, Into<&VolumesArguments::session>},
    {&kSessionIndex, Into<&VolumesArguments::sessionIndex>},
};

constexpr Take<FilterArguments> kFilterOptions[] = {
    {&kDocument, Into<&FilterArguments::document>},
    {&kSession, Into<&FilterArguments::session>},
    {&kSessionIndex, Into<&FilterArguments::sessionIndex>},
};

constexpr Take<TimersArguments> kTimersOptions[] = {
    {&kDocument, Into<&TimersArguments::document>},
    {&kSession, Into<&TimersArguments::session>},
    {&kSessionIndex, Into<&TimersArguments::sessionIndex>},
    {&kAll, Into<&TimersArguments::all>},
    {&kJson, Into<&TimersArguments::json>},
    {&kDays, Into<&TimersArguments::days>},
};

constexpr Take<TriggersArguments> kTriggersOptions[] = {
    {&kDocument, Into<&TriggersArguments::document>},
    {&kSession, Into<&TriggersArguments::session>},
    {&kSessionIndex, Into<&TriggersArguments::sessionIndex>},
    {&kJson, Into<&TriggersArguments::json>},
};

constexpr Take<VersionsArguments> kVersionsOptions[] = {
    {&kDocument, Into<&VersionsArguments::document>},
    {&kSession, Into<&VersionsArguments::session>},
    {&kSessionIndex, Into<&VersionsArguments::sessionIndex>},
    {&kJson, Into<&VersionsArguments::json>},
    {&kAt, Into<&VersionsArguments::at>},
    {&kTo, Into<&VersionsArguments::to>},
};

constexpr Take<SchedulerArguments> kSchedulerOptions[] = {
    {&kDocument, Into<&SchedulerArguments::document>},
    {&kDays, Into<&SchedulerArguments::days>},
    {&kWait, Into<&SchedulerArguments::wait>},
};

constexpr const char* kSchedulerTakes =
    "scheduler fires the timers of every session: it takes only --document and --days";
constexpr Refusal kSchedulerRefusals[] = {
    {&kSession, kSchedulerTakes}, {&kAll, kSchedulerTakes}, {&kJson, kSchedulerTakes}};
constexpr Refusal kFilterRefusals[] = {{&kAll, "filter takes one session, not --all"},
                                       {&kJson, "--json is not for filter"}};
constexpr Refusal kSettingsRefusals[] = {{&kAll, "settings takes one session, not --all"}};
constexpr Refusal kConflictsRefusals[] = {{&kAll, "conflicts takes one session, not --all"}};
constexpr Refusal kExcludeRefusals[] = {{&kAll, "exclude takes one session, not --all"}};
constexpr Refusal kMultiRefusals[] = {{&kAll, "multi takes one session, not --all"}};
constexpr Refusal kVolumesRefusals[] = {{&kAll, "volumes takes one session, not --all"},
                                        {&kJson, "--json is not for volumes"}};
constexpr Refusal kVersionsRefusals[] = {{&kAll, "versions takes one session, not --all"}};
constexpr Refusal kTriggersRefusals[] = {{&kAll, "triggers takes one session, not --all"}};
constexpr Refusal kScriptsRefusals[] = {{&kAll, "scripts takes one session, not --all"},
                                        {&kJson, "--json is not for scripts"}};

std::vector<std::string> WordsAfterVerb(const ParsedLine& line) {
    return {line.operands.begin() + 1, line.operands.end()};
}

template <class Arguments, std::size_t N>
Arguments Read(const Take<Arguments> (&table)[N], const ParsedLine& line) {
    Arguments args;
    Fill(table, line, &args);
    return args;
}

NewDocumentArguments NewDocumentOf(const ParsedLine& line) {
    NewDocumentArguments args = Read(kNewDocumentOptions, line);
    args.words = WordsAfterVerb(line);
    return args;
}

OptionsArguments OptionsOf(const ParsedLine& line) {
    OptionsArguments args = Read(kOptionsOptions, line);
    args.command = line.operands.front();
    args.words = WordsAfterVerb(line);
    return args;
}

ScriptsArguments ScriptsOf(const ParsedLine& line) {
    ScriptsArguments args = Read(kScriptsOptions, line);
    args.words = WordsAfterVerb(line);
    return args;
}

VolumesArguments VolumesOf(const ParsedLine& line) {
    VolumesArguments args = Read(kVolumesOptions, line);
    args.words = WordsAfterVerb(line);
    return args;
}

FilterArguments FilterOf(const ParsedLine& line) {
    FilterArguments args = Read(kFilterOptions, line);
    args.words = WordsAfterVerb(line);
    return args;
}

TimersArguments TimersOf(const ParsedLine& line) {
    TimersArguments args = Read(kTimersOptions, line);
    args.words = WordsAfterVerb(line);
    return args;
}

TriggersArguments TriggersOf(const ParsedLine& line) {
    TriggersArguments args = Read(kTriggersOptions, line);
    args.words = WordsAfterVerb(line);
    return args;
}

VersionsArguments VersionsOf(const ParsedLine& line) {
    VersionsArguments args = Read(kVersionsOptions, line);
    args.words = WordsAfterVerb(line);
    return args;
}

LogArguments LogOf(const ParsedLine& line, std::string* problem) {
    LogArguments args = Read(kLogOptions, line);
    *problem = ReadLogWords(WordsAfterVerb(line), &args);
    return args;
}

// ---- the verbs' own checks, made before anything is read ----

std::string CheckLog(const ParsedLine& line) {
    std::string problem;
    LogOf(line, &problem);
    return problem;
}

std::string CheckOptions(const ParsedLine& line) { return CheckOptionsArguments(OptionsOf(line)); }
std::string CheckFilter(const ParsedLine& line) { return CheckFilterArguments(FilterOf(line)); }
std::string CheckScripts(const ParsedLine& line) { return CheckScriptsArguments(ScriptsOf(line)); }
std::string CheckVolumes(const ParsedLine& line) { return CheckVolumesArguments(VolumesOf(line)); }
std::string CheckTimers(const ParsedLine& line) { return CheckTimersArguments(TimersOf(line)); }
std::string CheckTriggers(const ParsedLine& line) {
    return CheckTriggersArguments(TriggersOf(line));
}
std::string CheckVersions(const ParsedLine& line) {
    return CheckVersionsArguments(VersionsOf(line));
}

std::string CheckScheduler(const ParsedLine& line) {
    if (ParseTimerDays(Read(kSchedulerOptions, line).days)) return {};
    return "--days takes a number of days from 1 to " + std::to_string(kMaxTimerDays);
}

// ---- the verbs ----

// The document of --document, or the template (written when missing); false after saying why.
bool OpenForVerb(app::MainApp& app, const std::string& document, std::ostream& err) {
    if (!OpenDocument(app, document, err)) return false;
    if (document.empty()) EnsureTemplateOnDisk(app, err);
    return true;
}

int NewDocument(app::MainApp& app, const ParsedLine& line, std::ostream& out, std::ostream& err) {
    const NewDocumentArguments args = NewDocumentOf(line);
    if (args.words.size() != 1) return SayUsage(err, "new-document needs one FILE.qvd");
    std::string path = args.words.front();
    const std::string ext = std::string(".") + sessions::kDocumentExtension;
    if (path.size() < ext.size() || path.compare(path.size() - ext.size(), ext.size(), ext) != 0) {
        path += ext;
    }
    if (platform::ItemExists(path) && !args.force) {
        return Refuse(err, "\"" + path + "\" already exists; use --force to replace it");
    }
    auto& doc = app.document();
    doc.mMainDict = sessions::SessionDocument::NewTemplate();
    doc.mSessionIndex = 0;
    sessions::DocResult r = doc.WriteFileSession(path);
    if (!r) return Refuse(err, r.alert + (r.reason.empty() ? "" : " (" + r.reason + ")"));
    out << path << "\n";
    return kExitOk;
}

int List(app::MainApp& app, const ParsedLine& line, std::ostream& out, std::ostream& err) {
    if (!OpenForVerb(app, Read(kDocumentOptions, line).document, err)) return kExitUsage;
    auto& doc = app.document();
    for (std::int64_t i = 0; i < doc.SessionCount(); ++i) {
        const plist::Value* session = doc.GetSessionDict(i);
        const plist::Value* settings = session->dictAt("settingsDict");
        const plist::Value* console = session->dictAt("consoleDict");
        const std::int64_t task = settings ? settings->intAt("settTask") : 0;
        const std::int64_t exact = settings ? settings->intAt("settExact") : 0;
        out << i << '\t' << TerminalName(doc.GetSessionName(i)) << '\t'
            << GLS(task == sessions::kTaskSynchronize ? "Synchronize" : "Backup") << '\t'
            << platform::YesNo(exact) << '\t'
            << TerminalName(console ? console->stringAt("topFolder") : "") << '\t'
            << TerminalName(console ? console->stringAt("bottomFolder") : "") << '\n';
    }
    return kExitOk;
}

int Show(app::MainApp& app, const ParsedLine& line, std::ostream& out, std::ostream& err) {
    if (!OpenForVerb(app, Read(kDocumentOptions, line).document, err)) return kExitUsage;
    std::string xml;
    std::string why;
    if (!plist::ToXml(app.document().mMainDict, &xml, &why)) return Refuse(err, why);
    out << xml;
    return kExitOk;
}

int Plan(app::MainApp& app, const ParsedLine& line, std::ostream& out, std::ostream& err) {
    const PlanArguments args = Read(kPlanOptions, line);
    if (!OpenForVerb(app, args.document, err)) return kExitUsage;
    return RunPlan(app, args, out, err);
}

int Run(app::MainApp& app, const ParsedLine& line, std::ostream& out, std::ostream& err) {
    const RunArguments args = Read(kRunOptions, line);
    if (!OpenForVerb(app, args.document, err)) return kExitUsage;
    return RunSessions(app, args, std::cin, out, err, ::isatty(0) && ::isatty(1));
}

int Log(app::MainApp& app, const ParsedLine& line, std::ostream& out, std::ostream& err) {
    std::string problem;
    return RunLogCommand(app, LogOf(line, &problem), out, err);
}

int Options(app::MainApp& app, const ParsedLine& line, std::ostream& out, std::ostream& err) {
    const OptionsArguments args = OptionsOf(line);
    if (!OpenForVerb(app, args.document, err)) return kExitUsage;
    return RunOptionsCommand(app, args, out, err);
}

int Scripts(app::MainApp& app, const ParsedLine& line, std::ostream& out, std::ostream& err) {
    const ScriptsArguments args = ScriptsOf(line);
    if (!OpenForVerb(app, args.document, err)) return kExitUsage;
    return RunScriptsCommand(app, args, out, err);
}

int Volumes(app::MainApp& app, const ParsedLine& line, std::ostream& out, std::ostream& err) {
    const VolumesArguments args = VolumesOf(line);
    if (!OpenForVerb(app, args.document, err)) return kExitUsage;
    return RunVolumesCommand(app, args, std::cin, out, err);
}

int Filter(app::MainApp& app, const ParsedLine& line, std::ostream& out, std::ostream& err) {
    const FilterArguments args = FilterOf(line);
    if (!OpenForVerb(app, args.document, err)) return kExitUsage;
    return RunFilterCommand(app, args, out, err);
}

int Timers(app::MainApp& app, const ParsedLine& line, std::ostream& out, std::ostream& err) {
    const TimersArguments args = TimersOf(line);
    if (!OpenForVerb(app, args.document, err)) return kExitUsage;
    return RunTimersCommand(app, args, out, err);
}

int Triggers(app::MainApp& app, const ParsedLine& line, std::ostream& out, std::ostream& err) {
    const TriggersArguments args = TriggersOf(line);
    if (!OpenForVerb(app, args.document, err)) return kExitUsage;
    return RunTriggersCommand(app, args, out, err);
}

int Versions(app::MainApp& app, const ParsedLine& line, std::ostream& out, std::ostream& err) {
    const VersionsArguments args = VersionsOf(line);
    if (!OpenForVerb(app, args.document, err)) return kExitUsage;
    return RunVersionsCommand(app, args, out, err);
}

int Scheduler(app::MainApp& app, const ParsedLine& line, std::ostream& out, std::ostream& err) {
    const SchedulerArguments args = Read(kSchedulerOptions, line);
    if (!OpenForVerb(app, args.document, err)) return kExitUsage;
    return RunSchedulerCommand(app, args, out, err);
}

// Whether the verb may change the template or the preferences, and so waits for the other
// commands that do; runs and plans only read them.
bool Changes(const ParsedLine&) { return true; }
bool OnlyReads(const ParsedLine&) { return false; }
bool TimersChanges(const ParsedLine& line) { return TimersVerbChanges(TimersOf(line)); }
bool TriggersChange(const ParsedLine& line) { return TriggersVerbChanges(TriggersOf(line)); }
bool VolumesChange(const ParsedLine& line) {
    const std::string verb = line.operands.size() > 1 ? line.operands[1] : "";
    return verb != "list" && verb != "mount" && verb != "unmount";
}
bool ScriptsChange(const ParsedLine& line) {
    const std::string verb = line.operands.size() > 1 ? line.operands[1] : "";
    return verb == "set" || verb == "on" || verb == "off";
}

template <const auto& table>
bool TakesOption(const OptionRow& option) {
    return Takes(table, option);
}

// ---- the verbs of the group ----

using Check = std::string (*)(const ParsedLine&);
using Perform = int (*)(app::MainApp&, const ParsedLine&, std::ostream&, std::ostream&);

struct MainVerb {
    const char* name;
    bool (*takes)(const OptionRow&);  // its options table
    Perform perform;
    bool operands = false;                // whether words follow the verb
    std::span<const Refusal> refusals{};  // options of the group it refuses, after kOnlyFor
    Check check = nullptr;                // its own checks, after the refusals,
    bool checkFirst = false;              // or before any check of the options (log)
    bool sessionOrAll = false;            // it needs --session NAME or --all
    bool (*changes)(const ParsedLine&) = Changes;
};

constexpr MainVerb kVerbs[] = {
    {.name = "new-document",
     .takes = TakesOption<kNewDocumentOptions>,
     .perform = NewDocument,
     .operands = true},
    {.name = "list", .takes = TakesOption<kDocumentOptions>, .perform = List},
    {.name = "show", .takes = TakesOption<kDocumentOptions>, .perform = Show},
    {.name = "plan",
     .takes = TakesOption<kPlanOptions>,
     .perform = Plan,
     .sessionOrAll = true,
     .changes = OnlyReads},
    {.name = "run",
     .takes = TakesOption<kRunOptions>,
     .perform = Run,
     .sessionOrAll = true,
     .changes = OnlyReads},
    {.name = "log",
     .takes = TakesOption<kLogOptions>,
     .perform = Log,
     .operands = true,
     .check = CheckLog,
     .checkFirst = true,
     .changes = OnlyReads},
    {.name = "settings",
     .takes = TakesOption<kOptionsOptions>,
     .perform = Options,
     .operands = true,
     .refusals = kSettingsRefusals,
     .check = CheckOptions},
    {.name = "conflicts",
     .takes = TakesOption<kOptionsOptions>,
     .perform = Options,
     .operands = true,
     .refusals = kConflictsRefusals,
     .check = CheckOptions},
    {.name = "exclude",
     .takes = TakesOption<kOptionsOptions>,
     .perform = Options,
     .operands = true,
     .refusals = kExcludeRefusals,
     .check = CheckOptions},
    {.name = "multi",
     .takes = TakesOption<kOptionsOptions>,
     .perform = Options,
     .operands = true,
     .refusals = kMultiRefusals,
     .check = CheckOptions},
    {.name = "scripts",
     .takes = TakesOption<kScriptsOptions>,
     .perform = Scripts,
     .operands = true,
     .refusals = kScriptsRefusals,
     .check = CheckScripts,
     .changes = ScriptsChange},
    {.name = "volumes",
     .takes = TakesOption<kVolumesOptions>,
     .perform = Volumes,
     .operands = true,
     .refusals = kVolumesRefusals,
     .check = CheckVolumes,
     .changes = VolumesChange},
    {.name = "filter",
     .takes = TakesOption<kFilterOptions>,
     .perform = Filter,
     .operands = true,
     .refusals = kFilterRefusals,
     .check = CheckFilter},
    {.name = "timers",
     .takes = TakesOption<kTimersOptions>,
     .perform = Timers,
     .operands = true,
     .check = CheckTimers,
     .changes = TimersChanges},
    {.name = "versions",
     .takes = TakesOption<kVersionsOptions>,
     .perform = Versions,
     .operands = true,
     .refusals = kVersionsRefusals,
     .check = CheckVersions,
     .changes = OnlyReads},
    {.name = "triggers",
     .takes = TakesOption<kTriggersOptions>,
     .perform = Triggers,
     .operands = true,
     .refusals = kTriggersRefusals,
     .check = CheckTriggers,
     .changes = TriggersChange},
    {.name = "scheduler",
     .takes = TakesOption<kSchedulerOptions>,
     .perform = Scheduler,
     .refusals = kSchedulerRefusals,
     .check = CheckScheduler,
     .changes = OnlyReads},
};

template <std::size_t N>
std::string RefuseOnlyFor(const OnlyFor (&rows)[N], const MainVerb& verb, const ParsedLine& line) {
    for (const OnlyFor& row : rows) {
        if (line.Has(*row.option) && !verb.takes(*row.option)) {
            return std::string(row.option->name) + " is only for " + row.verbs;
        }
    }
    return {};
}

// "" when the line suits the verb, otherwise the first thing wrong, in the order the command
// has always told them.
std::string CheckLine(const MainVerb& verb, const ParsedLine& line) {
    if (!verb.operands && line.operands.size() > 1) {
        return "unexpected argument '" + line.operands[1] + "'";
    }
    std::string why;
    if (verb.checkFirst && !(why = verb.check(line)).empty()) return why;
    if (!(why = RefuseOnlyFor(kLogOnly, verb, line)).empty()) return why;
    if (line.Has(kQuiet) && line.Has(kPrintLog))
        return "--quiet and --print-log cannot go together";
    if (verb.sessionOrAll && line.Has(kSession) == line.Has(kAll)) {
        return std::string(verb.name) + " needs either --session NAME or --all";
    }
    if (!(why = RefuseOnlyFor(kOnlyFor, verb, line)).empty()) return why;
    for (const Refusal& refusal : verb.refusals) {
        if (line.Has(*refusal.option)) return refusal.why;
    }
    if (!verb.checkFirst && verb.check != nullptr) return verb.check(line);
    return {};
}

}  // namespace

int RunMainVerb(std::span<const std::string> words, std::ostream& out, std::ostream& err) {
    ParsedLine line;
    if (const std::string why = ParseLine(kGrammar, words, &line); !why.empty()) {
        return SayUsage(err, why);
    }
    if (line.operands.empty()) return SayUsage(err, "no command given");
    const MainVerb* verb = nullptr;
    for (const MainVerb& one : kVerbs) {
        if (line.operands.front() == one.name) verb = &one;
    }
    if (verb == nullptr) return SayUsage(err, "unknown command '" + line.operands.front() + "'");
    if (const std::string why = CheckLine(*verb, line); !why.empty()) return SayUsage(err, why);

    app::MainApp app(app::DefaultResourcesFolder());
    std::optional<platform::RunLock> hold;
    if (!StartApp(app, err, verb->changes(line) ? &hold : nullptr)) return kExitUsage;
    return verb->perform(app, line, out, err);
}

}  // namespace qv::cli
