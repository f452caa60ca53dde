// The journal's high-water mark, TRV4CAP.SEQ beside it: one number, at least the highest
// sequence number any journal in the folder has used. Numbers are set aside a block at a time,
// so the file is written once every kSequenceBlock captures, not at each. A journal lost or
// damaged beyond reading continues above it, so no number is used twice.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace trv4 {

inline constexpr const char* kSequenceMarkFileName = "TRV4CAP.SEQ";
inline constexpr uint64_t kSequenceBlock = 1000;

// The number in the file; nothing when it is missing or holds anything else.
std::optional<uint64_t> readSequenceMark(const std::string& path);
// Writes the number whole (a new file synced and renamed over the old one, and the folder
// synced); false when it could not, the old file then being as it was.
bool writeSequenceMark(const std::string& path, uint64_t mark);

}  // namespace trv4
