// File names as the program keeps them (UTF-8 text, whatever the folders are called) handed to
// the system: as they are on Linux, as UTF-16 on Windows, whose narrow calls would read them in
// the ANSI code page. A name that cannot be converted opens nothing, like a file that is missing.
#pragma once

#include <cstdio>
#include <filesystem>
#include <string>

namespace trv4 {

// std::fopen with a UTF-8 name; null (errno set) when it cannot be opened.
std::FILE* openFile(const std::string& name, const char* mode);
// Opens name for writing, created or emptied; null when it cannot. A named pipe nobody reads is
// refused at once instead of blocking the program, and a write that a pipe or device cannot
// take at once fails (EAGAIN) instead of waiting for it.
std::FILE* createOrEmptyFile(const std::string& name);
// Creates a new file for writing with the permission bits mode (where the system has them);
// fails when the name already exists. Null (errno set) when it cannot be created.
std::FILE* createNewFile(const std::string& name, unsigned mode);
// Deletes the file (never a folder); false when it could not.
bool removeFile(const std::string& name);
// The path of a UTF-8 name, for std::filesystem and the file streams.
std::filesystem::path filePath(const std::string& name);
// A path as UTF-8 text, the way the program keeps names.
std::string fileNameText(const std::filesystem::path& path);
// Whether the open file is still the one path names (not moved, deleted or replaced).
bool isFileAt(std::FILE* file, const std::string& path);

}  // namespace trv4
