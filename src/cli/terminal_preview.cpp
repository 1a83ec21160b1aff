#include "cli/terminal_preview.h"

#include <algorithm>
#include <cctype>
#include <iomanip>
#include <istream>
#include <ostream>
#include <sstream>

#include "app/progress_meter.h"
#include "cli/plan_command.h"
#include "cli/terminal_text.h"
#include "platform/localization.h"

namespace qv::cli {

using platform::GLS;

namespace {

constexpr const char* kPreviewHelp =
    "Commands (N is a row's number; without it, the current row):\n"
    "  c          continue: perform the plan as it stands\n"
    "  q          stop the run\n"
    "  s [N]      skip the item with everything inside it, or re-enable it\n"
    "  w [N]      turn a replacement around (A wins or B wins), or the deletion of a file into\n"
    "             its copy back (Synchronize tasks only)\n"
    "  n KIND     the next item of a kind; p KIND the previous one; KIND is skipped, folder,\n"
    "             atob, btoa, delete, attratob or attrbtoa (or 0, 1, 2, 3, 6, 8, 9)\n"
    "  i [N]      the details of both sides of the item\n"
    "  l          the whole plan again\n"
    "  ?, h       this help\n";

std::string Lowered(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}

}  // namespace

TerminalPreview::TerminalPreview(run::RunState& state, const items::TWUtilities& tw,
                                 SessionNamer names, std::ostream& out)
    : model_(state), tw_(tw), names_(std::move(names)), out_(out) {
    for (std::size_t i = 0; i < model_.totRootItems(); ++i) MakeRows(model_.rootItem(i));
}

TerminalPreview::LineReader TerminalPreview::LinesOf(std::istream& in) {
    return [&in]() -> std::optional<std::string> {
        std::string line;
        if (!std::getline(in, line)) return std::nullopt;
        if (!line.empty() && line.back() == '\r') line.pop_back();
        return line;
    };
}

// Every row is made once, before the first command: the numbers stay those the first listing
// showed, and the nodes a search returns are the ones numbered here.
void TerminalPreview::MakeRows(engine::PreviewNode& node) {
    numbers_.emplace(&node, rows_.size());
    rows_.push_back(&node);
    const std::int64_t children = node.numberOfChildren();
    for (std::int64_t i = 0; i < children; ++i) {
        MakeRows(node.childAt(static_cast<std::size_t>(i)));
    }
}

void TerminalPreview::WriteRow(std::size_t row) {
    const int width = static_cast<int>(std::to_string(rows_.size()).size());
    out_ << std::setw(width) << row + 1 << ' ';
    const engine::PreviewNode& node = *rows_[row];
    if (node.isRoot()) {
        WritePlanHeading(out_, names_(node.taskRoot().sessionIndex), node.taskRoot());
    } else {
        WritePlanRow(out_, node.level(), node.copyMode(), node.source(), node.dest());
    }
}

void TerminalPreview::ListRows() {
    for (std::size_t row = 0; row < rows_.size(); ++row) WriteRow(row);
}

void TerminalPreview::WriteTotals() {
    const engine::PreviewTotals t = model_.totals();
    out_ << GLS("Existing folders:") << ' ' << t.foldersToDescend << ", " << GLS("skipped:") << ' '
         << t.skipped << ", " << GLS("to delete:") << ' ' << t.toDelete << ", "
         << GLS("copy A to B:") << ' ' << t.atoB << ", " << GLS("copy B to A:") << ' ' << t.btoA
         << ", " << GLS("attributes A to B:") << ' ' << t.attrAtoB << ", "
         << GLS("attributes B to A:") << ' ' << t.attrBtoA << ", " << GLS("total:") << ' '
         << t.total << ", " << GLS("content to copy:") << ' ' << app::HumanBytes(t.bytes) << '\n';
}

void TerminalPreview::WriteHelp() { out_ << kPreviewHelp; }

void TerminalPreview::WriteSides(std::size_t row) {
    const engine::PreviewNode& node = *rows_[row];
    for (const bool inA : {true, false}) {
        const engine::PreviewSideInfo info =
            engine::DescribeSide(tw_, inA ? node.source() : node.dest());
        out_ << (inA ? "A: " : "B: ") << TerminalName(info.name) << '\n'
             << "   " << GLS("Modification date:") << ' ' << info.modificationDate << '\n'
             << "   " << GLS("Backup date:") << ' ' << info.backupDate << '\n'
             << "   " << GLS("Attribute modification date:") << ' ' << info.attributeDate << '\n'
             << "   " << GLS("Size:") << ' ' << info.size << '\n'
             << "   " << GLS("Path:") << ' ' << TerminalName(info.path) << '\n';
    }
}

std::optional<std::size_t> TerminalPreview::RowOf(const std::string& argument) {
    if (argument.empty()) {
        if (!current_) out_ << GLS("Which row? Give its number.") << '\n';
        return current_;
    }
    const bool digits =
        argument.size() <= 18 && std::all_of(argument.begin(), argument.end(),
                                             [](unsigned char c) { return std::isdigit(c) != 0; });
    const std::size_t number = digits ? std::stoull(argument) : 0;
    if (number < 1 || number > rows_.size()) {
        out_ << platform::FormatText(GLS("There is no row %@: the rows are numbered 1 to %@."),
                                     {TerminalName(argument), std::to_string(rows_.size())})
             << '\n';
        return std::nullopt;
    }
    return number - 1;
}

template <typename Change>
void TerminalPreview::Changed(Change&& change) {
    std::vector<int> before(rows_.size());
    for (std::size_t i = 0; i < rows_.size(); ++i) before[i] = rows_[i]->copyMode();
    change();
    for (std::size_t i = 0; i < rows_.size(); ++i) {
        if (rows_[i]->copyMode() != before[i]) WriteRow(i);
    }
    WriteTotals();
}

bool TerminalPreview::Run(const LineReader& read) {
    ListRows();
    WriteTotals();
    for (;;) {
        out_ << "[c] " << GLS("Continue") << "   [q] " << GLS("Stop") << "   [?] " << GLS("Help")
             << "> " << std::flush;
        const std::optional<std::string> line = read();
        if (!line) {
            out_ << '\n';
            return false;  // nobody left to answer: nothing is done unseen
        }
        std::istringstream words(*line);
        std::string command, argument, extra;
        words >> command >> argument >> extra;
        command = Lowered(command);
        if (command.empty()) continue;
        if (!extra.empty()) command.clear();  // said below as unknown
        if (command == "c") return true;
        if (command == "q") return false;
        if (command == "?" || command == "h") {
            WriteHelp();
        } else if (command == "l") {
            ListRows();
            WriteTotals();
        } else if (command == "s" || command == "w" || command == "i") {
            const std::optional<std::size_t> row = RowOf(argument);
            if (!row) continue;
            current_ = row;
            engine::PreviewNode& node = *rows_[*row];
            if (command == "i") {
                WriteSides(*row);
            } else if (command == "s") {
                Changed([&] { model_.ToggleSkip(node); });
            } else if (engine::PreviewModel::IsTurnable(node)) {
                Changed([&] { model_.ChangeCopyModeDirection(node); });
            } else {
                out_ << GLS("Only a replacement, or the deletion of a file, in a Synchronize task "
                            "can be turned around.")
                     << '\n';
            }
        } else if (command == "n" || command == "p") {
            const std::optional<engine::PreviewKind> kind =
                engine::PreviewKindNamed(Lowered(argument));
            if (!kind) {
                out_ << GLS("Which kind? skipped, folder, atob, btoa, delete, attratob or "
                            "attrbtoa.")
                     << '\n';
                continue;
            }
            const engine::PreviewNode* from = current_ ? rows_[*current_] : nullptr;
            const engine::PreviewNode* found =
                model_.SearchNextOrPreviousItem(from, *kind, command == "p");
            if (found == nullptr) {
                out_ << GLS("No more items of that kind.") << '\n';
                continue;
            }
            current_ = numbers_.at(found);
            WriteRow(*current_);
        } else {
            out_ << platform::FormatText(GLS("Unknown command \"%@\"; ? lists the commands."),
                                         {TerminalName(*line)})
                 << '\n';
        }
    }
}

}  // namespace qv::cli
