#pragma once
// Which session documents the window lets act by themselves. A document received from
// elsewhere can name any folder of the user's and carry a timer due in a minute: opening it
// must not be enough to run it. The template and documents the user made or saved in the
// window are trusted; any other document is trusted once the user says so. Trust is recorded
// in the support folder by the document's path and a digest of its sessions, so that a
// document another program changed since (the command included) asks again.

#include <string>

#include "sessions/plist_value.h"

namespace qv::app {

inline constexpr const char* kTrustedDocumentsFileName = "TrustedDocuments.plist";

class DocumentTrust {
  public:
    // file: where the record is kept.
    explicit DocumentTrust(std::string file) : file_(std::move(file)) {}

    // The digest of a document's sessions (its settings, not which session is on screen).
    static std::string Digest(const plist::Value& mainDict);
    bool IsTrusted(const std::string& path, const plist::Value& mainDict) const;
    // Records the document as it now is; false (with *reason) when the record can't be written.
    bool Trust(const std::string& path, const plist::Value& mainDict, std::string* reason);

  private:
    std::string file_;
};

}  // namespace qv::app
