// Times building the message that mails a large run's log (200,000 detailed lines by default)
// and sending it to an SMTP server on the loopback (the tests' own, started here).
//   bench_mail [LINES]

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "platform/child_process.h"
#include "schedule/email_message.h"
#include "schedule/mail_sender.h"

int main(int argc, char** argv) {
    using Clock = std::chrono::steady_clock;
    const long lines = argc > 1 ? std::atol(argv[1]) : 200000;
    std::string log = "\xE2\x80\xA2 Errors: 0\r|||||||||||\r\xE2\x80\xA2 Session: \"Bench\"\r";
    for (long i = 0; i < lines; ++i) {
        log += "Copied file \"/home/ann/Documents/Projects/report-" + std::to_string(i) +
               ".txt\" to:\r";
    }
    char folder[] = "/tmp/bench-mail-XXXXXX";
    if (::mkdtemp(folder) == nullptr) return 1;
    qv::platform::ChildProcess server;
    std::string error;
    if (!server.Start({"/usr/bin/python3", QV_SOURCE_DIR "/tests/support/smtp_server.py",
                       "--folder", folder},
                      &error)) {
        std::fprintf(stderr, "no server: %s\n", error.c_str());
        return 1;
    }
    for (int i = 0; i < 500 && server.output().find('\n') == std::string::npos; ++i) server.Wait(20);
    const std::string port = server.output().substr(0, server.output().find('\n'));

    const auto t0 = Clock::now();
    const qv::schedule::MailParts parts{"qv@example.org", "ann@example.org",
                                        "Quorvel Log Message: OK", log, "QVLog.txt", 0, "bench"};
    const std::string message = qv::schedule::BuildMailMessage(parts);
    const auto t1 = Clock::now();
    const qv::schedule::MailAccount account{"qv@example.org", "127.0.0.1", port, "", "", 0, ""};
    const qv::schedule::MailSent sent = qv::schedule::SendMailMessage(
        account, "ann@example.org", message, qv::schedule::MailTimeout(log.size()), nullptr);
    const auto t2 = Clock::now();
    server.Kill();
    std::system((std::string("rm -rf ") + folder).c_str());
    const auto seconds = [](auto d) { return std::chrono::duration<double>(d).count(); };
    std::printf("log %.1f MB, %ld lines: build %.3f s, send %.3f s (%s), message %.1f MB\n",
                static_cast<double>(log.size()) / 1e6, lines, seconds(t1 - t0), seconds(t2 - t1),
                sent.ok ? "sent" : sent.reply.c_str(), static_cast<double>(message.size()) / 1e6);
    return sent.ok ? 0 : 1;
}
