#pragma once
// The filters of one session being edited: a working copy of its `filterDict` that the filters
// panel shows and the command changes, the row editor's checks and the rows' descriptions, and
// the valid rows a run applies.

#include <cstdint>
#include <ctime>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "sessions/plist_value.h"

namespace qv::sessions {

inline constexpr std::int64_t kFilterCopyMode = 1;

// Comparison entries of the date pop-ups that stand for a moving day.
inline constexpr std::int64_t kDatePopSeparator = 4;
inline constexpr std::int64_t kDatePopToday = 5;
inline constexpr std::int64_t kDatePopYesterday = 6;

// The keys of a row the row editor shows, in its order, with what each holds. popCount is the
// number of entries of a comparison pop-up (a value is a position below it); the size unit
// holds the tags 0 to 3.
enum class FilterKeyKind { kSwitch, kPopUp, kNumber, kText };
struct FilterRowKey {
    const char* key;
    FilterKeyKind kind;
    std::int64_t popCount;
};
const std::vector<FilterRowKey>& FilterRowKeys();
const FilterRowKey* FindFilterRowKey(std::string_view key);

// The titles of a comparison pop-up's entries by position, or of the size unit's tags, as
// the row descriptions spell them; empty for a key that is no pop-up.
std::vector<std::string> FilterPopTitles(std::string_view key);

// A day as the date fields of the row editor hold it.
struct FilterDate {
    std::int64_t month = 1;
    std::int64_t day = 1;
    std::int64_t year = 2011;
    bool operator==(const FilterDate&) const = default;
};
enum class FilterDateField { kMonth, kDay, kYear };
// The day a date pop-up's entry fills the fields with (today or yesterday), nothing for the
// entries whose day the user types.
std::optional<FilterDate> FilterPopDate(std::int64_t pop, std::time_t now);
// One click of a date field's stepper: month and day go round their range, the year stops at
// the first one the fields accept; a day beyond the month's last is then lowered to it.
FilterDate StepFilterDate(FilterDate date, FilterDateField field, int delta);

// A row takes part in a run: switched on, with at least one criterion switched on.
bool IsFilterRowValid(const plist::Value& row);
// The table indexes of the valid rows of a filterDict, in table order.
// The on/off cell of the table: "•" or "-", "" for a row without a criterion.
std::string FilterOnOffCell(const plist::Value& row);
std::vector<std::size_t> ValidFilterRowIndexes(const plist::Value& filterDict);
// CountFilterValid: the valid rows of the session's filters (executiveFilterArray); their
// number is the count.
std::vector<plist::Value> CountFilterValid(const plist::Value& session);

// The last day of a month, Gregorian leap years; 0 for a month outside 1 to 12.
std::int64_t FilterDayMaximum(std::int64_t month, std::int64_t year);
// The description the table shows for a row whose values passed the row editor's checks.
std::string FilterRowDescription(const plist::Value& row);
// The run log's section on the filters in force: one line per description.
std::string GetFiltersLog(const std::vector<std::string>& descriptions);

// The row editor's verdict: the refusal ("" when the row was taken) and the key of the field
// the editor selects for it ("" for none).
struct FilterRowCheck {
    std::string message;
    std::string field;
    bool ok() const { return message.empty(); }
};

class FilterEditor {
  public:
    // SetPanels: the working copy of a session's filterDict (missing keys and rows take a new
    // session's values).
    explicit FilterEditor(const plist::Value& filterDict);

    bool filterOn() const;
    void setFilterOn(bool on);
    std::int64_t copySkip() const;  // kFilterCopyMode, or the skip mode
    void setCopySkip(std::int64_t tag);

    std::size_t rowCount() const;
    const plist::Value& row(std::size_t index) const;  // index below rowCount()
    // The row operations leave an index beyond the table alone (SetFilterRow refuses it).
    // The first column: switches the row's onOff.
    void ToggleRow(std::size_t index);
    // Another column with the option key: the row back to a new row's values, except its
    // owner and group criteria.
    void ResetRow(std::size_t index);
    // The name field of the row editor: the description, or "Filter N".
    std::string EditorTitle(std::size_t index) const;
    // SetFilterRow: checks the values of the row editor in its order; when they pass, the
    // description is composed, the values are stored into the row and the filters are
    // switched on. A number is missing when its key is absent or holds no whole number. A date
    // on today or yesterday takes that day's date from now first, as its pop-up does.
    FilterRowCheck SetFilterRow(std::size_t index, const plist::Value& edited,
                                std::time_t now = std::time(nullptr));

    const plist::Value& CurrentFilterDict() const { return dict_; }
    bool HasValidRow() const;
    bool IconOn() const { return filterOn(); }
    // GetPanels: filters on without a valid row are switched off first; then the working copy
    // is the session's filterDict. Never refuses a session dictionary.
    bool GetPanels(plist::Value& session, std::string* message);

  private:
    plist::Value& mutableRow(std::size_t index);
    plist::Value dict_;
};

}  // namespace qv::sessions
