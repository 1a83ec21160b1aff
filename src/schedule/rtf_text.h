#pragma once
// The small RTF subset our log files are written in, and read back from:
//   {\rtf1\ansi\ansicpg65001\deff0{\fonttbl{\f0\fmodern Monospace;}}\f0\fs20 ... }
// with "\par" and a line feed for each line end, "\tab" for tabs, "\\", "\{", "\}" escaped,
// "\uN?" for each character beyond ASCII (N the signed 16-bit value, surrogate pairs beyond
// the BMP) and "\'hh" for each byte that is not part of valid UTF-8, so that file names stay
// byte-exact. The web-site address becomes a HYPERLINK field. The reader keeps the text of
// the groups it knows and skips "{\*...}" groups and unknown control words.

#include <string>
#include <string_view>

namespace qv::schedule {

// text: the log, lines ending with carriage returns.
std::string LogToRtf(std::string_view text);
// The text of an RTF document, lines ending with carriage returns; false on a document that
// is not RTF.
bool RtfToText(std::string_view rtf, std::string* text, std::string* error = nullptr);

}  // namespace qv::schedule
