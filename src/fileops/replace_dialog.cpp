#include "fileops/replace_dialog.h"

#include <locale.h>
#include <sys/stat.h>

#include <cmath>
#include <ctime>
#include <cwchar>
#include <cwctype>

#include "items/tw_utilities.h"
#include "platform/localization.h"
#include "run/plan_item.h"

namespace qv::fileops {

using platform::GLS;

namespace {

constexpr const char* kCR = "\r";

// Each word's first letter in upper case, in the user's locale (UTF-8 or not).
std::string CapitaliseWords(const std::string& text, locale_t locale) {
    const locale_t previous = uselocale(locale);  // the wide-character calls below follow it
    std::string out;
    bool wordStart = true;
    std::mbstate_t state{};
    for (std::size_t i = 0; i < text.size();) {
        wchar_t wc = 0;
        const std::size_t n = std::mbrtowc(&wc, text.data() + i, text.size() - i, &state);
        if (n == 0 || n == static_cast<std::size_t>(-1) || n == static_cast<std::size_t>(-2)) {
            out += text[i++];  // not a character of this locale: kept as it is
            state = {};
            wordStart = false;
            continue;
        }
        char upper[MB_LEN_MAX];
        std::mbstate_t outState{};
        const std::size_t m =
            wordStart && std::iswalpha(wc)
                ? std::wcrtomb(upper, static_cast<wchar_t>(std::towupper(wc)), &outState)
                : static_cast<std::size_t>(-1);
        if (m != static_cast<std::size_t>(-1)) {
            out.append(upper, m);
        } else {
            out.append(text, i, n);
        }
        wordStart = std::iswspace(wc) || wc == L'-' || wc == L',';
        i += n;
    }
    uselocale(previous);
    return out;
}

std::string Since(const std::optional<double>& date) {
    return GLS("Since the last Sync/Backup (") + (date ? FormatDialogDate(*date) : "--") + ")" +
           kCR;
}

std::string ModifLine(const std::optional<double>& date) {
    return date ? GLS("Modification Date: ") + FormatDialogDate(*date) : "--";
}

// Both files changed (codes 11, 31): which is the more recent, then the question, which follows
// the direction as it now stands.
std::string BothChangedExplanation(const ReplaceDialogModel& m, bool sourceWins) {
    return m.since + GLS("both the following source and destination files have been modified.") +
           kCR +
           (m.copyMode == run::kModeReplaceAwithB
                ? GLS("The destination file has the most recent modification date/time.")
                : GLS("The source file has the most recent modification date/time.")) +
           kCR +
           (sourceWins ? GLS("Are you sure you want the source replaces the destination anyway?")
                       : GLS("Are you sure you want the destination replaces the source anyway?"));
}

// The source replaces the destination: as planned for mode 4, or swapped from mode 5.
void ShowDirection(ReplaceDialogModel& m) {
    const bool sourceWins = (m.copyMode == run::kModeReplaceBwithA) != m.changeDirection;
    if (m.conflict == 11 || m.conflict == 31) m.explanation = BothChangedExplanation(m, sourceWins);
    if (sourceWins) {
        m.okTooltip = GLS("Replace the destination file and continue");
        m.directionTooltip = GLS("The source is going to replace the destination");
        m.directionIcon = "icnPreviewViolet";
    } else {
        m.okTooltip = GLS("Replace the source file and continue");
        m.directionTooltip = GLS("The destination is going to replace the source");
        m.directionIcon = "icnPreviewOrange";
    }
}

// A file replacing a file (codes 11, 12, 31).
void AskToReplaceFile(const run::ConflictQuestion& q, ReplaceDialogModel& m) {
    // When both changed, the text is told by ShowDirection, as it follows the direction.
    m.explanation = q.conflict == 12
                        ? GLS("The destination file has the most recent modification date/time.") +
                              kCR +
                              GLS("Are you sure you want the source replaces the destination "
                                  "anyway?")
                        : std::string();
    m.windowTitle = GLS("Replace File");
    m.items = ReplaceItems::Both;
    m.skipTitle = GLS("Skip");
    m.skipTooltip = GLS("Skip these files and continue");
    m.okTitle = GLS("Replace");
    ShowDirection(m);
    if (q.conflict == 31) {
        m.directionEnabled = true;
        m.swapVisible = true;
    }
}

// The destination file deleted, as its source was (codes 21, 22).
void AskToDeleteDestination(const run::ConflictQuestion& q, ReplaceDialogModel& m) {
    m.explanation =
        m.since +
        (q.conflict == 21
             ? GLS("the source file has been deleted and the destination file has been "
                   "modified.")
             : GLS("the source parent folder has been deleted, and the destination file "
                   "has been added.")) +
        kCR + GLS("QV is going to delete the destination file.") + kCR +
        GLS("Are you sure you want to delete the destination file anyway?");
    m.directionIcon = "icnPreviewDelete";
    m.directionTooltip = GLS("The destination file is going to be deleted");
    m.items = ReplaceItems::DestOnly;
    m.skipTitle = GLS("Skip");
    m.skipTooltip = GLS("Skip this file and continue");
    m.okTitle = GLS("Delete");
    m.okTooltip = GLS("Delete the destination file and continue");
    m.windowTitle = GLS("Delete File");
}

// A file to delete on one side, or to copy back to the other (codes 41, 42).
void AskToDeleteOrCopyBack(const run::ConflictQuestion& q, ReplaceDialogModel& m) {
    const bool sourceSide = q.copyMode == run::kModeDeleteInA;
    const std::string what =
        q.conflict == 41
            ? (sourceSide ? GLS("the source file has been modified and the destination "
                                "file has been deleted.")
                          : GLS("the source file has been deleted and the destination "
                                "file has been modified."))
            : (sourceSide ? GLS("the following source file has been added, but the destination "
                                "folder where QV should copy this file to, has been deleted.")
                          : GLS("the following destination file has been added, but the source "
                                "folder where QV should copy this file to, has been deleted."));
    m.explanation = m.since + what + kCR +
                    (sourceSide ? GLS("QV is going to delete the source file.") + kCR +
                                      GLS("Are you sure you want to delete the source file anyway?")
                                : GLS("QV is going to delete the destination file.") + kCR +
                                      GLS("Are you sure you want to delete the destination file "
                                          "anyway?"));
    m.directionIcon = "icnPreviewDelete";
    m.directionTooltip = sourceSide ? GLS("The source file is going to be deleted")
                                    : GLS("The destination file is going to be deleted");
    m.items = sourceSide ? ReplaceItems::SourceOnly : ReplaceItems::DestOnly;
    m.skipTitle = GLS("Copy");
    m.skipTooltip = q.conflict == 41
                        ? (sourceSide ? GLS("Copy the source back to the destination")
                                      : GLS("Copy the destination back to the source"))
                        : (sourceSide ? GLS("Recreate the destination folder and copy the new "
                                            "source file in it")
                                      : GLS("Recreate the source folder and copy the new "
                                            "destination file in it"));
    m.okTitle = GLS("Delete");
    m.okTooltip = sourceSide ? GLS("Delete the source file") : GLS("Delete the destination file");
    m.windowTitle = GLS("Delete File");
}

// A file and a folder of the same name, the file the more recent (codes 51, 52).
void AskToReplaceFolder(const run::ConflictQuestion& q, ReplaceDialogModel& m) {
    m.explanation =
        (q.conflict == 51
             ? GLS("The source file and the destination folder have the same name.\r")
             : GLS("The source folder and the destination file have the same name.\r")) +
        GLS("The file has the most recent date and it's going to replace the folder.\r") +
        (q.folderItems >= 0
             ? platform::FormatText(GLS("The folder holds %ld items, which go with it.\r"),
                                    {std::to_string(q.folderItems)})
             : std::string()) +
        GLS("Are you sure you want to replace the folder by the file?");
    m.directionIcon = q.conflict == 51 ? "icnReplaceViolet" : "icnReplaceOrange";
    m.directionEnabled = true;
    m.skipTitle = GLS("Skip");
    m.okTitle = GLS("Replace");
    m.windowTitle = GLS("Replace folder");
}

}  // namespace

std::string FormatDialogDate(double secondsSince1970) {
    const auto t = static_cast<std::time_t>(std::floor(secondsSince1970));
    std::tm tm{};
    localtime_r(&t, &tm);
    locale_t locale = newlocale(LC_TIME_MASK | LC_CTYPE_MASK, "", nullptr);
    if (locale == nullptr) locale = newlocale(LC_TIME_MASK | LC_CTYPE_MASK, "C", nullptr);
    char buf[256];
    const std::size_t n = strftime_l(buf, sizeof buf, "%A, %b %d, %Y - %H:%M:%S", &tm, locale);
    std::string text = CapitaliseWords(std::string(buf, n), locale);
    freelocale(locale);
    return text;
}

ReplaceDialogModel BuildReplaceDialog(const run::ConflictQuestion& q,
                                      std::optional<double> sourceModif,
                                      std::optional<double> destModif) {
    ReplaceDialogModel m;
    m.conflict = q.conflict;
    m.copyMode = q.copyMode;
    m.sourcePath = q.source;
    m.destPath = q.dest;
    m.sourceModifDate = ModifLine(sourceModif);
    m.destModifDate = ModifLine(destModif);
    m.since = Since(q.date);
    switch (q.conflict) {
        case 11:
        case 12:
        case 31:
            AskToReplaceFile(q, m);
            break;
        case 21:
        case 22:
            AskToDeleteDestination(q, m);
            break;
        case 41:
        case 42:
            AskToDeleteOrCopyBack(q, m);
            break;
        case 51:
        case 52:
            AskToReplaceFolder(q, m);
            break;
        default:
            break;
    }
    return m;
}

ReplaceDialogModel BuildReplaceDialog(const run::ConflictQuestion& question) {
    const items::TWUtilities tw;
    ReplaceDialogModel m =
        BuildReplaceDialog(question, tw.GetDate(question.source, items::kModificationDate),
                           tw.GetDate(question.dest, items::kModificationDate));
    // A file's size says at a glance which one holds more; a folder's would take a walk.
    auto fileSize = [&tw](const std::string& path) -> std::optional<std::uint64_t> {
        const int mode = tw.GetPermissionsAtPath(path);
        if (mode < 0 || !S_ISREG(static_cast<mode_t>(mode))) return std::nullopt;
        return tw.NewItemSize(path);
    };
    m.sourceSize = fileSize(question.source);
    m.destSize = fileSize(question.dest);
    return m;
}

bool ChangeDirection(ReplaceDialogModel& model) {
    if (model.conflict != 31) return false;
    model.changeDirection = !model.changeDirection;
    ShowDirection(model);
    return true;
}

int ButtonCode(const ReplaceDialogModel& model, int tag) {
    return model.changeDirection ? -tag : tag;
}

run::ConflictReply ReplyForButtonCode(int code) {
    const int tag = code < 0 ? -code : code;
    const run::ConflictAnswer answer = tag == kStopButtonTag      ? run::ConflictAnswer::Stop
                                       : tag == kReplaceButtonTag ? run::ConflictAnswer::Proceed
                                                                  : run::ConflictAnswer::Skip;
    return {answer, code < 0};
}

}  // namespace qv::fileops
