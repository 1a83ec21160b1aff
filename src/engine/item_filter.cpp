#include "engine/item_filter.h"

#include <fcntl.h>

#include <algorithm>
#include <charconv>
#include <limits>

#include "items/alias_files.h"
#include "platform/case_fold.h"
#include "platform/civil_day.h"
#include "platform/system_log.h"
#include "platform/user_database.h"
#include "sessions/filter_editor.h"

namespace qv::engine {

namespace {

// Names are compared ignoring case, folded as everywhere else in the program.
std::string FoldName(std::string_view text) { return platform::FoldCase(text); }

enum NamePop : std::int64_t { kContains, kBegins, kEnds, kEquals, kDiffers, kLacks };
enum SizePop : std::int64_t { kSizeEqual, kSizeLess, kSizeGreater };
enum KindPop : std::int64_t { kKindFile, kKindFolder, kKindAlias };
enum AccountPop : std::int64_t { kNameIs, kNameIsNot, kIdIs, kIdIsNot };

// A modification date that cannot be read is older than any day a row holds.
constexpr std::int64_t kBeforeAnyDay = std::numeric_limits<std::int64_t>::min();

struct DateCriterion {
    bool on = false;
    std::int64_t pop = 0;
    std::int64_t day = 0;  // CivilDay key of the row's date
};

struct AccountCriterion {
    bool on = false;
    std::int64_t pop = 0;
    std::optional<std::uint32_t> id;  // the name's account, or the ID given; none: no such
};

bool DayHolds(std::int64_t pop, std::int64_t itemDay, std::int64_t rowDay, std::int64_t today,
              std::int64_t yesterday) {
    switch (pop) {
        case 0:
            return itemDay == rowDay;
        case 1:
            return itemDay < rowDay;
        case 2:
            return itemDay > rowDay;
        case 3:
            return itemDay != rowDay;
        case sessions::kDatePopToday:
            return itemDay == today;
        case sessions::kDatePopYesterday:
            return itemDay == yesterday;
        default:  // the separator, or a value no pop-up has
            return false;
    }
}

bool AccountHolds(const AccountCriterion& c, std::uint32_t owner) {
    const bool same = c.id && *c.id == owner;
    switch (c.pop) {
        case kNameIs:
        case kIdIs:
            return same;
        case kNameIsNot:
        case kIdIsNot:
            return !same;
        default:
            return false;
    }
}

std::optional<std::uint32_t> NumericId(const std::string& text) {
    std::uint32_t n = 0;
    const char* end = text.data() + text.size();
    const auto [ptr, ec] = std::from_chars(text.data(), end, n);
    if (text.empty() || ec != std::errc() || ptr != end) return std::nullopt;
    return n;
}

AccountCriterion Account(const plist::Value& row, const std::string& stem, bool user) {
    AccountCriterion c;
    c.on = row.intAt(stem + "On") != 0;
    c.pop = row.intAt(stem + "Pop");
    const std::string& field = row.stringAt(stem + "Field");
    if (!c.on) return c;
    if (c.pop == kIdIs || c.pop == kIdIsNot) {
        c.id = NumericId(field);
    } else if (user) {
        c.id = platform::UserIdOfName(field);
    } else {
        c.id = platform::GroupIdOfName(field);
    }
    return c;
}

DateCriterion Date(const plist::Value& row, const std::string& stem) {
    const platform::CivilDay day{row.intAt(stem + "Year"), row.intAt(stem + "Month"),
                                 row.intAt(stem + "Day")};
    return {row.intAt(stem + "On") != 0, row.intAt(stem + "Pop"), day.key()};
}

}  // namespace

struct ItemFilter::Row {
    std::size_t tableRow = 0;
    bool nameOn = false;
    std::int64_t namePop = 0;
    std::string name;  // folded
    DateCriterion creation, modification;
    bool typeOn = false, creatorOn = false;
    std::int64_t typePop = 0, creatorPop = 0;
    std::string type, creator;
    bool kindOn = false;
    std::int64_t kindPop = 0;
    bool sizeOn = false;
    std::int64_t sizePop = 0;
    std::uint64_t sizeLimit = 0;
    bool sizeLimitNegative = false;
    AccountCriterion owner, group;
};

// What an item's rows asked of the disk, read at most once per item.
struct ItemFilter::Facts {
    std::optional<std::string> foldedName;
    std::optional<items::FinderCodes> codes;
    std::optional<std::optional<std::int64_t>> creationDay;  // read, but perhaps unreadable
    std::optional<std::int64_t> modificationDay;
};

ItemFilter::ItemFilter(const plist::Value& filterDict, const items::TWUtilities& tw,
                       std::time_t now)
    : copyMode_(filterDict.intAt("filterCopySkip", 2) == sessions::kFilterCopyMode), tw_(tw) {
    const platform::CivilDay today = platform::LocalDayOf(now);
    today_ = today.key();
    yesterday_ = platform::DayBefore(today).key();
    const plist::Value* table = filterDict.arrayAt("filterArray");
    for (std::size_t index : sessions::ValidFilterRowIndexes(filterDict)) {
        const plist::Value& r = table->array()[index];
        Row row;
        row.tableRow = index;
        row.nameOn = r.intAt("filterFileNameOn") != 0;
        row.namePop = r.intAt("filterFileNamePop");
        row.name = FoldName(r.stringAt("filterFileNameField"));
        row.creation = Date(r, "filterCreationDate");
        row.modification = Date(r, "filterModificationDate");
        row.typeOn = r.intAt("filterTypeOn") != 0;
        row.typePop = r.intAt("filterTypePop");
        row.type = r.stringAt("filterTypeField");
        row.creatorOn = r.intAt("filterCreatorOn") != 0;
        row.creatorPop = r.intAt("filterCreatorPop");
        row.creator = r.stringAt("filterCreatorField");
        row.kindOn = r.intAt("filterKindOn") != 0;
        row.kindPop = r.intAt("filterKindPop");
        row.sizeOn = r.intAt("filterFileSizeOn") != 0;
        row.sizePop = r.intAt("filterFileSizePop");
        const std::int64_t number = r.intAt("filterFileSizeField");
        const std::int64_t unit = std::clamp<std::int64_t>(r.intAt("filterFileSizeBytesPop"), 0, 3);
        row.sizeLimitNegative = number < 0;
        // A limit beyond 64 bits (the editor refuses one) stands above every size.
        const std::uint64_t magnitude = static_cast<std::uint64_t>(number < 0 ? 0 : number);
        row.sizeLimit = magnitude > (std::numeric_limits<std::uint64_t>::max() >> (10 * unit))
                            ? std::numeric_limits<std::uint64_t>::max()
                            : magnitude << (10 * unit);
        row.owner = Account(r, "filterOwner", true);
        row.group = Account(r, "filterGroup", false);
        rows_.push_back(std::move(row));
    }
}

ItemFilter::~ItemFilter() = default;

ItemFilter::Verdict ItemFilter::Match(const FilterSubject& item) const {
    Verdict verdict;
    if (rows_.empty()) return verdict;
    Facts facts;
    for (const Row& row : rows_) {
        if (RowHolds(row, item, facts)) {
            verdict.leftOut = !copyMode_;
            verdict.tableRow = row.tableRow;
            return verdict;
        }
    }
    verdict.leftOut = copyMode_;
    return verdict;
}

bool ItemFilter::NameHolds(const Row& row, const FilterSubject& item, Facts& facts) const {
    if (!facts.foldedName) facts.foldedName = FoldName(item.name);
    const std::string& name = *facts.foldedName;
    const std::string& text = row.name;
    const bool longer = text.size() > name.size();
    bool holds = false;
    switch (row.namePop) {
        case kContains:
            holds = name.find(text) != std::string::npos;
            break;
        case kBegins:
            holds = !longer && name.compare(0, text.size(), text) == 0;
            break;
        case kEnds:
            holds = !longer && name.compare(name.size() - text.size(), text.size(), text) == 0;
            break;
        case kEquals:
            holds = name == text;
            break;
        case kDiffers:
            holds = name != text;
            break;
        case kLacks:
            holds = name.find(text) == std::string::npos;
            break;
        default:
            break;
    }
    return holds;
}

bool ItemFilter::CreationHolds(const Row& row, const FilterSubject& item, Facts& facts) const {
    if (!facts.creationDay) {
        const items::OptionalDate created =
            item.dirFd >= 0 ? tw_.GetDate(item.dirFd, item.name, item.attrs, items::kCreationDate)
                            : tw_.GetDate(item.path, item.attrs, items::kCreationDate);
        facts.creationDay.emplace();
        if (created) {
            *facts.creationDay = platform::LocalDayOf(static_cast<std::time_t>(*created)).key();
        }
    }
    // Many file systems (NFS, FUSE) keep no creation date: the row cannot hold, the next
    // one may.
    if (!*facts.creationDay) {
        if (!creationDateReported_.exchange(true)) {
            platform::SystemLog(
                "Err: no creation date in IsToBeFiltered for " + item.path +
                "; the filters on creation dates do not hold for such items in this run");
        }
        return false;
    }
    return DayHolds(row.creation.pop, **facts.creationDay, row.creation.day, today_, yesterday_);
}

bool ItemFilter::ModificationHolds(const Row& row, const FilterSubject& item, Facts& facts) const {
    if (!facts.modificationDay) {
        facts.modificationDay =
            item.attrs.exists() && item.attrs.mtime.seconds() != 0.0
                ? platform::LocalDayOf(static_cast<std::time_t>(item.attrs.mtime.sec)).key()
                : kBeforeAnyDay;
    }
    return DayHolds(row.modification.pop, *facts.modificationDay, row.modification.day, today_,
                    yesterday_);
}

bool ItemFilter::CodesHold(const Row& row, const FilterSubject& item, Facts& facts) const {
    if (!facts.codes) {
        facts.codes = item.dirFd >= 0 ? tw_.GetTypeAndCreator(item.dirFd, item.name)
                                      : tw_.GetTypeAndCreator(AT_FDCWD, item.path);
    }
    const auto code = [](std::int64_t pop, const std::string& mine, const std::string& text) {
        return (pop == 0 && mine == text) || (pop == 1 && mine != text);
    };
    return (!row.typeOn || code(row.typePop, facts.codes->type, row.type)) &&
           (!row.creatorOn || code(row.creatorPop, facts.codes->creator, row.creator));
}

bool ItemFilter::KindHolds(const Row& row, const FilterSubject& item) const {
    if (!item.attrs.exists()) return false;
    bool holds = false;
    switch (row.kindPop) {
        case kKindFile:
        case kKindFolder: {
            const bool folder =
                item.attrs.isDirectory() &&
                !(item.dirFd >= 0 ? tw_.IsFilePackage(item.dirFd, item.name, item.attrs)
                                  : tw_.IsFilePackage(item.path, item.attrs));
            holds = folder == (row.kindPop == kKindFolder);
            break;
        }
        case kKindAlias:
            holds = items::IsAlias(item.path);
            break;
        default:
            break;
    }
    return holds;
}

bool ItemFilter::SizeHolds(const Row& row, const FilterSubject& item) {
    if (!item.attrs.exists()) return false;
    const std::uint64_t size = item.attrs.size;
    bool holds = false;
    switch (row.sizePop) {
        case kSizeEqual:
            holds = !row.sizeLimitNegative && size == row.sizeLimit;
            break;
        case kSizeLess:
            holds = !row.sizeLimitNegative && size < row.sizeLimit;
            break;
        case kSizeGreater:
            holds = row.sizeLimitNegative || size > row.sizeLimit;
            break;
        default:
            break;
    }
    return holds;
}

// Every criterion switched on in the row holds for the item.
bool ItemFilter::RowHolds(const Row& row, const FilterSubject& item, Facts& facts) const {
    return (!row.nameOn || NameHolds(row, item, facts)) &&
           (!row.creation.on || CreationHolds(row, item, facts)) &&
           (!row.modification.on || ModificationHolds(row, item, facts)) &&
           (!(row.typeOn || row.creatorOn) || CodesHold(row, item, facts)) &&
           (!row.kindOn || KindHolds(row, item)) && (!row.sizeOn || SizeHolds(row, item)) &&
           (!row.owner.on || (item.attrs.exists() && AccountHolds(row.owner, item.attrs.uid))) &&
           (!row.group.on || (item.attrs.exists() && AccountHolds(row.group, item.attrs.gid)));
}

}  // namespace qv::engine
