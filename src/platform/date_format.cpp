#include "platform/date_format.h"

#include <unicode/locid.h>
#include <unicode/smpdtfmt.h>
#include <unicode/unistr.h>

#include <cstdlib>
#include <memory>

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
    if (pattern.empty()) return {};
    UErrorCode status = U_ZERO_ERROR;
    const icu::Locale where(locale.empty() ? UserDateLocale().c_str() : locale.c_str());
    const icu::UnicodeString icuPattern = icu::UnicodeString::fromUTF8(
        icu::StringPiece(pattern.data(), static_cast<int32_t>(pattern.size())));
    // The formatter takes the process's time zone (TZ, else /etc/localtime).
    icu::SimpleDateFormat formatter(icuPattern, where, status);
    if (U_FAILURE(status)) return {};
    icu::UnicodeString text;
    formatter.format(static_cast<UDate>(seconds * 1000.0), text);
    std::string out;
    text.toUTF8String(out);
    return out;
}

}  // namespace qv::platform
