// Parameter files: the parameter window's values as plain text a person can read and diff, one
// setting per line by its caption, with the scale's address, the date and the program's version
// at the head. The PIN is never written. Loading checks every line as an upload checks a value
// (its length, its list of choices) before it changes anything. A load never changes how the
// scale talks on the line: its baud rate, parity and data bits stay the window's.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "params/parameters.h"

namespace trv4 {

inline constexpr const char* kParamFileHeading = "TRV-4 parameters";
// Larger files are refused unread: a whole file of settings is a few hundred bytes.
inline constexpr std::size_t kParamFileLimit = 64 * 1024;

// The file for the window's values; savedAt is the date and time of saving.
std::string paramFileText(const Param& param, const std::string& savedAt);

struct ParamFile {
  std::string address, savedAt, version;  // the head, as the file gives it ("" when missing)
  // The settings the operator may edit, by control name, values as the window holds them (code
  // page, "1"/"0"); the line settings among them, which a load leaves alone.
  std::vector<std::pair<std::string, std::string>> settings;
};

// The file's text checked line by line; nullopt with *error naming the line that is wrong, or
// what is missing.
std::optional<ParamFile> parseParamFile(std::string_view text, std::string* error);
// Reads and checks a file; nullopt with *error when it cannot be read, is too large or is wrong.
std::optional<ParamFile> readParamFile(const std::string& path, std::string* error);

// Fills the window with the file's settings; sends nothing. The scale address, the audit trail
// counter, the lock flags, the internal resolutions and the corner factors are the scale's own,
// and the baud rate and parity/data bits the line's: they stay as the window shows them.
void loadParamFile(Param& param, const ParamFile& file);

struct ParamDifference {
  std::string caption, window, file;  // values as the file writes them (UTF-8)
  bool loaded = true;                 // false: a line setting, which a load leaves alone
};
// The editable settings in which the window and the file differ, in the window's order.
std::vector<ParamDifference> compareParamFile(const Param& param, const ParamFile& file);

}  // namespace trv4
