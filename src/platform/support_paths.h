#pragma once
// Where Quorvel keeps its files in the user's home, following the XDG base-directory rules:
// preferences and the template document under $XDG_CONFIG_HOME/quorvel, the support folder
// (ExactSync indexes, default log folder) under $XDG_DATA_HOME/Nimbrel/Quorvel 4.
// Nothing is created until a caller asks for it.

#include <string>

namespace qv::platform {

inline constexpr const char* kAppIdentifier = "app.quorvel.Quorvel";

struct SupportPaths {
    std::string home;
    std::string pathFolderPref;            // $XDG_CONFIG_HOME/quorvel
    std::string pathFilePref;              // the preferences file
    std::string pathFileDocTemplate;       // the template document
    std::string pathNimbrelAppSupp;        // $XDG_DATA_HOME/Nimbrel
    std::string pathQV4AppSupp;            // the support folder
    std::string pathExactSyncIndexFolder;  // ExactSync index files
    std::string pathAppFolder;             // stands for the application's folder
    std::string pathLogFolder;             // default log folder (localised name)

    // From HOME (or the user database), XDG_CONFIG_HOME and XDG_DATA_HOME. Relative XDG
    // values are ignored, as the XDG rules require.
    static SupportPaths FromEnvironment();

    bool EnsurePreferencesFolder(std::string* reason = nullptr) const;
    bool EnsureSupportFolder(std::string* reason = nullptr) const;
};

}  // namespace qv::platform
