#include "app/root_relaunch.h"

namespace qv::app {

namespace {
// pkexec's status when the user dismissed its dialog.
constexpr int kLauncherCancelled = 126;
// The ready line and a little more: the new instance says nothing else on standard output.
constexpr std::size_t kOutputCap = 4096;
}  // namespace

RootRelaunch::RootRelaunch(std::vector<std::string> launcher) : launcher_(std::move(launcher)) {}

RootRelaunch::Status RootRelaunch::Start(const std::string& executable) {
    child_.reset();
    if (!platform::IsExecutableFile(executable)) return status_ = Status::NotFound;
    std::vector<std::string> argv = launcher_;
    argv.push_back(executable);
    argv.emplace_back(kSetUidRootArgument);
    child_ = std::make_unique<platform::ChildProcess>();
    std::string error;
    if (!child_->Start(argv, &error, kOutputCap)) {
        child_.reset();
        return status_ = Status::Denied;
    }
    return status_ = Status::Pending;
}

RootRelaunch::Status RootRelaunch::Poll() {
    if (status_ != Status::Pending || !child_) return status_;
    const bool ended = child_->Poll();
    if (child_->output().find(std::string(kRootReadyLine) + "\n") != std::string::npos) {
        // The new instance carries on after this one has quit.
        child_->Release();
        child_.reset();
        return status_ = Status::Started;
    }
    if (!ended) return status_;
    status_ = child_->exitCode() == kLauncherCancelled ? Status::Cancelled : Status::Denied;
    child_.reset();
    return status_;
}

std::string RootRelaunch::OwnExecutable() { return platform::OwnExecutablePath(); }

}  // namespace qv::app
