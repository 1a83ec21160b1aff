#include "engine/session_errors.h"

#include <utility>

namespace qv::engine {

void SessionErrors::Record(std::int64_t sessionIndex, std::string message, std::int64_t count) {
    if (!message.empty() && message.back() == '.') message.pop_back();
    state_.mErrString = std::move(message);
    Errors& errors = sessions_[sessionIndex];
    errors.count += count;
    if (state_.config.gMakeDetailedLog || state_.config.gMakeErrorsLog) {
        errors.logText += run::kErrorMarker + state_.mErrString + "\r";
    }
    errors_.ListError();
    errors_.ManageTheError(state_.mErrString, 0);
}

void SessionErrors::Note(std::int64_t sessionIndex, const std::string& line) {
    if (state_.config.gMakeDetailedLog) sessions_[sessionIndex].logText += line + "\r";
}

std::int64_t SessionErrors::CountOf(std::int64_t sessionIndex) const {
    const auto found = sessions_.find(sessionIndex);
    return found == sessions_.end() ? 0 : found->second.count;
}

std::int64_t SessionErrors::Take(std::int64_t sessionIndex, std::string* logText) {
    const auto found = sessions_.find(sessionIndex);
    if (found == sessions_.end()) return 0;
    if (logText != nullptr) *logText += std::exchange(found->second.logText, {});
    return std::exchange(found->second.count, 0);
}

std::int64_t SessionErrors::TakeRemaining() {
    std::int64_t sum = 0;
    for (auto& [index, errors] : sessions_) sum += std::exchange(errors.count, 0);
    return sum;
}

}  // namespace qv::engine
