#include "cli/filter_command.h"

#include <cstdint>
#include <ostream>

#include "cli/cli.h"
#include "cli/options_command.h"
#include "cli/terminal_text.h"
#include "cli/verb_table.h"
#include "sessions/filter_editor.h"
#include "sessions/filter_options.h"
#include "sessions/option_text.h"
#include "sessions/plist_codec.h"

namespace qv::cli {

namespace {

using sessions::FilterEditor;
using sessions::FilterKeyKind;

constexpr Verb kVerbs[] = {
    {"list", 0, 0, "filter list"},
    {"show", 1, 1, "filter show N"},
    {"reset", 1, 1, "filter reset N"},
    {"toggle", 1, 1, "filter toggle N"},
    {"on", 0, 0, "filter on"},
    {"off", 0, 0, "filter off"},
    {"mode", 1, 1, "filter mode copy|skip"},
    {"set", 2, SIZE_MAX, "filter set N KEY=VALUE..."},
    {"test", 1, 1, "filter test PATH"},
};

std::string TextValue(const plist::Value& value) {
    if (value.isString()) return TerminalName(value.str());
    if (value.isNumber()) return std::to_string(value.intValue());
    return "?";
}

// Puts one KEY=VALUE into the row being edited; "" when taken, else why not. Numbers stay as
// typed: the row editor judges them, as it judges its fields.
std::string ApplyKey(plist::Value& edited, const std::string& word) {
    const std::size_t equals = word.find('=');
    if (equals == std::string::npos || equals == 0) return "'" + word + "' is not KEY=VALUE";
    const std::string key = word.substr(0, equals);
    const std::string value = word.substr(equals + 1);
    // The row's on/off, listed by show, is set like its criteria.
    if (key == "onOff") {
        const std::optional<bool> on = sessions::ParseBool(value);
        if (!on) return "'onOff' takes 1 or 0 (on/off, yes/no), not '" + value + "'";
        edited.set(key, *on ? 1 : 0);
        return {};
    }
    const sessions::FilterRowKey* known = sessions::FindFilterRowKey(key);
    if (known == nullptr) {
        return "unknown filter row key '" + key + "' (see 'quorvel filter show N' for the keys)";
    }
    switch (known->kind) {
        case FilterKeyKind::kSwitch: {
            const std::optional<bool> on = sessions::ParseBool(value);
            if (!on) return "'" + key + "' takes 1 or 0 (on/off, yes/no), not '" + value + "'";
            edited.set(key, *on ? 1 : 0);
            return {};
        }
        case FilterKeyKind::kPopUp: {
            const std::optional<std::int64_t> n = ParseInteger(value);
            if (!n || *n < 0 || *n >= known->popCount) {
                return "'" + key + "' takes a position from 0 to " +
                       std::to_string(known->popCount - 1) + ", not '" + value + "'";
            }
            edited.set(key, *n);
            return {};
        }
        case FilterKeyKind::kNumber:
        case FilterKeyKind::kText:
            // Said now rather than as a failure to write the document.
            if (!plist::CanStoreText(value)) {
                return "'" + key + "' must be UTF-8 text without control characters";
            }
            edited.set(key, value);
            return {};
    }
    return {};
}

int Store(FilterEditor& editor, app::MainApp& app, plist::Value& session,
          const FilterArguments& args, std::ostream& err) {
    std::string message;
    if (!editor.GetPanels(session, &message)) {
        err << "quorvel: " << TerminalName(message) << "\n";
        return kExitUsage;
    }
    return WriteOptionsDocument(app, args.document, err);
}

int List(const FilterEditor& editor, std::ostream& out) {
    out << "filterOn\t" << (editor.filterOn() ? 1 : 0) << '\n';
    out << "mode\t" << (editor.copySkip() == sessions::kFilterCopyMode ? "copy" : "skip") << '\n';
    for (std::size_t i = 0; i < editor.rowCount(); ++i) {
        const plist::Value& row = editor.row(i);
        out << i + 1 << '\t' << (row.intAt("onOff") == 1 ? "\xE2\x80\xA2" : "-") << '\t'
            << TerminalName(row.stringAt("filterNameField")) << '\n';
    }
    return kExitOk;
}

int Show(const FilterEditor& editor, std::size_t index, std::ostream& out) {
    const plist::Value& row = editor.row(index);
    for (const char* key : {"onOff", "filterNameField"}) {
        if (const plist::Value* v = row.find(key)) out << key << '\t' << TextValue(*v) << '\n';
    }
    for (const sessions::FilterRowKey& key : sessions::FilterRowKeys()) {
        if (const plist::Value* v = row.find(key.key)) {
            out << key.key << '\t' << TextValue(*v) << '\n';
        }
    }
    out << "valid\t" << (sessions::IsFilterRowValid(row) ? 1 : 0) << '\n';
    return kExitOk;
}

int Set(FilterEditor& editor, std::size_t index, const FilterArguments& args, app::MainApp& app,
        plist::Value& session, std::ostream& out, std::ostream& err) {
    // The editor opens on the row as stored; the words change its fields.
    plist::Value edited = editor.row(index);
    for (std::size_t i = 2; i < args.words.size(); ++i) {
        const std::string why = ApplyKey(edited, args.words[i]);
        if (!why.empty()) {
            err << "quorvel: " << TerminalName(why) << "\n";
            return kExitUsage;
        }
    }
    const sessions::FilterRowCheck check = editor.SetFilterRow(index, edited);
    if (!check.ok()) {
        SayRowRefused(check.message, check.field, err);
        return kExitUsage;
    }
    // The row editor leaves the row's on/off alone: the table's switch sets it.
    if (const plist::Value* on = edited.find("onOff");
        on != nullptr && on->intValue() != editor.row(index).intAt("onOff", 1)) {
        editor.ToggleRow(index);
    }
    // The row is told only once it is written: a script reading it may take it as done.
    if (const int stored = Store(editor, app, session, args, err); stored != kExitOk) return stored;
    out << index + 1 << '\t' << TerminalName(editor.row(index).stringAt("filterNameField")) << '\n';
    // A row that takes no part says so, rather than leaving the user to wonder why nothing is
    // left out.
    if (editor.row(index).intAt("onOff") != 1) {
        err << "quorvel: warning: row " << index + 1
            << " is off and takes no part; 'quorvel filter toggle " << index + 1
            << "' switches it on\n";
    }
    return kExitOk;
}

int Test(app::MainApp& app, std::int64_t sessionIndex, const std::string& path, std::ostream& out,
         std::ostream& err) {
    const app::FilterTest test = app.TestFilter(sessionIndex, path);
    if (!test.exists) {
        err << "quorvel: nothing at \"" << TerminalName(path) << "\"\n";
        return kExitUsage;
    }
    out << "filters\t" << (test.filtersOn ? "on" : "off") << '\n';
    out << "row\t" << (test.row == 0 ? std::string("none") : std::to_string(test.row)) << '\n';
    out << "leftOut\t" << (test.filtersOn && test.leftOut ? "yes" : "no") << '\n';
    return kExitOk;
}

}  // namespace

std::string CheckFilterArguments(const FilterArguments& args) {
    if (args.words.empty()) {
        return "filter needs list, show, reset, toggle, on, off, mode, set or test";
    }
    if (std::string why = CheckVerbWords(kVerbs, "filter", args.words); !why.empty()) return why;
    if (args.session.has_value() == args.sessionIndex.has_value()) {
        return "filter " + args.words.front() + " needs either --session NAME or --session-index N";
    }
    if (args.words.front() == "mode" && args.words[1] != "copy" && args.words[1] != "skip") {
        return "filter mode takes copy or skip, not '" + args.words[1] + "'";
    }
    return {};
}

int RunFilterCommand(app::MainApp& app, const FilterArguments& args, std::ostream& out,
                     std::ostream& err) {
    const std::int64_t sessionIndex =
        SelectSession(app.document(), args.sessionIndex, args.session.value_or(""), err);
    if (sessionIndex < 0) return kExitUsage;
    plist::Value& session = *app.document().GetSessionDict(sessionIndex);
    const plist::Value* stored = session.dictAt("filterDict");
    FilterEditor editor(stored ? *stored : plist::Value());
    const std::string& verb = args.words.front();
    if (verb == "list") return List(editor, out);
    if (verb == "test") return Test(app, sessionIndex, args.words[1], out, err);
    if (verb == "on" || verb == "off") {
        if (verb == "on" && !editor.HasValidRow()) {
            err << "quorvel: no filter row is valid (on, with a criterion): the filters would "
                   "have no effect and stay off; define one with 'quorvel filter set N'\n";
            return kExitUsage;
        }
        editor.setFilterOn(verb == "on");
        return Store(editor, app, session, args, err);
    }
    if (verb == "mode") {
        editor.setCopySkip(args.words[1] == "copy" ? sessions::kFilterCopyMode
                                                   : sessions::kFilterSkipMode);
        return Store(editor, app, session, args, err);
    }
    const std::optional<std::size_t> index =
        RowIndex(args.words[1], editor.rowCount(), "filter row", err);
    if (!index) return kExitUsage;
    if (verb == "show") return Show(editor, *index, out);
    if (verb == "set") return Set(editor, *index, args, app, session, out, err);
    if (verb == "toggle") {
        editor.ToggleRow(*index);
    } else {
        editor.ResetRow(*index);
    }
    return Store(editor, app, session, args, err);
}

}  // namespace qv::cli
