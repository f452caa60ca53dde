// Files written whole: the text goes to a new file that is forced to the disk, and only then
// replaces the old one in one rename, so a failed write never leaves the old file truncated.
#pragma once

#include <string>

namespace trv4 {

// Writes the whole text to path and forces it to the disk; false (and no file) on any failure.
bool writeWholeFile(const std::string& path, const std::string& text);
// Renames from over to, replacing a file of that name; false (errno set) when the rename failed.
bool renameOver(const std::string& from, const std::string& to);
// Writes path + ".tmp", then renames it over path; false when either step failed, the old file
// then being as it was.
bool replaceWholeFile(const std::string& path, const std::string& text);

}  // namespace trv4
