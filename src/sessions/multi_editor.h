#pragma once
// The multiple list of one session being edited: a working copy of its `multiDict` that the
// multiple-list panel shows and the command changes, with the checks made on leaving it.

#include <cstddef>
#include <string>

#include "sessions/plist_value.h"

namespace qv::sessions {

class MultiEditor {
  public:
    // SetPanels: the working copy (missing keys and rows take defaults).
    explicit MultiEditor(const plist::Value& multiDict);

    bool listOn() const;
    void setListOn(bool on);  // the checkbox; the marker follows
    std::size_t rowCount() const;
    bool rowOn(std::size_t row) const;
    const std::string& source(std::size_t row) const;
    const std::string& destination(std::size_t row) const;
    // A row is valid when it is on and has both paths.
    bool rowValid(std::size_t row) const;
    std::size_t validCount() const;

    // Rows are numbered from 0 here. Each answers "" when done, else why not.
    std::string toggle(std::size_t row);
    // A picked folder (or file) for one side: stored as it is, a trailing "/" aside; its
    // display names go and the list is switched on.
    std::string setPath(std::size_t row, bool source, const std::string& path);
    std::string setPaths(std::size_t row, const std::string& source, const std::string& dest);
    // The option-click: one side emptied; a row left with no path is switched on again.
    std::string clearPath(std::size_t row, bool source);
    // Both paths cleared, their display names removed, the row on again.
    std::string clear(std::size_t row);

    const plist::Value& CurrentMultiDict() const { return dict_; }
    bool IconOn() const { return listOn(); }
    // GetPanels: with the list on, refuses (message set) the first row that is on and names
    // one folder twice, or a folder inside the other when both exist; then a list with no
    // valid row is switched off and the copy stored.
    bool GetPanels(plist::Value& session, std::string* message);
    // The refusal GetPanels would give, "" when none. Rows that copy a folder into itself
    // through each other (one row's folder inside a folder another row is paired with, in any
    // order and through chains of rows) are refused whatever the task. In an exact backup, a row copying into
    // a folder an earlier row copies into or from (one folder, or one inside the other) is
    // refused too.
    // session: the row's session, whose task decides whether rows may share folders (an
    // exact backup's may not); without it they may not.
    std::string CheckRows(const plist::Value* session = nullptr) const;
    // Rows that, together, copy a folder into itself: refused whatever the task (a run checks
    // this too, since a document from elsewhere never passed the panel).
    std::string CheckRowsDoNotNest() const;

  private:
    plist::Value& row(std::size_t row);
    const plist::Value& row(std::size_t row) const;
    std::string CheckRow(std::size_t row) const;
    std::string CheckDestinationsApart() const;

    plist::Value dict_;
};

}  // namespace qv::sessions
