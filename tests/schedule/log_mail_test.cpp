// Mailing the log: the message as built, and sent through libcurl to an SMTP server the test
// starts on 127.0.0.1 (plain, with a login, with STARTTLS, and one that never answers).

#include "schedule/log_mail.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <thread>

#include "platform/child_process.h"
#include "schedule/email_message.h"
#include "sessions/well.h"
#include "support/test_support.h"

namespace qv::schedule {
namespace {

// Decodes Base64 text, line ends ignored.
std::string FromBase64(const std::string& text) {
    static const std::string kAlphabet =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    unsigned bits = 0, value = 0;
    for (const char c : text) {
        const std::size_t at = kAlphabet.find(c);
        if (at == std::string::npos) continue;
        value = (value << 6) | static_cast<unsigned>(at);
        bits += 6;
        if (bits >= 8) {
            bits -= 8;
            out += static_cast<char>((value >> bits) & 0xff);
        }
    }
    return out;
}

TEST(MailMessageTest, HeadersTheLogAsCrlfTextAndALongLogAttachedByteForByte) {
    MailParts parts{
        "qv@example.org", "ann@example.org", "Journal – erreurs", "", "QVLog_1.txt", 0, "host"};
    parts.log = "• Errors: 1\r\"caf\xff\"\r";
    std::string m = BuildMailMessage(parts);
    EXPECT_NE(m.find("From: qv@example.org\r\nTo: ann@example.org\r\n"), std::string::npos);
    EXPECT_NE(m.find("Subject: =?UTF-8?B?"), std::string::npos);
    EXPECT_NE(m.find("\r\nDate: "), std::string::npos);
    EXPECT_NE(m.find("\r\nMessage-ID: <0."), std::string::npos);
    EXPECT_NE(m.find("MIME-Version: 1.0\r\nContent-Type: text/plain; charset=utf-8"),
              std::string::npos);
    EXPECT_NE(m.find("\r\n\r\n\xE2\x80\xA2 Errors: 1\r\n\"caf\\xff\"\r\n"), std::string::npos) << m;
    const std::size_t subject = m.find("=?UTF-8?B?") + 10;
    EXPECT_EQ(FromBase64(m.substr(subject, m.find("?=", subject) - subject)), "Journal – erreurs");

    // A line longer than SMTP carries goes quoted-printable, every line within 76 characters.
    parts.log = "Copied \"" + std::string(1500, 'p') + "=\xc3\xa9\"\r";
    m = BuildMailMessage(parts);
    EXPECT_NE(m.find("Content-Transfer-Encoding: quoted-printable\r\n\r\nCopied \"ppp"),
              std::string::npos);
    EXPECT_NE(m.find("p=3D=C3=A9\"\r\n"), std::string::npos);
    std::size_t longest = 0, start = 0;
    for (std::size_t end = m.find("\r\n"); end != std::string::npos; end = m.find("\r\n", start)) {
        longest = std::max(longest, end - start);
        start = end + 2;
    }
    EXPECT_LE(longest, 76u);

    // 200,000 characters go inline; one more and the body is cut before the first session,
    // the whole log attached.
    const std::string head = "• Run\r|||||||||\r• Session: \"S\"\r";
    // The head is 31 characters ("•" is one, of three bytes); the stray byte 0xfe is one.
    parts.log = head + std::string(kAttachLogFrom - 1 - 31 - 1, 'x') + "\xfe";
    m = BuildMailMessage(parts);
    EXPECT_EQ(m.find("multipart/mixed"), std::string::npos);
    parts.log += "y";
    m = BuildMailMessage(parts);
    EXPECT_NE(m.find("multipart/mixed"), std::string::npos);
    EXPECT_NE(m.find("\r\n\xE2\x80\xA2 Run\r\n|||||||||\r\n\r\nFind the whole Log file in the "
                     "attachment\r\n"),
              std::string::npos);
    std::string saved = parts.log;  // as the saved text log holds it: LF line ends
    std::replace(saved.begin(), saved.end(), '\r', '\n');
    const std::size_t attached = m.find("Content-Transfer-Encoding: base64\r\n\r\n") + 37;
    EXPECT_TRUE(FromBase64(m.substr(attached, m.rfind("--quorvel") - attached)) == saved);
    EXPECT_NE(m.find("filename=\"QVLog_1.txt\""), std::string::npos);
}

// The SMTP server of tests/support/smtp_server.py, in a folder of its own.
class SmtpServer {
  public:
    explicit SmtpServer(std::vector<std::string> options) {
        std::vector<std::string> argv = {"/usr/bin/python3", QV_TEST_SUPPORT_DIR "/smtp_server.py",
                                         "--folder", dir_.path()};
        argv.insert(argv.end(), options.begin(), options.end());
        std::string error;
        started_ = server_.Start(argv, &error);
        for (int i = 0; started_ && i < 500 && server_.output().find('\n') == std::string::npos;
             ++i) {
            server_.Wait(20);
        }
        if (server_.output().find('\n') != std::string::npos)
            port_ = server_.output().substr(0, server_.output().find('\n'));
    }
    const std::string& port() const { return port_; }
    std::vector<std::string> Messages() const {
        std::vector<std::string> messages;
        for (int i = 0;; ++i) {
            char name[16];
            std::snprintf(name, sizeof name, "/%03d.eml", i);
            const std::string text = test::ReadText(dir_.path() + name);
            if (text.empty()) return messages;
            messages.push_back(text);
        }
    }
    test::TempDir dir_;

