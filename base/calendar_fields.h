// A time in seconds as calendar fields, safe to call from any thread.
#pragma once

#include <ctime>

namespace trv4 {

std::tm localFields(std::time_t seconds);
std::tm utcFields(std::time_t seconds);

}  // namespace trv4
