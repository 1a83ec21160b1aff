#pragma once
// MainApp: the facade the front ends hold. It performs start-up (support folders, the string
// table, preferences, the template document) and owns the open document and the preferences.

#include <memory>
#include <string>

#include "app/run_service.h"
#include "platform/item_attributes.h"
#include "platform/support_paths.h"
#include "sessions/preferences.h"
#include "sessions/session_document.h"

namespace qv::app {

struct StartupResult {
    bool ok = false;
    std::string alert;  // a fatal start-up condition, to show under "Warning:" before quitting
};

class MainApp {
  public:
    // resourcesFolder holds the <lang>.lproj folders.
    explicit MainApp(std::string resourcesFolder);

    // Loads the string table, prepares the support folders and reads the preferences and the
    // template document. Nothing else may be called when it fails.
    StartupResult Start();

    const platform::SupportPaths& paths() const { return paths_; }
    sessions::SessionDocument& document() { return *document_; }
    sessions::Preferences& preferences() { return *preferences_; }
    // Starts, stops and concludes every run, whoever asks.
    RunService& runService() { return *runService_; }
    // A folder that the window shows and treats as one file (an application bundle and the
    // like).
    static bool IsFilePackage(const std::string& path, const platform::ItemAttributes& attributes);

  private:
    StartupResult InitVariables();
    void PrepareExactSyncIndexFolder();

    std::string resourcesFolder_;
    platform::SupportPaths paths_;
    std::unique_ptr<sessions::SessionDocument> document_;
    std::unique_ptr<sessions::Preferences> preferences_;
    std::unique_ptr<RunService> runService_;
};

// The resources installed beside an executable: <exe>/../share/quorvel.
std::string DefaultResourcesFolder();

}  // namespace qv::app
