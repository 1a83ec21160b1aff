#pragma once
// Log files: a run's log saved in the log folder as plain text or RTF, old logs pruned by age
// or by number, and the saved logs listed and read back.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "sessions/plist_value.h"

namespace qv::schedule {

inline constexpr const char* kLogFilePrefix = "QVLog_";

// "QVLog_%Y_%m_%d_%H_%M_%S.rtf" (rtf) or ".txt", from the run's start, local time. A log
// saved while one of that name exists gets "_2", "_3", ... before its extension.
std::string LogFileName(double startTime, bool rtf);

struct LogSaveRequest {
    const plist::Value& preferences;  // prefSaveLogFile, prefPathLogFolder, prefDeleteLogs...
    // <support folder>/Log Files: used when the chosen folder cannot be, and the one place
    // where a plain file standing in the way of the log folder is removed.
    std::string defaultLogFolder;
    std::int64_t errors = 0;  // the run's error count (gGlobalError)
    double startTime = 0;     // gStartSyncDateTime, seconds since 1970
    double now = 0;           // for pruning by age
};

struct LogSaveResult {
    bool saved = false;
    std::string pathLogFile;  // the file written, or the path it would have had
    // The log folder could not be used: a report of the run, one message a line (lines end
    // with carriage returns). The caller adds it to the detailed log and counts the error.
    std::string errorMessage;
    // The log folder fell back to the default one: the new value of prefPathLogFolder.
    std::optional<std::string> newPathLogFolder;
};

// Saves the log when the preferences ask for it, then prunes the folder when they ask that.
// A log folder that cannot be used (a file in its place that is not ours to delete, or a folder
// that cannot be created) gives way to the default folder; only when that fails too is nothing
// written. The file is replaced atomically, never written through a link at its name.
LogSaveResult SaveLogFileToDisk(const std::string& logString, const LogSaveRequest& request);

// Deletes "QVLog_" regular files of the folder (never following links, never anything else):
// mode 0 those modified more than count days before now, mode 1 all but the count newest.
// The file named keep (the log just written) is never deleted and counts as the newest.
void RemoveLastLogFiles(const std::string& folder, std::int64_t mode, std::int64_t count,
                        double now, const std::string& keep = {});

struct LogFileInfo {
    std::string path;
    double modified = 0;       // seconds since 1970
    std::int64_t errors = -1;  // the run's error count, -1 when the file does not say
};
// The log files of a folder, newest first.
std::vector<LogFileInfo> ListLogFiles(const std::string& folder);

// Reads a log file (.rtf through the RTF reader, anything else as text) into the log's own
// form, lines ending with carriage returns. Files beyond 256 MiB are refused.
bool ReadLogFile(const std::string& path, std::string* text, std::string* error);

// The lines of a log that report errors (they begin with the error marker).
std::vector<std::string> ErrorLines(const std::string& text);

}  // namespace qv::schedule
