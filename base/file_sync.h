// Forcing what was written to a file onto the disk, and its failure.
#pragma once

#include <string>

namespace trv4 {

// The data written to fd so far reaches the disk; false when that failed. Files that cannot be
// synced at all, such as devices and pipes, count as synced.
bool syncData(int fd);
// The whole file, its size and times too; false on any failure.
bool syncFile(int fd);
// The folder holding path, so that a rename into it lasts too. Where folders cannot be synced
// (or the rename itself writes through, as on Windows) it does nothing.
void syncFolderOf(const std::string& path);

}  // namespace trv4
