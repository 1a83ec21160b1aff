#include "cli/live_status.h"

#include <chrono>
#include <utility>

namespace qv::cli {

namespace {

// Often enough to look alive, seldom enough to cost nothing next to the copy.
constexpr auto kRedrawInterval = std::chrono::milliseconds(100);
constexpr const char* kClearLine = "\r\x1b[K";

}  // namespace

LiveStatus::LiveStatus(std::ostream& terminal, std::function<int()> columns, Sampler sampler)
    : terminal_(terminal),
      columns_(std::move(columns)),
      sampler_(std::move(sampler)),
      thread_([this] { Loop(); }) {}

LiveStatus::~LiveStatus() {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    wake_.notify_all();
    thread_.join();
    std::lock_guard lock(mutex_);
    ClearLocked();
}

void LiveStatus::Hold() {
    std::lock_guard lock(mutex_);
    ++holds_;
    ClearLocked();
}

void LiveStatus::Release() {
    {
        std::lock_guard lock(mutex_);
        --holds_;
    }
    wake_.notify_all();  // redrawn at once rather than at the next tick
}

void LiveStatus::ClearLocked() {
    if (!shown_) return;
    terminal_ << kClearLine << std::flush;
    shown_ = false;
}

void LiveStatus::Loop() {
    std::unique_lock lock(mutex_);
    while (!stopping_) {
        if (holds_ == 0) {
            const std::optional<StatusFacts> facts = sampler_();
            // The last column is left free: a line that fills it makes some terminals wrap.
            const std::string line = facts ? StatusLine(*facts, columns_() - 1) : std::string();
            if (!line.empty() || shown_) {
                terminal_ << kClearLine << line << std::flush;
                shown_ = !line.empty();
            }
        }
        wake_.wait_for(lock, kRedrawInterval);
    }
}

}  // namespace qv::cli
