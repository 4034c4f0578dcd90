#pragma once
// Whole-file reading and crash-safe replacement of files, and the command file layer on top of them.
//
// Files hold single-byte text: bytes pass through unchanged, nothing is re-encoded.

#include <cstddef>
#include <string>

namespace TextFile {

// Outcome of ReadRegularFile.
enum class ReadResult {
    Ok,        // the whole file is in `bytes`
    Missing,   // the path (or a folder on it) does not exist
    TooLarge,  // the file holds more than `limit` bytes; `bytes` is unspecified
    Failed,    // not a regular file, or it could not be opened or read; errno tells why
};

// Reads the regular file at `path` whole. Anything that is not a regular file (a folder, a FIFO, a
// device) is refused without blocking. When `sharedLock` is true, a shared advisory lock (flock) is
// held while reading, so that a cooperating writer waits until the read is done; a file whose lock
// stays taken by a writer for about a second counts as unreadable. At most `limit` bytes are
// accepted, so a file that grows without end cannot exhaust the memory.
ReadResult ReadRegularFile(const std::string& path, std::string& bytes, std::size_t limit, bool sharedLock);

// Replaces the content of the file at `path` by `bytes`, as a write in place would, but so that the
// path names either the old file whole or the new one whole wherever that can be had: the bytes go to
// a new file in the same folder, are flushed to the disk (fsync) and then renamed over the old name.
// The new file takes the old one's owner, group and permission bits; a file created afresh gets 0666
// masked by the umask. When `path` is a symbolic link, the file it points to is replaced and the link
// stays.
//
// A file that this user may not write is never replaced, whatever the folder allows. Where the
// replacement could not keep what a write in place keeps (a file with other hard links, a file whose
// owner or group this user cannot give away) or where no new file can be made beside it (a folder the
// user may not write), the file is written where it stands instead, under an exclusive advisory lock.
// Anything that is not a regular file is never replaced. Returns false on failure with errno set;
// the old file is then untouched (except after a write in place that failed part-way) and no
// temporary file is left behind.
bool ReplaceFile(const std::string& path, const std::string& bytes);

// A random part for the name of a replacement's temporary file (12 hexadecimal digits), so that writers
// at the same moment, in this process or another, never choose the same name.
std::string TemporarySuffix();

// True when the file at `path` may be written by this user, or does not exist yet; errno tells why
// not otherwise. Nothing is changed.
bool MayWrite(const std::string& path);

// The system's text for the failure that the last call above reported on this thread, given its errno:
// on Linux errno's own text; on Windows the text of the system's error code that the call left
// (GetLastError), where the functions above keep it. Paths and texts on Windows are UTF-8 (see
// FileNames::Native).
//
// On Windows the same rules hold with the system's means: UTF-16 names, a shared read that a writer
// holding the file keeps out for about a second, the new file flushed (FlushFileBuffers) and put in the
// old one's place with ReplaceFileW, which keeps its attributes and security, or moved to the name
// (MoveFileExW) when there is no old file. A read-only file is never replaced, and neither is a device.
std::string ErrorText(int error);

}  // namespace TextFile

// Converts every CR not followed by LF, and every LF not preceded by CR, into CR LF. A CR LF pair stays
// one line break; an LF followed by a CR becomes two.
std::string NormalizeLineBreaks(const std::string& bytes);

// Reads the command file at `path` whole (under a shared advisory lock) and returns its bytes with
// the line breaks normalized. Throws EFOpenError "Cannot open file <path>" when the file cannot be
// opened or read or is not a regular file, and Exception "Text exceeds memo capacity" when the
// normalized text holds more than `capacity` bytes.
std::string LoadCommandFile(const std::string& path, std::size_t capacity);

// Writes `bytes` unchanged to the command file at `path` (see TextFile::ReplaceFile). Throws
// EFCreateError "Cannot create file <path>" on failure, with the old file left as it was.
void SaveCommandFile(const std::string& path, const std::string& bytes);
