#pragma once
// Reading and writing property lists. Reading takes the XML format (document type version 1.0)
// and the binary format; writing produces either, byte for byte the same for equal values.
// Bad input of any kind (truncated, not a property list, nested beyond reason, too large)
// yields a failure with a reason, never a crash or a hang.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/file_io.h"
#include "sessions/plist_value.h"

namespace qv::plist {

// Files larger than this are refused unread: documents and preferences are a few hundred KiB.
inline constexpr std::size_t kMaxPlistFileBytes = 64 * 1024 * 1024;
// Arrays and dictionaries nested deeper than this are refused.
inline constexpr int kMaxNestingDepth = 128;

std::optional<Value> Parse(std::string_view bytes, std::string* error);

enum class ReadFailure { None, Missing, NotAFile, Unreadable, NotAPropertyList };

struct ReadResult {
    std::optional<Value> value;
    ReadFailure failure = ReadFailure::None;
    std::string reason;
    uid_t owner = 0;  // of the file read, as it was opened
    mode_t mode = 0;
};
ReadResult ReadFile(const std::string& path);

// Whether a property list can hold the text: valid UTF-8 without a character XML cannot carry.
bool CanStoreText(std::string_view text, std::string* error = nullptr);

// Fails (with a reason) for a string or key that is not valid UTF-8 or holds a character that
// XML cannot carry.
bool ToXml(const Value& value, std::string* out, std::string* error);

// ToXml, then an atomic write (see platform::WriteFileAtomically). A value that cannot be
// serialised fails at WriteStep::None with the reason.
platform::WriteResult WriteXmlFile(const std::string& path, const Value& value,
                                   const platform::AtomicWriteOptions& options = {});

// The binary format ("bplist00"), for large files: every distinct text is stored once and
// referenced wherever it occurs. Fails (with a reason) for a text that is not valid UTF-8 or
// holds a NUL character, and for containers nested deeper than the reader accepts.
bool ToBinary(const Value& value, std::string* out, std::string* error);
// A folder tree of names, written as nested dictionaries: a sub-folder as a dictionary, any
// other entry as its record (an integer) or, without one, the empty text. Names must be valid
// UTF-8 without NUL.
struct NameTree {
    struct Entry {
        std::string name;
        std::unique_ptr<NameTree> folder;  // null for anything that is not a folder
        std::uint64_t record = 0;          // 0: none; written as eight bytes
    };
    std::vector<Entry> entries;  // in any order; the writer sorts them and keeps the first of
                                 // entries that share a name
};
// The binary format of the dictionary dict with, added to its keys, keys whose values are name
// trees (sorted in place as they are written). Dictionaries keep their keys in byte order.
bool ToBinary(const Value& dict, const std::vector<std::pair<std::string, NameTree*>>& trees,
              std::string* out, std::string* error);

platform::WriteResult WriteBinaryFile(const std::string& path, const Value& value,
                                      const platform::AtomicWriteOptions& options = {});

}  // namespace qv::plist
