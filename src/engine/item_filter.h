#pragma once
// A session's filter rows made ready for one run: names lowered, dates turned into calendar
// days, account names resolved to ids, once, so that the walk's question for every item
// (IsToBeFiltered) costs little more than the comparisons themselves.

#include <atomic>
#include <cstdint>
#include <ctime>
#include <optional>
#include <string>
#include <vector>

#include "items/tw_utilities.h"
#include "platform/item_attributes.h"
#include "sessions/plist_value.h"

namespace qv::engine {

// The item the walk asks about, as its listing found it: no second look at the disk unless a
// row asks for something the listing did not read.
struct FilterSubject {
    const std::string& name;  // the last path component
    const std::string& path;
    int dirFd;  // the open folder that lists name, or -1 to reach the item by path
    const platform::ItemAttributes& attrs;
};

class ItemFilter {
  public:
    // The valid rows of filterDict in table order; copySkip as filterCopySkip; now fixes
    // today and yesterday for the whole run.
    ItemFilter(const plist::Value& filterDict, const items::TWUtilities& tw,
               std::time_t now = std::time(nullptr));
    ~ItemFilter();
    ItemFilter(const ItemFilter&) = delete;
    ItemFilter& operator=(const ItemFilter&) = delete;

    bool empty() const { return rows_.empty(); }
    bool copyMode() const { return copyMode_; }

    struct Verdict {
        bool leftOut = false;
        std::optional<std::size_t> tableRow;  // the index in the table of the row that matched
    };
    Verdict Match(const FilterSubject& item) const;
    // True when the item must be left out of the run.
    bool IsToBeFiltered(const FilterSubject& item) const { return Match(item).leftOut; }

  private:
    struct Row;
    struct Facts;
    bool RowHolds(const Row& row, const FilterSubject& item, Facts& facts) const;
    // Each criterion of a row, for an item; facts keeps what was read of the item for the
    // next rows.
    bool NameHolds(const Row& row, const FilterSubject& item, Facts& facts) const;
    bool CreationHolds(const Row& row, const FilterSubject& item, Facts& facts) const;
    bool ModificationHolds(const Row& row, const FilterSubject& item, Facts& facts) const;
    bool CodesHold(const Row& row, const FilterSubject& item, Facts& facts) const;
    bool KindHolds(const Row& row, const FilterSubject& item) const;
    static bool SizeHolds(const Row& row, const FilterSubject& item);

    std::vector<Row> rows_;
    bool copyMode_ = false;
    const items::TWUtilities& tw_;
    std::int64_t today_ = 0;
    std::int64_t yesterday_ = 0;
    // Unreadable creation dates are reported once per run, not once per item.
    mutable std::atomic<bool> creationDateReported_{false};
};

}  // namespace qv::engine
