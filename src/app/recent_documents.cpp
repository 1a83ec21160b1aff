#include "app/recent_documents.h"

#include <algorithm>

#include "platform/file_io.h"

namespace qv::app {

namespace {
// One path after the other, each ended by a NUL byte: the one byte no path can hold.
constexpr std::size_t kMaxFileBytes = 64 * 1024;
}  // namespace

RecentDocuments::RecentDocuments(std::string file) : file_(std::move(file)) {}

void RecentDocuments::Read() {
    paths_.clear();
    platform::ReadFileResult read = platform::ReadWholeFile(file_, kMaxFileBytes);
    if (read.status != platform::ReadStatus::Ok) return;
    std::size_t start = 0;
    for (std::size_t end; (end = read.bytes.find('\0', start)) != std::string::npos;
         start = end + 1) {
        std::string path = read.bytes.substr(start, end - start);
        if (!path.empty() && path.front() == '/' && paths_.size() < kMaxDocuments &&
            std::find(paths_.begin(), paths_.end(), path) == paths_.end()) {
            paths_.push_back(std::move(path));
        }
    }
}

void RecentDocuments::Add(const std::string& path) {
    if (path.empty() || path.front() != '/' || path.find('\0') != std::string::npos) return;
    Read();  // another window or the command may have added one meanwhile
    paths_.erase(std::remove(paths_.begin(), paths_.end(), path), paths_.end());
    paths_.insert(paths_.begin(), path);
    if (paths_.size() > kMaxDocuments) paths_.resize(kMaxDocuments);
    Write();
}

void RecentDocuments::Remove(const std::string& path) {
    Read();
    paths_.erase(std::remove(paths_.begin(), paths_.end(), path), paths_.end());
    Write();
}

void RecentDocuments::Clear() {
    paths_.clear();
    Write();
}

void RecentDocuments::Write() {
    std::string bytes;
    for (const std::string& p : paths_) bytes += p + '\0';
    platform::CreateFolderWithFoldersInBetween(platform::ParentFolder(file_));
    platform::WriteFileAtomically(file_, bytes);
}

}  // namespace qv::app
