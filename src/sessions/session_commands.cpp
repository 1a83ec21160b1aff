#include "sessions/session_commands.h"

#include <algorithm>
#include <set>

#include "platform/localization.h"
#include "sessions/plist_codec.h"

namespace qv::sessions {

using platform::GLS;

namespace {

constexpr const char* kNoSuchSession = "There is no such session.";

SessionCommandResult Refused(const SessionDocument& doc, std::string message) {
    SessionCommandResult r;
    r.message = std::move(message);
    r.sessionIndex = doc.mSessionIndex;
    return r;
}

SessionCommandResult Done(SessionDocument& doc, std::int64_t current) {
    doc.mSessionIndex = current;
    doc.mMainDict.set("sessionIndex", current);
    SessionCommandResult r;
    r.ok = true;
    r.sessionIndex = current;
    return r;
}

bool IsSession(const SessionDocument& doc, std::int64_t index) {
    return index >= 0 && index < doc.SessionCount();
}

plist::Array& Sessions(SessionDocument& doc) {
    plist::Value* sessions = doc.mMainDict.arrayAt("sessionsArray");
    if (sessions == nullptr) sessions = &doc.mMainDict.set("sessionsArray", plist::Array{});
    return sessions->array();
}

void SetSessionName(plist::Value& session, const std::string& name) {
    plist::Value* console = session.dictAt("consoleDict");
    if (console == nullptr) console = &session.set("consoleDict", plist::Dict{});
    console->set("sessionName", name);
}

// A control character would end a line of the listings or split their tab-separated fields:
// C0 controls, DEL, and in UTF-8 the C1 controls and the line and paragraph separators.
bool HoldsControlCharacter(const std::string& name) {
    for (std::size_t i = 0; i < name.size(); ++i) {
        const auto c = static_cast<unsigned char>(name[i]);
        if (c < 0x20 || c == 0x7F) return true;
        const auto next = i + 1 < name.size() ? static_cast<unsigned char>(name[i + 1]) : 0;
        if (c == 0xC2 && next >= 0x80 && next <= 0x9F) return true;
        if (c == 0xE2 && next == 0x80 && i + 2 < name.size()) {
            const auto third = static_cast<unsigned char>(name[i + 2]);
            if (third == 0xA8 || third == 0xA9) return true;
        }
    }
    return false;
}

}  // namespace

std::string FolderPathProblem(const std::string& path) {
    if (plist::CanStoreText(path)) return {};
    return GLS(
        "A session document can't store this folder's path: it is not UTF-8 text or it "
        "holds a control character. Rename the folder, or choose another one.");
}

std::vector<std::string> FixedSessionEntryTitles() {
    return {"",
            GLS("All Sessions"),
            "",
            GLS("New Session…"),
            GLS("Duplicate Session…"),
            GLS("Rename Session…"),
            GLS("Remove Session…"),
            GLS("Sort Sessions…")};
}

NameCheck CheckSessionName(const SessionDocument& doc, const std::string& name,
                           std::optional<std::int64_t> renaming) {
    if (name.empty()) return {NameVerdict::Empty, GLS("Please insert a valid name.")};
    if (HoldsControlCharacter(name)) {
        return {NameVerdict::ControlCharacter,
                GLS("A session name can't hold tabs, line breaks or other control characters.")};
    }
    if (!plist::CanStoreText(name)) {
        return {NameVerdict::NotText, GLS("A session name must be UTF-8 text.")};
    }
    for (std::int64_t i = 0; i < doc.SessionCount(); ++i) {
        if (doc.GetSessionName(i) != name) continue;
        if (renaming && *renaming == i) return {NameVerdict::Unchanged, {}};
        return {NameVerdict::Duplicated, GLS("Name duplicated.")};
    }
    for (const std::string& title : FixedSessionEntryTitles()) {
        if (title == name) return {NameVerdict::FixedEntry, GLS("Can't use this name.")};
    }
    return {};
}

std::string ProposedNewSessionName(const SessionDocument& doc) {
    return platform::FormatText(GLS("Session %d"), {std::to_string(doc.SessionCount() + 1)});
}

std::string ProposedDuplicateName(const SessionDocument& doc, std::int64_t index) {
    // The first number no session has taken: "Copy 1 of Photos", then "Copy 2 of Photos".
    const std::string original = doc.GetSessionName(index);
    // Only a taken name is passed over; one refused for another reason is proposed all the
    // same, for the sheet to say why. There are never more taken names than sessions.
    std::string name;
    for (std::int64_t n = 1; n <= doc.SessionCount() + 1; ++n) {
        name = platform::FormatText(GLS("Copy %d of %@"), {std::to_string(n), original});
        if (CheckSessionName(doc, name).verdict != NameVerdict::Duplicated) break;
    }
    return name;
}

SessionCommandResult NewSession(SessionDocument& doc, const std::string& name, std::int64_t task) {
    const NameCheck check = CheckSessionName(doc, name);
    if (check.verdict != NameVerdict::Accepted) return Refused(doc, check.message);
    SessionDocument::AddSession(task, name, doc.mMainDict);
    return Done(doc, doc.SessionCount() - 1);
}

SessionCommandResult DuplicateSession(SessionDocument& doc, std::int64_t index,
                                      const std::string& name) {
    if (doc.IsAllSessions(index)) return Refused(doc, GLS("Can't duplicate the \"All\" Session."));
    if (!IsSession(doc, index)) return Refused(doc, GLS(kNoSuchSession));
    const NameCheck check = CheckSessionName(doc, name);
    if (check.verdict != NameVerdict::Accepted) return Refused(doc, check.message);
    plist::Value copy = *doc.GetSessionDict(index);  // values own their contents: a deep copy
    SetSessionName(copy, name);
    Sessions(doc).push_back(std::move(copy));
    return Done(doc, doc.SessionCount() - 1);
}

SessionCommandResult RenameSession(SessionDocument& doc, std::int64_t index,
                                   const std::string& name) {
    if (doc.IsAllSessions(index)) return Refused(doc, GLS("Can't rename the \"All\" Session."));
    if (!IsSession(doc, index)) return Refused(doc, GLS(kNoSuchSession));
    const NameCheck check = CheckSessionName(doc, name, index);
    if (check.verdict == NameVerdict::Unchanged) return Done(doc, doc.mSessionIndex);
    if (check.verdict != NameVerdict::Accepted) return Refused(doc, check.message);
    SetSessionName(*doc.GetSessionDict(index), name);
    return Done(doc, doc.mSessionIndex);
}

SessionCommandResult RemoveSession(SessionDocument& doc, std::int64_t index) {
    if (doc.SessionCount() <= 1) return Refused(doc, GLS("Can't remove the last Session."));
    if (doc.IsAllSessions(index)) return Refused(doc, GLS("Can't remove the \"All\" Session."));
    if (!IsSession(doc, index)) return Refused(doc, GLS(kNoSuchSession));
    plist::Array& sessions = Sessions(doc);
    sessions.erase(sessions.begin() + index);
    // "All" stands just past the sessions, so it moves down with them.
    std::int64_t current = doc.mSessionIndex;
    if (index < current) --current;
    if (current == doc.SessionCount()) current = doc.SessionCount() - 1;
    return Done(doc, current);
}

SessionCommandResult RemoveAllButFirst(SessionDocument& doc) {
    if (doc.SessionCount() <= 1) return Refused(doc, GLS("Can't remove the last Session."));
    if (doc.IsCurrentSessionAllSessions()) {
        return Refused(doc, GLS("Can't remove the \"All\" Session."));
    }
    Sessions(doc).resize(1);
    return Done(doc, 0);
}

SessionCommandResult MoveSession(SessionDocument& doc, std::int64_t from, std::int64_t to) {
    if (!IsSession(doc, from) || !IsSession(doc, to)) return Refused(doc, GLS(kNoSuchSession));
    std::vector<std::int64_t> order;
    for (std::int64_t i = 0; i < doc.SessionCount(); ++i) {
        if (i != from) order.push_back(i);
    }
    order.insert(order.begin() + to, from);
    return ApplySortedOrder(doc, order);
}

SessionCommandResult ApplySortedOrder(SessionDocument& doc,
                                      const std::vector<std::int64_t>& originalIndices) {
    std::set<std::int64_t> seen;
    for (std::int64_t i : originalIndices) {
        if (!IsSession(doc, i) || !seen.insert(i).second) {
            return Refused(doc, GLS(kNoSuchSession));
        }
    }
    if (originalIndices.empty()) return Refused(doc, GLS("Can't remove all the Sessions."));
    plist::Array& sessions = Sessions(doc);
    plist::Array sorted;
    sorted.reserve(originalIndices.size());
    for (std::int64_t i : originalIndices) sorted.push_back(std::move(sessions[i]));
    const std::int64_t before = doc.mSessionIndex;
    sessions = std::move(sorted);
    std::int64_t current = before;
    const auto at = std::find(originalIndices.begin(), originalIndices.end(), before);
    if (at != originalIndices.end()) current = at - originalIndices.begin();
    if (current >= doc.SessionCount()) current = doc.SessionCount() - 1;
    return Done(doc, current);
}

std::string RemoveSessionQuestion(const SessionDocument& doc, std::int64_t index) {
    return GLS("Are you sure you want to remove the current session") + " \"" +
           doc.GetSessionName(index) + "\" " + GLS("definitively") + GLS("?");
}

std::string RemoveAllButFirstQuestion() {
    return GLS("You are on the point to delete all the sessions but the first one.");
}

SortSessionsModel::SortSessionsModel(const SessionDocument& doc) {
    for (std::int64_t i = 0; i < doc.SessionCount(); ++i) {
        rows_.push_back({i, doc.GetSessionName(i)});
    }
}

namespace {

// The selection as distinct rows of the list, ascending.
std::vector<std::int64_t> ValidRows(std::vector<std::int64_t> rows, std::int64_t count) {
    std::erase_if(rows, [count](std::int64_t r) { return r < 0 || r >= count; });
    std::sort(rows.begin(), rows.end());
    rows.erase(std::unique(rows.begin(), rows.end()), rows.end());
    return rows;
}

}  // namespace

std::vector<std::int64_t> SortSessionsModel::MoveRows(std::vector<std::int64_t> selectedRows,
                                                      std::int64_t dropRow) {
    const std::vector<std::int64_t> moving = ValidRows(std::move(selectedRows), rowCount());
    if (moving.empty()) return {};
    std::vector<Row> moved;
    std::vector<Row> staying;
    std::size_t insertAt = std::string::npos;
    for (std::int64_t r = 0; r < rowCount(); ++r) {
        const bool isMoving = std::binary_search(moving.begin(), moving.end(), r);
        if (!isMoving && r >= dropRow && insertAt == std::string::npos) insertAt = staying.size();
        (isMoving ? moved : staying).push_back(std::move(rows_[r]));
    }
    if (insertAt == std::string::npos) insertAt = staying.size();
    staying.insert(staying.begin() + static_cast<std::ptrdiff_t>(insertAt),
                   std::make_move_iterator(moved.begin()), std::make_move_iterator(moved.end()));
    rows_ = std::move(staying);
    std::vector<std::int64_t> newRows;
    for (std::size_t i = 0; i < moved.size(); ++i) {
        newRows.push_back(static_cast<std::int64_t>(insertAt + i));
    }
    return newRows;
}

SessionCommandResult SortSessionsModel::DeleteRows(std::vector<std::int64_t> selectedRows) {
    const std::vector<std::int64_t> doomed = ValidRows(std::move(selectedRows), rowCount());
    SessionCommandResult r;
    if (!doomed.empty() && static_cast<std::int64_t>(doomed.size()) == rowCount()) {
        r.message = GLS("Can't remove all the Sessions.");
        return r;
    }
    for (auto it = doomed.rbegin(); it != doomed.rend(); ++it) rows_.erase(rows_.begin() + *it);
    r.ok = true;
    return r;
}

std::vector<std::int64_t> SortSessionsModel::order() const {
    std::vector<std::int64_t> indices;
    for (const Row& row : rows_) indices.push_back(row.original);
    return indices;
}

}  // namespace qv::sessions
