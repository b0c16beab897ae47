// Files a user names: read whole with a reason when they cannot be, written
// whole or not at all.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>

#include "errors.hpp"

namespace zelk8::report {

// Writes `text` to `target` through a temporary file beside it, synced and
// renamed over the target once complete (and the folder synced after), so
// that a failure (a full disk, no permission, an interrupt) leaves the
// previous file or none, never part of one. A new file gets the mode the
// umask gives (0666 & ~umask); a file replaced keeps its mode. A target that
// exists and is neither a regular file nor a folder (a device such as
// /dev/stdout, a pipe) is written directly. While the temporary file exists
// the interrupt handler of end_on_interrupt() removes it. Throws OutputError
// "cannot write PATH: REASON".
void write_whole(const std::filesystem::path& target, std::string_view text);

// The same rule for a file of a folder that is built under a temporary name
// and put in place whole (a batch's crystal folder): nobody sees the file
// before the folder is renamed, so it is written straight to `target` (a new
// file, mode 0666 & ~umask), without a temporary name of its own and without
// a sync of its own: sync_staged() syncs the whole folder before its rename.
// Throws OutputError "cannot write PATH: REASON", leaving no part of the file.
void write_staged(const std::filesystem::path& target, std::string_view text);

// A folder whose files are written with write_staged() and put on disk
// together, before the folder is renamed into place: its files are synced
// side by side (one cache flush of the device for all of them, where the
// kernel merges them) and then its entries. A failed write-back is reported
// by sync().
class StagedFolder {
 public:
  // Throws OutputError "cannot write FOLDER: REASON" when it cannot be opened.
  explicit StagedFolder(const std::filesystem::path& folder);
  ~StagedFolder();
  StagedFolder(const StagedFolder&) = delete;
  StagedFolder& operator=(const StagedFolder&) = delete;
  // Throws OutputError "cannot write PATH: REASON", PATH the file or the
  // folder that could not be synced.
  void sync() const;

 private:
  std::filesystem::path folder_;
  int fd_;
};

// Syncs a folder's entries (the names of the files made or renamed in it).
void sync_folder(const std::filesystem::path& folder);

// The whole contents of the regular file `path`. Throws InputError "cannot
// read WHAT PATH: REASON" (missing, a folder, no permission); `what` (e.g.
// "the CIF") may be empty.
std::string read_whole(const std::filesystem::path& path, const std::string& what = "");

// The reason for a system error number as these messages give it, e.g. "no
// such file (check the name and the folder)".
std::string file_error_reason(int error);

}  // namespace zelk8::report
