#include "platform/login_manager.h"

#include <fcntl.h>
#include <systemd/sd-bus.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <memory>

namespace qv::platform {

namespace {

constexpr const char* kService = "org.freedesktop.login1";
constexpr const char* kObject = "/org/freedesktop/login1";
constexpr const char* kInterface = "org.freedesktop.login1.Manager";
constexpr const char* kDefaultSystemBus = "unix:path=/run/dbus/system_bus_socket";
// A bus that takes the connection and never answers must not hold a run up: the inhibitor is
// given up after this, a power-off after somewhat longer (polkit may look things up).
constexpr auto kInhibitLimit = std::chrono::seconds(3);
constexpr auto kPowerOffLimit = std::chrono::seconds(15);
// How often a wait looks at the Stop flag.
constexpr std::uint64_t kStopCheckMicroseconds = 50'000;

struct BusClose {
    // Never flushed: flushing waits for a peer that may never answer.
    void operator()(sd_bus* bus) const { sd_bus_close_unref(bus); }
};
struct MessageUnref {
    void operator()(sd_bus_message* m) const { sd_bus_message_unref(m); }
};
struct SlotUnref {
    void operator()(sd_bus_slot* s) const { sd_bus_slot_unref(s); }
};
using Bus = std::unique_ptr<sd_bus, BusClose>;
using Message = std::unique_ptr<sd_bus_message, MessageUnref>;
using Slot = std::unique_ptr<sd_bus_slot, SlotUnref>;

// The system bus, connected without waiting: the connection and its authentication go on in
// Call's loop, under its time limit.
Bus OpenSystemBus(std::string* error) {
    sd_bus* raw = nullptr;
    int r = sd_bus_new(&raw);
    Bus bus(raw);
    const char* address = std::getenv("DBUS_SYSTEM_BUS_ADDRESS");
    if (r >= 0)
        r = sd_bus_set_address(
            raw, address != nullptr && *address != '\0' ? address : kDefaultSystemBus);
    if (r >= 0) r = sd_bus_set_bus_client(raw, 1);
    if (r >= 0) r = sd_bus_start(raw);
    if (r < 0) {
        *error = std::string("no system bus: ") + std::strerror(-r);
        return nullptr;
    }
    return bus;
}

struct Answer {
    bool came = false;
    Message reply;
    std::string error;
};

int OnAnswer(sd_bus_message* m, void* userdata, sd_bus_error*) {
    auto* answer = static_cast<Answer*>(userdata);
    answer->came = true;
    if (sd_bus_message_is_method_error(m, nullptr)) {
        const sd_bus_error* e = sd_bus_message_get_error(m);
        answer->error = e->message != nullptr && e->message[0] != '\0' ? e->message : e->name;
    } else {
        answer->reply.reset(sd_bus_message_ref(m));
    }
    return 1;
}

// Sends the call and waits for its answer at most `limit`, or until *stop is raised; the reply,
// or none with *error.
Message Call(sd_bus* bus, sd_bus_message* call, std::chrono::milliseconds limit,
             const std::atomic<bool>* stop, std::string* error) {
    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + limit;
    Answer answer;
    sd_bus_slot* raw = nullptr;
    int r = sd_bus_call_async(bus, &raw, call, OnAnswer, &answer,
                              std::chrono::duration_cast<std::chrono::microseconds>(limit).count());
    const Slot slot(raw);  // let go before the bus: no answer comes to a finished wait
    while (r >= 0 && !answer.came) {
        r = sd_bus_process(bus, nullptr);
        if (r != 0) continue;
        const auto left =
            std::chrono::duration_cast<std::chrono::microseconds>(deadline - Clock::now()).count();
        if (left <= 0) {
            *error = "the login manager did not answer";
            return nullptr;
        }
        if (stop != nullptr && *stop) {
            *error = "stopped";
            return nullptr;
        }
        r = sd_bus_wait(
            bus, std::min<std::uint64_t>(static_cast<std::uint64_t>(left), kStopCheckMicroseconds));
        if (r == -EINTR) r = 0;
    }
    if (r < 0) {
        *error = std::strerror(-r);
        return nullptr;
    }
    if (!answer.reply) *error = answer.error;
    return std::move(answer.reply);
}

Message NewCall(sd_bus* bus, const char* method, std::string* error) {
    sd_bus_message* call = nullptr;
    const int r = sd_bus_message_new_method_call(bus, &call, kService, kObject, kInterface, method);
    if (r < 0) {
        *error = std::strerror(-r);
        return nullptr;
    }
    return Message(call);
}

class SystemLogin final : public LoginManager {
  public:
    UniqueFd Inhibit(const std::string& what, const std::string& who, const std::string& why,
                     std::string* error, const std::atomic<bool>* stop) override {
        const Bus bus = OpenSystemBus(error);
        if (!bus) return UniqueFd();
        const Message call = NewCall(bus.get(), "Inhibit", error);
        if (!call) return UniqueFd();
        const int r = sd_bus_message_append(call.get(), "ssss", what.c_str(), who.c_str(),
                                            why.c_str(), "block");
        if (r < 0) {
            *error = std::strerror(-r);
            return UniqueFd();
        }
        const Message reply = Call(bus.get(), call.get(), kInhibitLimit, stop, error);
        int fd = -1;
        if (!reply || sd_bus_message_read(reply.get(), "h", &fd) < 0) {
            if (error->empty()) *error = "the login manager's answer could not be read";
            return UniqueFd();
        }
        // The descriptor belongs to the reply: a copy of it is the inhibitor.
        const int held = ::fcntl(fd, F_DUPFD_CLOEXEC, 3);
        if (held < 0) *error = std::strerror(errno);
        return UniqueFd(held);
    }

    bool PowerOff(std::string* error) override {
        const Bus bus = OpenSystemBus(error);
        if (!bus) return false;
        const Message call = NewCall(bus.get(), "PowerOff", error);
        if (!call) return false;
        // Not interactive: an unattended run has nobody to type a password.
        const int r = sd_bus_message_append(call.get(), "b", 0);
        if (r < 0) {
            *error = std::strerror(-r);
            return false;
        }
        return Call(bus.get(), call.get(), kPowerOffLimit, nullptr, error) != nullptr;
    }
};

}  // namespace

LoginManager& SystemLoginManager() {
    static SystemLogin login;
    return login;
}

}  // namespace qv::platform
