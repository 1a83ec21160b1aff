#include "app/progress_meter.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <tuple>

#include "run/plan_item.h"

namespace qv::app {

std::string HumanBytes(std::uint64_t bytes) {
    static constexpr const char* kUnits[] = {"B", "KB", "MB", "GB", "TB", "PB"};
    if (bytes < 1024) return std::to_string(bytes) + " B";
    double value = static_cast<double>(bytes);
    std::size_t unit = 0;
    while (value >= 1024 && unit + 1 < std::size(kUnits)) {
        value /= 1024;
        ++unit;
    }
    char text[32];
    // One decimal below 100, so that the width stays about the same as the figure grows.
    std::snprintf(text, sizeof text, value < 99.95 ? "%.1f %s" : "%.0f %s", value, kUnits[unit]);
    return text;
}

std::string RateText(double bytesPerSecond) {
    return HumanBytes(static_cast<std::uint64_t>(std::max(bytesPerSecond, 0.0))) + "/s";
}

std::string TimeLeftText(std::optional<double> seconds) {
    if (!seconds || !std::isfinite(*seconds)) return "--";
    const auto total = static_cast<std::int64_t>(std::ceil(std::max(*seconds, 0.0)));
    const std::int64_t h = total / 3600, m = total / 60 % 60, s = total % 60;
    char text[40];
    if (h > 0) {
        std::snprintf(text, sizeof text, "%lld:%02lld:%02lld", static_cast<long long>(h),
                      static_cast<long long>(m), static_cast<long long>(s));
    } else {
        std::snprintf(text, sizeof text, "%lld:%02lld", static_cast<long long>(m),
                      static_cast<long long>(s));
    }
    return text;
}

void ProgressMeter::Add(double seconds, std::uint64_t bytesDone, std::int64_t itemsDone) {
    samples_.push_back({seconds, bytesDone, itemsDone});
    // One sample older than the window stays, so that the window is always spanned.
    while (samples_.size() > 2 && samples_[1].seconds <= seconds - kWindow) samples_.pop_front();
}

std::optional<double> ProgressMeter::BytesPerSecond() const {
    if (samples_.size() < 2) return std::nullopt;
    const Sample& first = samples_.front();
    const Sample& last = samples_.back();
    const double span = last.seconds - first.seconds;
    if (span < kShortestSpan) return std::nullopt;
    return static_cast<double>(last.bytes - std::min(last.bytes, first.bytes)) / span;
}

std::optional<double> ProgressMeter::SecondsLeft(std::uint64_t bytesTotal,
                                                 std::int64_t itemsTotal) const {
    const std::optional<double> byteRate = BytesPerSecond();
    if (!byteRate) return std::nullopt;
    const Sample& first = samples_.front();
    const Sample& last = samples_.back();
    // The content is what takes the time; once it is all written, what is left (folders,
    // deletions, attributes) goes at the pace of items.
    if (bytesTotal > last.bytes) {
        if (*byteRate <= 0) return std::nullopt;
        return static_cast<double>(bytesTotal - last.bytes) / *byteRate;
    }
    const double itemRate =
        static_cast<double>(last.items - first.items) / (last.seconds - first.seconds);
    const auto itemsLeft = std::max<std::int64_t>(itemsTotal - last.items, 0);
    if (itemsLeft == 0) return 0.0;
    if (itemRate <= 0) return std::nullopt;
    return static_cast<double>(itemsLeft) / itemRate;
}

const std::string& ProgressFigures::readPath() const {
    const int m = item.copyMode;
    const bool fromB =
        m == run::kModeCopyBtoA || m == run::kModeReplaceAwithB || m == run::kModeDeleteInB;
    return fromB ? item.dest : item.source;
}

std::optional<ProgressFigures> ProgressModel::Sample() {
    if (!progress_.copying()) {
        sampling_ = false;
        return std::nullopt;
    }
    const double now = clock_();
    if (!sampling_) {
        // The copy starts from nothing; by the time it is first seen it may have begun.
        meter_.Clear();
        meter_.Add(now, 0, 0);
        sampling_ = true;
    }
    ProgressFigures f;
    f.itemsDone = progress_.itemsDone();
    f.itemsTotal = progress_.itemsTotal();
    f.bytesDone = progress_.bytesDone();
    f.bytesTotal = progress_.bytesTotal();
    meter_.Add(now, f.bytesDone, f.itemsDone);
    f.bytesPerSecond = meter_.BytesPerSecond();
    f.secondsLeft = meter_.SecondsLeft(f.bytesTotal, f.itemsTotal);
    f.item = progress_.CurrentItem();
    std::tie(f.itemBytesDone, f.itemBytes) = progress_.ItemBytes();
    return f;
}

}  // namespace qv::app
