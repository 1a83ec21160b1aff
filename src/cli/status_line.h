#pragma once
// The one line `quorvel run` keeps redrawn on a terminal while it copies: items done of all,
// bytes copied of all, rate, time left and the item at hand, made to fit the terminal's width.

#include <string>

#include "app/progress_meter.h"

namespace qv::cli {

// The figures of the progress model; the item at hand is named by the path it is read from.
using StatusFacts = app::ProgressFigures;

// The line, at most `width` columns: the figures that fit (the rate goes first, then the bytes,
// then the time left), then the item's path escaped and shortened in its middle to fill the
// rest exactly. Empty for a width too small to tell anything.
std::string StatusLine(const StatusFacts& facts, int width);

}  // namespace qv::cli
