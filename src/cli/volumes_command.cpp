#include "cli/volumes_command.h"

#include <unistd.h>

#include <cstdlib>
#include <istream>
#include <ostream>

#include "cli/cli.h"
#include "cli/options_command.h"
#include "cli/terminal_text.h"
#include "engine/volume_mount.h"
#include "fileops/volume_rows.h"
#include "platform/localization.h"
#include "platform/privileges.h"
#include "sessions/script_options.h"
#include "sessions/volume_editor.h"
#include "sessions/well.h"

namespace qv::cli {

namespace {

using platform::GLS;
using sessions::VolumeEditor;

constexpr int kExitMountFailed = 1;

int Store(app::MainApp& app, const VolumesArguments& args, VolumeEditor& editor,
          plist::Value& session, std::ostream& err) {
    std::string message;
    if (!editor.GetPanels(session, &message)) return Refuse(err, message);
    return WriteOptionsDocument(app, args.document, err);
}

void List(const VolumeEditor& editor, std::ostream& out) {
    out << "autoMountVolumeOn\t" << (editor.listOn() ? 1 : 0) << "\n";
    for (std::size_t i = 0; i < editor.rowCount(); ++i) {
        if (editor.rowEmpty(i)) continue;
        const plist::Value& row = editor.row(i);
        out << i + 1 << "\t" << (editor.rowOn(i) ? "\xE2\x80\xA2" : "-") << "\t"
            << TerminalName(sessions::VolumeDisplayAddress(row)) << "\t"
            << TerminalName(row.stringAt("mountPoint")) << "\t" << row.intAt("unmountVolume", 0)
            << "\t" << (editor.hasPassword(i) ? "yes" : "no") << "\n";
    }
}

std::optional<std::size_t> Index(const VolumeEditor& editor, const std::string& word,
                                 std::ostream& err) {
    const std::optional<std::int64_t> parsed = ParseInteger(word);
    const std::int64_t n = parsed.value_or(0);
    if (n < 1 || static_cast<std::size_t>(n) > editor.rowCount() ||
        editor.rowEmpty(static_cast<std::size_t>(n - 1))) {
        err << "quorvel: there is no volume row " << TerminalName(word) << "\n";
        return std::nullopt;
    }
    return static_cast<std::size_t>(n - 1);
}

int Set(app::MainApp& app, const VolumesArguments& args, VolumeEditor& editor,
        plist::Value& session, std::istream& in, std::ostream& err) {
    const std::optional<std::size_t> index = Index(editor, args.words[1], err);
    if (!index) return kExitUsage;
    const plist::Value& row = editor.row(*index);
    std::string user = row.stringAt("user");
    std::string password = sessions::GetWellData(row.find("password"));
    bool unmount = row.intAt("unmountVolume", 0) == 1;
    for (std::size_t i = 2; i < args.words.size(); ++i) {
        const std::string& word = args.words[i];
        const std::size_t equals = word.find('=');
        const std::string key = word.substr(0, equals), value = word.substr(equals + 1);
        if (equals == std::string::npos) {
            return Refuse(err, "'" + word + "' is not KEY=VALUE");
        } else if (key == "user") {
            user = value;
        } else if (key == "unmount") {
            if (value != "0" && value != "1") return Refuse(err, "unmount takes 0 or 1");
            unmount = value == "1";
        } else if (key == "password-stdin" && value == "1") {
            // Never from an argument: every user of the machine can read those.
            if (!std::getline(in, password)) password.clear();
        } else if (key == "password") {
            return Refuse(err, "a password is read from standard input only: password-stdin=1");
        } else {
            return Refuse(err, "unknown volume key '" + key + "' (user, unmount, password-stdin)");
        }
    }
    if (const std::string why = editor.edit(*index, user, password, unmount); !why.empty()) {
        return Refuse(err, why);
    }
    return Store(app, args, editor, session, err);
}

// The panel's try buttons: every switched-on row, or row N.
int MountNow(app::MainApp& app, const VolumesArguments& args, const VolumeEditor& editor,
             std::ostream& out, std::ostream& err) {
    const bool mount = args.words[0] == "mount";
    std::vector<std::size_t> rows;
    if (args.words.size() > 1) {
        const std::optional<std::size_t> index = Index(editor, args.words[1], err);
        if (!index) return kExitUsage;
        rows.push_back(*index);
    } else {
        for (std::size_t i = 0; i < editor.rowCount(); ++i) {
            if (!editor.rowEmpty(i) && editor.rowOn(i)) rows.push_back(i);
        }
    }
    const engine::MountSetting setting = engine::MountSettingFor(app.preferences().mPrefDict);
    int status = kExitOk;
    for (const std::size_t i : rows) {
        const plist::Value& row = editor.row(i);
        const std::string address = sessions::VolumeDisplayAddress(row);
        std::string failure;
        if (mount) {
            const engine::MountResult r =
                engine::MountVolume(row, sessions::GetWellData(row.find("password")),
                                    platform::SystemChildRunner(), setting);
            if (r.status == engine::MountStatus::kAlreadyMounted) {
                out << TerminalName(address) << ": " << GLS("The volume is already mounted.")
                    << "\n";
            } else if (r.status == engine::MountStatus::kMounted) {
                out << TerminalName(address) << ": " << TerminalName(r.mountPoint) << "\n";
            } else {
                failure = r.message + (r.detail.empty() ? "" : " (" + r.detail + ")");
            }
        } else if (!engine::IsMountPoint(row.stringAt("mountPoint"))) {
            out << ForTerminal(
                       platform::FormatText(GLS("The volume %@ is already unmounted."), {address}))
                << "\n";
        } else {
            const std::string why = engine::UnmountVolume({address,
                                                           row.stringAt("scheme"),
                                                           row.intAt("volumeType", 0),
                                                           row.stringAt("mountPoint"),
                                                           {}},
                                                          platform::SystemChildRunner(), setting);
            if (!why.empty())
                failure = GLS("Cannot unmount the volume:") + "\r" + address + ": " + why;
        }
        if (!failure.empty()) {
            err << "quorvel: " << TerminalName(address) << ": " << ForTerminal(failure) << "\n";
            status = kExitMountFailed;
        }
    }
    return status;
}

}  // namespace

std::string CheckVolumesArguments(const VolumesArguments& args) {
    if (args.words.empty()) {
        return "volumes needs list, add, set, toggle, remove, on, off, mount or unmount";
    }
    const std::string& verb = args.words.front();
    const std::size_t n = args.words.size();
    const bool known = verb == "list" || verb == "on" || verb == "off" || verb == "add" ||
                       verb == "set" || verb == "toggle" || verb == "remove" || verb == "mount" ||
                       verb == "unmount";
    if (!known) return "unknown volumes verb '" + verb + "'";
    if ((verb == "list" || verb == "on" || verb == "off") && n != 1) {
        return "unexpected argument '" + args.words[1] + "'";
    }
    if ((verb == "add" || verb == "toggle" || verb == "remove") && n != 2) {
        return "volumes " + verb + (verb == "add" ? " needs one FOLDER" : " needs one row number");
    }
    if (verb == "set" && n < 3) return "volumes set needs N and KEY=VALUE";
    if ((verb == "mount" || verb == "unmount") && n > 2)
        return "volumes " + verb + " takes at most N";
    if (args.session.has_value() == args.sessionIndex.has_value()) {
        return "volumes " + verb + " needs either --session NAME or --session-index N";
    }
    return {};
}

int RunVolumesCommand(app::MainApp& app, const VolumesArguments& args, std::istream& in,
                      std::ostream& out, std::ostream& err) {
    sessions::SessionDocument& doc = app.document();
    const std::int64_t index =
        SelectSession(doc, args.sessionIndex, args.session.value_or(""), err);
    if (index < 0) return kExitUsage;
    plist::Value& session = *doc.GetSessionDict(index);
    const plist::Value* stored = session.dictAt("autoMountDict");
    VolumeEditor editor(stored ? *stored : plist::Value());
    const std::string& verb = args.words.front();
    if (verb == "list") {
        List(editor, out);
        return kExitOk;
    }
    if (verb == "mount" || verb == "unmount") return MountNow(app, args, editor, out, err);
    if (verb == "set") return Set(app, args, editor, session, in, err);
    if (verb == "on" || verb == "off") {
        editor.setListOn(verb == "on");
    } else if (verb == "add") {
        const std::optional<plist::Value> row =
            fileops::GetVolumeMountInfoDictionary(args.words[1]);
        if (!row) {
            return Refuse(err,
                          "\"" + args.words[1] + "\": " +
                              GLS("no volume row can be made for this folder: it is on the "
                                  "system's own volume, or on one that can't be mounted again"));
        }
        std::size_t added = 0;
        if (const std::string why = editor.add(*row, &added); !why.empty()) return Refuse(err, why);
        out << added + 1 << "\t" << TerminalName(sessions::VolumeDisplayAddress(*row)) << "\n";
    } else {
        const std::optional<std::size_t> row = Index(editor, args.words[1], err);
        if (!row) return kExitUsage;
        const std::string why = verb == "toggle" ? editor.toggle(*row) : editor.reset(*row);
        if (!why.empty()) return Refuse(err, why);
    }
    return Store(app, args, editor, session, err);
}

}  // namespace qv::cli
