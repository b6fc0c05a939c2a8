#include "app/FailureReaction.h"

namespace sayloft {

FailureReaction FailureReaction::to(std::optional<APIError> error, const Texts& texts) {
    if (!error) {
        return {texts.transcriptionFailedTitle, texts.otherFailureBody, false};
    }
    switch (*error) {
        case APIError::network:
        case APIError::timedOut:
            return {texts.networkTitle, texts.recordingSavedBody, true};
        case APIError::asrFailed:
        case APIError::badResponse:
            return {texts.transcriptionFailedTitle, texts.recordingSavedBody, true};
        case APIError::unauthorized:
            return {texts.unauthorizedTitle, texts.unauthorizedBody, false};
        case APIError::rateLimited:
            return {texts.rateLimitedTitle, texts.rateLimitedBody, false};
    }
    return {texts.transcriptionFailedTitle, texts.otherFailureBody, false};
}

}  // namespace sayloft
