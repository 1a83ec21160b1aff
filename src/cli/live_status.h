#pragma once
// Keeps the status line of a run redrawn on standard error a few times a second from a thread
// of its own, and out of the way of everything else the command prints: whoever writes to the
// terminal during the run holds a Pause, which clears the line until it ends.

#include <condition_variable>
#include <functional>
#include <mutex>
#include <optional>
#include <ostream>
#include <thread>

#include "cli/status_line.h"

namespace qv::cli {

class LiveStatus {
  public:
    // What to show now, or nothing (the scan, before the copy has figures to show).
    using Sampler = std::function<std::optional<StatusFacts>()>;

    LiveStatus(std::ostream& terminal, std::function<int()> columns, Sampler sampler);
    // Clears the line and stops the thread.
    ~LiveStatus();
    LiveStatus(const LiveStatus&) = delete;
    LiveStatus& operator=(const LiveStatus&) = delete;

    class Pause {
      public:
        explicit Pause(LiveStatus* status) : status_(status) {
            if (status_ != nullptr) status_->Hold();
        }
        ~Pause() {
            if (status_ != nullptr) status_->Release();
        }
        Pause(const Pause&) = delete;
        Pause& operator=(const Pause&) = delete;

      private:
        LiveStatus* status_;
    };

  private:
    void Hold();
    void Release();
    void Loop();
    void ClearLocked();

    std::ostream& terminal_;
    std::function<int()> columns_;
    Sampler sampler_;
    std::mutex mutex_;
    std::condition_variable wake_;
    bool stopping_ = false;
    int holds_ = 0;
    bool shown_ = false;
    std::thread thread_;
};

}  // namespace qv::cli
