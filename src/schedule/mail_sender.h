#pragma once
// Sending one message over SMTP (libcurl): STARTTLS or SMTPS with the system's certificate
// checks, the password held in memory only, a time limit, and Stop interrupting it.

#include <atomic>
#include <chrono>
#include <string>

namespace qv::schedule {

struct MailAccount {
    std::string from;
    std::string server;   // host name or address
    std::string port;     // "" for the default
    std::string account;  // "" for no login
    std::string password;
    std::int64_t useSSL = -1;  // -1 TLS when offered, 0 none, any other value TLS required
    // Certificates to trust in place of the system's (a test's own server); "" for the system's.
    std::string caFile;
};

struct MailSent {
    bool ok = false;
    bool stopped = false;
    std::string reply;  // why it failed: the server's answer or libcurl's reason
};

MailSent SendMailMessage(const MailAccount& account, const std::string& recipient,
                         const std::string& message, std::chrono::seconds timeout,
                         const std::atomic<bool>* stop);

// The time a message of that many characters may take: 15 s, and one more per 17,479 characters.
inline std::chrono::seconds MailTimeout(std::size_t characters) {
    return std::chrono::seconds(static_cast<long long>(characters / 17479 + 15));
}

}  // namespace qv::schedule
