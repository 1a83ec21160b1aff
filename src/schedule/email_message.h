#pragma once
// The message that mails a run's log: RFC 5322 headers, the log as UTF-8 text with CRLF line
// ends, and for a long log the start of it in the body and the whole of it attached.

#include <ctime>
#include <string>
#include <string_view>

namespace qv::schedule {

// A log of this many characters or more goes as an attachment, its start in the body.
inline constexpr std::size_t kAttachLogFrom = 200001;

struct MailParts {
    std::string from;
    std::string to;
    std::string subject;
    std::string log;             // the run's log, lines ending with CR
    std::string attachmentName;  // the log file's name with ".txt", or "QVLog.txt"
    std::time_t date = 0;
    std::string host;  // for the Message-ID
};

// The body sent for a log of kAttachLogFrom characters or more: the log up to its
// first session block, and a line that points at the attachment.
std::string CutLogBody(const std::string& log, std::time_t date);

// The whole message, ready for the SMTP DATA phase.
std::string BuildMailMessage(const MailParts& parts);

// A header's text as RFC 2047 encoded words when it is not plain ASCII.
std::string EncodeHeaderText(std::string_view text);
// Base64, in lines of 76 characters ending CRLF.
std::string Base64Lines(std::string_view bytes);

}  // namespace qv::schedule
