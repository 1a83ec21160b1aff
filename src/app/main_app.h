#pragma once
// MainApp: the facade the front ends hold. It performs start-up (support folders, the string
// table, preferences, the template document) and owns the open document and the preferences.

#include <memory>
#include <string>
#include <vector>

#include "app/document_trust.h"
#include "app/recent_documents.h"
#include "app/run_service.h"
#include "platform/item_attributes.h"
#include "platform/support_paths.h"
#include "sessions/preferences.h"
#include "sessions/session_document.h"

namespace qv::items {
class TWUtilities;
}
namespace qv::engine {
struct PreviewSideInfo;
}

namespace qv::app {

struct StartupResult {
    bool ok = false;
    std::string alert;  // a fatal start-up condition, to show under "Warning:" before quitting
    // Things the user should know that did not stop the start (a damaged template or
    // preferences file kept aside), one text each.
    std::vector<std::string> notices;
};

// What a look at the template and the preferences files found after they changed on disk.
struct SettingsFilesReload {
    bool templateReloaded = false;
    bool preferencesReloaded = false;
    std::vector<std::string> problems;  // files that changed but could not be read
};

// What the filters of a session make of one item (`quorvel filter test`).
struct FilterTest {
    bool exists = false;     // the item was there to examine
    bool filtersOn = false;  // a run of the session applies its filters
    bool leftOut = false;    // a run with the filters on leaves the item out
    std::size_t row = 0;     // the table row (from 1) that decided, 0 when none matched
};

// The four-character codes of a file, "" for a code it lacks.
struct TypeAndCreator {
    std::string type;
    std::string creator;
};

class MainApp {
  public:
    // resourcesFolder holds the <lang>.lproj folders.
    explicit MainApp(std::string resourcesFolder);
    ~MainApp();
    MainApp(const MainApp&) = delete;
    MainApp& operator=(const MainApp&) = delete;

    // Loads the string table, prepares the support folders and reads the preferences and the
    // template document. Nothing else may be called when it fails.
    StartupResult Start();

    const platform::SupportPaths& paths() const { return paths_; }
    sessions::SessionDocument& document() { return *document_; }
    sessions::Preferences& preferences() { return *preferences_; }
    // Starts, stops and concludes every run, whoever asks.
    RunService& runService() { return *runService_; }
    RecentDocuments& recentDocuments() { return *recent_; }
    // The dates, sizes and kinds of items as a run reads them (the preview's side details).
    const items::TWUtilities& utilities() const { return *utilities_; }

    // The line the desktop application writes to the system log when it starts.
    static std::string LaunchLine(const std::string& executableName);

    // ---- The document commands (the File menu and `quorvel document`) ----
    // New: whether the template on screen holds settings a new document would lose, so that
    // the user is asked to save them first.
    bool NewAsksTemplateQuestion() const;
    // An untitled document with the two default sessions.
    void NewDocument();
    // Reads the document at path; on success it is the open document (saved, not the
    // template) and first among the recent documents. On failure the open document is kept.
    sessions::DocResult OpenDocument(const std::string& path);
    // Whether Save must ask for a file (untitled or template document).
    bool SaveNeedsPath() const;
    sessions::DocResult SaveDocument();
    // Writes the document to path (".qvd" added when missing); on success it is the open
    // document's file. *written receives the path used.
    sessions::DocResult SaveDocumentAs(const std::string& path, std::string* written = nullptr);
    // The document is closed: nothing is open until New or Open.
    void CloseDocument();
    // The title for the window: the file name without extension, "Untitled", or empty for
    // the template.
    std::string DocumentTitle() const;

    // ---- Trust in the open document (the window's timers) ----
    // The template, a new document and documents the user trusted may fire their timers; a
    // document opened from elsewhere may not until the user says so.
    bool OpenDocumentTrusted() const { return documentTrusted_; }
    // The open document's file, as it is on disk now, is trusted from now on. False (with
    // *reason) when it has no file or the record can't be written; the document is trusted
    // for this process all the same.
    bool TrustOpenDocument(std::string* reason = nullptr);
    // A run of an exact task from a document not trusted is confirmed once, whatever the
    // preferences say: deletions are what a received document can do most harm with.
    bool MustConfirmExactRun() const { return !documentTrusted_ && !exactRunConfirmed_; }
    void NoteExactRunConfirmed() { exactRunConfirmed_ = true; }

    // ---- Termination and the files other programs may change ----
    // Writes, as at every quit, the template (while it is the open document) and the
    // preferences, each only when this process changed it since it last read or wrote it;
    // the problems (for the system log) are returned.
    std::vector<std::string> WriteTemplateAndPreferences();
    // Reads again what another program changed: the preferences always, the template only
    // while it is the open document. Never during a run: the caller waits for its end.
    SettingsFilesReload ReloadChangedSettingsFiles();
    // A folder that the window shows and treats as one file (an application bundle and the
    // like).
    static bool IsFilePackage(const std::string& path, const platform::ItemAttributes& attributes);
    // For an Exact Synchronize session whose pair has an index: "• Last Exact Sync: " and the
    // date the index was last written; empty otherwise.
    std::string LastExactSyncLine(std::int64_t sessionIndex) const;
    // Asks the session's filters about the item at path, as a run's walk would.
    FilterTest TestFilter(std::int64_t sessionIndex, const std::string& path) const;
    // Lists the volume holding a folder the user picked for a session, so that the session
    // can mount it before a later run. True when the volume is listed afterwards.
    bool AddToAutoMountVolumeArray(std::int64_t sessionIndex, const std::string& path);
    // The type and creator codes a filter row can pick from a file (the item itself, not a
    // link's target).
    static TypeAndCreator GetTypeAndCreator(const std::string& path);
    // One side of an item as the preview's info box shows it (names, dates, size).
    static engine::PreviewSideInfo DescribePreviewSide(const std::string& path);

  private:
    StartupResult InitVariables();
    void CopyOldSupportFolder();
    void PrepareExactSyncIndexFolder();
    DocumentTrust Trust() const;

    std::string resourcesFolder_;
    platform::SupportPaths paths_;
    std::unique_ptr<sessions::SessionDocument> document_;
    std::unique_ptr<sessions::Preferences> preferences_;
    std::unique_ptr<RunService> runService_;
    std::unique_ptr<RecentDocuments> recent_;
    std::unique_ptr<items::TWUtilities> utilities_;
    bool documentTrusted_ = true;
    bool exactRunConfirmed_ = false;
};

// The resources installed beside an executable: <exe>/../share/quorvel.
std::string DefaultResourcesFolder();

}  // namespace qv::app
