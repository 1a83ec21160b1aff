#pragma once
// The open session document: the ordered list of sessions, the current session index, where
// the document came from, and its reading (with migration), writing and change test.

#include <sys/types.h>

#include <cstdint>
#include <optional>
#include <string>

#include "sessions/document_migration.h"
#include "sessions/plist_value.h"

namespace qv::sessions {

inline constexpr const char* kOldTemplateName = "Quorvel 3.0 Template.plist";
inline constexpr const char* kDocumentExtension = "qvd";

// The outcome of a document operation. `alert` is the text of a "Warning:" alert the front end
// must show (empty when the failure is silent); `reason` says why, for logs and the CLI.
struct DocResult {
    bool ok = false;
    std::string alert;
    std::string reason;
    explicit operator bool() const { return ok; }
};

class SessionDocument {
  public:
    explicit SessionDocument(std::string pathFileDocTemplate);

    // A new document with "Default Sync Session" and "Default Backup Session".
    static plist::Value NewTemplate();
    // Appends a session with every default sub-dictionary to the document's sessionsArray.
    static void AddSession(std::int64_t task, const std::string& name, plist::Value& dict);

    // Loads the template document, or a new one when it cannot be read. A template that exists
    // but cannot be read (damaged, or made by a later version) is kept beside it under
    // kSetAsideSuffix, and templateNotice says so, instead of being overwritten at the next
    // write.
    void ReadFileTemplate();
    // Whether the template file now holds something other than what this process last read
    // from it or wrote to it: another program (or another Quorvel) changed it. A missing file
    // is no change: it is written again at quit.
    bool TemplateChangedOnDisk() const;
    // Reads the template again after such a change. A file that cannot be read leaves the
    // sessions in memory as they are; it is kept aside (see SetAsideUnreadableFile) and the
    // result's alert says so.
    DocResult ReloadTemplate();
    // While the template is the open document: writes it when the sessions differ from what
    // the file holds, so that a change another program makes meanwhile does not meet edits
    // that exist only in this process. False when the write failed.
    bool SaveTemplateIfChanged(std::string* reason = nullptr);
    // The text for people about a template set aside at start-up; empty otherwise.
    const std::string& templateNotice() const { return templateNotice_; }
    DocResult ReadDocumentFile(const std::string& path);
    // Migrates mMainDict, read from a file of the given version, in place.
    bool UpdateDocumentFile(std::int64_t version);
    DocResult WriteFileSession(const std::string& path);
    // Sets the file's mode to rwx------.
    static bool SetRWXNoAccessNoAccessToFile(const std::string& path);
    bool isDocumentToBeSaved() const;

    const plist::Value* GetSessionDict(std::int64_t index) const;
    plist::Value* GetSessionDict(std::int64_t index);
    std::string GetSessionName(std::int64_t index) const;
    std::int64_t SessionCount() const;
    // The index of the first session of that name, or -1.
    std::int64_t FindSessionIndex(const std::string& name) const;
    bool IsAllSessions(std::int64_t index) const { return index == SessionCount() + 1; }
    bool IsCurrentSessionAllSessions() const { return IsAllSessions(mSessionIndex); }

    const std::string& pathFileDocTemplate() const { return pathFileDocTemplate_; }

    plist::Value mMainDict;
    bool isDocumentOpen = false;
    bool isDocumentSaved = false;
    bool isDocumentTemplate = true;
    std::string pathDocumentFile;
    std::int64_t mSessionIndex = 0;
    std::string gRename;
    // Who owned the file the sessions were last read from, and its mode, as it was read (not
    // as the path reads now: it may have been swapped since). None for sessions made here.
    struct ReadFrom {
        uid_t owner = 0;
        mode_t mode = 0;
    };
    std::optional<ReadFrom> readFrom;

  private:
    void NoteTemplateOnDisk();

    std::string pathFileDocTemplate_;
    // The template file's bytes as this process last read or wrote them.
    std::string templateOnDisk_;
    std::string templateNotice_;
};

// The suffix of a damaged settings file kept aside rather than overwritten.
inline constexpr const char* kSetAsideSuffix = ".unreadable";

// Renames the file at path to path + kSetAsideSuffix (then "-2", "-3", ...: an earlier one is
// never replaced) and returns the text for people: "The file ... could not be read; it was
// kept as ...". Empty on failure.
std::string SetAsideUnreadableFile(const std::string& path, const std::string& why);

// Localised "Can't write the file "path" to the disk[ reason]."
std::string WriteFailureMessage(const std::string& path, const std::string& reason = {});

}  // namespace qv::sessions
