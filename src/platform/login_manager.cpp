#include "platform/login_manager.h"

#include <fcntl.h>
#include <systemd/sd-bus.h>

#include <cstring>
#include <memory>

namespace qv::platform {

namespace {

constexpr const char* kService = "org.freedesktop.login1";
constexpr const char* kObject = "/org/freedesktop/login1";
constexpr const char* kInterface = "org.freedesktop.login1.Manager";
// A refused or unanswered call never holds a run or the window up for long.
constexpr std::uint64_t kCallTimeoutMicroseconds = 10'000'000;

struct BusUnref {
    void operator()(sd_bus* bus) const { sd_bus_flush_close_unref(bus); }
};
struct MessageUnref {
    void operator()(sd_bus_message* m) const { sd_bus_message_unref(m); }
};
using Bus = std::unique_ptr<sd_bus, BusUnref>;
using Message = std::unique_ptr<sd_bus_message, MessageUnref>;

Bus OpenSystemBus(std::string* error) {
    sd_bus* bus = nullptr;
    const int r = sd_bus_open_system(&bus);
    if (r < 0) {
        *error = std::string("no system bus: ") + std::strerror(-r);
        return nullptr;
    }
    return Bus(bus);
}

// What a failed call says: the bus's error, or the errno it came with.
std::string CallError(const sd_bus_error& e, int r) {
    if (e.message != nullptr && e.message[0] != '\0') return e.message;
    if (e.name != nullptr) return e.name;
    return std::strerror(-r);
}

class SystemLogin final : public LoginManager {
  public:
    UniqueFd Inhibit(const std::string& what, const std::string& who, const std::string& why,
                     std::string* error) override {
        Bus bus = OpenSystemBus(error);
        if (!bus) return UniqueFd();
        sd_bus_message* call = nullptr;
        sd_bus_message* reply = nullptr;
        sd_bus_error e = SD_BUS_ERROR_NULL;
        int r = sd_bus_message_new_method_call(bus.get(), &call, kService, kObject, kInterface,
                                               "Inhibit");
        const Message callHeld(call);
        if (r >= 0)
            r = sd_bus_message_append(call, "ssss", what.c_str(), who.c_str(), why.c_str(),
                                      "block");
        if (r >= 0) r = sd_bus_call(bus.get(), call, kCallTimeoutMicroseconds, &e, &reply);
        const Message replyHeld(reply);
        int fd = -1;
        if (r >= 0) r = sd_bus_message_read(reply, "h", &fd);
        if (r < 0) {
            *error = CallError(e, r);
            sd_bus_error_free(&e);
            return UniqueFd();
        }
        // The descriptor belongs to the reply: a copy of it is the inhibitor.
        const int held = ::fcntl(fd, F_DUPFD_CLOEXEC, 3);
        if (held < 0) *error = std::strerror(errno);
        return UniqueFd(held);
    }

    bool PowerOff(std::string* error) override {
        Bus bus = OpenSystemBus(error);
        if (!bus) return false;
        sd_bus_error e = SD_BUS_ERROR_NULL;
        sd_bus_message* reply = nullptr;
        // Not interactive: an unattended run has nobody to type a password.
        const int r = sd_bus_call_method(bus.get(), kService, kObject, kInterface, "PowerOff", &e,
                                         &reply, "b", 0);
        const Message replyHeld(reply);
        if (r < 0) {
            *error = CallError(e, r);
            sd_bus_error_free(&e);
            return false;
        }
        return true;
    }
};

}  // namespace

LoginManager& SystemLoginManager() {
    static SystemLogin login;
    return login;
}

}  // namespace qv::platform
