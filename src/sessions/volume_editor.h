#pragma once
// The volume list of one session being edited (`autoMountDict`): a working copy that the
// volumes panel shows and the command changes, the addresses rows are shown under, and the
// checks a row's fields must pass before a mount tool is given them.

#include <cstddef>
#include <string>

#include "sessions/plist_value.h"

namespace qv::sessions {

inline constexpr std::size_t kMinVolumePasswordLength = 3;
// The default of the preference `prefMountTimeout`, in seconds.
inline constexpr std::int64_t kDefaultMountTimeout = 60;

// How the panel and the log name a volume: "smb://server/Music" (display, with the mount
// point) and "smb://server/share" (the log's address, with the path).
std::string VolumeDisplayAddress(const plist::Value& row);
std::string VolumeLogAddress(const plist::Value& row);

// Why a row's fields can't be given to a mount tool, "" when they can: a scheme, host, user,
// share or path that begins with "-" (it would read as an option), holds a control character,
// or a path or mount point that is not absolute.
std::string VolumeRowRefusal(const plist::Value& row);

class VolumeEditor {
  public:
    explicit VolumeEditor(const plist::Value& autoMountDict);

    bool listOn() const;
    void setListOn(bool on);
    std::size_t rowCount() const;
    const plist::Value& row(std::size_t index) const;
    bool rowEmpty(std::size_t index) const;  // no host: nothing listed there
    bool rowOn(std::size_t index) const;
    bool hasPassword(std::size_t index) const;

    // Rows numbered from 0. Each answers "" when done, else why not (the messages the panel shows).
    std::string toggle(std::size_t index);
    // The Alt-click reset: the row emptied and moved to the end of the list.
    std::string reset(std::size_t index);
    // The edit dialog's OK: the user (remote rows), the password (remote rows and images; ""
    // for none) and the unmount flag. The list is switched on.
    std::string edit(std::size_t index, const std::string& user, const std::string& password,
                     bool unmount);
    // A row made from a picked folder's volume; *index says which row holds it.
    std::string add(const plist::Value& row, std::size_t* index);

    const plist::Value& CurrentDict() const { return dict_; }
    bool IconOn() const { return listOn(); }
    // GetPanels: a list that is on with no row that is on and has a host is switched off.
    bool GetPanels(plist::Value& session, std::string* message);

  private:
    plist::Value& mutableRow(std::size_t index);
    plist::Value dict_;
};

}  // namespace qv::sessions
