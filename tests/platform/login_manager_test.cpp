// The login manager's calls as logind receives them: a bus of the test's own stands for the
// system bus, with a stand-in for logind on it.

#include "platform/login_manager.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <systemd/sd-bus.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>

#include "platform/child_process.h"
#include "support/test_support.h"

namespace qv::platform {
namespace {

// logind as far as these calls go: Inhibit hands out one end of a pipe, PowerOff is noted or
// refused.
class FakeLogind {
  public:
    explicit FakeLogind(const std::string& address) {
        sd_bus_new(&bus_);
        sd_bus_set_address(bus_, address.c_str());
        sd_bus_set_bus_client(bus_, 1);
        ok_ = sd_bus_start(bus_) >= 0 &&
              sd_bus_add_object_vtable(bus_, nullptr, "/org/freedesktop/login1",
                                       "org.freedesktop.login1.Manager", kVtable, this) >= 0 &&
              sd_bus_request_name(bus_, "org.freedesktop.login1", 0) >= 0;
        if (ok_) thread_ = std::thread([this] { Serve(); });
    }
    ~FakeLogind() {
        done_ = true;
        if (thread_.joinable()) thread_.join();
        sd_bus_flush_close_unref(bus_);
    }
    bool ok() const { return ok_; }
    std::string Calls() {
        std::lock_guard lock(mutex_);
        return calls_;
    }
    // The inhibitor handed out is still held by someone.
    bool Held() const {
        pollfd p{kept_.get(), POLLOUT, 0};
        return kept_.valid() && ::poll(&p, 1, 0) >= 0 && (p.revents & POLLERR) == 0;
    }
    std::atomic<bool> refusePowerOff{false};

