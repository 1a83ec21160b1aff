#include "cli/plan_command.h"

#include <ostream>

#include "cli/json_writer.h"
#include "cli/terminal_text.h"
#include "platform/localization.h"
#include "platform/utf8.h"

namespace qv::cli {

namespace {

using run::PlanItem;

void WriteTextItems(std::ostream& out, const std::vector<PlanItem>& items,
                    const std::string& source, const std::string& dest, int depth) {
    for (const PlanItem& item : items) {
        const std::string itemSource = item.source(source);
        const std::string itemDest = item.dest(dest);
        WritePlanRow(out, depth, item.copyMode, itemSource, itemDest);
        if (item.isFolder) WriteTextItems(out, item.subItems, itemSource, itemDest, depth + 1);
    }
}

void WriteJsonItems(std::ostream& out, const std::vector<PlanItem>& items,
                    const std::string& source, const std::string& dest) {
    out << '[';
    bool first = true;
    for (const PlanItem& item : items) {
        if (!first) out << ',';
        first = false;
        const std::string itemSource = item.source(source);
        const std::string itemDest = item.dest(dest);
        const bool bytes = !platform::IsValidUtf8(itemSource) || !platform::IsValidUtf8(itemDest);
        out << "{\"source\":";
        WriteJsonString(out, itemSource, bytes);
        out << ",\"dest\":";
        WriteJsonString(out, itemDest, bytes);
        out << ",\"copyMode\":" << item.copyMode << ",\"modeName\":\""
            << run::CopyModeName(item.copyMode) << '"';
        if (item.ifSkipAddToExactIndex >= 0) {
            out << ",\"ifSkipAddToExactIndex\":" << int{item.ifSkipAddToExactIndex};
        }
        if (bytes) out << ",\"bytes\":true";
        if (item.isFolder) {
            out << ",\"subItems\":";
            WriteJsonItems(out, item.subItems, itemSource, itemDest);
        }
        out << '}';
    }
    out << ']';
}

void WriteJson(std::ostream& out, const run::RunState& s) {
    out << "{\"tasks\":[";
    bool first = true;
    for (const run::TaskRoot& root : s.plan.taskRootList) {
        if (!first) out << ',';
        first = false;
        const bool bytes = !platform::IsValidUtf8(root.source) || !platform::IsValidUtf8(root.dest);
        out << "{\"sessionIndex\":" << root.sessionIndex << ",\"taskIndex\":" << root.taskIndex
            << ",\"source\":";
        WriteJsonString(out, root.source, bytes);
        out << ",\"dest\":";
        WriteJsonString(out, root.dest, bytes);
        out << ",\"copyMode\":" << root.copyMode << ",\"isTheRootOfTheTree\":true"
            << ",\"gIsSyncOn\":" << (root.gIsSyncOn ? "true" : "false");
        if (bytes) out << ",\"bytes\":true";
        out << ",\"subItems\":";
        WriteJsonItems(out, root.subItems, root.source, root.dest);
        out << '}';
    }
    const run::CategoryCounters& c = s.totals.categories;
    out << "],\"counters\":{\"gItemsToDoTotal\":" << s.totals.gItemsToDoTotal
        << ",\"gGlobalItemsScanned\":" << s.totals.gGlobalItemsScanned
        << ",\"gGlobalConflictsSkipped\":" << s.totals.gGlobalConflictsSkipped
        << ",\"gGlobalError\":" << s.totals.gGlobalError << ",\"gItemsAtoB\":" << c.gItemsAtoB
        << ",\"gItemsBtoA\":" << c.gItemsBtoA << ",\"gItemsToDelete\":" << c.gItemsToDelete
        << ",\"gItemsAttrAtoB\":" << c.gItemsAttrAtoB << ",\"gItemsAttrBtoA\":" << c.gItemsAttrBtoA
        << ",\"gFoldersToDescend\":" << c.gFoldersToDescend
        << "},\"scanSucceeded\":" << (s.totals.gScanSucceeded ? "true" : "false") << "}\n";
}

void WriteText(std::ostream& out, app::MainApp& app, const run::RunState& s) {
    for (const run::TaskRoot& root : s.plan.taskRootList) {
        WritePlanHeading(out, app.document().GetSessionName(root.sessionIndex), root);
        WriteTextItems(out, root.subItems, root.source, root.dest, 1);
    }
    if (s.plan.taskRootList.empty()) out << platform::GLS("Nothing to do.") << '\n';
    if (!s.totals.gScanSucceeded) {
        out << platform::GLS("The last task could not be scanned: a run would copy nothing.")
            << '\n';
    }
    out << platform::GLS("Items to do:") << ' ' << s.totals.gItemsToDoTotal << ", "
        << platform::GLS("items scanned:") << ' ' << s.totals.gGlobalItemsScanned << ", "
        << platform::GLS("conflicts skipped:") << ' ' << s.totals.gGlobalConflictsSkipped << ", "
        << platform::GLS("errors:") << ' ' << s.totals.gGlobalError << '\n';
}

}  // namespace

void WritePlanHeading(std::ostream& out, const std::string& sessionName,
                      const run::TaskRoot& root) {
    out << "Session \"" << TerminalName(sessionName) << "\", task " << root.taskIndex << ": "
        << TerminalName(root.source) << " -> " << TerminalName(root.dest);
    if (root.copyMode < 0) out << '\t' << kSkippedMark << run::CopyModeName(root.copyMode);
    out << '\n';
}

void WritePlanRow(std::ostream& out, int depth, int copyMode, const std::string& source,
                  const std::string& dest) {
    out << std::string(static_cast<std::size_t>(depth) * 2, ' ')
        << (copyMode < 0 ? kSkippedMark : "") << run::CopyModeName(copyMode) << '\t'
        << TerminalName(source) << '\t' << TerminalName(dest) << '\n';
}

bool SelectSessions(const sessions::SessionDocument& doc, const std::string& session, bool all,
                    app::RunRequest* request, std::ostream& err) {
    request->allSessions = all;
    if (all) return true;
    request->sessionIndex = doc.FindSessionIndex(session);
    if (request->sessionIndex >= 0) return true;
    err << "quorvel: no session named \"" << TerminalName(session) << "\"\n";
    return false;
}

int RunPlan(app::MainApp& app, const PlanArguments& args, std::ostream& out, std::ostream& err) {
    app::RunRequest request;
    request.executedBy = run::kExecutedByCommandLine;
    request.mayAsk = false;
    if (!SelectSessions(app.document(), args.session, args.all, &request, err)) return 2;
    bool hadErrors = false;
    app.runService().Plan(request, [&](const run::RunState& s) {
        hadErrors = s.totals.gGlobalError > 0;
        for (const run::SessionLog& session : s.logSessionArray) {
            for (const run::TaskLog& task : session.logTaskArray) {
                if (!task.gDetailedLogText.empty()) err << ForTerminal(task.gDetailedLogText);
            }
        }
        if (args.json) {
            WriteJson(out, s);
        } else {
            WriteText(out, app, s);
        }
    });
    return hadErrors ? 1 : 0;
}

}  // namespace qv::cli
