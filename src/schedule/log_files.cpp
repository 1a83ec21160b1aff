#include "schedule/log_files.h"

#include <fcntl.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <ctime>

#include "platform/file_io.h"
#include "platform/file_system.h"
#include "platform/folder_handle.h"
#include "platform/item_attributes.h"
#include "platform/localization.h"
#include "run/log_name.h"
#include "run/run_state.h"
#include "schedule/rtf_text.h"

namespace qv::schedule {

namespace {

using platform::GLS;

constexpr std::int64_t kSaveOnlyWithErrors = 2;
constexpr std::int64_t kLogFormatRtf = 1;
constexpr std::int64_t kPruneByAge = 0;
constexpr std::int64_t kPruneByCount = 1;
constexpr double kSecondsPerDay = 86400;
// A log of a huge run is large, but a file beyond this is not one of ours.
constexpr std::size_t kMaxLogFileBytes = std::size_t{256} << 20;
// The run header, with the error count, comes right after the short fixed header.
constexpr std::size_t kLogHeadBytes = 64 * 1024;
constexpr const char* kErrorsLabel = "• Errors: ";

bool HasRtfExtension(const std::string& path) {
    std::string ext = path.size() >= 4 ? path.substr(path.size() - 4) : std::string();
    std::transform(ext.begin(), ext.end(), ext.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return ext == ".rtf";
}

// A text file back in the log's own form: each line end (LF or CR LF) a carriage return.
std::string LinesEndingWithCr(std::string_view bytes) {
    std::string text;
    text.reserve(bytes.size());
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        if (bytes[i] == '\r' && i + 1 < bytes.size() && bytes[i + 1] == '\n') continue;
        text.push_back(bytes[i] == '\n' ? '\r' : bytes[i]);
    }
    return text;
}

std::string UndeletableFileMessage(const std::string& path) {
    return GLS("Can't save the log file inside the log folder because the log folder") + " " +
           run::Quoted(path) + " " + GLS("really is undeletable file");
}

std::string FolderNotCreatedMessage(const std::string& path) {
    return GLS("Can't save the log file because I can't create the folder") + " " +
           run::Quoted(path);
}

enum class FolderState { Ready, UndeletableFile, NotCreated, NotAbsolute };

// Makes folder a folder a log can be written in. Something else standing at its name is
// removed only where our own default log folder belongs: anywhere else it may be the user's
// file, or one of ours (an index, the run lock) that a mistaken preference points at.
FolderState PrepareLogFolder(const std::string& folder, bool ownFolder) {
    // A relative path would depend on where the program was started; "~" is no folder.
    if (folder.empty() || folder.front() != '/') return FolderState::NotAbsolute;
    const platform::ItemAttributes at = platform::ReadItemAttributes(folder.c_str());
    if (at.exists() && !platform::IsExistingFolder(folder)) {
        // unlink removes a link itself, never what it points to.
        if (!ownFolder || platform::sys().unlink(folder.c_str()) != 0) {
            return FolderState::UndeletableFile;
        }
    }
    return platform::CreateFolderWithFoldersInBetween(folder) ? FolderState::Ready
                                                              : FolderState::NotCreated;
}

std::string ReportOf(FolderState state, const std::string& folder) {
    switch (state) {
        case FolderState::UndeletableFile:
            return UndeletableFileMessage(folder);
        case FolderState::NotAbsolute:
            return GLS("The log folder must be a full path, not") + " " + run::Quoted(folder);
        default:
            return FolderNotCreatedMessage(folder);
    }
}

// Writes a log as a text file, its carriage returns as line feeds, a piece at a time so
// that a large log is not held twice (bytes as they are: names that are not UTF-8 stay exact).
bool WriteTextLines(const std::string& logString, const platform::ChunkWriter& write) {
    constexpr std::size_t kPiece = 1 << 16;
    std::string piece;
    for (std::size_t at = 0; at < logString.size(); at += kPiece) {
        piece.assign(logString, at, kPiece);
        std::replace(piece.begin(), piece.end(), '\r', '\n');
        if (!write(piece)) return false;
    }
    return true;
}

// Writes the log atomically; our own file: a link put at its name is replaced, never written
// through.
platform::WriteResult WriteLogFile(const std::string& path, const std::string& logString,
                                   bool rtf) {
    platform::AtomicWriteOptions options;
    options.followLink = false;
    options.removeLeftovers = true;
    if (rtf) return platform::WriteFileAtomically(path, LogToRtf(logString), options);
    return platform::WriteFileAtomically(
        path,
        [&logString](const platform::ChunkWriter& write) {
            return WriteTextLines(logString, write);
        },
        options);
}

// A name for this run's log that no file of the folder has yet: two runs in the same second
// must not replace each other's log. "QVLog_..._SS.txt", then "QVLog_..._SS_2.txt", ...
std::string FreeLogFileName(const std::string& folder, double startTime, bool rtf) {
    const std::string first = LogFileName(startTime, rtf);
    if (!platform::ItemExists(platform::JoinPath(folder, first))) return first;
    const std::size_t dot = first.rfind('.');
    for (int n = 2; n < 1000; ++n) {
        const std::string name = first.substr(0, dot) + "_" + std::to_string(n) + first.substr(dot);
        if (!platform::ItemExists(platform::JoinPath(folder, name))) return name;
    }
    return first;
}

void AddReport(const std::string& message, LogSaveResult* result) {
    if (!result->errorMessage.empty()) result->errorMessage += "\r";
    result->errorMessage += message;
}

// The "QVLog_" regular files of an open folder, with their modification dates.
struct FoundLog {
    std::string name;
    double modified = 0;
};

std::vector<FoundLog> FindLogFiles(const platform::FolderHandle& dir) {
    std::vector<platform::FolderEntry> entries;
    platform::sys().readfolder(dir.fd(), entries);  // a listing cut short still holds logs
    std::vector<FoundLog> logs;
    const std::string_view prefix = kLogFilePrefix;
    for (const platform::FolderEntry& e : entries) {
        if (e.name.compare(0, prefix.size(), prefix) != 0) continue;
        const platform::StatResult st = platform::StatAt(dir.fd(), e.name);
        if (!st.ok() || st.attributes.type != platform::ItemType::RegularFile) continue;
        logs.push_back({e.name, st.attributes.mtime.seconds()});
    }
    return logs;
}

std::int64_t ErrorCountOf(const std::string& text) {
    const std::string localized = GLS(kErrorsLabel);
    std::size_t lineStart = 0;
    while (lineStart < text.size()) {
        std::size_t lineEnd = text.find('\r', lineStart);
        if (lineEnd == std::string::npos) lineEnd = text.size();
        const std::string_view line(text.data() + lineStart, lineEnd - lineStart);
        for (std::string_view label :
             {std::string_view(localized), std::string_view(kErrorsLabel)}) {
            if (line.substr(0, label.size()) != label) continue;
            std::int64_t n = 0;
            std::size_t i = label.size(), digits = 0;
            while (i < line.size() && line[i] >= '0' && line[i] <= '9' && digits < 18) {
                n = n * 10 + (line[i++] - '0');
                ++digits;
            }
            if (digits > 0) return n;
        }
        lineStart = lineEnd + 1;
    }
    return -1;
}

}  // namespace

std::string LogFileName(double startTime, bool rtf) {
    const auto seconds = static_cast<std::time_t>(std::floor(startTime));
    std::tm local{};
    ::localtime_r(&seconds, &local);
    char name[64];
    const std::size_t n =
        std::strftime(name, sizeof name,
                      rtf ? "QVLog_%Y_%m_%d_%H_%M_%S.rtf" : "QVLog_%Y_%m_%d_%H_%M_%S.txt", &local);
    return std::string(name, n);
}

LogSaveResult SaveLogFileToDisk(const std::string& logString, const LogSaveRequest& request) {
    LogSaveResult result;
    const plist::Value& prefs = request.preferences;
    const bool rtf = prefs.intAt("prefLogFileFormat") == kLogFormatRtf;
    // No folder chosen: the default one.
    std::string chosen = prefs.stringAt("prefPathLogFolder");
    if (chosen.empty()) chosen = request.defaultLogFolder;
    result.pathLogFile = platform::JoinPath(chosen, LogFileName(request.startTime, rtf));

    if (prefs.intAt("prefSaveLogFile") == 0) return result;
    if (prefs.intAt("prefSaveLogFileWhen") == kSaveOnlyWithErrors && request.errors == 0) {
        return result;
    }
    if (chosen.empty() || (rtf && logString.empty())) return result;

    // The folder the user chose, or else the default one: a log that can be written somewhere
    // is worth more than the choice of folder. Each folder that could not be used adds a line
    // to the report, so that a log never goes astray unnoticed.
    std::vector<std::string> folders{chosen};
    if (!request.defaultLogFolder.empty() && request.defaultLogFolder != chosen) {
        folders.push_back(request.defaultLogFolder);
    }
    for (const std::string& folder : folders) {
        const FolderState state = PrepareLogFolder(folder, folder == request.defaultLogFolder);
        if (state != FolderState::Ready) {
            AddReport(ReportOf(state, folder), &result);
            continue;
        }
        const std::string name = FreeLogFileName(folder, request.startTime, rtf);
        const std::string path = platform::JoinPath(folder, name);
        const platform::WriteResult written = WriteLogFile(path, logString, rtf);
        if (!written.ok) {
            AddReport(
                GLS("Can't save the log file") + " " + run::Quoted(path) + ": " + written.reason,
                &result);
            continue;
        }
        result.saved = true;
        result.pathLogFile = path;
        if (folder != chosen || prefs.stringAt("prefPathLogFolder").empty()) {
            result.newPathLogFolder = folder;
        }
        if (prefs.intAt("prefDeleteLogsOn") != 0) {
            RemoveLastLogFiles(folder, prefs.intAt("prefDeleteLogsPop"),
                               prefs.intAt("prefDeleteLogsField"), request.now, name);
        }
        break;
    }
    return result;
}

void RemoveLastLogFiles(const std::string& folder, std::int64_t mode, std::int64_t count,
                        double now, const std::string& keep) {
    if (folder.empty() || count < 1) return;
    if (mode != kPruneByAge && mode != kPruneByCount) return;
    const platform::FolderHandle dir = platform::FolderHandle::OpenTop(folder);
    if (!dir.valid()) return;
    std::vector<FoundLog> logs = FindLogFiles(dir);
    // The log just written stays, whatever date the others carry (a clock set wrong, a log
    // copied from another machine).
    const std::size_t listed = logs.size();
    std::erase_if(logs, [&keep](const FoundLog& log) { return log.name == keep; });
    if (mode == kPruneByCount && logs.size() != listed) --count;

    std::vector<const FoundLog*> doomed;
    if (mode == kPruneByAge) {
        const double cutoff = now - static_cast<double>(count) * kSecondsPerDay;
        for (const FoundLog& log : logs) {
            if (log.modified < cutoff) doomed.push_back(&log);
        }
    } else if (logs.size() > static_cast<std::uint64_t>(count)) {
        std::sort(logs.begin(), logs.end(), [](const FoundLog& a, const FoundLog& b) {
            return a.modified != b.modified ? a.modified < b.modified : a.name < b.name;
        });
        for (std::size_t i = 0; i < logs.size() - static_cast<std::size_t>(count); ++i) {
            doomed.push_back(&logs[i]);
        }
    }
    // Without AT_REMOVEDIR a folder put at the name since is refused, and a link is removed
    // itself: nothing outside the log folder is ever reached. Failures are of no consequence.
    for (const FoundLog* log : doomed) platform::sys().unlinkat(dir.fd(), log->name.c_str(), 0);
}

std::vector<LogFileInfo> ListLogFiles(const std::string& folder) {
    std::vector<LogFileInfo> list;
    const platform::FolderHandle dir = platform::FolderHandle::OpenTop(folder);
    if (!dir.valid()) return list;
    std::vector<FoundLog> logs = FindLogFiles(dir);
    std::sort(logs.begin(), logs.end(), [](const FoundLog& a, const FoundLog& b) {
        return a.modified != b.modified ? a.modified > b.modified : a.name > b.name;
    });
    for (const FoundLog& log : logs) {
        LogFileInfo info;
        info.path = platform::JoinPath(folder, log.name);
        info.modified = log.modified;
        const platform::ReadFileResult head = platform::ReadFileHead(info.path, kLogHeadBytes);
        if (head.status == platform::ReadStatus::Ok) {
            std::string text;
            if (HasRtfExtension(info.path)) {
                RtfToText(head.bytes, &text);  // the head of a document: its end is missing
            } else {
                text = LinesEndingWithCr(head.bytes);
            }
            info.errors = ErrorCountOf(text);
        }
        list.push_back(std::move(info));
    }
    return list;
}

bool ReadLogFile(const std::string& path, std::string* text, std::string* error) {
    std::string why;
    platform::ReadFileResult file = platform::ReadWholeFile(path, kMaxLogFileBytes);
    if (file.status != platform::ReadStatus::Ok) {
        why = file.reason;
    } else if (HasRtfExtension(path)) {
        if (RtfToText(file.bytes, text, &why)) return true;
    } else {
        *text = LinesEndingWithCr(file.bytes);
        return true;
    }
    if (error) *error = why;
    return false;
}

std::vector<std::string> ErrorLines(const std::string& text) {
    std::vector<std::string> lines;
    const std::string_view marker = run::kErrorMarker;
    std::size_t lineStart = 0;
    while (lineStart < text.size()) {
        std::size_t lineEnd = text.find('\r', lineStart);
        if (lineEnd == std::string::npos) lineEnd = text.size();
        if (text.compare(lineStart, marker.size(), marker) == 0 &&
            lineEnd - lineStart >= marker.size()) {
            lines.push_back(text.substr(lineStart, lineEnd - lineStart));
        }
        lineStart = lineEnd + 1;
    }
    return lines;
}

}  // namespace qv::schedule
