#include "items/error_path.h"

#include "platform/localization.h"

namespace qv::items {

using platform::GLS;

void ErrorPath::SetErrMsg(std::initializer_list<std::string_view> texts) {
    std::string message;
    for (auto t : texts) message += t;
    state_.mErrString = std::move(message);
}

void ErrorPath::AppendErrMsg(std::initializer_list<std::string_view> texts) {
    for (auto t : texts) state_.mErrString += t;
}

void ErrorPath::LogErrString() {
    if (state_.config.gMakeDetailedLog || state_.config.gMakeErrorsLog) {
        state_.task.gDetailedLogText += run::kErrorMarker + state_.mErrString + "\r";
    }
}

void ErrorPath::LogAndCountError() {
    LogErrString();
    ++state_.task.gTotError;
    ListError();
}

void ErrorPath::ListError() {
    if (state_.totals.gErrorMessages.size() < run::kMaxListedErrors) {
        state_.totals.gErrorMessages.push_back(state_.mErrString);
    }
}

bool ErrorPath::AddErrQuickly(int forceToCase) {
    LogAndCountError();
    if (!state_.MayAsk()) return true;
    return ManageTheError(state_.mErrString, forceToCase);
}

bool ErrorPath::ManageTheError(const std::string& message, int forceToCase) {
    // After a Stop nobody is asked, nor shown, what the Stop itself brought about (a script it
    // ended, an item left half way): the error is logged and counted, and the run ends.
    if (state_.mUserPressedStop) {
        state_.mIsCopying = false;
        return false;
    }
    const int policy = forceToCase != 0  ? forceToCase
                       : state_.MayAsk() ? state_.config.gIsOnError
                                         : run::kOnErrorContinue;
    const std::string title =
        state_.gErrorTitleDialog.empty() ? GLS("Warning:") : state_.gErrorTitleDialog;
    // The message ends its sentence before the question, unless it already ends one.
    const char last = message.empty() ? '\0' : message.back();
    const std::string ended = message + (last == '.' || last == '?' || last == '!' ? "" : ".");
    bool goOn = false;
    switch (policy) {
        case run::kOnErrorStop:
            proxy_.ShowErrorAndStop(title, ended + "\r" + GLS("The process stopped."));
            break;
        case run::kOnErrorContinue:
            goOn = true;
            break;
        case run::kOnErrorAsk: {
            const auto answer =
                proxy_.AskAboutItemError(title, ended + "\r" + GLS("Would you skip and continue?"));
            goOn = answer != run::MainThreadProxy::ErrorAnswer::Stop;
            // The later errors of this run are logged and counted without a question.
            if (answer == run::MainThreadProxy::ErrorAnswer::SkipAll) {
                state_.config.gIsOnError = run::kOnErrorContinue;
            }
            if (!goOn) state_.mUserPressedStop = true;
            break;
        }
        default:
            break;
    }
    if (!goOn) state_.mIsCopying = false;
    return goOn;
}

run::ConflictReply ErrorPath::AskReplace(const run::ConflictQuestion& question) {
    if (!state_.MayAsk()) return {run::ConflictAnswer::Skip, false};
    run::ConflictReply reply = proxy_.AskReplace(question);
    if (reply.answer == run::ConflictAnswer::Stop) {
        state_.mIsCopying = false;
        state_.mUserPressedStop = true;
    }
    return reply;
}

}  // namespace qv::items
