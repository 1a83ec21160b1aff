#include "ui/size_display.h"

#include <cmath>
#include <cstdio>

#include "platform/localization.h"

namespace qv::ui {

using platform::GLS;

bool ScaledSize::twoDecimals() const {
    return unit == GLS("GB") && value - std::floor(value) > 0.1;
}

ScaledSize ScaleSize(std::uint64_t bytes) {
    ScaledSize s{static_cast<double>(bytes), GLS("bytes")};
    if (s.value > 1024) {
        s.value /= 1024;
        s.unit = GLS("KB");
        if (s.value > 1024) {
            s.value /= 1024;
            s.unit = GLS("MB");
            if (s.value > 1024) {
                s.value /= 1024;
                s.unit = GLS("GB");
            }
        }
    }
    return s;
}

namespace {

std::string Whole(const ScaledSize& s) {
    char buf[64];
    if (s.twoDecimals()) {
        std::snprintf(buf, sizeof buf, "%.2f %s", s.value, s.unit.c_str());
    } else {
        std::snprintf(buf, sizeof buf, "%lld %s", static_cast<long long>(s.value), s.unit.c_str());
    }
    return buf;
}

std::string Rounded(const ScaledSize& s) {
    char buf[64];
    std::snprintf(buf, sizeof buf, "%.*f %s", s.twoDecimals() ? 2 : 0, s.value, s.unit.c_str());
    return buf;
}

}  // namespace

std::string SizeText(std::uint64_t bytes) { return Whole(ScaleSize(bytes)); }

std::string BytesCopiedText(std::uint64_t copied, std::uint64_t total) {
    return Rounded(ScaleSize(copied)) + " " + GLS("of") + " " + Rounded(ScaleSize(total));
}

}  // namespace qv::ui
