#pragma once
// The exclude list of one session being edited: a working copy of its `excludeDict` that the
// exclude panel shows and the command changes, with the rules both follow.

#include <cstddef>
#include <string>

#include "sessions/plist_value.h"

namespace qv::sessions {

class ExcludeEditor {
  public:
    // SetPanels: the working copy (missing keys and rows take defaults).
    explicit ExcludeEditor(const plist::Value& excludeDict);

    bool listOn() const;
    void setListOn(bool on);  // the checkbox; the marker follows
    std::size_t rowCount() const;
    bool rowOn(std::size_t row) const;
    const std::string& path(std::size_t row) const;
    // A row is valid when it is on and has a path.
    bool rowValid(std::size_t row) const;
    std::size_t validCount() const;

    // Rows are numbered from 0 here. Each answers "" when done, else why not.
    std::string toggle(std::size_t row);
    // A picked item: stored as it is (a trailing "/" aside), the list switched on.
    std::string setPath(std::size_t row, const std::string& path);
    // The first row without a path takes the item; *row says which.
    std::string add(const std::string& path, std::size_t* row);
    // The option-click reset: on, no path, no stored display names.
    std::string clear(std::size_t row);

    const plist::Value& CurrentExcludeDict() const { return dict_; }
    bool IconOn() const { return listOn(); }
    // GetPanels: a list that is on with no valid row is switched off; never refuses.
    bool GetPanels(plist::Value& session, std::string* message);

  private:
    plist::Value& row(std::size_t row);
    const plist::Value& row(std::size_t row) const;
    std::string CheckRow(std::size_t row) const;

    plist::Value dict_;
};

}  // namespace qv::sessions
