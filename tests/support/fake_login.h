#pragma once
// A login manager that grants an inhibitor as one end of a pipe (the test keeps the other end,
// to see when it is let go) and records the power-offs asked for; either can be refused.

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <atomic>
#include <string>

#include "platform/login_manager.h"

namespace qv::test {

class FakeLogin : public platform::LoginManager {
  public:
    platform::UniqueFd Inhibit(const std::string& what, const std::string& who,
                               const std::string& why, std::string* error,
                               const std::atomic<bool>*) override {
        if (!refuseInhibit.empty()) {
            *error = refuseInhibit;
            return platform::UniqueFd();
        }
        int ends[2];
        if (::pipe2(ends, O_CLOEXEC) != 0) return platform::UniqueFd();
        kept_.reset(ends[1]);
        asked = what + "|" + who + "|" + why;
        return platform::UniqueFd(ends[0]);
    }
    bool PowerOff(std::string* error) override {
        ++powerOffs;
        if (refusePowerOff.empty()) return true;
        *error = refusePowerOff;
        return false;
    }
    // The last inhibitor granted is in force: its descriptor is still open somewhere.
    bool Held() const {
        if (!kept_.valid()) return false;
        pollfd p{kept_.get(), POLLOUT, 0};
        return ::poll(&p, 1, 0) >= 0 && (p.revents & POLLERR) == 0;
    }

    std::string refuseInhibit;   // the reason to refuse an inhibitor with, or none
    std::string refusePowerOff;  // the reason to refuse a power-off with, or none
    std::string asked;           // "what|who|why" of the last inhibitor granted
    std::atomic<int> powerOffs{0};

  private:
    platform::UniqueFd kept_;
};

}  // namespace qv::test
