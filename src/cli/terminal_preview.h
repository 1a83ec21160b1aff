#pragma once
// The preview of a run's planned actions on a terminal: the plan numbered row by row as
// `quorvel plan` prints it, the totals, then one command a line (skip or re-enable an item,
// turn a replacement around, find the next item of a kind, show both sides of an item) until
// the user continues or stops the run.

#include <cstdint>
#include <functional>
#include <iosfwd>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "engine/preview_model.h"

namespace qv::cli {

class TerminalPreview {
  public:
    // The next line typed, without its line end; nothing at the end of the input.
    using LineReader = std::function<std::optional<std::string>()>;
    // The name of a session, by its index (for the tasks' headings).
    using SessionNamer = std::function<std::string(std::int64_t)>;

    TerminalPreview(run::RunState& state, const items::TWUtilities& tw, SessionNamer names,
                    std::ostream& out);

    // Shows the plan and the totals and performs commands until the user continues (true) or
    // stops (false; also at the end of the input). Changes are made in the run's plan.
    bool Run(const LineReader& read);

    static LineReader LinesOf(std::istream& in);

  private:
    void ListRows();
    void MakeRows(engine::PreviewNode& node);
    void WriteRow(std::size_t row);
    void WriteTotals();
    void WriteHelp();
    void WriteSides(std::size_t row);
    // The row a command names: its argument, or the current row without one. Said when none.
    std::optional<std::size_t> RowOf(const std::string& argument);
    // Performs a change and shows the rows whose mode it changed, then the totals.
    template <typename Change>
    void Changed(Change&& change);

    engine::PreviewModel model_;
    const items::TWUtilities& tw_;
    SessionNamer names_;
    std::ostream& out_;
    std::vector<engine::PreviewNode*> rows_;  // in display order, every folder open
    std::unordered_map<const engine::PreviewNode*, std::size_t> numbers_;
    std::optional<std::size_t> current_;  // index in rows_
};

}  // namespace qv::cli
