#include "base/calendar_fields.h"

namespace trv4 {

std::tm localFields(std::time_t seconds) {
  std::tm fields{};
#ifdef _WIN32
  localtime_s(&fields, &seconds);
#else
  localtime_r(&seconds, &fields);
#endif
  return fields;
}

std::tm utcFields(std::time_t seconds) {
  std::tm fields{};
#ifdef _WIN32
  gmtime_s(&fields, &seconds);
#else
  gmtime_r(&seconds, &fields);
#endif
  return fields;
}

}  // namespace trv4
