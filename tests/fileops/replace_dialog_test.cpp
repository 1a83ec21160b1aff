// The "Replace File" question as data: what the dialog shows for each conflict code, the
// direction swap, and the answer each button gives.

#include "fileops/replace_dialog.h"

#include <gtest/gtest.h>

#include <ctime>
#include <tuple>

#include "support/test_support.h"

namespace qv::fileops {
namespace {

constexpr double kDate = 1700000000.5;  // Tuesday 14 November 2023, 22:13:20 UTC

TEST(ReplaceDialogTest, EachCodeShowsItsTextsButtonsAndItems) {
    test::ScopedEnv env;
    env.Set("TZ", "UTC");
    env.Set("LC_ALL", "C");
    ::tzset();
    const std::string since = "Since the last Sync/Backup (Tuesday, Nov 14, 2023 - 22:13:20)\r";
    const std::string both =
        "both the following source and destination files have been modified.\r";
    const std::string askSrc = "Are you sure you want the source replaces the destination anyway?";
    const std::string delDst =
        "QV is going to delete the destination file.\rAre you sure you want "
        "to delete the destination file anyway?";
    // clang-format off
    const struct { int code, mode; std::string text, title, ok, okTip, skip, skipTip, icon; ReplaceItems items; bool swap; } rows[] = {
        {11, 4, since + both + "The source file has the most recent modification date/time.\r" + askSrc,
         "Replace File", "Replace", "Replace the destination file and continue", "Skip",
         "Skip these files and continue", "icnPreviewViolet", ReplaceItems::Both, false},
        {12, 4, "The destination file has the most recent modification date/time.\r" + askSrc,
         "Replace File", "Replace", "Replace the destination file and continue", "Skip",
         "Skip these files and continue", "icnPreviewViolet", ReplaceItems::Both, false},
        {21, 7, since + "the source file has been deleted and the destination file has been modified.\r" + delDst,
         "Delete File", "Delete", "Delete the destination file and continue", "Skip",
         "Skip this file and continue", "icnPreviewDelete", ReplaceItems::DestOnly, false},
        {51, 4, "The source file and the destination folder have the same name.\rThe file has the most "
                "recent date and it's going to replace the folder.\rAre you sure you want to replace the folder by the file?",
         "Replace folder", "Replace", "", "Skip", "", "icnReplaceViolet", ReplaceItems::Unchanged, false},
        {22, 7, since + "the source parent folder has been deleted, and the destination file has been added.\r" + delDst,
         "Delete File", "Delete", "Delete the destination file and continue", "Skip",
         "Skip this file and continue", "icnPreviewDelete", ReplaceItems::DestOnly, false},
        {31, 5, since + both + "The destination file has the most recent modification date/time.\r"
                "Are you sure you want the destination replaces the source anyway?",
         "Replace File", "Replace", "Replace the source file and continue", "Skip",
         "Skip these files and continue", "icnPreviewOrange", ReplaceItems::Both, true},
        {41, 6, since + "the source file has been modified and the destination file has been deleted.\r"
                "QV is going to delete the source file.\rAre you sure you want to delete the source file anyway?",
         "Delete File", "Delete", "Delete the source file", "Copy",
         "Copy the source back to the destination", "icnPreviewDelete", ReplaceItems::SourceOnly, false},
        {42, 7, since + "the following destination file has been added, but the source folder where QV "
                "should copy this file to, has been deleted.\r" + delDst,
         "Delete File", "Delete", "Delete the destination file", "Copy",
         "Recreate the source folder and copy the new destination file in it", "icnPreviewDelete",
         ReplaceItems::DestOnly, false},
        {52, 4, "The source folder and the destination file have the same name.\rThe file has the most "
                "recent date and it's going to replace the folder.\rAre you sure you want to replace the folder by the file?",
         "Replace folder", "Replace", "", "Skip", "", "icnReplaceOrange", ReplaceItems::Unchanged, false},
    };
    // clang-format on
    for (const auto& r : rows) {
        SCOPED_TRACE(r.code);
        run::ConflictQuestion q{"/a/f", "/b/f", kDate, r.mode, r.code, true, r.code == 31};
        ReplaceDialogModel m = BuildReplaceDialog(q, kDate, std::nullopt);
        EXPECT_EQ(m.explanation, r.text);
        EXPECT_EQ(m.windowTitle, r.title);
        EXPECT_EQ(std::tie(m.okTitle, m.okTooltip, m.skipTitle, m.skipTooltip),
                  std::tie(r.ok, r.okTip, r.skip, r.skipTip));
        EXPECT_EQ(m.directionIcon, r.icon);
        EXPECT_EQ(m.items, r.items);
        EXPECT_EQ(m.swapVisible, r.swap);
        EXPECT_EQ(m.sourceModifDate, "Modification Date: Tuesday, Nov 14, 2023 - 22:13:20");
        EXPECT_EQ(m.destModifDate, "--");
        EXPECT_EQ(ChangeDirection(m), r.swap);  // only code 31 can swap
    }
}

TEST(ReplaceDialogTest, SwappingTheDirectionShowsItAndMarksTheAnswer) {
    ReplaceDialogModel m = BuildReplaceDialog({"/a/f", "/b/f", kDate, 4, 31, true, true}, {}, {});
    EXPECT_EQ(m.directionIcon, "icnPreviewViolet");
    ASSERT_TRUE(ChangeDirection(m));
    EXPECT_EQ(m.directionIcon, "icnPreviewOrange");
    // The question follows the direction; the fact about the dates does not change.
    EXPECT_TRUE(m.explanation.ends_with(
        "The source file has the most recent modification date/time.\r"
        "Are you sure you want the destination replaces the source anyway?"));
    EXPECT_EQ(m.okTooltip, "Replace the source file and continue");
    EXPECT_EQ(m.directionTooltip, "The destination is going to replace the source");

    // Swap then Replace carries out the action the other way; swap then Stop still stops.
    const run::ConflictReply replace = ReplyForButtonCode(ButtonCode(m, kReplaceButtonTag));
    EXPECT_EQ(replace.answer, run::ConflictAnswer::Proceed);
    EXPECT_TRUE(replace.changeDirection);
    EXPECT_EQ(ReplyForButtonCode(ButtonCode(m, kStopButtonTag)).answer, run::ConflictAnswer::Stop);
    EXPECT_EQ(ReplyForButtonCode(ButtonCode(m, kSkipButtonTag)).answer, run::ConflictAnswer::Skip);

    ASSERT_TRUE(ChangeDirection(m));  // and back
    EXPECT_EQ(m.directionTooltip, "The source is going to replace the destination");
    EXPECT_TRUE(m.explanation.ends_with(
        "Are you sure you want the source replaces the destination anyway?"));
    EXPECT_FALSE(ReplyForButtonCode(ButtonCode(m, kReplaceButtonTag)).changeDirection);
}

}  // namespace
}  // namespace qv::fileops
