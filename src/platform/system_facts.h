#pragma once
// Facts about the machine and the user that every run log begins with.

#include <string>

namespace qv::platform {

struct SystemFacts {
    std::string systemVersion;  // PRETTY_NAME of os-release, e.g. "Debian GNU/Linux 12 (bookworm)"
    std::string systemBuild;    // the kernel release (uname -r); may be empty
    // Hardware address of the first network interface that is not the loopback, upper case,
    // with full stops between the bytes ("52.54.00.12.34.56"); empty when none can be read.
    std::string macAddress;
    std::string fullName;  // the user database's full name (the GECOS field before a comma)
    std::string userName;
    long uid = 0, gid = 0, euid = 0, egid = 0;
};

// Where the facts are read from; tests point these at folders of their own.
struct SystemFactSources {
    std::string osRelease = "/etc/os-release";
    std::string fallbackOsRelease = "/usr/lib/os-release";
    std::string netFolder = "/sys/class/net";
};

SystemFacts ReadSystemFacts(const SystemFactSources& sources = {});

}  // namespace qv::platform
