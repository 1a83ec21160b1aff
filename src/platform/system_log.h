#pragma once
// Short diagnostic lines for the system log (the journal), tagged "quorvel".

#include <string_view>

namespace qv::platform {

void SystemLog(std::string_view line);

}  // namespace qv::platform
