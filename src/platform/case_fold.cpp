#include "platform/case_fold.h"

#include <unicode/uchar.h>
#include <unicode/unistr.h>

#include <algorithm>

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

}  // namespace

std::string FoldCase(std::string_view name) {
    const bool ascii =
        std::all_of(name.begin(), name.end(), [](char c) { return (c & 0x80) == 0; });
    if (ascii || !IsValidUtf8(name)) return FoldAscii(name);
    icu::UnicodeString text = icu::UnicodeString::fromUTF8(
        icu::StringPiece(name.data(), static_cast<std::int32_t>(name.size())));
    text.foldCase(U_FOLD_CASE_DEFAULT);
    std::string folded;
    text.toUTF8String(folded);
    return folded;
}

bool EqualFolded(std::string_view a, std::string_view b) { return FoldCase(a) == FoldCase(b); }

}  // namespace qv::platform
