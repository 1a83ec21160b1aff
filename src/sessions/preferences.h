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
    // A preferences file that exists but cannot be read is kept beside it (see
    // SetAsideUnreadableFile) and notice() says so.
    void ReadFilePreferences();
    // Whether the file holds preferences other than mPrefDict: another program changed them.
    // Every change this process makes to mPrefDict is written at once, so a difference is
    // never our own write.
    bool FileChangedOnDisk() const;
    // Reads the file again after such a change; a file that cannot be read (or holds no
    // preferences) leaves mPrefDict as it is and the result is false.
    bool ReloadPreferences();
    const std::string& notice() const { return notice_; }
    void UpdatePreferences();
    void InitPreferences();
    // Writes mPrefDict under "QVPrivatePreferences", keeping any other key of the file.
    // atTermination is true only for the write made when the application quits: it writes
    // nothing when mPrefDict is what this process last read or wrote, so that a change
    // another program made meanwhile stands.
    bool WriteFilePreferences(bool atTermination, std::string* reason = nullptr);

    plist::Value mPrefDict;

  private:
    platform::SupportPaths paths_;
    std::string notice_;
    plist::Value lastSynced_;  // mPrefDict as last read from or written to the file
};

}  // namespace qv::sessions
