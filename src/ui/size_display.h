#pragma once
// How byte counts are shown in the console: the size of an item, the growing size of a copy
// against its source, and the bytes copied of a total.

#include <cstdint>
#include <string>

namespace qv::ui {

// A byte count scaled to the largest unit it exceeds: above 1024 bytes it is counted in KB,
// above 1024 KB in MB, above 1024 MB in GB.
struct ScaledSize {
    double value = 0;
    std::string unit;  // "bytes", "KB", "MB" or "GB" (localised)
    // Two decimals only for a GB value whose fraction exceeds 0.1.
    bool twoDecimals() const;
};
ScaledSize ScaleSize(std::uint64_t bytes);

// "1 KB", "1.50 GB": whole numbers are cut, not rounded.
std::string SizeText(std::uint64_t bytes);
// Bytes copied of a total: each number rounded, "2 KB of 10 MB".
std::string BytesCopiedText(std::uint64_t copied, std::uint64_t total);

}  // namespace qv::ui
