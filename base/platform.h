// Whether this build runs on Windows, for the few choices made in plain code rather than in a
// function of its own (port names, message wording).
#pragma once

namespace trv4 {

#ifdef _WIN32
inline constexpr bool kOnWindows = true;
#else
inline constexpr bool kOnWindows = false;
#endif

}  // namespace trv4
