#include "app/document_trust.h"

#include "platform/file_io.h"
#include "platform/sha256.h"
#include "sessions/plist_codec.h"

namespace qv::app {

namespace {

// Paths are bytes and need not be text: the record is keyed by their digest.
std::string KeyOf(const std::string& path) { return platform::Sha256Hex(path); }

}  // namespace

std::string DocumentTrust::Digest(const plist::Value& mainDict) {
    const plist::Value* sessions = mainDict.find("sessionsArray");
    std::string text;
    if (sessions == nullptr || !plist::ToBinary(*sessions, &text, nullptr)) return {};
    return platform::Sha256Hex(text);
}

bool DocumentTrust::IsTrusted(const std::string& path, const plist::Value& mainDict) const {
    const std::string digest = Digest(mainDict);
    if (path.empty() || digest.empty()) return false;
    const plist::ReadResult record = plist::ReadFile(file_);
    if (!record.value || !record.value->isDict()) return false;
    const plist::Value* known = record.value->find(KeyOf(path));
    return known != nullptr && known->isString() && known->str() == digest;
}

bool DocumentTrust::Trust(const std::string& path, const plist::Value& mainDict,
                          std::string* reason) {
    const std::string digest = Digest(mainDict);
    if (path.empty() || digest.empty()) {
        if (reason != nullptr) *reason = "the document has no file or no sessions";
        return false;
    }
    // A damaged record is started again: at worst, documents ask once more.
    const plist::ReadResult record = plist::ReadFile(file_);
    plist::Value updated =
        record.value && record.value->isDict() ? *record.value : plist::Value(plist::Dict{});
    updated.set(KeyOf(path), digest);
    platform::AtomicWriteOptions options;
    options.followLink = false;
    options.removeLeftovers = true;
    const platform::WriteResult written = plist::WriteXmlFile(file_, updated, options);
    if (!written.ok && reason != nullptr) *reason = written.reason;
    return written.ok;
}

}  // namespace qv::app
