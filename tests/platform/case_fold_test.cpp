#include "platform/case_fold.h"

#include <gtest/gtest.h>

namespace qv::platform {
namespace {

TEST(CaseFoldTest, UnicodeNamesFoldFullyAndOtherBytesOnlyInAscii) {
    // clang-format off
    const struct { const char* a; const char* b; bool equal; } cases[] = {
        {"Report.TXT", "report.txt", true},
        {"\xc3\x89t\xc3\xa9", "\xc3\xa9T\xc3\x89", true},      // Été, éTÉ
        {"STRASSE", "stra\xc3\x9f" "e", true},                  // full folding: ß is ss
        {"\xce\xa3\xce\x91", "\xcf\x83\xce\xb1", true},          // ΣΑ, σα
        {"e\xcc\x81", "\xc3\xa9", false},                       // decomposed é is another name
        {"caf\xc9", "caf\xe9", false},                          // Latin-1 bytes: not letters here
        {"A\xff", "a\xff", true},                               // ASCII still folds
        {"report", "report2", false},
    };
    // clang-format on
    for (const auto& c : cases) EXPECT_EQ(EqualFolded(c.a, c.b), c.equal) << c.a << " " << c.b;
    EXPECT_EQ(FoldCase("D\xff"), "d\xff");  // bytes kept as they are
    // A name that grows when folded: each ΐ becomes three code points.
    EXPECT_EQ(FoldCase("\xce\x90\xce\x90"), "\xce\xb9\xcc\x88\xcc\x81\xce\xb9\xcc\x88\xcc\x81");
}

}  // namespace
}  // namespace qv::platform
