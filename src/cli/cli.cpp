#include "cli/cli.h"

#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <iostream>
#include <optional>
#include <ostream>
#include <span>
#include <string>
#include <thread>
#include <vector>

#include "app/main_app.h"
#include "cli/main_verbs.h"
#include "cli/option_table.h"
#include "cli/prefs_command.h"
#include "cli/session_command.h"
#include "cli/terminal_text.h"
#include "platform/file_io.h"
#include "platform/localization.h"
#include "platform/version.h"
#include "sessions/session_commands.h"

namespace qv::cli {

namespace {

using platform::GLS;

// Held by the verbs that change the template or the preferences, beside them.
constexpr const char* kSettingsLockName = "settings.lock";

constexpr const char* kHelp =
    "Usage: quorvel COMMAND [OPTIONS]\n"
    "\n"
    "Keeps pairs of folders in step: Backup (B follows A) or Synchronize (each side follows\n"
    "the other), as defined by the sessions of a session document (.qvd).\n"
    "\n"
    "Commands:\n"
    "  new-document FILE.qvd [--force]\n"
    "        Write a new document holding the two default sessions. \".qvd\" is added when\n"
    "        missing. An existing file is kept unless --force is given.\n"
    "  list [--document FILE.qvd]\n"
    "        One line per session, fields separated by tabs: index, name, task, exact,\n"
    "        source, destination.\n"
    "  show [--document FILE.qvd]\n"
    "        The document after reading and migration, as an XML property list.\n"
    "  plan (--session NAME | --all) [--document FILE.qvd] [--json]\n"
    "        Scan the session (or every session) as a run would, changing nothing, and\n"
    "        print the planned actions: each item's mode, source and destination, then the\n"
    "        totals. The scan is unattended: a conflict that would ask is skipped. Errors\n"
    "        found on the way go to standard error.\n"
    "        --json prints one object {\"tasks\": [...], \"counters\": {...},\n"
    "        \"scanSucceeded\": BOOL} (false: the last task failed, a run would copy\n"
    "        nothing); each task\n"
    "        and item has \"source\", \"dest\", \"copyMode\" and, for folders,\n"
    "        \"subItems\". A path that is not valid UTF-8 is written in byte form: every\n"
    "        byte above 0x7F as \\u00NN, and the item has \"bytes\": true (both of its\n"
    "        paths are then in byte form, one character per byte).\n"
    "  run (--session NAME | --all) [--document FILE.qvd] [--yes] [--unattended]\n"
    "      [--preview] [--print-log] [--save-log] [--quiet] [--no-progress]\n"
    "        Perform the session (or every session): copy, replace, delete, keeping dates,\n"
    "        owner, permissions, ACLs and extended attributes, then print a short report\n"
    "        (what reached each folder, what was deleted, the errors), the lines of the\n"
    "        errors on standard\n"
    "        error, and the path of the saved log. --print-log prints the whole log\n"
    "        instead of the report; --save-log saves the log whatever the preferences say.\n"
    "        --quiet prints only the report and the errors (no path of the saved log, no\n"
    "        notes). While it copies, a run whose standard error is a terminal keeps one\n"
    "        status line there: items done of all, bytes copied of all, rate, time left\n"
    "        and the item at hand; it is cleared at the end and before anything else is\n"
    "        printed. --no-progress (or --quiet) leaves it out.\n"
    "        On a terminal it asks for confirmation (unless --yes) and about conflicts, as\n"
    "        the desktop application does. With --unattended (cron, scripts), or without a\n"
    "        terminal, nothing is asked: conflicts that would ask are skipped and errors do\n"
    "        not stop the run. SIGINT or SIGTERM stop the run after the current action\n"
    "        (after SIGTERM its log says the user quit during the task); a large file\n"
    "        being copied is left within a few megabytes (the old one stays). While it\n"
    "        runs, the machine is kept from sleeping (a logind inhibitor).\n"
    "        --preview (or the preference prefPreview 1) shows the planned actions on the\n"
    "        terminal before anything is done, numbered as plan prints them, with their\n"
    "        totals, and reads commands: c continue, q stop, s N skip or re-enable item N\n"
    "        with everything inside it, w N turn a replacement around (or a file's\n"
    "        deletion into its copy back), n KIND / p KIND the\n"
    "        next / previous item of a kind, i N both sides' details, ? help. Unattended\n"
    "        runs never preview; scripts inspect a plan with plan --json.\n"
    "        One run at a time: while another Quorvel run (the window's, a scheduler's, a\n"
    "        command's) is going on, run refuses to start.\n"
    "        Exit status: 0 no errors, 1 errors, 2 usage or document errors or another\n"
    "        run in progress, 3 stopped.\n"
    "\n"
    "  log list\n"
    "        The saved logs of the log folder, newest first, one a line: date, errors,\n"
    "        path (separated by tabs).\n"
    "  log show [FILE | --last] [--errors]\n"
    "        A saved log (FILE, or the newest of the log folder) as plain text, whatever\n"
    "        its format; --errors prints only its error lines. Exit status 2 when it\n"
    "        cannot be read or no log is saved.\n"
    "\n"
    "  settings show (--session NAME | --session-index N) [--document FILE.qvd] [--json]\n"
    "        The session's settings: one line per key of its settingsDict, a tab and the\n"
    "        stored value, in the settings panel's order, then \"marker\" 1 when they\n"
    "        differ from a new session's. --json prints one object.\n"
    "  settings set (--session NAME | --session-index N) [--document FILE.qvd] KEY=VALUE...\n"
    "        Changes settings as the settings panel does; nothing is written unless every\n"
    "        KEY=VALUE is accepted. Keys: task (sync, backup, 1, 2); the checkboxes exact,\n"
    "        skip-invisible, dont-unlock, resolve-aliases, resolve-symlinks,\n"
    "        skip-empty-folders, new-items-only, packages-as-folders, move-to-trash,\n"
    "        skip-permission-check, check-attributes, subfolder (yes/no, 1/0, on/off,\n"
    "        true/false), each meaning what its label says; subfolder-kind (an entry of\n"
    "        the sub-folder pop-up: 0 custom, 1 source folder name, 2-5 day or month,\n"
    "        1000 and above a date pattern); subfolder-pattern (a date pattern in which\n"
    "        kSrc stands for the source folder's name); versions (keep versions of\n"
    "        replaced and deleted items: yes/no), versions-folder (\"\" for\n"
    "        .quorvel-versions at the top of each side, or an absolute folder outside\n"
    "        the sides), versions-keep (versions per item, 0 no limit; 10),\n"
    "        versions-days (0 no limit; pruned after each run). Every key of settingsDict is\n"
    "        taken too and sets the stored value (settInvisibleItems=1: skip-invisible\n"
    "        off).\n"
    "  settings subfolder-name (--session NAME | --session-index N) [--document FILE.qvd]\n"
    "        The name of the destination sub-folder a run of the session would use now;\n"
    "        exit status 1, and the reason, when it has no usable name.\n"
    "  conflicts show (--session NAME | --session-index N) [--document FILE.qvd] [--json]\n"
    "  conflicts set (--session NAME | --session-index N) [--document FILE.qvd] KEY=VALUE...\n"
    "        The session's conflict policies. For each kind (backup1, backup2, exactBackup,\n"
    "        sync, exactSync, fileFolder): KIND=proceed|skip, and KIND-ask=on|off to be\n"
    "        asked each time. show prints the same KEY value pairs, then \"marker\".\n"
    "        A session name shared by two sessions is refused: name one by its index.\n"
    "  exclude list (--session NAME | --session-index N) [--document FILE.qvd]\n"
    "  exclude add PATH | remove N | toggle N | on | off (--session NAME | ...)\n"
    "        The session's exclude list: files and folders, by full path, that its runs\n"
    "        leave alone. Rows are numbered from 1 as in the exclude panel; list prints\n"
    "        \"exclude\" on or off, then each row with an item (number, on or off, path)\n"
    "        and the number of valid rows. add puts PATH in the first empty row and\n"
    "        switches the list on; remove empties a row. Case counts unless the item lies\n"
    "        on a file system that ignores it.\n"
    "  multi list (--session NAME | --session-index N) [--document FILE.qvd]\n"
    "  multi set N SOURCE DESTINATION | clear N | toggle N | on | off (--session ...)\n"
    "        The session's multiple list: folder pairs run in place of the session's own\n"
    "        pair while the list is on, each as a task of its own. set fills row N and\n"
    "        switches the list on. As in the panel, a list that\n"
    "        is on refuses a row that names one folder twice or a folder inside the other;\n"
    "        a list with no valid row is switched off.\n"
    "  scripts show | check (--session NAME | --session-index N) [--document FILE.qvd]\n"
    "  scripts set before|after (--file FILE | --text TEXT) (--session NAME | ...)\n"
    "  scripts on|off|try before|after (--session NAME | --session-index N) [...]\n"
    "        The shell scripts the session runs before it is scanned and after it is\n"
    "        copied (sh -c, told QUORVEL_SESSION, QUORVEL_SOURCE, QUORVEL_DESTINATION,\n"
    "        QUORVEL_WHEN, and after: QUORVEL_ERRORS, QUORVEL_STOPPED). show prints\n"
    "        asStartOn, asEndOn, then each text. set checks the text (sh -n) and refuses\n"
    "        one that does not pass, changing nothing; on checks it too. check: exit\n"
    "        status 1 when a switched-on script does not pass. try runs it now, prints\n"
    "        its output and exits with its status (124: past its time limit).\n"
    "  volumes list | on | off | add FOLDER | toggle N | remove N (--session NAME | ...)\n"
    "  volumes set N [user=NAME] [unmount=0|1] [password-stdin=1] (--session NAME | ...)\n"
    "  volumes mount [N] | unmount [N] (--session NAME | --session-index N) [...]\n"
    "        The volumes the session mounts before it runs (network shares, disks, disk\n"
    "        images) and unmounts after it. list prints autoMountVolumeOn, then each row:\n"
    "        number, on or off, address, mount point, unmount 0/1, password yes/no. add\n"
    "        makes the row of the volume FOLDER is on. A password is read from standard\n"
    "        input only. mount and unmount act now (exit status 1 when one fails).\n"
    "  filter VERB (--session NAME | --session-index N) [--document FILE.qvd]\n"
    "        The session's filters, rows numbered 1 to 32 as in the filters panel:\n"
    "        list (filterOn, the mode, then each row: number, \"\xE2\x80\xA2\" on or \"-\" off,\n"
    "        description); show N (the row's keys and values); reset N (a new row's\n"
    "        values, owner and group kept); toggle N (the row on or off); on; off;\n"
    "        mode copy|skip (copy: only items that match a row take part; skip: items\n"
    "        that match a row are left out); set N KEY=VALUE... (the row's own keys, as\n"
    "        show lists them, e.g. filterFileNameOn=1 filterFileNamePop=2\n"
    "        filterFileNameField=.tmp; pop-ups take a position from 0, the size unit\n"
    "        0 bytes, 1 KB, 2 MB, 3 GB), checked by the row editor, whose refusal is\n"
    "        printed with exit status 2; the row's new description is printed.\n"
    "        test PATH: which row decides for the item and whether a run leaves it out.\n"
    "\n"
    "  session add NAME [--task sync|backup] [--source FOLDER] [--dest FOLDER]\n"
    "        Append a new session (Synchronize unless --task backup) and make it current.\n"
    "  session duplicate NAME [NEW]\n"
    "        Append a copy of the session, named NEW (\"Copy N of NAME\" when not given).\n"
    "  session rename NAME NEW\n"
    "  session remove NAME [--yes]\n"
    "        On a terminal it asks first, unless --yes; without a terminal, only --yes\n"
    "        removes. Exit status 1 when the answer was no.\n"
    "  session move NAME --to N\n"
    "        Move the session to index N (0 is the first; see list).\n"
    "  session set-folders NAME [--source FOLDER] [--dest FOLDER]\n"
    "        Relative folders are made absolute. A folder that is not there now is stored\n"
    "        with a warning (it may be on a volume that is not mounted).\n"
    "        Session names follow the window's rules: not empty, no control characters,\n"
    "        not a title of the session menu, not another session's name (case matters).\n"
    "        A NAME shared by two sessions is refused: give --session-index N in its place.\n"
    "        Every session verb takes [--document FILE.qvd] and writes the document.\n"
    "  document save-as FILE [--document FILE.qvd] [--force]\n"
    "        Write the template (or the --document) to FILE. \".qvd\" is added when\n"
    "        missing. An existing file is kept unless --force is given.\n"
    "\n"
    "  prefs list [--json]\n"
    "        The preferences a user sets, in the preferences window's order: one line per\n"
    "        preference with its key, its value and its label, separated by tabs. --json\n"
    "        prints one object {KEY: VALUE, ...}.\n"
    "  prefs get KEY\n"
    "        The value of one preference.\n"
    "  prefs set KEY VALUE [KEY VALUE]...\n"
    "        Changes preferences as the preferences window does: checkboxes take yes/no\n"
    "        (1/0, on/off, true/false), pop-ups a choice's value or title, numbers a whole\n"
    "        number, prefPathLogFolder an absolute path; mSendEmailTo the addresses the\n"
    "        log is mailed to (commas or blanks between, at most 10), mSendEmailFrom,\n"
    "        mSendEmailSMTP, mSendEmailPort, mSendEmailAccountID and mSendEmailUseSSL\n"
    "        (-1 TLS when offered, 0 never, 1 always) the account it is sent through.\n"
    "        Nothing is written unless every value is accepted and the\n"
    "        window's checks pass. prefRoot is refused: use sudo or pkexec to run Quorvel\n"
    "        as root.\n"
    "  prefs set-email-password\n"
    "        Reads the SMTP password from standard input (never from an argument); list\n"
    "        and get show it as (set) or (none).\n"
    "  mail test\n"
    "        Sends the test mail to the recipients of the e-mail settings: exit status 0,\n"
    "        or 1 with the reason and the server's reply.\n"
    "  prefs reset\n"
    "        Every preference a user sets back to its default.\n"
    "\n"
    "  timers (--session NAME | --all) [--document FILE.qvd] [--days N] [--json]\n"
    "        The executions the timers of the session (or of every session) yield from now\n"
    "        over N days (1 by default, at most 366), in time order, one a line: date,\n"
    "        time (local), session, timer row (from 1), separated by tabs. --json prints\n"
    "        {\"occurrences\": [{\"date\": \"YYYY-MM-DDTHH:MM\", \"sessionIndex\": I,\n"
    "        \"sessionName\": S, \"row\": R}, ...]}.\n"
    "  timers list | toggle N | on | off (--session NAME | --session-index N) [--document ...]\n"
    "  timers set N KEY=VALUE... (--session NAME | --session-index N) [--document ...]\n"
    "        The session's timer rows, numbered 1 to 32 as in the timer panel: list\n"
    "        (timerOn, then each row: number, \"\xE2\x80\xA2\" on or \"-\" off, start,\n"
    "        repetition); toggle switches a row on or off; on and off the session's\n"
    "        timers. set takes the row's own keys: start=\"YYYY-MM-DD HH:MM\" and end=...\n"
    "        (local time), intervalOn, intervalHours, intervalMinutes, intervalDays,\n"
    "        intervalMonths, intervalYears, endOn (the end's time of day ends each day),\n"
    "        endDateOn (its date is the last day), onlySunday ... onlySaturday, onOff. The\n"
    "        row is checked as the timer dialog checks it; a refusal is printed with exit\n"
    "        status 2. A row that is taken is valid and switches the session's timers on.\n"
    "  triggers show (--session NAME | --session-index N) [--document FILE.qvd] [--json]\n"
    "  triggers on KIND | off KIND (--session NAME | --session-index N) [--document ...]\n"
    "  triggers set KEY=VALUE... (--session NAME | --session-index N) [--document ...]\n"
    "        The session's triggers, which run it by themselves beside its timers. KIND\n"
    "        mount: run when a volume one of its folders (or of its multiple list, or a\n"
    "        mount point of its volumes) lies on appears; KIND change: run when its\n"
    "        source (A) has changed and then stayed quiet for triggerQuietSeconds. show\n"
    "        prints each key and its value, then the description; --json prints\n"
    "        {\"session\": S, \"sessionIndex\": I, \"triggerDict\": {...},\n"
    "        \"description\": D}. set takes triggerOnMountOn and triggerOnChangeOn (1 or\n"
    "        0), triggerQuietSeconds (1 to 86400, 60 by default) and triggerMinMinutes\n"
    "        (1 to 10080, 15 by default: at most one triggered run in that many\n"
    "        minutes). A refused value is printed with exit status 2 and nothing is\n"
    "        written. Triggers fire in quorvel scheduler and in the window.\n"
    "  scheduler [--document FILE.qvd] [--days N] [--wait]\n"
    "        Fire the timers of every session in the foreground: the executions of the\n"
    "        next N days (1 by default) are listed, looked at every 10 seconds, and each\n"
    "        one due runs its session unattended (conflicts that would ask are skipped,\n"
    "        errors do not stop it, its log is saved). One line per execution once its\n"
    "        run has ended: date and time, session, \"exit\" and the status run would\n"
    "        give, the log. An execution due while another Quorvel run goes on fires when\n"
    "        it has ended. The document is read again between runs when it changed.\n"
    "        SIGTERM or SIGINT stop the run going on and end the scheduler once it has\n"
    "        ended (exit status 0). One scheduler at a time: a second one exits with\n"
    "        status 2, or with --wait says so and takes over when the other one stops\n"
    "        (the window's, say). For a systemd user unit: quorvel-scheduler.service.\n"
    "        The sessions' triggers fire here too: such a run prints \"Started by\n"
    "        trigger:\" and why when it starts, and its line as above when it ends.\n"
    "        With the preference prefShutDown 1, a run nobody stopped is followed by a\n"
    "        power-off asked of logind; a refusal is printed and written to the journal.\n"
    "  versions list [PATH] (--session NAME | --session-index N) [--document ...] [--json]\n"
    "        The versions the session kept (settings set versions=yes) of PATH and of\n"
    "        what lay below it, or of every item: one line each, stamp, size in bytes,\n"
    "        side (A, B; A2, B2 ... for the rows of the multiple list) and the item's\n"
    "        path below its side's top (a folder ends with /), newest first.\n"
    "  versions restore PATH [--at STAMP] [--to FOLDER] (--session NAME | ...)\n"
    "        Put a version back: the newest, or the one of --at \"YYYY-MM-DD HHMMSS\" as\n"
    "        list shows it. PATH is the item's path below the top folders, or its full\n"
    "        path in either. It goes to both sides of its folder pair, so that they stay\n"
    "        in step; an item standing there is first kept as a version itself. With\n"
    "        --to it goes into FOLDER under its own name, where nothing may stand yet.\n"
    "        Refused while a run goes on. Exit status 1 when it could not be restored.\n"
    "\n"
    "Without --document, list, show, settings, conflicts, scripts, filter, exclude, multi, "
    "timers,\n"
    "triggers, scheduler, session and document use the template document of the preferences\n"
    "folder, made with the two default sessions when it is missing.\n"
    "\n"
    "Options:\n";
constexpr const char* kHelpEnd =
    "\n"
    "Exit status: 0 on success, 1 when plan or run found errors, 2 on a usage error or a\n"
    "document or log file that cannot be read or written, 3 when a run was stopped.\n";

// The options of the command itself, told wherever they stand: the first of them wins.
constexpr OptionRow kHelpOption = Switch("--help", "Show this text.", 'h');
constexpr OptionRow kVersionOption = Switch("--version", "Show the version.");
constexpr const OptionRow* kCommandOptions[] = {&kHelpOption, &kVersionOption};
constexpr const char* kHelpWord = "help";  // "quorvel help" too

// Tells the help or the version when a word of the line asks for one, even as an option's value
// or after "--"; nothing otherwise.
std::optional<int> TellHelpOrVersion(std::span<const std::string> words, std::ostream& out) {
    for (const std::string& word : words) {
        if (word == kHelpWord || Names(kHelpOption, word)) {
            out << kHelp << OptionHelpLines(kCommandOptions) << kHelpEnd;
            return kExitOk;
        }
        if (Names(kVersionOption, word)) {
            out << "quorvel " << platform::kShortVersion << "\n";
            return kExitOk;
        }
    }
    return std::nullopt;
}

}  // namespace

bool StartApp(app::MainApp& app, std::ostream& err, std::optional<platform::RunLock>* hold) {
    if (hold != nullptr) {
        constexpr auto kPatience = std::chrono::seconds(10);
        constexpr auto kStep = std::chrono::milliseconds(50);
        const platform::SupportPaths paths = platform::SupportPaths::FromEnvironment();
        std::string heldBy, error;
        paths.EnsurePreferencesFolder(&error);
        const auto deadline = std::chrono::steady_clock::now() + kPatience;
        for (;;) {
            *hold = platform::RunLock::TryAcquire(paths.pathFolderPref,
                                                  "quorvel, process " + std::to_string(::getpid()),
                                                  &heldBy, &error, kSettingsLockName);
            if (*hold || !error.empty() || std::chrono::steady_clock::now() >= deadline) break;
            std::this_thread::sleep_for(kStep);
        }
        if (!*hold) {
            Refuse(err, error.empty()
                            ? "another command (" + heldBy +
                                  ") is changing the settings; try again when it has ended"
                            : "cannot lock the settings: " + error);
            return false;
        }
    }
    app::StartupResult started = app.Start();
    if (!started.ok) {
        Refuse(err, started.alert);
        return false;
    }
    for (const std::string& notice : started.notices) {
        err << "quorvel: warning: " << ForTerminal(notice) << "\n";
    }
    return true;
}

std::optional<std::string> StoredPath(const std::string& given, bool folder,
                                      const std::string& emptyMessage, std::ostream& err) {
    if (given.empty()) {
        err << "quorvel: " << emptyMessage << "\n";
        return std::nullopt;
    }
    std::string path = given;
    if (path.front() != '/') {
        std::error_code ec;
        const std::filesystem::path absolute = std::filesystem::absolute(given, ec);
        if (ec) {
            err << "quorvel: can't make \"" << TerminalName(given)
                << "\" absolute: " << ec.message() << "\n";
            return std::nullopt;
        }
        path = absolute.lexically_normal().string();
    }
    while (path.size() > 1 && path.back() == '/') path.pop_back();
    if (const std::string problem = sessions::FolderPathProblem(path); !problem.empty()) {
        err << "quorvel: " << ForTerminal(problem) << "\n";
        return std::nullopt;
    }
    if (folder ? !platform::IsExistingFolder(path) : !platform::ItemExists(path)) {
        err << "quorvel: warning: \"" << TerminalName(path) << "\" is not "
            << (folder ? "a folder" : "there") << " now; stored all the same\n";
    }
    return path;
}

std::int64_t SelectSession(const sessions::SessionDocument& doc,
                           const std::optional<std::string>& sessionIndex, const std::string& name,
                           std::ostream& err) {
    const std::int64_t count = doc.SessionCount();
    if (sessionIndex) {
        const std::optional<std::int64_t> index = ParseInteger(*sessionIndex);
        if (!index || *index < 0 || *index >= count) {
            err << "quorvel: no session with index '" << TerminalName(*sessionIndex)
                << "': the document's sessions are numbered 0 to " << count - 1
                << " (see 'quorvel list')\n";
            return -1;
        }
        return *index;
    }
    std::vector<std::int64_t> found;
    for (std::int64_t i = 0; i < count; ++i) {
        if (doc.GetSessionName(i) == name) found.push_back(i);
    }
    if (found.empty()) {
        err << "quorvel: no session named \"" << TerminalName(name) << "\"\n";
        return -1;
    }
    if (found.size() > 1) {
        err << "quorvel: " << found.size() << " sessions are named \"" << TerminalName(name)
            << "\" (indexes";
        for (std::int64_t i : found) err << ' ' << i;
        err << "); name one with --session-index N\n";
        return -1;
    }
    return found.front();
}

bool OpenDocument(app::MainApp& app, const std::string& document, std::ostream& err) {
    if (document.empty()) return true;  // the template, read at start-up
    // The template's sessions are replaced by the document's, and a document that cannot be
    // read ends the command: they need not stay in memory while it is parsed.
    if (app.document().isDocumentTemplate) app.document().mMainDict = plist::Value();
    sessions::DocResult r = app.document().ReadDocumentFile(document);
    if (!r) {
        if (!r.alert.empty()) {
            Refuse(err, r.alert);
        } else {
            Refuse(err, GLS("Can't open the file") + " \"" + document + "\": " + r.reason);
        }
        return false;
    }
    auto& doc = app.document();
    doc.pathDocumentFile = document;
    doc.isDocumentOpen = true;
    doc.isDocumentSaved = true;
    doc.isDocumentTemplate = false;
    return true;
}

void EnsureTemplateOnDisk(app::MainApp& app, std::ostream& err) {
    auto& doc = app.document();
    if (platform::ItemExists(doc.pathFileDocTemplate())) return;
    std::string why;
    if (!app.paths().EnsurePreferencesFolder(&why)) {
        err << "quorvel: warning: " << why << "\n";
        return;
    }
    sessions::DocResult r = doc.WriteFileSession(doc.pathFileDocTemplate());
    if (!r) err << "quorvel: warning: " << ForTerminal(r.alert) << "\n";
}

int Refuse(std::ostream& err, const std::string& message) {
    err << "quorvel: " << ForTerminal(message) << "\n";
    return kExitUsage;
}

int SayUsage(std::ostream& err, const std::string& message) {
    err << "quorvel: " << TerminalName(message) << "\n"
        << "Try 'quorvel --help'.\n";
    return kExitUsage;
}

int RunCli(int argc, char** argv, std::ostream& out, std::ostream& err) {
    const std::vector<std::string> words(argv + (argc > 0 ? 1 : 0), argv + argc);
    if (const std::optional<int> told = TellHelpOrVersion(words, out)) return *told;
    if (IsSessionCommand(words)) {
        return RunSessionCommand(words, std::cin, out, err, ::isatty(0) && ::isatty(1));
    }
    // prefs has words of its own (a value may start with "-"): it reads them by its own table.
    if (!words.empty() && words.front() == "prefs") {
        return RunPrefsCommand(std::span(words).subspan(1), out, err);
    }
    if (!words.empty() && words.front() == "mail") {
        return RunMailCommand(std::span(words).subspan(1), out, err);
    }
    return RunMainVerb(words, out, err);
}

}  // namespace qv::cli
