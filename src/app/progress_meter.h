#pragma once
// The figures a progress display adds to a run's counters: the transfer rate, smoothed over the
// last few seconds so that one large or one tiny file does not make it jump, and the time left.
// Pure: the caller samples the run's progress with its own clock, which tests replace.

#include <cstdint>
#include <deque>
#include <functional>
#include <optional>
#include <string>

#include "run/run_progress.h"

namespace qv::app {

// Bytes in units of 1024: "512 B", "1.5 KB", "12.3 MB", "4.0 GB", "1.2 TB".
std::string HumanBytes(std::uint64_t bytes);
// "12.3 MB/s".
std::string RateText(double bytesPerSecond);
// "0:42", "12:05", "1:02:03"; "--" while unknown.
std::string TimeLeftText(std::optional<double> seconds);

class ProgressMeter {
  public:
    // Seconds of samples the rate is averaged over.
    static constexpr double kWindow = 5.0;
    // No rate is told before the samples span this long: the first instants say little.
    static constexpr double kShortestSpan = 1.0;

    // A reading of the run's counters at `seconds` (any origin, never going back).
    void Add(double seconds, std::uint64_t bytesDone, std::int64_t itemsDone);
    void Clear() { samples_.clear(); }

    // Bytes per second over the window, once known.
    std::optional<double> BytesPerSecond() const;
    // What is left at the recent pace of bytes while content is left to copy, else at the
    // pace of items. Unknown until the pace is.
    std::optional<double> SecondsLeft(std::uint64_t bytesTotal, std::int64_t itemsTotal) const;

  private:
    struct Sample {
        double seconds;
        std::uint64_t bytes;
        std::int64_t items;
    };
    std::deque<Sample> samples_;
};

// Everything a front end shows of a copy at one instant.
struct ProgressFigures {
    std::int64_t itemsDone = 0;
    std::int64_t itemsTotal = 0;
    std::uint64_t bytesDone = 0;
    std::uint64_t bytesTotal = 0;
    std::optional<double> bytesPerSecond;  // unknown at first
    std::optional<double> secondsLeft;
    run::RunProgress::Item item;      // the item in hand
    std::uint64_t itemBytesDone = 0;  // of its content, when it has content being copied
    std::uint64_t itemBytes = 0;
    // The path of the item being read: the source side of its copy mode.
    const std::string& readPath() const;
};

// The one source of a copy's figures for the window and the terminal: reads the run's progress
// at the instants the caller asks, with the caller's clock.
class ProgressModel {
  public:
    ProgressModel(const run::RunProgress& progress, std::function<double()> clock)
        : progress_(progress), clock_(std::move(clock)) {}

    // Nothing while the run has not started its copy; the pace counts from the first figures.
    std::optional<ProgressFigures> Sample();

  private:
    const run::RunProgress& progress_;
    std::function<double()> clock_;
    ProgressMeter meter_;
    bool sampling_ = false;
};

}  // namespace qv::app
