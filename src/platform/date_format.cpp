#include "platform/date_format.h"

#include <cstdlib>
#include <vector>

#include "platform/icu_on_demand.h"
#include "platform/utf8.h"

namespace qv::platform {

namespace {

// The locale the user chose for dates, in ICU's form: "fr_CH.UTF-8@euro" gives "fr_CH".
std::string UserDateLocale() {
    std::string name;
    for (const char* variable : {"LC_ALL", "LC_TIME", "LANG"}) {
        const char* value = std::getenv(variable);
        if (value != nullptr && *value != '\0') {
            name = value;
            break;
        }
    }
    name = name.substr(0, name.find_first_of(".@"));
    // The C locale speaks English; ICU would otherwise fall back to its root locale, whose
    // month names are "M01", "M02", ...
    if (name.empty() || name == "C" || name == "POSIX") return "en_US";
    return name;
}

}  // namespace

std::string FormatDatePattern(std::string_view pattern, double seconds, const std::string& locale) {
    if (pattern.empty() || !IsValidUtf8(pattern)) return {};
    const IcuCommon& common = LoadIcuCommon();
    const IcuDates& dates = LoadIcuDates();
    UErrorCode status = U_ZERO_ERROR;
    std::vector<UChar> icuPattern(pattern.size() + 1);
    std::int32_t patternLength = 0;
    common.fromUtf8(icuPattern.data(), static_cast<std::int32_t>(icuPattern.size()), &patternLength,
                    pattern.data(), static_cast<std::int32_t>(pattern.size()), &status);
    // The formatter takes the process's time zone (TZ, else /etc/localtime).
    UDateFormat* formatter = dates.open(UDAT_PATTERN, UDAT_PATTERN,
                                        locale.empty() ? UserDateLocale().c_str() : locale.c_str(),
                                        nullptr, -1, icuPattern.data(), patternLength, &status);
    if (U_FAILURE(status)) {
        if (formatter != nullptr) dates.close(formatter);
        return {};
    }
    const auto when = static_cast<UDate>(seconds * 1000.0);
    std::vector<UChar> text(64);
    std::int32_t textLength = dates.format(
        formatter, when, text.data(), static_cast<std::int32_t>(text.size()), nullptr, &status);
    if (status == U_BUFFER_OVERFLOW_ERROR) {
        status = U_ZERO_ERROR;
        text.resize(static_cast<std::size_t>(textLength) + 1);
        textLength = dates.format(formatter, when, text.data(),
                                  static_cast<std::int32_t>(text.size()), nullptr, &status);
    }
    dates.close(formatter);
    std::string out(3 * static_cast<std::size_t>(textLength) + 1, '\0');
    std::int32_t outLength = 0;
    common.toUtf8(out.data(), static_cast<std::int32_t>(out.size()), &outLength, text.data(),
                  textLength, &status);
    if (U_FAILURE(status)) return {};
    out.resize(static_cast<std::size_t>(outLength));
    return out;
}

}  // namespace qv::platform