  private:
    void Serve() {
        while (!done_) {
            if (sd_bus_process(bus_, nullptr) > 0) continue;
            sd_bus_wait(bus_, 50'000);
        }
    }
    static int Inhibit(sd_bus_message* m, void* self, sd_bus_error*) {
        auto* me = static_cast<FakeLogind*>(self);
        const char *what, *who, *why, *mode;
        sd_bus_message_read(m, "ssss", &what, &who, &why, &mode);
        int ends[2];
        if (::pipe2(ends, O_CLOEXEC) != 0) return -errno;
        me->kept_.reset(ends[1]);
        {
            std::lock_guard lock(me->mutex_);
            me->calls_ += std::string("Inhibit ") + what + "|" + who + "|" + why + "|" + mode + ";";
        }
        const int r = sd_bus_reply_method_return(m, "h", ends[0]);
        ::close(ends[0]);  // the reply took its copy
        return r;
    }
    static int PowerOff(sd_bus_message* m, void* self, sd_bus_error* error) {
        auto* me = static_cast<FakeLogind*>(self);
        int interactive = -1;
        sd_bus_message_read(m, "b", &interactive);
        {
            std::lock_guard lock(me->mutex_);
            me->calls_ += "PowerOff " + std::to_string(interactive) + ";";
        }
        if (me->refusePowerOff) {
            return sd_bus_error_set(error,
                                    "org.freedesktop.DBus.Error.InteractiveAuthorizationRequired",
                                    "Interactive authentication required.");
        }
        return sd_bus_reply_method_return(m, "");
    }
    static constexpr sd_bus_vtable kVtable[] = {
        SD_BUS_VTABLE_START(0),
        SD_BUS_METHOD("Inhibit", "ssss", "h", &FakeLogind::Inhibit, SD_BUS_VTABLE_UNPRIVILEGED),
        SD_BUS_METHOD("PowerOff", "b", "", &FakeLogind::PowerOff, SD_BUS_VTABLE_UNPRIVILEGED),
        SD_BUS_VTABLE_END};

    sd_bus* bus_ = nullptr;
    bool ok_ = false;
    std::atomic<bool> done_{false};
    std::thread thread_;
    std::mutex mutex_;
    std::string calls_;
    UniqueFd kept_;
};

TEST(LoginManager, InhibitsSleepAndAsksForAPowerOffWithoutAPassword) {
    test::TempDir dir;
    test::ScopedEnv env;
    LoginManager& login = SystemLoginManager();

    // No bus there: the reason, and nothing held.
    env.Set("DBUS_SYSTEM_BUS_ADDRESS", "unix:path=" + (dir / "none"));
    std::string error;
    EXPECT_FALSE(login.Inhibit("sleep:idle", "Quorvel", "Backing up", &error).valid());
    EXPECT_FALSE(error.empty());
    error.clear();
    EXPECT_FALSE(login.PowerOff(&error));
    EXPECT_FALSE(error.empty());

    // A bus that takes the connection and never answers: given up within seconds, and at once
    // on Stop.
    const int silent = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un where{};
    where.sun_family = AF_UNIX;
    const std::string silentPath = dir / "silent";
    std::strncpy(where.sun_path, silentPath.c_str(), sizeof where.sun_path - 1);
    ASSERT_EQ(::bind(silent, reinterpret_cast<sockaddr*>(&where), sizeof where), 0);
    ASSERT_EQ(::listen(silent, 8), 0);
    env.Set("DBUS_SYSTEM_BUS_ADDRESS", "unix:path=" + silentPath);
    using Clock = std::chrono::steady_clock;
    auto began = Clock::now();
    error.clear();
    EXPECT_FALSE(login.Inhibit("sleep:idle", "Quorvel", "Backing up", &error).valid());
    EXPECT_EQ(error, "the login manager did not answer");
    EXPECT_LT(Clock::now() - began, std::chrono::seconds(10));
    std::atomic<bool> stop{false};
    std::thread stopper([&stop] {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        stop = true;
    });
    began = Clock::now();
    EXPECT_FALSE(login.Inhibit("sleep:idle", "Quorvel", "Backing up", &error, &stop).valid());
    stopper.join();
    EXPECT_EQ(error, "stopped");
    EXPECT_LT(Clock::now() - began, std::chrono::milliseconds(2500));
    ::close(silent);

    if (::access("/usr/bin/dbus-daemon", X_OK) != 0) GTEST_SKIP() << "no dbus-daemon here";
    ChildProcess daemon;
    ASSERT_TRUE(daemon.Start({"/usr/bin/dbus-daemon", "--session", "--nofork",
                              "--address=unix:path=" + (dir / "bus"), "--print-address=1"},
                             &error))
        << error;
    for (int i = 0; i < 250 && daemon.output().find('\n') == std::string::npos; ++i) {
        daemon.Wait(20);
    }
    const std::string address = daemon.output().substr(0, daemon.output().find('\n'));
    ASSERT_FALSE(address.empty());
    env.Set("DBUS_SYSTEM_BUS_ADDRESS", address);
    FakeLogind logind(address);
    ASSERT_TRUE(logind.ok());

    {
        UniqueFd inhibitor = login.Inhibit("sleep:idle", "Quorvel", "Backing up \"Home\"", &error);
        ASSERT_TRUE(inhibitor.valid()) << error;
        EXPECT_TRUE(logind.Held());
    }
    // Closing it lets go (once the bus has let go of the copy its message carried).
    for (int i = 0; i < 100 && logind.Held(); ++i) ::usleep(20'000);
    EXPECT_FALSE(logind.Held());
    EXPECT_TRUE(login.PowerOff(&error)) << error;
    logind.refusePowerOff = true;
    EXPECT_FALSE(login.PowerOff(&error));
    EXPECT_EQ(error, "Interactive authentication required.");
    EXPECT_EQ(logind.Calls(),
              "Inhibit sleep:idle|Quorvel|Backing up \"Home\"|block;PowerOff 0;PowerOff 0;");
    daemon.Kill(SIGTERM);
    daemon.Wait(2000);
}

}  // namespace
}  // namespace qv::platform
