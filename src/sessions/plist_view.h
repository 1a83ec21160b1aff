#pragma once
// A binary property list read in place: opening checks the layout of every object once, and
// values are decoded only when asked for. Made for large files of which a run needs a few
// lookups (the ExactSync index), where building every value would cost more than the run.
//
// Objects are named by their number in the file. Every lookup is bounded by its arguments, so
// a file whose containers refer to each other in a cycle cannot make a caller loop.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace qv::plist {

class BinaryView {
  public:
    enum class Kind { Dict, Array, Text, Integer, Real, Date, Other };

    // Takes the file's bytes. False, with a reason, when they are not a well-formed binary
    // property list (any object out of bounds, any reference out of range, any key that is
    // not a text, any text that is not valid).
    bool Open(std::string bytes, std::string* reason);

    std::uint64_t root() const { return root_; }
    Kind KindOf(std::uint64_t object) const;
    // The value under key (a UTF-8 text) in a dictionary; none when absent or not a dictionary.
    std::optional<std::uint64_t> Find(std::uint64_t dict, std::string_view key) const;
    // Number of entries of a dictionary or an array (0 for anything else).
    std::uint64_t Count(std::uint64_t container) const;
    // The array's element at index; none past its end or when not an array.
    std::optional<std::uint64_t> Element(std::uint64_t array, std::uint64_t index) const;

    // Typed values; none when the object is of another kind.
    std::optional<std::string> Text(std::uint64_t object) const;
    std::optional<std::int64_t> Integer(std::uint64_t object) const;
    // Reals and dates; a date as seconds since 1970-01-01 UTC.
    std::optional<double> Number(std::uint64_t object) const;
    std::optional<double> Date(std::uint64_t object) const;

  private:
    struct Header {
        unsigned kind = 0;
        std::uint64_t count = 0;
        std::uint64_t body = 0;  // offset of the contents
    };
    std::uint64_t OffsetOf(std::uint64_t object) const;
    std::optional<Header> ReadHeader(std::uint64_t object) const;
    bool ContainsItself() const;
    std::uint64_t Ref(std::uint64_t at) const;
    // Compares a text object with a UTF-8 text, in the byte order of their UTF-8 forms.
    int CompareText(std::uint64_t object, std::string_view text) const;
    int CompareTexts(std::uint64_t x, std::uint64_t y) const;

    const unsigned char* bytes() const {
        return reinterpret_cast<const unsigned char*>(bytes_.data());
    }

    std::string bytes_;
    std::uint64_t tableOffset_ = 0;
    unsigned offsetSize_ = 0;
    unsigned refSize_ = 0;
    std::uint64_t count_ = 0;
    std::uint64_t root_ = 0;
    bool keysSorted_ = true;  // every dictionary's keys in increasing order: lookups bisect
};

// Decodes UTF-16 (big-endian code units) into UTF-8; false for an unpaired surrogate.
bool Utf16BigEndianToUtf8(const unsigned char* units, std::uint64_t count, std::string* out);

}  // namespace qv::plist
