#pragma once
// The "Replace File" question as data: everything its dialog shows for a conflict found by the
// scan, and the rule that turns the button pressed into the answer. The GUI dialog and the
// terminal prompt both render this one model.

#include <cstdint>
#include <optional>
#include <string>

#include "run/main_thread_proxy.h"

namespace qv::fileops {

// Tags of the dialog's buttons; the code a dialog ends with is the tag, negated when the user
// swapped the direction.
inline constexpr int kReplaceButtonTag = 100;  // Replace or Delete
inline constexpr int kStopButtonTag = 98;
inline constexpr int kSkipButtonTag = 99;  // Skip or Copy

// Which items the dialog offers to inspect and reveal.
enum class ReplaceItems { Unchanged, Both, SourceOnly, DestOnly };

struct ReplaceDialogModel {
    int conflict = 0;
    int copyMode = 0;
    std::string windowTitle;
    std::string explanation;  // lines joined by carriage returns
    std::string sourcePath, destPath;
    std::string sourceModifDate, destModifDate;         // "Modification Date: ..." or "--"
    std::optional<std::uint64_t> sourceSize, destSize;  // of the files, when known
    std::string since;  // "Since the last Sync/Backup (...)", for the question told again
    std::string okTitle, okTooltip;
    std::string skipTitle, skipTooltip;
    std::string directionIcon, directionTooltip;
    bool directionEnabled = false;  // the icon showing the direction
    bool swapVisible = false;       // the button that swaps the direction (code 31 only)
    ReplaceItems items = ReplaceItems::Unchanged;
    bool changeDirection = false;
};

// The date as the dialog shows it: "%A, %b %d, %Y - %H:%M:%S" in the user's locale, each word
// with an initial capital.
std::string FormatDialogDate(double secondsSince1970);

// The dialog's contents for a question; sourceModif and destModif are the two items'
// modification dates, when they have one.
ReplaceDialogModel BuildReplaceDialog(const run::ConflictQuestion& question,
                                      std::optional<double> sourceModif,
                                      std::optional<double> destModif);
// The same, reading the two modification dates and the sizes of files from the items.
ReplaceDialogModel BuildReplaceDialog(const run::ConflictQuestion& question);

// The swap button (code 31 only): toggles the direction and what shows it, the question
// included. False when the dialog offers no swap.
bool ChangeDirection(ReplaceDialogModel& model);

// The code a dialog ends with, for the button of that tag.
int ButtonCode(const ReplaceDialogModel& model, int tag);
// The answer a dialog's end code gives: 100 carries out the action, 98 stops the run, anything
// else skips; a negative code says the direction was swapped.
run::ConflictReply ReplyForButtonCode(int code);

}  // namespace qv::fileops
