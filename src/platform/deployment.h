#pragma once

#include <string_view>

// Deployment constants: the companion application that starts this process, and
// the outside agent service whose windows are never reported.
namespace scene::deployment {

inline constexpr std::string_view kCompanionBundleID = "app.vantu.companion";
inline constexpr std::string_view kAgentServiceBundleID = "app.vantu.agent";
inline constexpr std::string_view kAgentGuardianBundleID = "app.vantu.agent-guardian";

}  // namespace scene::deployment
