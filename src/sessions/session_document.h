#pragma once
// The open session document: the ordered list of sessions, the current session index, where
// the document came from, and its reading (with migration), writing and change test.

#include <cstdint>
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

    // Loads the template document, or a new one when it cannot be read.
    void ReadFileTemplate();
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

  private:
    std::string pathFileDocTemplate_;
};

// Localised "Can't write the file "path" to the disk[ reason]."
std::string WriteFailureMessage(const std::string& path, const std::string& reason = {});

}  // namespace qv::sessions
