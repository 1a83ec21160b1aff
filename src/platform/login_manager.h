#pragma once
// The login manager (logind, on the system bus): a run keeps the machine from sleeping while it
// works, and the window asks for the machine to be powered off after a run when the user wants
// that. Tests put a fake in its place, or point DBUS_SYSTEM_BUS_ADDRESS at a bus of their own.

#include <atomic>
#include <string>

#include "platform/unique_fd.h"

namespace qv::platform {

class LoginManager {
  public:
    virtual ~LoginManager() = default;
    // A "block" inhibitor of `what` ("sleep:idle"), in force while the descriptor is open, and
    // so also released when the process dies. Invalid, with *error, when the login manager
    // cannot be reached, refuses, or does not answer within a few seconds; raising *stop ends
    // the wait at once.
    virtual UniqueFd Inhibit(const std::string& what, const std::string& who,
                             const std::string& why, std::string* error,
                             const std::atomic<bool>* stop = nullptr) = 0;
    // Asks for the machine to be powered off now, without asking anyone for a password; false,
    // with *error, when that is refused (not allowed, inhibited, other users logged in).
    virtual bool PowerOff(std::string* error) = 0;
};

// logind on the system bus.
LoginManager& SystemLoginManager();

}  // namespace qv::platform
