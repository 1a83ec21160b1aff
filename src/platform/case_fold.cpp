#include "platform/case_fold.h"

#include <unicode/uchar.h>

#include <algorithm>
#include <vector>

#include "platform/icu_on_demand.h"
#include "platform/utf8.h"

namespace qv::platform {

namespace {

std::string FoldAscii(std::string_view name) {
    std::string folded(name);
    std::transform(folded.begin(), folded.end(), folded.begin(), [](char c) {
        return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
    });
    return folded;
}

// Full case folding of a well-formed UTF-8 name.
bool FoldUnicode(std::string_view name, std::string& folded) {
    const IcuCommon& lib = LoadIcuCommon();
    // UTF-16 takes at most one unit per byte of UTF-8; folding can make a text up to three
    // times longer ("ΐ"), and each unit becomes at most three bytes of UTF-8.
    const auto length = static_cast<std::int32_t>(name.size());
    std::vector<UChar> text(name.size() + 1), fold(3 * name.size() + 1);
    std::int32_t textLength = 0;
    UErrorCode status = U_ZERO_ERROR;
    lib.fromUtf8(text.data(), static_cast<std::int32_t>(text.size()), &textLength, name.data(),
                 length, &status);
    const std::int32_t foldLength =
        lib.foldCase(fold.data(), static_cast<std::int32_t>(fold.size()), text.data(), textLength,
                     U_FOLD_CASE_DEFAULT, &status);
    folded.resize(3 * static_cast<std::size_t>(foldLength) + 1);
    std::int32_t outLength = 0;
    lib.toUtf8(folded.data(), static_cast<std::int32_t>(folded.size()), &outLength, fold.data(),
               foldLength, &status);
    if (U_FAILURE(status)) return false;
    folded.resize(static_cast<std::size_t>(outLength));
    return true;
}

}  // namespace

std::string FoldCase(std::string_view name) {
    const bool ascii =
        std::all_of(name.begin(), name.end(), [](char c) { return (c & 0x80) == 0; });
    std::string folded;
    if (!ascii && IsValidUtf8(name) && FoldUnicode(name, folded)) return folded;
    return FoldAscii(name);
}

bool EqualFolded(std::string_view a, std::string_view b) { return FoldCase(a) == FoldCase(b); }

}  // namespace qv::platform
