#include "schedule/log_mail.h"

#include <unistd.h>

#include <algorithm>
#include <ctime>

#include "platform/file_io.h"
#include "platform/localization.h"
#include "platform/system_log.h"
#include "schedule/email_message.h"
#include "sessions/email_settings.h"
#include "sessions/well.h"

namespace qv::schedule {

using platform::GLS;

namespace {

std::string Lower(std::string text) {
    for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

MailAccount AccountOf(const plist::Value& settings) {
    MailAccount account;
    account.from = settings.stringAt("mSendEmailFrom");
    account.server = settings.stringAt("mSendEmailSMTP");
    account.port = settings.stringAt("mSendEmailPort");
    account.account = settings.stringAt("mSendEmailAccountID");
    account.password = settings.stringAt("mSendEmailPassword");
    account.useSSL = settings.intAt("mSendEmailUseSSL", -1);
    return account;
}

std::string HostName() {
    char name[256] = {0};
    return ::gethostname(name, sizeof name - 1) == 0 ? name : "localhost";
}

// Sends one message per recipient (the first ten), as the log's mail or the test mail.
LogMailed SendToEach(const plist::Value& settings, const std::string& subject,
                     const std::string& text, const std::string& attachmentName,
                     const std::atomic<bool>* stop, const MailSending& send) {
    LogMailed mailed;
    mailed.attempted = true;
    const MailAccount account = AccountOf(settings);
    const std::string to = settings.stringAt("mSendEmailTo");
    const std::vector<std::string> recipients = sessions::SplitRecipients(to);
    if (recipients.empty() || Lower(to).find(kMakersMailDomain) != std::string::npos ||
        account.from.empty() || Lower(account.from).find(kMakersMailDomain) != std::string::npos ||
        account.server.empty()) {
        mailed.failures.push_back(GLS("Can't send email") + ": " +
                                  GLS(sessions::kMissingEmailParameter));
        return mailed;
    }
    const std::size_t n = recipients.size();
    for (std::size_t k = 0; k < n; ++k) {
        const std::string& recipient = recipients[k];
        std::string why;
        if (k >= kMaxMailRecipients) {
            why = GLS("more than 10 recipients");
        } else {
            MailParts parts{account.from,   recipient,          subject,   text,
                            attachmentName, std::time(nullptr), HostName()};
            const std::string message = BuildMailMessage(parts);
            const MailSent sent = send(account, recipient, message, MailTimeout(text.size()), stop);
            if (sent.ok) {
                mailed.sentTo.push_back(recipient);
                continue;
            }
            why = sent.stopped ? GLS("interrupted") : sent.reply;
        }
        platform::SystemLog(
            platform::FormatText("Cannot Send Email (%@ of %@) to %@",
                                 {std::to_string(k + 1), std::to_string(n), recipient}));
        mailed.failures.push_back(GLS("Can't send email") + " (" + recipient + "): " + why);
    }
    return mailed;
}

}  // namespace

LogMailed MailTheLog(const plist::Value& preferences, const std::string& log, std::int64_t errors,
                     const std::string& logFileName, const std::atomic<bool>* stop,
                     const MailSending& send) {
    if (preferences.intAt("prefSendEmail", 0) != 1) return {};
    if (preferences.intAt("prefSendEmailWhen", 2) == 2 && errors == 0) return {};
    const plist::Value* stored = preferences.find("prefSendEmailDict");
    std::optional<plist::Value> settings;
    if (stored != nullptr && stored->isData()) settings = sessions::GetWellDict(stored->data());
    if (!settings || !settings->isDict()) {
        LogMailed mailed;
        mailed.attempted = true;
        mailed.failures.push_back(GLS("Can't send email") + ": " +
                                  GLS("the e-mail settings can't be read"));
        return mailed;
    }
    std::string attachment = platform::LastPathComponent(logFileName);
    if (const std::size_t dot = attachment.rfind('.'); dot != std::string::npos)
        attachment.resize(dot);
    attachment = attachment.empty() ? "QVLog.txt" : attachment + ".txt";
    return SendToEach(*settings,
                      GLS(errors > 0 ? "Quorvel Log Message: Error" : "Quorvel Log Message: OK"),
                      log, attachment, stop, send);
}

LogMailed SendTestMail(const plist::Value& settings, const std::atomic<bool>* stop,
                       const MailSending& send) {
    return SendToEach(settings, GLS("Quorvel Test Email"), GLS("That's a Quorvel's Test Email"),
                      "QVLog.txt", stop, send);
}

}  // namespace qv::schedule
