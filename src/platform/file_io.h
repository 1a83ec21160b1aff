#pragma once
// Whole-file reading and crash-safe whole-file writing, for the small documents Quorvel keeps
// (session documents, preferences, string tables). Paths are byte strings.

#include <sys/types.h>

#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace qv::platform {

enum class ReadStatus { Ok, Missing, NotAFile, TooLarge, Unreadable };

struct ReadFileResult {
    ReadStatus status = ReadStatus::Unreadable;
    std::string bytes;   // the file's content when status is Ok
    std::string reason;  // a short text for people when status is not Ok
    // Who owned the file read and its mode, taken from the open file itself, when status is Ok.
    uid_t owner = 0;
    mode_t mode = 0;
};

// Reads a whole regular file of at most maxBytes bytes. Never blocks on a FIFO or a device:
// anything that is not a regular file is NotAFile.
ReadFileResult ReadWholeFile(const std::string& path, std::size_t maxBytes);
// The first maxBytes bytes of a regular file (all of it when shorter), for a look at what a
// file begins with. A link at path is not followed (NotAFile): listings use it on names they
// found to be files, and a link put there since must not send the read elsewhere.
ReadFileResult ReadFileHead(const std::string& path, std::size_t maxBytes);

struct AtomicWriteOptions {
    // The mode the new file gets; without it, the replaced file's mode or, for a new file,
    // 0666 less the process umask.
    std::optional<mode_t> mode;
    // A document the user may have made a link to is written where the link points, so that
    // the link stays a link. Quorvel's own files are not: a link put at their name is replaced,
    // and nothing is written through it.
    bool followLink = true;
    // Temporaries of this file that an interrupted write left (a kill between creating and
    // renaming) are removed first.
    bool removeLeftovers = false;
    // A file its user made read-only (no write permission for anyone, or none for this
    // process) is left as it is: replacing it by a rename would not ask the file, only its
    // folder.
    bool refuseReadOnly = false;
};

enum class WriteStep { None, Create, Mode, Write, Flush, Rename };

struct WriteResult {
    bool ok = false;
    WriteStep failedAt = WriteStep::None;
    std::string reason;  // why it failed, for people
};

// Writes bytes to path so that path holds either its old content or all of the new content,
// whatever fails: a temporary file in the same folder is given its mode, written, flushed and
// renamed over the target. A symbolic link at path is followed (unless options say not), so the
// link stays a link.
// On failure the temporary file is removed and the target is untouched.
WriteResult WriteFileAtomically(const std::string& path, const std::string& bytes,
                                const AtomicWriteOptions& options = {});
// The same, with content handed over in pieces, so that a large file made from a text need
// not be held a second time: produce calls write for each piece, in order, and returns false
// (as soon as write does) when the content cannot be made.
using ChunkWriter = std::function<bool(std::string_view)>;
using ContentProducer = std::function<bool(const ChunkWriter& write)>;
WriteResult WriteFileAtomically(const std::string& path, const ContentProducer& produce,
                                const AtomicWriteOptions& options = {});

// Whose a folder made for the caller becomes: the owner set for Quorvel's own files (see
// SetOwnerOfCreatedFiles), or the process's, for folders that belong to the copied trees or to
// the process's own user (a destination sub-folder, root's trash).
enum class CreatedOwner { OwnFiles, Process };

// Creates the folder and every missing folder above it (mode 0777 less the umask).
bool CreateFolderWithFoldersInBetween(const std::string& path, std::string* reason = nullptr,
                                      CreatedOwner owner = CreatedOwner::OwnFiles);

bool IsExistingFolder(const std::string& path);
// A folder (not a link to one) that holds nothing; false when it can't be read.
bool IsEmptyFolder(const std::string& path);
// Opens a regular file for reading, never through a link at its name nor a device, FIFO or
// the like: -1 otherwise (the caller closes it).
int OpenRegularFileNoFollow(const std::string& path);
// Removes the item at path and, for a folder, everything in it, never through a link; true
// when nothing is left there.
bool RemoveTree(const std::string& path);             // follows links
bool IsExistingRegularFile(const std::string& path);  // follows links
bool ItemExists(const std::string& path);             // does not follow a final link

// The process's file-creation mask, read without changing it.
mode_t CurrentUmask();

std::string ParentFolder(const std::string& path);
std::string LastPathComponent(const std::string& path);
std::string JoinPath(const std::string& folder, const std::string& name);

}  // namespace qv::platform
