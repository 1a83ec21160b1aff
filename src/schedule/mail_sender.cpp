#include "schedule/mail_sender.h"

#include <curl/curl.h>

#include <cstring>
#include <mutex>

namespace qv::schedule {

namespace {

struct Upload {
    const std::string* message;
    std::size_t sent = 0;
    const std::atomic<bool>* stop;
};

std::size_t ReadMessage(char* buffer, std::size_t size, std::size_t count, void* data) {
    auto* upload = static_cast<Upload*>(data);
    const std::size_t room = size * count;
    const std::size_t left = upload->message->size() - upload->sent;
    const std::size_t n = std::min(room, left);
    std::memcpy(buffer, upload->message->data() + upload->sent, n);
    upload->sent += n;
    return n;
}

int Progress(void* data, curl_off_t, curl_off_t, curl_off_t, curl_off_t) {
    const auto* upload = static_cast<const Upload*>(data);
    return upload->stop != nullptr && upload->stop->load() ? 1 : 0;  // non-zero aborts
}

void InitialiseOnce() {
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

// "<address>" for the SMTP envelope.
std::string Envelope(const std::string& address) {
    if (!address.empty() && address.front() == '<') return address;
    return "<" + address + ">";
}

}  // namespace

MailSent SendMailMessage(const MailAccount& account, const std::string& recipient,
                         const std::string& message, std::chrono::seconds timeout,
                         const std::atomic<bool>* stop) {
    InitialiseOnce();
    MailSent result;
    CURL* curl = curl_easy_init();
    if (curl == nullptr) {
        result.reply = "libcurl could not start";
        return result;
    }
    const bool implicitTls = account.port == "465";
    const std::string url = std::string(implicitTls ? "smtps://" : "smtp://") + account.server +
                            (account.port.empty() ? "" : ":" + account.port);
    Upload upload{&message, 0, stop};
    curl_slist* recipients = curl_slist_append(nullptr, Envelope(recipient).c_str());
    char error[CURL_ERROR_SIZE] = {0};
    curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
    curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(curl, CURLOPT_PROTOCOLS_STR, "smtp,smtps");
    curl_easy_setopt(curl, CURLOPT_USE_SSL,
                     account.useSSL == -1  ? static_cast<long>(CURLUSESSL_TRY)
                     : account.useSSL == 0 ? static_cast<long>(CURLUSESSL_NONE)
                                           : static_cast<long>(CURLUSESSL_ALL));
    if (!account.account.empty()) {
        curl_easy_setopt(curl, CURLOPT_USERNAME, account.account.c_str());
        curl_easy_setopt(curl, CURLOPT_PASSWORD, account.password.c_str());
    }
    if (!account.caFile.empty()) curl_easy_setopt(curl, CURLOPT_CAINFO, account.caFile.c_str());
    curl_easy_setopt(curl, CURLOPT_MAIL_FROM, Envelope(account.from).c_str());
    curl_easy_setopt(curl, CURLOPT_MAIL_RCPT, recipients);
    curl_easy_setopt(curl, CURLOPT_UPLOAD, 1L);
    curl_easy_setopt(curl, CURLOPT_READFUNCTION, ReadMessage);
    curl_easy_setopt(curl, CURLOPT_READDATA, &upload);
    curl_easy_setopt(curl, CURLOPT_INFILESIZE_LARGE, static_cast<curl_off_t>(message.size()));
    curl_easy_setopt(curl, CURLOPT_NOPROGRESS, 0L);
    curl_easy_setopt(curl, CURLOPT_XFERINFOFUNCTION, Progress);
    curl_easy_setopt(curl, CURLOPT_XFERINFODATA, &upload);
    curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT, 15L);
    curl_easy_setopt(curl, CURLOPT_TIMEOUT, static_cast<long>(timeout.count()));
    curl_easy_setopt(curl, CURLOPT_ERRORBUFFER, error);
    const CURLcode code = curl_easy_perform(curl);
    long response = 0;
    curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &response);
    result.ok = code == CURLE_OK;
    result.stopped = code == CURLE_ABORTED_BY_CALLBACK;
    if (!result.ok) {
        result.reply = error[0] != '\0' ? error : curl_easy_strerror(code);
        if (response != 0) result.reply += " (" + std::to_string(response) + ")";
    }
    curl_slist_free_all(recipients);
    curl_easy_cleanup(curl);
    return result;
}

}  // namespace qv::schedule
