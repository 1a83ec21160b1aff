#include "sessions/multi_editor.h"

#include <algorithm>
#include <climits>
#include <vector>

#include "platform/file_io.h"
#include "platform/file_system.h"
#include "platform/item_attributes.h"
#include "platform/localization.h"
#include "platform/volumes.h"
#include "sessions/multi_options.h"
#include "sessions/option_tables.h"
#include "sessions/settings_options.h"

namespace qv::sessions {

using platform::GLS;

namespace {

std::string WithoutTrailingSlashes(std::string path) {
    while (path.size() > 1 && path.back() == '/') path.pop_back();
    return path;
}

bool IsFolder(const std::string& path) {
    return platform::ReadItemAttributes(path.c_str()).isDirectory();
}

// The path with every link resolved; for a path that is not there (yet), its nearest existing
// folder resolved and the rest kept.
std::string Resolved(const std::string& path) {
    std::string head = path;
    std::string tail;
    while (!head.empty() && head != "/") {
        char buf[PATH_MAX];
        if (platform::sys().realpath(head.c_str(), buf) != nullptr) {
            return std::string(buf) == "/" ? "/" + tail
                                           : std::string(buf) + (tail.empty() ? "" : "/" + tail);
        }
        const std::string last = platform::LastPathComponent(head);
        tail = tail.empty() ? last : last + "/" + tail;
        head = platform::ParentFolder(head);
    }
    return path;
}

// Whether inner is outer or below it, by the spelling of the two (resolved) paths.
bool InsideByName(const std::string& inner, const std::string& outer) {
    if (inner.compare(0, outer.size(), outer) != 0) return false;
    return inner.size() == outer.size() || outer == "/" || inner[outer.size()] == '/';
}

std::string AtRow(std::size_t r) {
    return GLS("as source and destination at the row") + " " + std::to_string(r + 1) + ".";
}

}  // namespace

MultiEditor::MultiEditor(const plist::Value& multiDict) : dict_(DefaultMultiDict()) {
    if (multiDict.isDict()) {
        for (const auto& [key, value] : multiDict.dict()) dict_.set(key, value);
    }
    plist::Value* rows = dict_.arrayAt("multiArray");
    if (rows == nullptr) rows = &dict_.set("multiArray", plist::Array{});
    while (rows->array().size() < kTableRows) rows->array().push_back(DefaultMultiRow());
    for (plist::Value& r : rows->array()) {
        if (!r.isDict()) r = DefaultMultiRow();
        if (r.find("onOff") == nullptr) r.set("onOff", 1);
        for (const char* key : {"source", "destination"}) {
            if (r.find(key) == nullptr || !r.find(key)->isString()) r.set(key, "");
        }
    }
}

bool MultiEditor::listOn() const { return dict_.intAt("multiOn") != 0; }
void MultiEditor::setListOn(bool on) { dict_.set("multiOn", on ? 1 : 0); }
std::size_t MultiEditor::rowCount() const { return dict_.arrayAt("multiArray")->array().size(); }
const plist::Value& MultiEditor::row(std::size_t r) const {
    return dict_.arrayAt("multiArray")->array()[r];
}
plist::Value& MultiEditor::row(std::size_t r) { return dict_.arrayAt("multiArray")->array()[r]; }
bool MultiEditor::rowOn(std::size_t r) const { return row(r).intAt("onOff") != 0; }
const std::string& MultiEditor::source(std::size_t r) const { return row(r).stringAt("source"); }
const std::string& MultiEditor::destination(std::size_t r) const {
    return row(r).stringAt("destination");
}
bool MultiEditor::rowValid(std::size_t r) const {
    return rowOn(r) && !source(r).empty() && !destination(r).empty();
}

std::size_t MultiEditor::validCount() const {
    std::size_t n = 0;
    for (std::size_t r = 0; r < rowCount(); ++r) n += rowValid(r) ? 1 : 0;
    return n;
}

std::string MultiEditor::CheckRow(std::size_t r) const {
    if (r < rowCount()) return {};
    return "no row " + std::to_string(r + 1) + ": the list has rows 1 to " +
           std::to_string(rowCount());
}

std::string MultiEditor::toggle(std::size_t r) {
    std::string why = CheckRow(r);
    if (why.empty()) row(r).set("onOff", rowOn(r) ? 0 : 1);
    return why;
}

std::string MultiEditor::setPath(std::size_t r, bool isSource, const std::string& path) {
    std::string why = CheckRow(r);
    if (!why.empty()) return why;
    const std::string stored = WithoutTrailingSlashes(path);
    if (stored.empty() || stored.front() != '/') {
        return "a source or destination is given by its full path, beginning with \"/\"";
    }
    row(r).set(isSource ? "source" : "destination", stored);
    row(r).remove(isSource ? "srcPathDisplayArray" : "dstPathDisplayArray");
    setListOn(true);
    return {};
}

std::string MultiEditor::setPaths(std::size_t r, const std::string& src, const std::string& dst) {
    // Both checked before either is stored: a refusal changes nothing.
    const plist::Value before = dict_;
    std::string why = setPath(r, true, src);
    if (why.empty()) why = setPath(r, false, dst);
    if (!why.empty()) dict_ = before;
    return why;
}

std::string MultiEditor::clearPath(std::size_t r, bool isSource) {
    std::string why = CheckRow(r);
    if (!why.empty()) return why;
    row(r).set(isSource ? "source" : "destination", "");
    row(r).remove(isSource ? "srcPathDisplayArray" : "dstPathDisplayArray");
    if (source(r).empty() && destination(r).empty()) row(r).set("onOff", 1);
    return {};
}

std::string MultiEditor::clear(std::size_t r) {
    std::string why = CheckRow(r);
    if (!why.empty()) return why;
    row(r) = DefaultMultiRow();
    return {};
}

std::string MultiEditor::CheckRows(const plist::Value* session) const {
    if (!listOn()) return {};
    for (std::size_t r = 0; r < rowCount(); ++r) {
        if (!rowValid(r)) continue;
        const std::string& src = source(r);
        const std::string& dst = destination(r);
        // Links resolved first: a run works on the folders the links lead to.
        const std::string realSrc = Resolved(src);
        const std::string realDst = Resolved(dst);
        const bool folders = IsFolder(realSrc) && IsFolder(realDst);
        // Spelled alike, or one folder under two spellings ("A" and "A/.", a link to it, or
        // two cases of a name on a file system that ignores case). Nesting is judged on folders
        // that exist: the run checks the others when it has made them.
        const bool dstInSrc = folders && platform::FolderLiesInside(realDst, realSrc);
        const bool srcInDst = folders && platform::FolderLiesInside(realSrc, realDst);
        if (src == dst || realSrc == realDst || (dstInSrc && srcInDst)) {
            return GLS("Can't set the same folder") + ":\r\"" + src + "\"\r" + AtRow(r);
        }
        // A folder inside the other would be copied into itself, or deleted as an item of it.
        if (dstInSrc || srcInDst) {
            return GLS(dstInSrc ? "Can't set a destination folder inside the source folder"
                                : "Can't set a source folder inside the destination folder") +
                   ":\r\"" + src + "\"\r\"" + dst + "\"\r" + AtRow(r);
        }
    }
    if (std::string why = CheckRowsDoNotNest(); !why.empty()) return why;
    // The rows of one session share its task: only an exact backup's rows may not share a
    // folder one of them copies into. Without the session, the strictest case is assumed.
    const plist::Value* settings = session ? session->dictAt("settingsDict") : nullptr;
    const bool exactBackup =
        settings == nullptr ||
        (settings->intAt("settExact") == 1 && settings->intAt("settTask") != kTaskSynchronize);
    return exactBackup ? CheckDestinationsApart() : std::string();
}

// The rows of an exact backup are all scanned before any is copied: a row writing into a
// folder an earlier row writes into deletes the other's copies, and one writing into an
// earlier row's source closes a circle that deletes, at this run or the next, what one side
// alone held. A row reading what an earlier one wrote is a chain, and fine.
std::string MultiEditor::CheckDestinationsApart() const {
    struct Folder {
        std::string real;
        bool exists;
    };
    struct Row {
        std::size_t row;
        Folder source, destination;
    };
    const auto folder = [](const std::string& path) {
        Folder f{Resolved(path), false};
        f.exists = IsFolder(f.real);
        return f;
    };
    const auto overlap = [](const Folder& x, const Folder& y) {
        return InsideByName(x.real, y.real) || InsideByName(y.real, x.real) ||
               (x.exists && y.exists &&
                (platform::FolderLiesInside(x.real, y.real) ||
                 platform::FolderLiesInside(y.real, x.real)));
    };
    std::vector<Row> seen;
    for (std::size_t r = 0; r < rowCount(); ++r) {
        if (!rowValid(r)) continue;
        Row here{r, folder(source(r)), folder(destination(r))};
        for (const Row& earlier : seen) {
            const bool shared = overlap(here.destination, earlier.destination) ||
                                overlap(here.destination, earlier.source);
            if (!shared) continue;
            return GLS("A row can't copy into a folder that an earlier row copies into or from") +
                   ":\r\"" + source(earlier.row) + "\"\r\"" + destination(earlier.row) + "\"\r\"" +
                   source(r) + "\"\r\"" + destination(r) + "\"\r" + GLS("at the rows") + " " +
                   std::to_string(earlier.row + 1) + " " + GLS("and") + " " +
                   std::to_string(r + 1) + ".";
        }
        seen.push_back(std::move(here));
    }
    return {};
}

// Each row makes its two folders hold the same items, and so does every row that shares one
// of those folders: such rows form a group. A folder of a group lying inside a folder of the
// same group (directly, or through other groups nested in turn) is copied into itself at
// every run, one level deeper each time, and deletions made on one side come back from the
// copies. The groups are nodes, "a folder of group Y lies inside a folder of group X" an
// edge X -> Y; a circle refuses the rows of its first edge.
std::string MultiEditor::CheckRowsDoNotNest() const {
    struct Row {
        std::size_t row;
        std::string folders[2];
        bool exist[2];
    };
    std::vector<Row> rows;
    for (std::size_t r = 0; r < rowCount(); ++r) {
        if (!rowValid(r)) continue;
        Row here{r, {Resolved(source(r)), Resolved(destination(r))}, {}};
        for (int side = 0; side < 2; ++side) here.exist[side] = IsFolder(here.folders[side]);
        // A pair of files holds nothing; a folder not made yet is judged by its path.
        if (!here.exist[0] && platform::ItemExists(here.folders[0])) continue;
        rows.push_back(std::move(here));
    }
    const auto inside = [](const Row& x, int i, const Row& y, int j) {
        return InsideByName(x.folders[i], y.folders[j]) ||
               (x.exist[i] && y.exist[j] && platform::FolderLiesInside(x.folders[i], y.folders[j]));
    };
    const std::size_t n = rows.size();
    // Groups: rows sharing a folder.
    std::vector<std::size_t> group(n);
    for (std::size_t i = 0; i < n; ++i) group[i] = i;
    const auto find = [&group](std::size_t i) {
        while (group[i] != i) i = group[i] = group[group[i]];
        return i;
    };
    for (std::size_t i = 0; i < n; ++i) {
        for (std::size_t k = i + 1; k < n; ++k) {
            for (int a = 0; a < 2; ++a) {
                for (int b = 0; b < 2; ++b) {
                    if (inside(rows[i], a, rows[k], b) && inside(rows[k], b, rows[i], a)) {
                        group[find(i)] = find(k);
                    }
                }
            }
        }
    }
    // Edges between groups, each with the two rows that made it (outer, inner).
    struct Edge {
        std::size_t from, to, outerRow, innerRow;
    };
    std::vector<Edge> edges;
    for (std::size_t i = 0; i < n; ++i) {
        for (std::size_t k = 0; k < n; ++k) {
            if (i == k) continue;
            for (int a = 0; a < 2; ++a) {
                for (int b = 0; b < 2; ++b) {
                    if (inside(rows[k], b, rows[i], a) && !inside(rows[i], a, rows[k], b)) {
                        edges.push_back({find(i), find(k), i, k});
                    }
                }
            }
        }
    }
    // A circle: some edge whose end leads back to its start.
    for (const Edge& first : edges) {
        std::vector<std::size_t> reached{first.to};
        std::vector<bool> seen(n, false);
        seen[first.to] = true;
        bool circle = first.to == first.from;
        while (!circle && !reached.empty()) {
            const std::size_t at = reached.back();
            reached.pop_back();
            for (const Edge& e : edges) {
                if (e.from != at || seen[e.to]) continue;
                circle = circle || e.to == first.from;
                seen[e.to] = true;
                reached.push_back(e.to);
            }
        }
        if (!circle) continue;
        const std::size_t x = std::min(rows[first.outerRow].row, rows[first.innerRow].row);
        const std::size_t y = std::max(rows[first.outerRow].row, rows[first.innerRow].row);
        return GLS("Rows can't copy a folder into itself through each other") + ":\r\"" +
               source(x) + "\"\r\"" + destination(x) + "\"\r\"" + source(y) + "\"\r\"" +
               destination(y) + "\"\r" + GLS("at the rows") + " " + std::to_string(x + 1) + " " +
               GLS("and") + " " + std::to_string(y + 1) + ".";
    }
    return {};
}

bool MultiEditor::GetPanels(plist::Value& session, std::string* message) {
    std::string why = session.isDict() ? CheckRows(&session) : "the session is not a dictionary";
    if (!why.empty()) {
        if (message != nullptr) *message = std::move(why);
        return false;
    }
    if (listOn() && validCount() == 0) setListOn(false);
    session.set("multiDict", dict_);
    return true;
}

}  // namespace qv::sessions
