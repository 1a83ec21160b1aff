#pragma once
// `quorvel plan`: scans the sessions as a run would, unattended, and prints what it would do.

#include <iosfwd>
#include <string>

#include "app/main_app.h"

namespace qv::cli {

struct PlanArguments {
    std::string session;  // a session name, or empty with all
    bool all = false;
    bool json = false;
    std::string document;  // --document, or "" for the template
};

// Points the request at the named session, or at all of them; false (said on err) when the
// document has no session of that name.
bool SelectSessions(const sessions::SessionDocument& doc, const std::string& session, bool all,
                    app::RunRequest* request, std::ostream& err);

// The lines of the text plan, which the terminal preview shows too: a task's heading, and an
// item's mode name and two paths, indented two blanks per level (the task's items at depth 1).
// An item the preview skipped shows its planned mode after kSkippedMark; a plan has none.
inline constexpr const char* kSkippedMark = "Skipped:";
void WritePlanHeading(std::ostream& out, const std::string& sessionName, const run::TaskRoot& root);
void WritePlanRow(std::ostream& out, int depth, int copyMode, const std::string& source,
                  const std::string& dest);

// Exit statuses: 0 planned, 1 planned with errors (listed on err), 2 no such session.
int RunPlan(app::MainApp& app, const PlanArguments& args, std::ostream& out, std::ostream& err);

}  // namespace qv::cli
