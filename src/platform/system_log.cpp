#include "platform/system_log.h"

#include <syslog.h>

#include <mutex>
#include <string>

namespace qv::platform {

void SystemLog(std::string_view line) {
    static std::once_flag opened;
    std::call_once(opened, [] { ::openlog("quorvel", LOG_PID, LOG_USER); });
    const std::string text(line);
    ::syslog(LOG_INFO, "%s", text.c_str());
}

}  // namespace qv::platform
