#pragma once
// Mailing a run's log to the recipients of the e-mail settings, one message each, when the
// preferences ask for it.

#include <atomic>
#include <functional>
#include <string>
#include <vector>

#include "schedule/mail_sender.h"
#include "sessions/plist_value.h"

namespace qv::schedule {

// At most this many recipients are mailed.
inline constexpr std::size_t kMaxMailRecipients = 10;
// The maker's own mail domain, never a sender or a recipient.
inline constexpr const char* kMakersMailDomain = "quorvel.app";

struct LogMailed {
    bool attempted = false;
    std::vector<std::string> sentTo;
    // "Can't send email" with whom and the server's reply, one a failure.
    std::vector<std::string> failures;
    bool ok() const { return failures.empty(); }
};

using MailSending = std::function<MailSent(const MailAccount&, const std::string& recipient,
                                           const std::string& message, std::chrono::seconds,
                                           const std::atomic<bool>* stop)>;

// Mails the log when `prefSendEmail` is on and `prefSendEmailWhen` says so (2: only when the
// run had errors). logFileName: the saved log's name ("" when none was saved).
LogMailed MailTheLog(const plist::Value& preferences, const std::string& log, std::int64_t errors,
                     const std::string& logFileName, const std::atomic<bool>* stop,
                     const MailSending& send = SendMailMessage);

// The test message of the e-mail sheet, sent to the settings' recipients (in the clear).
LogMailed SendTestMail(const plist::Value& settings, const std::atomic<bool>* stop,
                       const MailSending& send = SendMailMessage);

}  // namespace qv::schedule
