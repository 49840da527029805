// The file-system calls that make a run's output durable or check it, each
// throwing FileError (or Failure) with the path and the system's reason.
#pragma once

#include <string>

namespace tollbook {

// The system's text for an errno value ("Permission denied").
std::string SystemErrorText(int error_number);

// True when a and b name the same file, whether or not it exists yet.
bool SameFile(const std::string& a, const std::string& b);

// Flushes the directory entry of a newly created file to disk: fsyncs the
// directory that holds path. Throws FileError on failure.
void SyncParentDirectory(const std::string& path);

// Flushes every file of the file system that holds folder (the scratch files).
void SyncFileSystemOf(const std::string& folder);

// Throws when path no longer names the file open as fd (removed, renamed or
// replaced since it was opened): lines synced there would be lost with it.
void CheckStillInPlace(const std::string& path, int fd);

// Proves that files can be created in folder, as a run's scratch files will
// be: creates a file of a unique name there and removes it again.
void CheckFolderTakesNewFiles(const std::string& folder);

// Proves that path can be written without changing it: an existing file is
// opened for writing (not emptied), a missing one needs a folder this process
// may create files in. Throws FileError naming the path.
void CheckWritableUnchanged(const std::string& path);

// Unlinks path; throws FileError when it cannot.
void RemoveFile(const std::string& path);

}  // namespace tollbook
