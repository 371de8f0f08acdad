#pragma once

#include <QString>

// Whether a copy must carry its source's permission bits. Disks of other
// systems (a FAT USB stick) cannot hold them; the data and the time still count.
enum class FileModeCopy { Required, BestEffort };

// Copies one regular file with its mode and modification time, the data moved
// inside the kernel where the file systems allow it and through a buffer where
// they do not. Nothing is flushed to disk here: callers that need the copy on
// the disk sync its file system once after the last file, which is several
// times faster than a flush per file. The target must not exist. Anything but
// a regular file (a pipe, a device) is refused without blocking, and a partial
// target is removed. A file that shrinks while it is copied counts as failed.
// failure (may be null) says why on failure.
bool copyRegularFile(const QString& from, const QString& to, FileModeCopy mode, QString* failure = nullptr);
