#include "sessions/filter_editor.h"

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <limits>
#include <optional>

#include "platform/civil_day.h"
#include "platform/localization.h"
#include "sessions/filter_options.h"

namespace qv::sessions {

using platform::GLS;

namespace {

using K = FilterKeyKind;

// The nine criteria: their switches in the order the table lists them (which is also the
// order of the descriptions).
constexpr const char* kCriterionSwitches[] = {
    "filterFileNameOn", "filterCreationDateOn", "filterModificationDateOn",
    "filterFileSizeOn", "filterTypeOn",         "filterCreatorOn",
    "filterKindOn",     "filterOwnerOn",        "filterGroupOn",
};

// The titles of the pop-up entries, by position; they appear in the descriptions.
constexpr const char* kNameTitles[] = {"contains", "begins with", "ends with",
                                       "is",       "is not",      "does not contain"};
constexpr const char* kDateTitles[] = {"is", "is before", "is after",    "is not",
                                       "-",  "is today",  "is yesterday"};
constexpr const char* kSizeTitles[] = {"is", "is less than", "is greater than"};
constexpr const char* kUnitTitles[] = {"bytes", "KB", "MB", "GB"};
constexpr const char* kCodeTitles[] = {"is", "is not"};
constexpr const char* kKindTitles[] = {"is a file", "is a folder", "is an alias"};
constexpr const char* kAccountTitles[] = {"name is", "name is not", "ID is", "ID is not"};

template <std::size_t N>
std::string Title(const char* const (&titles)[N], std::int64_t position) {
    if (position < 0 || static_cast<std::size_t>(position) >= N) return "?";
    return GLS(titles[position]);
}

constexpr const char* kFileNameMessage = "Please insert a valid file name.";
constexpr const char* kYearMessage = "Please insert a valid Year number.";
constexpr const char* kMonthMessage = "Please insert a valid Month number.";
constexpr const char* kDayMessage = "Please insert a valid Day number.";
constexpr const char* kDateComparisonMessage = "Please choose how the date is compared.";
constexpr const char* kSizeMessage = "Please insert a valid File Size.";
constexpr const char* kTypeMessage = "Please insert a valid Type.";
constexpr const char* kCreatorMessage = "Please insert a valid Creator.";
constexpr const char* kOwnerMessage = "Please insert a valid Owner name or ID.";
constexpr const char* kGroupMessage = "Please insert a valid Group name or ID.";
constexpr const char* kNoCriterionMessage = "Please define a criteria for this filter.";

constexpr std::int64_t kFirstYear = 1904;   // the earliest year the date fields accept
constexpr std::int64_t kLastYear = 9999;    // and the last, so that a date's seconds fit
constexpr std::int64_t kLastUnit = 3;       // GB
constexpr std::int64_t kAccountIdPops = 2;  // from this entry on, the field is a numeric ID

// A whole decimal number, from an integer value or a text (what a field holds); nothing for
// anything else, an empty field included.
std::optional<std::int64_t> Number(const plist::Value* value) {
    if (value == nullptr) return std::nullopt;
    if (value->isInteger() || value->isBoolean()) return value->intValue();
    if (value->isReal()) {
        const double d = value->realValue();
        if (d != static_cast<double>(static_cast<std::int64_t>(d))) return std::nullopt;
        return static_cast<std::int64_t>(d);
    }
    if (!value->isString()) return std::nullopt;
    const std::string& text = value->str();
    std::int64_t n = 0;
    const char* begin = text.data() + (!text.empty() && text.front() == '+' ? 1 : 0);
    const char* end = text.data() + text.size();
    const auto [ptr, ec] = std::from_chars(begin, end, n);
    if (begin == end || ec != std::errc() || ptr != end) return std::nullopt;
    return n;
}

std::string Text(const plist::Value& row, const char* key) {
    const plist::Value* v = row.find(key);
    return v != nullptr && v->isString() ? v->str() : std::string();
}

bool On(const plist::Value& row, const char* key) { return row.intAt(key) != 0; }

// An owner or group ID as the system counts them.
bool IsAccountId(const std::string& text) {
    std::uint32_t n = 0;
    const char* end = text.data() + text.size();
    const auto [ptr, ec] = std::from_chars(text.data(), end, n);
    return !text.empty() && ec == std::errc() && ptr == end &&
           n != std::numeric_limits<std::uint32_t>::max();
}

// The checks of one date criterion, year, month then day.
FilterRowCheck CheckDate(const plist::Value& row, const std::string& stem) {
    const std::optional<std::int64_t> year = Number(row.find(stem + "Year"));
    if (!year || *year < kFirstYear || *year > kLastYear) return {kYearMessage, stem + "Year"};
    const std::optional<std::int64_t> month = Number(row.find(stem + "Month"));
    if (!month || *month < 1 || *month > 12) return {kMonthMessage, stem + "Month"};
    const std::optional<std::int64_t> day = Number(row.find(stem + "Day"));
    if (!day || *day < 1 || *day > FilterDayMaximum(*month, *year)) {
        return {kDayMessage, stem + "Day"};
    }
    return {};
}

FilterRowCheck CheckRow(const plist::Value& row) {
    if (On(row, "filterFileNameOn") && Text(row, "filterFileNameField").empty()) {
        return {kFileNameMessage, "filterFileNameField"};
    }
    for (const char* stem : {"filterCreationDate", "filterModificationDate"}) {
        if (!On(row, (std::string(stem) + "On").c_str())) continue;
        // The separator between the comparisons and the moving days is no comparison.
        if (row.intAt(std::string(stem) + "Pop") == kDatePopSeparator) {
            return {kDateComparisonMessage, std::string(stem) + "Pop"};
        }
        FilterRowCheck date = CheckDate(row, stem);
        if (!date.ok()) return date;
    }
    if (On(row, "filterFileSizeOn")) {
        const std::optional<std::int64_t> size = Number(row.find("filterFileSizeField"));
        const std::int64_t unit = row.intAt("filterFileSizeBytesPop");
        // The limit is the number times 1024 to the unit's power: it must fit in 64 bits.
        if (!size || *size < 0 || unit < 0 || unit > kLastUnit ||
            *size > (std::numeric_limits<std::int64_t>::max() >> (10 * unit))) {
            return {kSizeMessage, "filterFileSizeField"};
        }
    }
    if (On(row, "filterTypeOn") && Text(row, "filterTypeField").empty()) {
        return {kTypeMessage, "filterTypeField"};
    }
    if (On(row, "filterCreatorOn") && Text(row, "filterCreatorField").empty()) {
        return {kCreatorMessage, "filterCreatorField"};
    }
    // An ID that is no number would count as 0 and so pick out root's items.
    const auto account = [&](const char* on, const char* pop, const char* field) {
        if (!On(row, on)) return true;
        const std::string text = Text(row, field);
        return !text.empty() && (row.intAt(pop) < kAccountIdPops || IsAccountId(text));
    };
    if (!account("filterOwnerOn", "filterOwnerPop", "filterOwnerField")) {
        return {kOwnerMessage, "filterOwnerField"};
    }
    if (!account("filterGroupOn", "filterGroupPop", "filterGroupField")) {
        return {kGroupMessage, "filterGroupField"};
    }
    bool any = false;
    for (const char* key : kCriterionSwitches) any = any || On(row, key);
    if (!any) return {kNoCriterionMessage, ""};
    return {};
}

std::string Quoted(const std::string& value) { return " \"" + value + "\""; }

std::string DatePart(const plist::Value& row, const std::string& stem, const char* prefix) {
    const std::int64_t pop = row.intAt(stem + "Pop");
    std::string part = GLS(prefix) + Title(kDateTitles, pop);
    if (pop < kDatePopToday) {
        part += Quoted(std::to_string(row.intAt(stem + "Month")) + "/" +
                       std::to_string(row.intAt(stem + "Day")) + "/" +
                       std::to_string(row.intAt(stem + "Year")));
    }
    return part;
}

// What the controls of the row editor would store: switches 0/1, positions and numbers as
// integers (a missing number as 0), texts as strings.
plist::Value Normalised(const plist::Value& edited, const plist::Value& stored) {
    plist::Value row = stored;
    for (const FilterRowKey& key : FilterRowKeys()) {
        const plist::Value* value = edited.find(key.key);
        switch (key.kind) {
            case K::kSwitch:
                row.set(key.key, value != nullptr && value->intValue() != 0 ? 1 : 0);
                break;
            case K::kPopUp:
            case K::kNumber:
                row.set(key.key, Number(value).value_or(0));
                break;
            case K::kText:
                row.set(key.key, value != nullptr && value->isString() ? value->str() : "");
                break;
        }
    }
    return row;
}

template <std::size_t N>
std::vector<std::string> Titles(const char* const (&titles)[N]) {
    std::vector<std::string> all;
    for (std::size_t i = 0; i < N; ++i) all.push_back(GLS(titles[i]));
    return all;
}

// n moved by delta within first..last, going round at either end.
std::int64_t Around(std::int64_t n, int delta, std::int64_t first, std::int64_t last) {
    const std::int64_t span = last - first + 1;
    const std::int64_t from = n < first || n > last ? first : n;
    return first + (((from - first + delta) % span) + span) % span;
}

}  // namespace

std::vector<std::string> FilterPopTitles(std::string_view key) {
    if (key == "filterFileNamePop") return Titles(kNameTitles);
    if (key == "filterCreationDatePop" || key == "filterModificationDatePop") {
        return Titles(kDateTitles);
    }
    if (key == "filterFileSizePop") return Titles(kSizeTitles);
    if (key == "filterFileSizeBytesPop") return Titles(kUnitTitles);
    if (key == "filterTypePop" || key == "filterCreatorPop") return Titles(kCodeTitles);
    if (key == "filterKindPop") return Titles(kKindTitles);
    if (key == "filterOwnerPop" || key == "filterGroupPop") return Titles(kAccountTitles);
    return {};
}

std::optional<FilterDate> FilterPopDate(std::int64_t pop, std::time_t now) {
    if (pop != kDatePopToday && pop != kDatePopYesterday) return std::nullopt;
    const platform::CivilDay today = platform::LocalDayOf(now);
    const platform::CivilDay day = pop == kDatePopToday ? today : platform::DayBefore(today);
    return FilterDate{day.month, day.day, day.year};
}

FilterDate StepFilterDate(FilterDate date, FilterDateField field, int delta) {
    switch (field) {
        case FilterDateField::kMonth:
            date.month = Around(date.month, delta, 1, 12);
            break;
        case FilterDateField::kYear:
            date.year = std::max(kFirstYear, date.year + delta);
            break;
        case FilterDateField::kDay:
            date.day = Around(date.day, delta, 1,
                              std::max<std::int64_t>(1, FilterDayMaximum(date.month, date.year)));
            return date;
    }
    const std::int64_t last = FilterDayMaximum(date.month, date.year);
    if (date.day > last) date.day = last;
    return date;
}

const std::vector<FilterRowKey>& FilterRowKeys() {
    static const std::vector<FilterRowKey> keys = {
        {"filterFileNameOn", K::kSwitch, 0},
        {"filterFileNamePop", K::kPopUp, 6},
        {"filterFileNameField", K::kText, 0},
        {"filterCreationDateOn", K::kSwitch, 0},
        {"filterCreationDatePop", K::kPopUp, 7},
        {"filterCreationDateMonth", K::kNumber, 0},
        {"filterCreationDateDay", K::kNumber, 0},
        {"filterCreationDateYear", K::kNumber, 0},
        {"filterModificationDateOn", K::kSwitch, 0},
        {"filterModificationDatePop", K::kPopUp, 7},
        {"filterModificationDateMonth", K::kNumber, 0},
        {"filterModificationDateDay", K::kNumber, 0},
        {"filterModificationDateYear", K::kNumber, 0},
        {"filterFileSizeOn", K::kSwitch, 0},
        {"filterFileSizePop", K::kPopUp, 3},
        {"filterFileSizeField", K::kNumber, 0},
        {"filterFileSizeBytesPop", K::kPopUp, 4},
        {"filterTypeOn", K::kSwitch, 0},
        {"filterTypePop", K::kPopUp, 2},
        {"filterTypeField", K::kText, 0},
        {"filterCreatorOn", K::kSwitch, 0},
        {"filterCreatorPop", K::kPopUp, 2},
        {"filterCreatorField", K::kText, 0},
        {"filterKindOn", K::kSwitch, 0},
        {"filterKindPop", K::kPopUp, 3},
        {"filterOwnerOn", K::kSwitch, 0},
        {"filterOwnerPop", K::kPopUp, 4},
        {"filterOwnerField", K::kText, 0},
        {"filterGroupOn", K::kSwitch, 0},
        {"filterGroupPop", K::kPopUp, 4},
        {"filterGroupField", K::kText, 0},
    };
    return keys;
}

const FilterRowKey* FindFilterRowKey(std::string_view key) {
    for (const FilterRowKey& k : FilterRowKeys()) {
        if (key == k.key) return &k;
    }
    return nullptr;
}

bool IsFilterRowValid(const plist::Value& row) {
    if (!row.isDict() || row.intAt("onOff") == 0) return false;
    for (const char* key : kCriterionSwitches) {
        if (row.intAt(key) != 0) return true;
    }
    return false;
}

std::string FilterOnOffCell(const plist::Value& row) {
    bool anyCriterion = false;
    for (const char* key : kCriterionSwitches) anyCriterion = anyCriterion || row.intAt(key) != 0;
    // A row that chooses nothing is neither on nor off yet.
    if (!anyCriterion) return "";
    return row.intAt("onOff") != 0 ? "\xE2\x80\xA2" : "-";
}

std::vector<std::size_t> ValidFilterRowIndexes(const plist::Value& filterDict) {
    std::vector<std::size_t> valid;
    const plist::Value* rows = filterDict.arrayAt("filterArray");
    if (rows == nullptr) return valid;
    for (std::size_t i = 0; i < rows->array().size(); ++i) {
        if (IsFilterRowValid(rows->array()[i])) valid.push_back(i);
    }
    return valid;
}

std::vector<plist::Value> CountFilterValid(const plist::Value& session) {
    std::vector<plist::Value> valid;
    const plist::Value* filters = session.dictAt("filterDict");
    if (filters == nullptr) return valid;
    for (std::size_t i : ValidFilterRowIndexes(*filters)) {
        valid.push_back(filters->arrayAt("filterArray")->array()[i]);
    }
    return valid;
}

std::int64_t FilterDayMaximum(std::int64_t month, std::int64_t year) {
    switch (month) {
        case 4:
        case 6:
        case 9:
        case 11:
            return 30;
        case 2:
            return platform::IsLeapYear(year) ? 29 : 28;
        default:
            return month >= 1 && month <= 12 ? 31 : 0;
    }
}

std::string FilterRowDescription(const plist::Value& row) {
    std::vector<std::string> parts;
    if (On(row, "filterFileNameOn")) {
        parts.push_back(GLS("FN ") + Title(kNameTitles, row.intAt("filterFileNamePop")) +
                        Quoted(Text(row, "filterFileNameField")));
    }
    if (On(row, "filterCreationDateOn")) {
        parts.push_back(DatePart(row, "filterCreationDate", "CD "));
    }
    if (On(row, "filterModificationDateOn")) {
        parts.push_back(DatePart(row, "filterModificationDate", "MD "));
    }
    if (On(row, "filterFileSizeOn")) {
        parts.push_back(GLS("File Size ") + Title(kSizeTitles, row.intAt("filterFileSizePop")) +
                        Quoted(std::to_string(row.intAt("filterFileSizeField")) + " " +
                               Title(kUnitTitles, row.intAt("filterFileSizeBytesPop"))));
    }
    if (On(row, "filterTypeOn")) {
        parts.push_back(GLS("Type ") + Title(kCodeTitles, row.intAt("filterTypePop")) +
                        Quoted(Text(row, "filterTypeField")));
    }
    if (On(row, "filterCreatorOn")) {
        parts.push_back(GLS("Creator ") + Title(kCodeTitles, row.intAt("filterCreatorPop")) +
                        Quoted(Text(row, "filterCreatorField")));
    }
    if (On(row, "filterKindOn")) {
        parts.push_back(GLS("Kind ") + Title(kKindTitles, row.intAt("filterKindPop")));
    }
    if (On(row, "filterOwnerOn")) {
        parts.push_back(GLS("Owner ") + Title(kAccountTitles, row.intAt("filterOwnerPop")) +
                        Quoted(Text(row, "filterOwnerField")));
    }
    if (On(row, "filterGroupOn")) {
        parts.push_back(GLS("Group ") + Title(kAccountTitles, row.intAt("filterGroupPop")) +
                        Quoted(Text(row, "filterGroupField")));
    }
    std::string description;
    for (const std::string& part : parts) {
        description += (description.empty() ? "" : " - ") + part;
    }
    return description;
}

std::string GetFiltersLog(const std::vector<std::string>& descriptions) {
    std::string log = "\r" + GLS("• Filters: ") + "\r";
    for (std::size_t i = 0; i < descriptions.size(); ++i) {
        log += "\t" + std::to_string(i + 1) + ": " + descriptions[i] + "\r";
    }
    return log;
}

FilterEditor::FilterEditor(const plist::Value& filterDict) : dict_(DefaultFilterDict()) {
    if (!filterDict.isDict()) return;
    for (const auto& [key, value] : filterDict.dict()) {
        if (key != "filterArray") dict_.set(key, value);
    }
    dict_.set("filterOn", filterDict.intAt("filterOn") != 0 ? 1 : 0);
    dict_.set("filterCopySkip", filterDict.intAt("filterCopySkip", kFilterSkipMode));
    const plist::Value* stored = filterDict.arrayAt("filterArray");
    if (stored == nullptr) return;
    plist::Array& rows = dict_.arrayAt("filterArray")->array();
    // Rows beyond the table are kept as they are; missing keys take a new row's values.
    if (stored->array().size() > rows.size())
        rows.resize(stored->array().size(), DefaultFilterRow());
    for (std::size_t i = 0; i < stored->array().size(); ++i) {
        const plist::Value& row = stored->array()[i];
        if (!row.isDict()) continue;
        for (const auto& [key, value] : row.dict()) rows[i].set(key, value);
    }
}

bool FilterEditor::filterOn() const { return dict_.intAt("filterOn") != 0; }

void FilterEditor::setFilterOn(bool on) { dict_.set("filterOn", on ? 1 : 0); }

std::int64_t FilterEditor::copySkip() const {
    return dict_.intAt("filterCopySkip") == kFilterCopyMode ? kFilterCopyMode : kFilterSkipMode;
}

void FilterEditor::setCopySkip(std::int64_t tag) {
    dict_.set("filterCopySkip", tag == kFilterCopyMode ? kFilterCopyMode : kFilterSkipMode);
}

std::size_t FilterEditor::rowCount() const { return dict_.arrayAt("filterArray")->array().size(); }

const plist::Value& FilterEditor::row(std::size_t index) const {
    return dict_.arrayAt("filterArray")->array().at(index);
}

plist::Value& FilterEditor::mutableRow(std::size_t index) {
    return dict_.arrayAt("filterArray")->array().at(index);
}

void FilterEditor::ToggleRow(std::size_t index) {
    if (index >= rowCount()) return;
    plist::Value& r = mutableRow(index);
    r.set("onOff", r.intAt("onOff") == 0 ? 1 : 0);
}

void FilterEditor::ResetRow(std::size_t index) {
    if (index >= rowCount()) return;
    plist::Value& r = mutableRow(index);
    const plist::Value fresh = DefaultFilterRow();
    for (const auto& [key, value] : fresh.dict()) {
        if (key.rfind("filterOwner", 0) == 0 || key.rfind("filterGroup", 0) == 0) continue;
        r.set(key, value);
    }
    // The owner and group stay filled in for the next use, but switched off: a reset row with
    // an empty description must not go on leaving items out.
    r.set("filterOwnerOn", 0);
    r.set("filterGroupOn", 0);
}

std::string FilterEditor::EditorTitle(std::size_t index) const {
    const std::string stored = Text(row(index), "filterNameField");
    if (!stored.empty()) return stored;
    char title[64];
    std::snprintf(title, sizeof title, GLS("Filter %ld").c_str(), static_cast<long>(index + 1));
    return title;
}

FilterRowCheck FilterEditor::SetFilterRow(std::size_t index, const plist::Value& edited,
                                          std::time_t now) {
    if (index >= rowCount()) return {"no such filter row", ""};
    plist::Value candidate = edited.isDict() ? edited : plist::Value();
    for (const std::string stem : {"filterCreationDate", "filterModificationDate"}) {
        const std::optional<std::int64_t> pop = Number(candidate.find(stem + "Pop"));
        const std::optional<FilterDate> day = pop ? FilterPopDate(*pop, now) : std::nullopt;
        if (!day) continue;
        candidate.set(stem + "Month", day->month);
        candidate.set(stem + "Day", day->day);
        candidate.set(stem + "Year", day->year);
    }
    FilterRowCheck check = CheckRow(candidate);
    if (!check.ok()) {
        check.message = GLS(check.message);
        return check;
    }
    plist::Value stored = Normalised(candidate, row(index));
    stored.set("filterNameField", FilterRowDescription(stored));
    mutableRow(index) = std::move(stored);
    if (!filterOn()) setFilterOn(true);
    return {};
}

bool FilterEditor::HasValidRow() const { return !ValidFilterRowIndexes(dict_).empty(); }

bool FilterEditor::GetPanels(plist::Value& session, std::string* message) {
    if (!session.isDict()) {
        if (message != nullptr) *message = "the session is not a dictionary";
        return false;
    }
    if (filterOn() && !HasValidRow()) setFilterOn(false);
    session.set("filterDict", dict_);
    return true;
}

}  // namespace qv::sessions
