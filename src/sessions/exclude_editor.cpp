#include "sessions/exclude_editor.h"

#include "sessions/exclude_options.h"
#include "sessions/option_tables.h"

namespace qv::sessions {

namespace {

// The path without the "/" a shell's completion leaves after a folder's name.
std::string WithoutTrailingSlashes(std::string path) {
    while (path.size() > 1 && path.back() == '/') path.pop_back();
    return path;
}

}  // namespace

ExcludeEditor::ExcludeEditor(const plist::Value& excludeDict) : dict_(DefaultExcludeDict()) {
    if (excludeDict.isDict()) {
        for (const auto& [key, value] : excludeDict.dict()) dict_.set(key, value);
    }
    plist::Value* rows = dict_.arrayAt("excludeArray");
    if (rows == nullptr) rows = &dict_.set("excludeArray", plist::Array{});
    while (rows->array().size() < kTableRows) rows->array().push_back(DefaultExcludeRow());
    for (plist::Value& r : rows->array()) {
        if (!r.isDict()) r = DefaultExcludeRow();
        if (r.find("onOff") == nullptr) r.set("onOff", 1);
        if (r.find("itemToExclude") == nullptr || !r.find("itemToExclude")->isString()) {
            r.set("itemToExclude", "");
        }
    }
}

bool ExcludeEditor::listOn() const { return dict_.intAt("excludeOn") != 0; }
void ExcludeEditor::setListOn(bool on) { dict_.set("excludeOn", on ? 1 : 0); }
std::size_t ExcludeEditor::rowCount() const {
    return dict_.arrayAt("excludeArray")->array().size();
}
const plist::Value& ExcludeEditor::row(std::size_t r) const {
    return dict_.arrayAt("excludeArray")->array()[r];
}
plist::Value& ExcludeEditor::row(std::size_t r) {
    return dict_.arrayAt("excludeArray")->array()[r];
}
bool ExcludeEditor::rowOn(std::size_t r) const { return row(r).intAt("onOff") != 0; }
const std::string& ExcludeEditor::path(std::size_t r) const {
    return row(r).stringAt("itemToExclude");
}
bool ExcludeEditor::rowValid(std::size_t r) const { return rowOn(r) && !path(r).empty(); }

std::size_t ExcludeEditor::validCount() const {
    std::size_t n = 0;
    for (std::size_t r = 0; r < rowCount(); ++r) n += rowValid(r) ? 1 : 0;
    return n;
}

std::string ExcludeEditor::CheckRow(std::size_t r) const {
    if (r < rowCount()) return {};
    return "no row " + std::to_string(r + 1) + ": the list has rows 1 to " +
           std::to_string(rowCount());
}

std::string ExcludeEditor::toggle(std::size_t r) {
    std::string why = CheckRow(r);
    if (why.empty()) row(r).set("onOff", rowOn(r) ? 0 : 1);
    return why;
}

std::string ExcludeEditor::setPath(std::size_t r, const std::string& item) {
    std::string why = CheckRow(r);
    if (!why.empty()) return why;
    const std::string stored = WithoutTrailingSlashes(item);
    if (stored.empty() || stored.front() != '/') {
        return "an item to exclude is given by its full path, beginning with \"/\"";
    }
    row(r).set("itemToExclude", stored);
    row(r).remove("itemToExcludePathDisplayArray");
    setListOn(true);
    return {};
}

std::string ExcludeEditor::add(const std::string& item, std::size_t* added) {
    for (std::size_t r = 0; r < rowCount(); ++r) {
        if (!path(r).empty()) continue;
        std::string why = setPath(r, item);
        if (why.empty()) {
            row(r).set("onOff", 1);
            if (added != nullptr) *added = r;
        }
        return why;
    }
    return "the list is full: every one of its " + std::to_string(rowCount()) +
           " rows has an item (remove one first)";
}

std::string ExcludeEditor::clear(std::size_t r) {
    std::string why = CheckRow(r);
    if (!why.empty()) return why;
    row(r) = DefaultExcludeRow();
    return {};
}

bool ExcludeEditor::GetPanels(plist::Value& session, std::string* message) {
    if (!session.isDict()) {
        if (message != nullptr) *message = "the session is not a dictionary";
        return false;
    }
    if (listOn() && validCount() == 0) setListOn(false);
    session.set("excludeDict", dict_);
    return true;
}

}  // namespace qv::sessions
