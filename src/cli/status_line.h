#pragma once
// The one line `quorvel run` keeps redrawn on a terminal while it copies: items done of all,
// bytes copied of all, rate, time left and the item at hand, made to fit the terminal's width.

#include <cstdint>
#include <optional>
#include <string>

namespace qv::cli {

struct StatusFacts {
    std::int64_t itemsDone = 0;
    std::int64_t itemsTotal = 0;
    std::uint64_t bytesDone = 0;
    std::uint64_t bytesTotal = 0;
    std::optional<double> bytesPerSecond;  // unknown at first
    std::optional<double> secondsLeft;
    std::string path;  // the item at hand, as the file system spells it
};

// The line, at most `width` columns: the figures that fit (the rate goes first, then the bytes,
// then the time left), then the item's path escaped and shortened in its middle to fill the
// rest exactly. Empty for a width too small to tell anything.
std::string StatusLine(const StatusFacts& facts, int width);

}  // namespace qv::cli
