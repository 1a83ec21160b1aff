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
};

// Points the request at the named session, or at all of them; false (said on err) when the
// document has no session of that name.
bool SelectSessions(const sessions::SessionDocument& doc, const std::string& session, bool all,
                    app::RunRequest* request, std::ostream& err);

// Exit statuses: 0 planned, 1 planned with errors (listed on err), 2 no such session.
int RunPlan(app::MainApp& app, const PlanArguments& args, std::ostream& out, std::ostream& err);

}  // namespace qv::cli
