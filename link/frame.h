// Link frames: STX, address, body, two-character block check, ETX.
#pragma once

#include <string>
#include <string_view>

namespace trv4 {

inline constexpr char STX = '\x02';
inline constexpr char ETX = '\x03';

// The two block-check characters of a frame text running from STX to the end of the body.
std::string FrameBcc(std::string_view frame);

}  // namespace trv4
