#include "app/run_service.h"

#include <unistd.h>

#include <algorithm>
#include <ctime>
#include <utility>

#include "app/unattended_proxy.h"
#include "app/unattended_proxy.h"
#include "engine/exact_sync_index_store.h"
#include "engine/run_engine.h"
#include "fileops/executor.h"
#include "items/tw_utilities.h"
#include "platform/localization.h"
#include "platform/run_lock.h"
#include "schedule/log_files.h"
#include "schedule/run_log.h"
#include "sessions/well.h"

namespace qv::app {

using platform::GLS;

namespace {

engine::RunOptions OptionsFor(const RunRequest& request, bool scanOnly) {
    engine::RunOptions options;
    options.scanOnly = scanOnly;
    options.sessionIndex = request.sessionIndex;
    options.allSessions = request.allSessions;
    options.preview = request.preview;
    return options;
}

// The address the log is mailed to, from the scrambled e-mail settings.
std::string EmailTo(const plist::Value& preferences) {
    const plist::Value* stored = preferences.find("prefSendEmailDict");
    if (stored == nullptr || !stored->isData()) return {};
    const std::optional<plist::Value> settings = sessions::GetWellDict(stored->data());
    return settings ? settings->stringAt("mSendEmailTo") : std::string();
}

}  // namespace

// Everything one run is made of, in the order its parts need each other.
struct RunService::ActiveRun {
    ActiveRun(RunService& service, const RunRequest& request, run::MainThreadProxy& frontEnd,
              platform::RunLock runLock, bool all)
        : request(request),
          allSessions(all),
          index(service.paths_.pathExactSyncIndexFolder),
          executor(frontEnd, tw),
          engine(service.document_, service.preferences_.mPrefDict, frontEnd, index, executor, tw,
                 RunOptions(service, request)),
          lock(std::move(runLock)) {}

    // The engine's options, and the service taking its record to make the log.
    static engine::RunOptions RunOptions(RunService& service, const RunRequest& request) {
        engine::RunOptions options = OptionsFor(request, false);
        options.takeRecord = [&service](run::RunState& s) { service.MakeAndSaveLog(s); };
        options.atWorkerStart = [&service](run::RunState& s) { service.KeepAwake(s); };
        return options;
    }

