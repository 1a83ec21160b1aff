// Times composing and saving the log of a large run (200,000 detailed lines by default) and
// measures the memory it takes beyond the run's own record, against the log's size.
//   bench_log [LINES [txt|rtf]]   (one format a process, so that the memory figures are its own)

#include <sys/resource.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "items/tw_utilities.h"
#include "platform/support_paths.h"
#include "platform/system_facts.h"
#include "schedule/log_files.h"
#include "schedule/run_log.h"
#include "sessions/preferences.h"
#include "sessions/session_document.h"

namespace {

// The peak resident size so far, in bytes.
long PeakBytes() {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("VmHWM:", 0) == 0) return std::atol(line.c_str() + 6) * 1024;
    }
    return 0;
}

// Forgets the peak so far (Linux 4.0+), so that the next reading covers what follows.
void ResetPeak() {
    std::ofstream clear("/proc/self/clear_refs");
    clear << "5";
}

double Seconds(std::chrono::steady_clock::time_point since) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
}

}  // namespace

int main(int argc, char** argv) {
    using namespace qv;
    const long lines = argc > 1 ? std::atol(argv[1]) : 200000;
    const std::filesystem::path dir =
        std::filesystem::temp_directory_path() / ("quorvel-bench-log-" + std::to_string(getpid()));
    std::filesystem::create_directories(dir);

    sessions::SessionDocument doc((dir / "doc.qvd").string());
    doc.mMainDict = sessions::SessionDocument::NewTemplate();
    platform::SupportPaths paths = platform::SupportPaths::FromEnvironment();
    plist::Value prefs = sessions::Preferences(paths).GetDefaultPreferencesDict();
    prefs.set("prefSaveLogFile", 1);
    prefs.set("prefSaveLogFileWhen", 1);
    prefs.set("prefPathLogFolder", (dir / "logs").string());
    const platform::SystemFacts facts = platform::ReadSystemFacts();
    items::TWUtilities tw;

    int status = 0;
    const std::string only = argc > 2 ? argv[2] : "txt";
    for (const int format : {only == "rtf" ? 1 : 2}) {
        prefs.set("prefLogFileFormat", format);
        run::RunState state;
        state.gMakeDetailedLog = true;
        state.gStartSyncDateTime = 1.8e9;
        state.gEndSyncDateTime = 1.8e9 + 93784;
        run::SessionLog session;
        run::TaskLog task;
        task.gSourceFolder = (dir / "A").string();
        task.gDestFolder = (dir / "B").string();
        for (long i = 0; i < lines; ++i) {
            task.gDetailedLogText += "Copied file: \"" + task.gDestFolder + "/Projects/folder_" +
                                     std::to_string(i / 20) + "/report_" + std::to_string(i) +
                                     ".txt\"\r";
        }
        session.logTaskArray.push_back(std::move(task));
        state.logSessionArray.push_back(std::move(session));

        ResetPeak();
        const long base = PeakBytes();
        const auto start = std::chrono::steady_clock::now();
        const std::string log =
            schedule::MakeLog(state, schedule::LogInputs{doc, prefs, facts, tw, false, ""});
        const double made = Seconds(start);
        const long composed = PeakBytes() - base;
        const auto saving = std::chrono::steady_clock::now();
        const schedule::LogSaveResult saved = schedule::SaveLogFileToDisk(
            log, schedule::LogSaveRequest{prefs, (dir / "default").string(), 0,
                                          state.gStartSyncDateTime, 1.8e9});
        const double save = Seconds(saving);
        const double extra = static_cast<double>(PeakBytes() - base);
        std::printf("%-10s %ld lines, log %.1f MB: compose %.3f s, save %.3f s, total %.3f s; "
                    "memory beyond the record %.2fx the log (%.2fx to compose)\n",
                    format == 1 ? "RTF" : "plain text", lines, log.size() / 1e6, made, save,
                    made + save, extra / static_cast<double>(log.size()),
                    static_cast<double>(composed) / static_cast<double>(log.size()));
        if (!saved.saved) {
            std::fprintf(stderr, "bench_log: the log was not saved: %s\n",
                         saved.errorMessage.c_str());
            status = 1;
        }
        std::filesystem::remove(saved.pathLogFile);
    }
    std::filesystem::remove_all(dir);
    return status;
}
