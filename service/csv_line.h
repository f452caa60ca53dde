// One line of comma-separated values, as spreadsheets read them: a field holding a comma, a
// quote or a line break is quoted, its quotes doubled. Used by the files the service tools write.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace trv4 {

// The fields joined by commas, without a line end.
std::string csvLine(const std::vector<std::string>& fields);
// The fields of one line (without its line end); a quoted field may hold commas and quotes.
std::vector<std::string> csvFields(std::string_view line);

}  // namespace trv4
