#include "platform/termination_signals.h"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <initializer_list>

namespace qv::platform {

namespace {

int gPipe[2] = {-1, -1};

void OnSignal(int number) {
    const int saved = errno;
    const unsigned char byte = static_cast<unsigned char>(number);
    // Nothing but async-signal-safe calls here; a full pipe already says enough.
    [[maybe_unused]] const ssize_t n = ::write(gPipe[1], &byte, 1);
    errno = saved;
}

}  // namespace

int TerminationSignalDescriptor() {
    if (gPipe[0] >= 0) return gPipe[0];
    if (::pipe2(gPipe, O_CLOEXEC | O_NONBLOCK) != 0) return -1;
    struct sigaction action {};
    action.sa_handler = OnSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (int number : {SIGTERM, SIGINT, SIGHUP}) ::sigaction(number, &action, nullptr);
    return gPipe[0];
}

int TakeTerminationSignal() {
    unsigned char byte = 0;
    int last = 0;
    while (::read(gPipe[0], &byte, 1) == 1) last = byte;
    return last;
}

int WaitForTerminationSignal(int timeoutMs) {
    const int fd = TerminationSignalDescriptor();
    if (fd < 0) return 0;
    pollfd watched{fd, POLLIN, 0};
    if (::poll(&watched, 1, timeoutMs) <= 0) return 0;
    return TakeTerminationSignal();
}

}  // namespace qv::platform
