#pragma once
// The small RTF subset our log files are written in, and read back from.
//
// Written:
//   {\rtf1\ansi\ansicpg65001\deff0{\fonttbl{\f0\fmodern Monospace;}}\f0\fs20 TEXT}
// where in TEXT
//   - each line end (a carriage return of the log) is "\par" followed by a line feed;
//   - a tab is "\tab " (the blank ends the control word, so that text after it cannot be taken
//     for its parameter);
//   - "\", "{" and "}" are "\\", "\{" and "\}";
//   - every other control byte (a line feed inside a name, an escape, DEL) is "\'hh", so that
//     it neither vanishes as RTF white space nor reaches a reader raw;
//   - each character beyond ASCII of valid UTF-8 is "\uN?": N the signed 16-bit value of the
//     code unit, a pair of them (UTF-16 surrogates) beyond U+FFFF, "?" the fallback for readers
//     without Unicode;
//   - each byte that is not part of valid UTF-8 is "\'hh" (lower-case hex): Linux file names
//     need not be UTF-8, and this reader gives such a byte back as itself, so the names survive
//     byte for byte;
//   - the web-site address of the fixed header is replaced by "by " and a link:
//       {\field{\*\fldinst HYPERLINK "https://quorvel.app"}{\fldrslt quorvel.app}}
//
// Read: any document that begins with "{\rtf". The reader keeps the text of the groups it
// knows and gives "\par" and "\line" (and a backslash before a line end) as a carriage return,
// "\tab" as a tab, "\uN" as the character (its fallback characters skipped, as many as the last
// "\ucN" of the group says, 1 by default), "\'hh" as the raw byte, "\\", "\{", "\}" as
// themselves, and a few typographic symbols (\bullet, \emdash, quotes, \~). Raw line ends are
// RTF layout and are dropped. Groups starting with "\*" and the destinations that hold no text
// of the document (font, colour and style tables, document information, pictures, field
// instructions, headers and footers, ...) are skipped whole; other control words are ignored.
// "\binN" skips its N bytes. Groups may nest at most kMaxRtfDepth deep.

#include <string>
#include <string_view>

namespace qv::schedule {

inline constexpr int kMaxRtfDepth = 256;

// text: the log, lines ending with carriage returns.
std::string LogToRtf(std::string_view text);
// The text of an RTF document, lines ending with carriage returns; false on a document that
// is not RTF, nests too deeply, ends inside a group or holds a broken "\'" escape. *text then
// holds what was read before the fault (a log cut short still shows its beginning).
bool RtfToText(std::string_view rtf, std::string* text, std::string* error = nullptr);

}  // namespace qv::schedule