    RunRequest request;
    bool allSessions;
    items::TWUtilities tw;
    engine::ExactSyncIndexStore index;
    fileops::RunExecutor executor;
    engine::RunEngine engine;
    std::optional<platform::RunLock> lock;
    // Keeps the machine from sleeping until the run has concluded (or the process has died);
    // when it could not be had, the log says why. Both are written on the worker.
    platform::UniqueFd sleepInhibitor;
    std::string machineNotice;
    RunConclusion conclusion;  // the log's part is filled on the worker
    std::optional<std::string> newPathLogFolder;
    std::string logString;  // handed to the service once the worker has ended
    schedule::LogMailed mailed;
    bool concluded = false;
};

RunService::RunService(sessions::SessionDocument& document, sessions::Preferences& preferences,
                       platform::SupportPaths paths)
    : document_(document),
      preferences_(preferences),
      paths_(std::move(paths)),
      facts_(platform::ReadSystemFacts()),
      lockFolder_(platform::RunLockFolder(paths_)),
      logString_(schedule::GetFixedLogHeader(facts_)) {}

RunService::~RunService() {
    if (!run_ || run_->concluded) return;
    run_->engine.Stop();
    run_->engine.Wait();
}

std::optional<engine::Confirmation> RunService::AreYouSure(const RunRequest& request,
                                                           bool exactAsks) const {
    const std::int64_t shown = request.allSessions ? document_.SessionCount() + 1
                               : request.sessionIndex == kCurrentSession ? document_.mSessionIndex
                                                                         : request.sessionIndex;
    return engine::AreYouSure(document_, shown, preferences_.mPrefDict, request.mayAsk, exactAsks);
}

StartResult RunService::Start(const RunRequest& request, run::MainThreadProxy& proxy) {
    StartResult result;
    if (IsActive()) {
        result.message = GLS("A run is already in progress.");
        return result;
    }
    std::string heldBy, error;
    const std::string holder =
        holderName_ + ", " + GLS("process") + " " + std::to_string(::getpid());
    std::optional<platform::RunLock> lock =
        platform::RunLock::TryAcquire(lockFolder_, holder, &heldBy, &error);
    if (!lock) {
        if (error.empty()) result.heldBy = heldBy.empty() ? GLS("unknown process") : heldBy;
        result.message =
            error.empty()
                ? platform::FormatText(GLS("Another Quorvel run is in progress (%@); try again "
                                           "when it has ended."),
                                       {heldBy.empty() ? GLS("unknown process") : heldBy})
                : GLS("Can't take the run lock:") + " " + error;
        return result;
    }
    const bool all = request.allSessions || (request.sessionIndex == kCurrentSession &&
                                             document_.IsCurrentSessionAllSessions());
    run_.reset();  // the last run has concluded: its worker has ended
    run_ = std::make_unique<ActiveRun>(*this, request, proxy, std::move(*lock), all);
    run_->engine.TaskExecuteSyncOrBackup(request.executedBy, request.mayAsk);
    result.started = true;
    return result;
}

void RunService::KeepAwake(run::RunState& s) {
    ActiveRun& r = *run_;
    const std::int64_t index = r.request.sessionIndex == kCurrentSession ? document_.mSessionIndex
                                                                         : r.request.sessionIndex;
    const std::string what =
        r.allSessions ? GLS("all sessions") : "\"" + document_.GetSessionName(index) + "\"";
    std::string error;
    r.sleepInhibitor = login_->Inhibit("sleep:idle", "Quorvel", GLS("Backing up") + " " + what,
                                       &error, &s.mUserPressedStop);
    if (!r.sleepInhibitor.valid() && !s.mUserPressedStop) {
        r.machineNotice = GLS("The computer may sleep during the run:") + " " + error;
    }
}

void RunService::Stop(bool quitting) {
    if (!IsActive()) return;
    run_->engine.Stop(quitting);
    if (mailing_) mailStop_ = true;  // a Stop before the mailing is the run's own
}

bool RunService::IsActive() const { return run_ && !run_->concluded; }

bool RunService::WaitFor(std::chrono::milliseconds timeout) {
    return !run_ || run_->engine.WaitFor(timeout);
}

const run::RunState* RunService::state() const { return run_ ? &run_->engine.state() : nullptr; }

std::string RunService::LogFolder() const {
    const std::string folder = preferences_.mPrefDict.stringAt("prefPathLogFolder");
    return folder.empty() ? paths_.pathLogFolder : folder;
}

void RunService::MakeAndSaveLog(run::RunState& s) {
    ActiveRun& r = *run_;
    const plist::Value& prefs = preferences_.mPrefDict;
    schedule::LogInputs inputs{document_,     prefs,          facts_,          r.tw,
                               r.allSessions, EmailTo(prefs), r.machineNotice, r.request.startedBy};
    r.logString = schedule::MakeLog(s, inputs);
    r.conclusion.logMade = true;

    // The command's --save-log saves this log whatever the preferences say about saving.
    plist::Value forced;
    if (r.request.saveLog) {
        forced = prefs;
        forced.set("prefSaveLogFile", 1);
        forced.set("prefSaveLogFileWhen", 1);
    }
    schedule::LogSaveRequest request{r.request.saveLog ? forced : prefs, paths_.pathLogFolder,
                                     s.totals.gGlobalError, s.totals.gStartSyncDateTime,
                                     static_cast<double>(std::time(nullptr))};
    schedule::LogSaveResult saved = schedule::SaveLogFileToDisk(r.logString, request);
    r.conclusion.logSaved = saved.saved;
    r.conclusion.logSaveError = saved.errorMessage;
    r.newPathLogFolder = saved.newPathLogFolder;
    r.conclusion.pathLogFile = saved.pathLogFile;
    mailStop_ = false;
    mailing_ = true;
    r.mailed = schedule::MailTheLog(prefs, r.logString,
                                    s.totals.gGlobalError + (saved.errorMessage.empty() ? 0 : 1),
                                    saved.pathLogFile, &mailStop_, sendMail_);
    mailing_ = false;
}

RunConclusion RunService::Conclude() {
    if (!run_) return {};
    ActiveRun& r = *run_;
    if (r.concluded) return r.conclusion;
    r.engine.Wait();
    const run::RunState& s = r.engine.state();
    r.conclusion.stopped = s.mUserPressedStop;
    r.conclusion.scanSucceeded = s.totals.gScanSucceeded;
    // A log that could not be saved is one more error of the run.
    r.conclusion.errors = s.totals.gGlobalError + (r.conclusion.logSaveError.empty() ? 0 : 1);
    // A log that could not be mailed is one more.
    if (r.mailed.attempted && !r.mailed.ok()) ++r.conclusion.errors;
    r.conclusion.report = schedule::ReportLines(s, document_, r.allSessions, r.conclusion.errors);
    if (r.mailed.attempted && r.mailed.ok()) {
        std::string to;
        for (const std::string& recipient : r.mailed.sentTo)
            to += (to.empty() ? "" : ", ") + recipient;
        r.conclusion.report.push_back(GLS("E-mail sent to") + " " + to);
    } else if (r.mailed.attempted) {
        std::string to;
        for (const std::string& recipient : r.mailed.sentTo)
            to += (to.empty() ? "" : ", ") + recipient;
        if (!to.empty()) r.conclusion.report.push_back(GLS("E-mail sent to") + " " + to);
        r.conclusion.report.push_back(GLS("Can't send email"));
    }
    for (std::string message : s.totals.gErrorMessages) {
        std::replace(message.begin(), message.end(), '\r', ' ');
        r.conclusion.errorMessages.push_back(std::move(message));
    }
    const auto listed = static_cast<std::int64_t>(s.totals.gErrorMessages.size());
    if (s.totals.gGlobalError > listed) {
        r.conclusion.errorMessages.push_back(
            platform::FormatText(GLS("... and %ld more errors: the log lists them all."),
                                 {std::to_string(s.totals.gGlobalError - listed)}));
    }
    for (std::string message : r.mailed.failures) {
        std::replace(message.begin(), message.end(), '\r', ' ');
        r.conclusion.errorMessages.push_back(std::move(message));
    }
    if (!r.conclusion.logSaveError.empty()) {
        std::string message = r.conclusion.logSaveError;
        std::replace(message.begin(), message.end(), '\r', ' ');
        r.conclusion.errorMessages.push_back(std::move(message));
    }
    if (r.conclusion.logMade) {
        logString_ = std::move(r.logString);
        pathLogFile_ = r.conclusion.pathLogFile;
    }
    if (r.newPathLogFolder) {
        preferences_.mPrefDict.set("prefPathLogFolder", *r.newPathLogFolder);
        preferences_.WriteFilePreferences(false);
    }
    r.lock.reset();
    r.sleepInhibitor.reset(-1);
    r.concluded = true;
    return r.conclusion;
}

void RunService::Plan(const RunRequest& request,
                      const std::function<void(const run::RunState&)>& consumer) {
    UnattendedProxy proxy;  // a plan asks nobody anything
    engine::ExactSyncIndexStore index(paths_.pathExactSyncIndexFolder);
    run::NoCopyExecutor executor;
    items::TWUtilities tw;
    engine::RunEngine engine(document_, preferences_.mPrefDict, proxy, index, executor, tw,
                             OptionsFor(request, true));
    engine.state().config.mExecutedBy = request.executedBy;
    engine.state().config.mMayAsk = false;
    engine.ExecuteSyncBackup();
    consumer(engine.state());
}

}  // namespace qv::app
