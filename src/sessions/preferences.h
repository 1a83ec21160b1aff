#pragma once
// The application-wide preferences (`mPrefDict`): how runs behave and what happens to their
// logs. Kept in the preferences file under "QVPrivatePreferences"; older storage is migrated
// once and removed.

#include <cstdint>
#include <string>

#include "platform/support_paths.h"
#include "sessions/plist_value.h"

namespace qv::sessions {

inline constexpr std::int64_t kPreferencesVersion = 411;
inline constexpr std::int64_t kApplicationVersion = 421000;
inline constexpr const char* kPreferencesKey = "QVPrivatePreferences";
inline constexpr const char* kOldPreferencesKey = "privateAppPref";
inline constexpr const char* kOldPreferencesFile = "Quorvel 3.0 Prefs.plist";
inline constexpr const char* kOlderPreferencesFile = "Quorvel.plist";

class Preferences {
  public:
    explicit Preferences(platform::SupportPaths paths);

    // Every key with its default value.
    plist::Value GetDefaultPreferencesDict() const;

    // Loads mPrefDict from the preferences file, the older storage, or the defaults, brings it
    // up to date and writes it back.
    void ReadFilePreferences();
    void UpdatePreferences();
    void InitPreferences();
    // Writes mPrefDict under "QVPrivatePreferences", keeping any other key of the file.
    // atTermination is true only for the write made when the application quits.
    bool WriteFilePreferences(bool atTermination, std::string* reason = nullptr);

    plist::Value mPrefDict;

  private:
    platform::SupportPaths paths_;
};

}  // namespace qv::sessions