  private:
    platform::ChildProcess server_;
    bool started_ = false;
    std::string port_;
};

bool HaveServer() {
    return test::RunCommand("/usr/bin/python3 -c 'import aiosmtpd' 2>/dev/null") == 0;
}

plist::Value Preferences(const plist::Value& settings, std::int64_t when) {
    return plist::Dict{{"prefSendEmail", 1},
                       {"prefSendEmailWhen", when},
                       {"prefSendEmailDict", sessions::SetWellDict(settings)}};
}

plist::Value Settings(const std::string& port, const std::string& to) {
    return plist::Dict{{"mSendEmailTo", to},          {"mSendEmailFrom", "qv@example.org"},
                       {"mSendEmailAccountID", "qv"}, {"mSendEmailSMTP", "127.0.0.1"},
                       {"mSendEmailPort", port},      {"mSendEmailPassword", "right horse"},
                       {"mSendEmailUseSSL", 0}};
}

TEST(LogMailTest, EachRecipientGetsTheLogAndARefusedLoginIsAFailure) {
    if (!HaveServer()) GTEST_SKIP() << "needs python3-aiosmtpd";
    SmtpServer server({"--user", "qv", "--password", "right horse"});
    ASSERT_FALSE(server.port().empty());
    const std::string log = "• Session: \"Caf\xe9\" - Errors: 1\r";
    plist::Value settings = Settings(server.port(), "ann@example.org, ,bob@example.org,");
    // Only with errors: a clean run mails nothing.
    EXPECT_FALSE(MailTheLog(Preferences(settings, 2), log, 0, "", nullptr).attempted);
    const LogMailed mailed =
        MailTheLog(Preferences(settings, 2), log, 1, "/logs/QVLog_9.rtf", nullptr);
    EXPECT_TRUE(mailed.ok()) << mailed.failures.front();
    EXPECT_EQ(mailed.sentTo, (std::vector<std::string>{"ann@example.org", "bob@example.org"}));
    const std::vector<std::string> messages = server.Messages();
    ASSERT_EQ(messages.size(), 2u);
    EXPECT_EQ(messages[0].rfind("RCPT: ann@example.org\n", 0), 0u);
    EXPECT_EQ(messages[1].rfind("RCPT: bob@example.org\n", 0), 0u);
    EXPECT_NE(messages[0].find("Subject: Quorvel Log Message: Error\r\n"), std::string::npos);
    EXPECT_NE(messages[0].find("\r\n\r\n\xE2\x80\xA2 Session: \"Caf\\xe9\" - Errors: 1\r\n"),
              std::string::npos)
        << messages[0];

    settings.set("mSendEmailPassword", "wrong horse");
    const LogMailed refused = MailTheLog(Preferences(settings, 1), log, 0, "", nullptr);
    ASSERT_EQ(refused.failures.size(), 2u);
    EXPECT_NE(refused.failures[0].find("Can't send email (ann@example.org)"), std::string::npos);
    EXPECT_NE(refused.failures[0].find("535"), std::string::npos) << refused.failures[0];
}

TEST(LogMailTest, StartTlsWithTheServersCertificate) {
    if (!HaveServer()) GTEST_SKIP() << "needs python3-aiosmtpd";
    test::TempDir dir;
    ASSERT_EQ(test::RunCommand("openssl req -x509 -newkey rsa:2048 -nodes -days 1 -subj "
                               "/CN=127.0.0.1 -addext subjectAltName=IP:127.0.0.1 -keyout " +
                               dir / "key.pem" + " -out " + dir / "cert.pem" + " 2>/dev/null"),
              0);
    SmtpServer server({"--cert", dir / "cert.pem", "--key", dir / "key.pem"});
    ASSERT_FALSE(server.port().empty());
    MailAccount account{"qv@example.org", "127.0.0.1", server.port(), "", "", 1, dir / "cert.pem"};
    const MailSent sent =
        SendMailMessage(account, "ann@example.org", "Subject: t\r\n\r\nover TLS\r\n",
                        std::chrono::seconds(20), nullptr);
    EXPECT_TRUE(sent.ok) << sent.reply;
    ASSERT_EQ(server.Messages().size(), 1u);
    // Without its certificate the server is not trusted: nothing is sent in the clear.
    account.caFile.clear();
    EXPECT_FALSE(SendMailMessage(account, "ann@example.org", "Subject: t\r\n\r\nx\r\n",
                                 std::chrono::seconds(20), nullptr)
                     .ok);
    EXPECT_EQ(server.Messages().size(), 1u);
}

TEST(LogMailTest, AServerThatNeverAnswersEndsAtTheTimeLimitOrAtOnceOnStop) {
    SmtpServer server({"--silent"});
    ASSERT_FALSE(server.port().empty());
    const MailAccount account{"qv@example.org", "127.0.0.1", server.port(), "", "", 0, ""};
    auto started = std::chrono::steady_clock::now();
    MailSent sent =
        SendMailMessage(account, "a@example.org", "x\r\n", std::chrono::seconds(1), nullptr);
    EXPECT_FALSE(sent.ok);
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(10));
    std::atomic<bool> stop{false};
    std::thread stopper([&stop] {
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        stop = true;
    });
    started = std::chrono::steady_clock::now();
    sent = SendMailMessage(account, "a@example.org", "x\r\n", std::chrono::seconds(60), &stop);
    stopper.join();
    EXPECT_TRUE(sent.stopped);
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(10));
}

}  // namespace
}  // namespace qv::schedule
