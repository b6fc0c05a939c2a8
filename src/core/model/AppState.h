#pragma once

namespace sayloft {

// What the tray icon shows. Carries no payload: the reason for an error goes to a notification.
enum class AppState { idle, recording, transcribing, error };

}  // namespace sayloft
