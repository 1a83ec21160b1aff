#include "cli/status_line.h"

#include <string_view>
#include <vector>

#include "app/progress_meter.h"
#include "cli/terminal_text.h"
#include "platform/localization.h"

namespace qv::cli {

namespace {

constexpr std::string_view kGap = "  ";
constexpr std::string_view kEllipsis = "\xE2\x80\xA6";  // "…", one column
// A path shorter than this says nothing: the room goes unused instead.
constexpr std::size_t kShortestPath = 8;

bool IsContinuation(char c) { return (static_cast<unsigned char>(c) & 0xC0) == 0x80; }

// Columns of a UTF-8 text: one per character (TerminalName leaves only printable ones).
std::size_t Columns(std::string_view text) {
    std::size_t n = 0;
    for (const char c : text) n += IsContinuation(c) ? 0 : 1;
    return n;
}

// The byte offset after the first `columns` characters.
std::size_t HeadBytes(std::string_view text, std::size_t columns) {
    std::size_t i = 0;
    for (std::size_t seen = 0; i < text.size(); ++i) {
        if (!IsContinuation(text[i]) && seen++ == columns) break;
    }
    return i;
}

// The byte offset where the last `columns` characters start.
std::size_t TailStart(std::string_view text, std::size_t columns) {
    std::size_t i = text.size();
    for (std::size_t seen = 0; i > 0 && seen < columns;) {
        --i;
        if (!IsContinuation(text[i])) ++seen;
    }
    return i;
}

std::string MiddleTruncated(const std::string& text, std::size_t columns) {
    if (Columns(text) <= columns) return text;
    if (columns == 0) return {};
    const std::size_t keep = columns - 1;
    const std::size_t head = keep / 2;
    return text.substr(0, HeadBytes(text, head)) + std::string(kEllipsis) +
           text.substr(TailStart(text, keep - head));
}

// The escaped name in the units a cut must keep whole: a character, or an escape ("\\x1b",
// "\\u202e", "\\n", "\\\\") that TerminalName wrote.
std::vector<std::string_view> Units(std::string_view text) {
    std::vector<std::string_view> units;
    for (std::size_t i = 0; i < text.size();) {
        std::size_t n = 1;
        if (text[i] == '\\' && i + 1 < text.size()) {
            n = text[i + 1] == 'x' ? 4 : text[i + 1] == 'u' ? 6 : 2;
        } else {
            while (i + n < text.size() && IsContinuation(text[i + n])) ++n;
        }
        n = std::min(n, text.size() - i);
        units.push_back(text.substr(i, n));
        i += n;
    }
    return units;
}

// The escaped name shortened in its middle to `columns`, never cutting an escape.
std::string MiddleTruncatedName(const std::string& text, std::size_t columns) {
    const std::vector<std::string_view> units = Units(text);
    if (text.size() <= columns || Columns(text) <= columns) return text;
    if (columns == 0) return {};
    const std::size_t keep = columns - 1;
    std::string head, tail;
    std::size_t used = 0;
    for (std::size_t i = 0; i < units.size() && used + Columns(units[i]) <= keep / 2; ++i) {
        head += units[i];
        used += Columns(units[i]);
    }
    std::vector<std::string_view> back;
    for (std::size_t i = units.size(); i-- > 0 && used + Columns(units[i]) <= keep;) {
        back.push_back(units[i]);
        used += Columns(units[i]);
    }
    for (auto it = back.rbegin(); it != back.rend(); ++it) tail += *it;
    return head + std::string(kEllipsis) + tail;
}

}  // namespace

std::string StatusLine(const StatusFacts& facts, int width) {
    if (width <= 0) return {};
    const auto room = static_cast<std::size_t>(width);
    const std::string items =
        std::to_string(facts.itemsDone) + "/" + std::to_string(facts.itemsTotal);
    const std::string bytes =
        app::HumanBytes(facts.bytesDone) + "/" + app::HumanBytes(facts.bytesTotal);
    const std::string rate = facts.bytesPerSecond ? app::RateText(*facts.bytesPerSecond) : "--";
    const std::string left = app::TimeLeftText(facts.secondsLeft) + " " + platform::GLS("left");

    // In the order shown; the least telling is left out first when the width is short.
    struct Part {
        const std::string* text;
        int dropRank;  // 0: never dropped
    };
    std::vector<Part> parts = {{&items, 0}, {&bytes, 2}, {&rate, 1}, {&left, 3}};
    auto width_of = [&] {
        std::size_t n = 0;
        for (const Part& p : parts) n += (n == 0 ? 0 : kGap.size()) + Columns(*p.text);
        return n;
    };
    for (int rank = 1; rank <= 3 && width_of() > room; ++rank) {
        std::erase_if(parts, [rank](const Part& p) { return p.dropRank == rank; });
    }
    std::string line;
    for (const Part& p : parts) {
        if (!line.empty()) line += kGap;
        line += *p.text;
    }
    if (Columns(line) > room) return MiddleTruncated(line, room);
    const std::size_t used = Columns(line);
    if (!facts.readPath().empty() && used + kGap.size() + kShortestPath <= room) {
        line += kGap;
        line += MiddleTruncatedName(TerminalName(facts.readPath()), room - used - kGap.size());
    }
    return line;
}

}  // namespace qv::cli
