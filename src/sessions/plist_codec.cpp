#include "sessions/plist_codec.h"

#include <plist/plist.h>

#include <algorithm>
#include <bit>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <ctime>
#include <memory>
#include <optional>
#include <vector>

#include "platform/utf8.h"

namespace qv::plist {

namespace {

// Seconds between 1970-01-01 and 2001-01-01, the reference date of property-list dates.
constexpr double kSecondsFrom1970To2001 = 978307200.0;

struct PlistDeleter {
    void operator()(plist_t p) const { plist_free(p); }
};
using PlistPtr = std::unique_ptr<void, PlistDeleter>;

// ---- Structural checks made before the bytes reach the parser ----

// Whether no element of an XML text lies deeper than the limit. The tags are read the way
// libplist's parser reads them: a '<' or '>' between double quotes belongs to an attribute
// value, and comments, CDATA sections, processing instructions and the document type hold no
// elements. The count is generous, so that it never falls below the parser's: every tag that
// is not self-closing opens an element, whatever its name, and a closing tag closes only the
// innermost element of the same name (the parser refuses any other).
bool XmlNestingWithin(std::string_view s, int limit) {
    constexpr auto npos = std::string_view::npos;
    // The first of `chars` at or after i that is not between double quotes.
    const auto findOutsideQuotes = [&](std::size_t i, std::string_view chars) {
        for (; i < s.size(); ++i) {
            if (s[i] == '"') {
                i = s.find('"', i + 1);
                if (i == npos) return npos;
            } else if (chars.find(s[i]) != npos) {
                return i;
            }
        }
        return npos;
    };
    // The first `text` at or after i that does not start between double quotes.
    const auto findTextOutsideQuotes = [&](std::size_t i, std::string_view text) {
        for (; i < s.size(); ++i) {
            if (s.compare(i, text.size(), text) == 0) return i;
            if (s[i] == '"') {
                i = s.find('"', i + 1);
                if (i == npos) return npos;
            }
        }
        return npos;
    };

    // Where a construct does not end, the parser refuses the document before anything deeper.
    std::vector<std::string_view> open;
    std::size_t i = 0;
    while ((i = s.find('<', i)) != npos) {
        const std::string_view rest = s.substr(i);
        std::size_t end = npos;
        if (rest.starts_with("<!--")) {
            if ((end = s.find("-->", i + 4)) == npos) return true;
            i = end + 3;
        } else if (rest.starts_with("<![CDATA[")) {
            if ((end = s.find("]]>", i + 9)) == npos) return true;
            i = end + 3;
        } else if (rest.starts_with("<?")) {
            if ((end = findTextOutsideQuotes(i + 2, "?>")) == npos) return true;
            i = end + 2;
        } else if (rest.starts_with("<!DOCTYPE")) {
            if ((end = findOutsideQuotes(i + 9, "[>")) == npos) return true;
            if (s[end] == '[' && (end = findTextOutsideQuotes(end, "]>")) == npos) return true;
            i = end + (s[end] == ']' ? 2 : 1);
        } else if (rest.starts_with("<!")) {
            ++i;  // refused by the parser; whatever follows is still counted
        } else {
            // The name runs to white space, '<' or '>'; attributes to the next '<' or '>'.
            const std::size_t nameEnd = s.find_first_of(" \r\n\t<>", i + 1);
            if (nameEnd == npos) return true;
            const std::size_t close = findOutsideQuotes(nameEnd, "<>");
            if (close == npos) return true;
            const std::string_view name = s.substr(i + 1, nameEnd - (i + 1));
            if (s[close] == '>' && name.starts_with('/')) {
                if (!open.empty() && open.back() == name.substr(1)) open.pop_back();
            } else if (s[close] == '<' || s[close - 1] != '/') {
                open.push_back(name);
                if (static_cast<int>(open.size()) > limit) return false;
            }
            i = s[close] == '<' ? close : close + 1;
        }
    }
    return true;
}

std::uint64_t ReadBigEndian(const unsigned char* p, std::size_t n) {
    std::uint64_t v = 0;
    for (std::size_t k = 0; k < n; ++k) v = (v << 8) | p[k];
    return v;
}

// Containers that several references share are unfolded by the parser into one copy per
// reference, so a few hundred bytes can describe billions of values. A file without shared
// containers unfolds into at most one value per reference, hence at most one per byte; small
// files get some room for the containers that writers such as plistlib share.
constexpr std::uint64_t kMinUnfoldedValuesAllowed = 1 << 16;

// What the last 32 bytes of a binary property list say about its objects.
struct BinaryTrailer {
    std::size_t offsetSize = 0;
    std::size_t refSize = 0;
    std::uint64_t numObjects = 0;
    std::uint64_t root = 0;
    std::uint64_t tableOffset = 0;
};

// Reads the trailer and checks that the offset table lies between the header and the trailer.
bool ReadBinaryTrailer(std::string_view bytes, BinaryTrailer* t, std::string* error) {
    const auto* b = reinterpret_cast<const unsigned char*>(bytes.data());
    const std::size_t size = bytes.size();
    if (size < 8 + 32) {
        *error = "truncated binary property list";
        return false;
    }
    const unsigned char* trailer = b + size - 32;
    t->offsetSize = trailer[6];
    t->refSize = trailer[7];
    t->numObjects = ReadBigEndian(trailer + 8, 8);
    t->root = ReadBigEndian(trailer + 16, 8);
    t->tableOffset = ReadBigEndian(trailer + 24, 8);
    const std::size_t objectsEnd = size - 32;
    if (t->offsetSize < 1 || t->offsetSize > 8 || t->refSize < 1 || t->refSize > 8 ||
        t->numObjects == 0 || t->root >= t->numObjects || t->tableOffset < 8 ||
        t->tableOffset > objectsEnd ||
        t->numObjects > (objectsEnd - t->tableOffset) / t->offsetSize) {
        *error = "damaged binary property list (bad trailer)";
        return false;
    }
    return true;
}

// The objects of a binary property list whose trailer has been checked. Every object lies
// between the header and the offset table; nothing past the table's start is read for one.
class BinaryObjects {
  public:
    BinaryObjects(std::string_view bytes, const BinaryTrailer& trailer)
        : b_(reinterpret_cast<const unsigned char*>(bytes.data())), t_(trailer) {}

    // Checks one object and lists its children (none unless it is a container). Returns why
    // the object is refused, or nullptr.
    const char* Examine(std::uint64_t obj, std::vector<std::uint64_t>* out) const {
        out->clear();
        const std::uint64_t off = OffsetOf(obj);
        if (off < 8 || off >= t_.tableOffset) return kDamaged;
        const unsigned kind = b_[off] >> 4;
        const bool container = kind == 0xA || kind == 0xC || kind == 0xD;
        const bool text = kind == 0x5 || kind == 0x6;
        if (!container && !text) return nullptr;
        std::uint64_t count = 0, pos = 0;
        if (!ReadCount(off, &count, &pos)) return kDamaged;
        if (text) return CheckCharacters(kind, count, pos);
        return ListChildren(kind, count, pos, out);
    }

  private:
    static constexpr const char* kDamaged = "damaged binary property list";

    std::uint64_t OffsetOf(std::uint64_t obj) const {
        return ReadBigEndian(b_ + t_.tableOffset + obj * t_.offsetSize, t_.offsetSize);
    }

    // How many items or characters the object at `off` holds (in the marker's low bits or, when
    // those are all set, in an integer object that follows), and where they start.
    bool ReadCount(std::uint64_t off, std::uint64_t* count, std::uint64_t* pos) const {
        *count = b_[off] & 0x0F;
        *pos = off + 1;
        if (*count != 0x0F) return true;
        const std::uint64_t p = *pos;
        if (p >= t_.tableOffset || (b_[p] >> 4) != 0x1 || (b_[p] & 0x0F) > 3) return false;
        const std::size_t len = std::size_t{1} << (b_[p] & 0x0F);
        if (p + 1 + len > t_.tableOffset) return false;
        *count = ReadBigEndian(b_ + p + 1, len);
        *pos = p + 1 + len;
        return true;
    }

    const char* CheckCharacters(unsigned kind, std::uint64_t count, std::uint64_t pos) const {
        // ASCII or UTF-16 (big-endian). libplist aborts on a string that holds U+0000, and
        // no XML document could carry one.
        const std::uint64_t unit = kind == 0x6 ? 2 : 1;
        if (count > (t_.tableOffset - pos) / unit) return kDamaged;
        for (std::uint64_t k = 0; k < count; ++k) {
            if (b_[pos + k * unit] == 0 && b_[pos + k * unit + unit - 1] == 0) {
                return "damaged binary property list (a text holds a NUL character)";
            }
        }
        return nullptr;
    }

    // A dictionary's references are its keys followed by its values.
    const char* ListChildren(unsigned kind, std::uint64_t count, std::uint64_t pos,
                             std::vector<std::uint64_t>* out) const {
        const std::uint64_t refs = kind == 0xD ? count * 2 : count;
        if (count > t_.tableOffset || refs > (t_.tableOffset - pos) / t_.refSize) return kDamaged;
        out->reserve(refs);
        for (std::uint64_t k = 0; k < refs; ++k) {
            const std::uint64_t ref = ReadBigEndian(b_ + pos + k * t_.refSize, t_.refSize);
            if (ref >= t_.numObjects) return kDamaged;
            out->push_back(ref);
        }
        return nullptr;
    }

    const unsigned char* b_;
    BinaryTrailer t_;
};

// Depth-first walk of the object graph from the root with an explicit stack; each object's
// height and unfolded size (itself and everything below it, counted once per reference,
// capped just above `allowed`) are computed once.
class BinaryGraphWalk {
  public:
    BinaryGraphWalk(std::string_view bytes, const BinaryTrailer& t, std::uint64_t allowed)
        : objects_(bytes, t),
          root_(t.root),
          allowed_(allowed),
          state_(t.numObjects, kNew),
          height_(t.numObjects, 0),
          unfolded_(t.numObjects, 0) {}

    // Walks the whole graph; false (with the reason) at the first object refused, a cycle or
    // a chain of containers too deep.
    bool Run(std::string* error) {
        if (!Enter(root_, error)) return false;
        while (!stack_.empty()) {
            Frame& f = stack_.back();
            if (f.next == f.kids.size()) {
                Leave();
                continue;
            }
            const std::uint64_t kid = f.kids[f.next++];
            if (state_[kid] == kOpen) {
                *error = "damaged binary property list (an object contains itself)";
                return false;
            }
            // A shared container reached again may sit deeper on this path than where it was
            // first met: what lies below it counts again here.
            const int kidDepth = static_cast<int>(stack_.size());
            if (state_[kid] == kDone) {
                if (kidDepth + height_[kid] > kMaxNestingDepth) {
                    *error = "property list nested too deeply";
                    return false;
                }
                continue;
            }
            if (kidDepth > kMaxNestingDepth) {
                *error = "property list nested too deeply";
                return false;
            }
            if (!Enter(kid, error)) return false;
        }
        return true;
    }

    // The root's unfolded size once the walk is over, at most `allowed` + 1.
    std::uint64_t RootUnfolded() const { return unfolded_[root_]; }

  private:
    enum : std::uint8_t { kNew, kOpen, kDone };
    struct Frame {
        std::uint64_t obj;
        std::vector<std::uint64_t> kids;
        std::size_t next = 0;
    };

    // Examines an object and puts it on the stack, open.
    bool Enter(std::uint64_t obj, std::string* error) {
        stack_.push_back({obj, {}, 0});
        if (const char* why = objects_.Examine(obj, &stack_.back().kids)) {
            *error = why;
            return false;
        }
        state_[obj] = kOpen;
        return true;
    }

    // Takes the top object, all of whose children are done, off the stack.
    void Leave() {
        const Frame& f = stack_.back();
        int h = 0;
        std::uint64_t n = 1;
        for (auto k : f.kids) {
            h = std::max(h, height_[k] + 1);
            n = std::min(n + unfolded_[k], allowed_ + 1);
        }
        height_[f.obj] = h;
        unfolded_[f.obj] = n;
        state_[f.obj] = kDone;
        stack_.pop_back();
    }

    const BinaryObjects objects_;
    const std::uint64_t root_;
    const std::uint64_t allowed_;
    std::vector<std::uint8_t> state_;
    std::vector<int> height_;
    std::vector<std::uint64_t> unfolded_;
    std::vector<Frame> stack_;
};

// Checks the object graph of a binary property list: every reference inside the file, no
// cycle, no chain of containers deeper than the limit, and no more values once unfolded than
// the file's size allows. The parser itself trusts all four.
bool CheckBinaryStructure(std::string_view bytes, std::string* error) {
    BinaryTrailer trailer;
    if (!ReadBinaryTrailer(bytes, &trailer, error)) return false;
    const std::uint64_t allowed = std::max<std::uint64_t>(bytes.size(), kMinUnfoldedValuesAllowed);
    BinaryGraphWalk walk(bytes, trailer, allowed);
    if (!walk.Run(error)) return false;
    if (walk.RootUnfolded() > allowed) {
        *error = "damaged binary property list (shared objects unfold into too many values)";
        return false;
    }
    return true;
}

// ---- From the parser's nodes to values ----

// libplist 2.2 keeps a date as a double of seconds since 2001 but hands it out through
// plist_get_date_val as 32-bit seconds (clamped outside the years 1933 to 2068) and a fraction
// without its sign. Its binary writer stores the double unchanged, so the date is read from
// there: "bplist00", then the only object, marker 0x33 and eight big-endian bytes.
double DateSeconds(plist_t node) {
    char* bin = nullptr;
    std::uint32_t length = 0;
    plist_to_bin(node, &bin, &length);
    std::unique_ptr<char, decltype(&plist_to_bin_free)> guard(bin, &plist_to_bin_free);
    const auto* b = reinterpret_cast<const unsigned char*>(bin);
    if (b != nullptr && length >= 8 + 9 && b[8] == 0x33) {
        return kSecondsFrom1970To2001 + std::bit_cast<double>(ReadBigEndian(b + 9, 8));
    }
    std::int32_t sec = 0, usec = 0;
    plist_get_date_val(node, &sec, &usec);
    return kSecondsFrom1970To2001 + sec + usec / 1e6;
}

// Containers up to this size are freed item by item as they are converted, so that the
// parser's tree and ours are never both whole. A removal costs libplist time in proportion to
// the container's size: larger ones are converted as they stand and freed with the rest.
constexpr std::uint32_t kMaxItemsFreedOneByOne = 4096;

// The first entry of a dictionary, with its key (to be freed); nullptr when it is empty.
plist_t FirstDictEntry(plist_t dict, char** key) {
    plist_dict_iter it = nullptr;
    plist_dict_new_iter(dict, &it);
    std::unique_ptr<void, decltype(&free)> iterGuard(it, &free);
    plist_t item = nullptr;
    plist_dict_next_item(dict, it, key, &item);
    if (*key != nullptr && item != nullptr) return item;
    free(*key);
    *key = nullptr;
    return nullptr;
}

bool Convert(plist_t node, int depth, Value* out, std::string* error);

// The text of a string or a dictionary key.
std::string TextOf(plist_t node) {
    char* s = nullptr;
    if (plist_get_node_type(node) == PLIST_STRING) {
        plist_get_string_val(node, &s);
    } else {
        plist_get_key_val(node, &s);
    }
    std::string text(s != nullptr ? s : "");
    free(s);
    return text;
}

Data DataOf(plist_t node) {
    char* d = nullptr;
    std::uint64_t len = 0;
    plist_get_data_val(node, &d, &len);
    Data data(reinterpret_cast<std::uint8_t*>(d), reinterpret_cast<std::uint8_t*>(d) + len);
    free(d);
    return data;
}

// The value of a node that is not a container; nothing for a container or a kind of node
// that a session document has no use for.
std::optional<Value> ScalarValue(plist_t node) {
    switch (plist_get_node_type(node)) {
        case PLIST_BOOLEAN: {
            std::uint8_t b = 0;
            plist_get_bool_val(node, &b);
            return Value(b != 0);
        }
        case PLIST_UINT: {
            std::uint64_t u = 0;
            plist_get_uint_val(node, &u);
            return Value(static_cast<std::int64_t>(u));
        }
        case PLIST_UID: {
            std::uint64_t u = 0;
            plist_get_uid_val(node, &u);
            return Value(static_cast<std::int64_t>(u));
        }
        case PLIST_REAL: {
            double d = 0;
            plist_get_real_val(node, &d);
            return Value(d);
        }
        case PLIST_STRING:
        case PLIST_KEY:
            return Value(TextOf(node));
        case PLIST_DATE:
            return Value(Date{DateSeconds(node)});
        case PLIST_DATA:
            return Value(DataOf(node));
        default:
            return std::nullopt;
    }
}

bool ConvertArray(plist_t node, int depth, Value* out, std::string* error) {
    Array a;
    const std::uint32_t n = plist_array_get_size(node);
    const bool freeing = n <= kMaxItemsFreedOneByOne;
    a.reserve(n);
    for (std::uint32_t i = 0; i < n; ++i) {
        Value item;
        plist_t child = plist_array_get_item(node, freeing ? 0 : i);
        if (!Convert(child, depth + 1, &item, error)) return false;
        if (freeing) plist_array_remove_item(node, 0);
        a.push_back(std::move(item));
    }
    *out = Value(std::move(a));
    return true;
}

// The first step of ConvertDict: entries converted and freed one by one. `*kept` counts those
// converted but left in the dictionary (the one whose key repeats). Dictionaries too large to
// free item by item are left whole.
bool ConvertDictEntriesFreeing(plist_t node, int depth, Dict* d, std::uint32_t* kept,
                               std::string* error) {
    *kept = 0;
    if (plist_dict_get_size(node) > kMaxItemsFreedOneByOne) return true;
    for (;;) {
        char* rawKey = nullptr;
        const plist_t item = FirstDictEntry(node, &rawKey);
        std::unique_ptr<char, decltype(&free)> key(rawKey, &free);
        if (item == nullptr) return true;
        Value v;
        if (!Convert(item, depth + 1, &v, error)) return false;
        d->insert_or_assign(std::string(key.get()), std::move(v));
        if (plist_dict_get_item(node, key.get()) != item) {
            *kept = 1;
            return true;
        }
        plist_dict_remove_item(node, key.get());
    }
}

// Converts the entries still in a dictionary as they stand, past the first `skip` (already
// converted).
bool ConvertDictEntriesInPlace(plist_t node, int depth, std::uint32_t skip, Dict* d,
                               std::string* error) {
    plist_dict_iter it = nullptr;
    plist_dict_new_iter(node, &it);
    std::unique_ptr<void, decltype(&free)> iterGuard(it, &free);
    for (std::uint32_t i = 0;; ++i) {
        char* key = nullptr;
        plist_t item = nullptr;
        plist_dict_next_item(node, it, &key, &item);
        if (key == nullptr || item == nullptr) {
            free(key);
            return true;
        }
        std::string k(key);
        free(key);
        if (i < skip) continue;
        Value v;
        if (!Convert(item, depth + 1, &v, error)) return false;
        d->insert_or_assign(std::move(k), std::move(v));
    }
}

bool ConvertDict(plist_t node, int depth, Value* out, std::string* error) {
    Dict d;
    // Entries go in order, each freed once converted, until one that a look-up by its key
    // would not find (the key repeats): that one and the rest are read as they stand.
    std::uint32_t kept = 0;
    if (!ConvertDictEntriesFreeing(node, depth, &d, &kept, error)) return false;
    if (!ConvertDictEntriesInPlace(node, depth, kept, &d, error)) return false;
    *out = Value(std::move(d));
    return true;
}

bool Convert(plist_t node, int depth, Value* out, std::string* error) {
    if (depth > kMaxNestingDepth) {
        *error = "property list nested too deeply";
        return false;
    }
    const plist_type type = plist_get_node_type(node);
    if (type == PLIST_ARRAY) return ConvertArray(node, depth, out, error);
    if (type == PLIST_DICT) return ConvertDict(node, depth, out, error);
    std::optional<Value> value = ScalarValue(node);
    if (!value) {
        *error = "unsupported value in property list";
        return false;
    }
    *out = std::move(*value);
    return true;
}

// ---- XML writing ----

// Checks UTF-8 and that every character may stand in an XML 1.0 document.
bool CheckText(std::string_view s, std::string* error) {
    std::size_t i = 0;
    while (i < s.size()) {
        char32_t cp = 0;
        const std::size_t len = platform::DecodeUtf8(s, i, &cp);
        if (len == 0) {
            *error = "a text is not valid UTF-8";
            return false;
        }
        if ((cp < 0x20 && cp != '\t' && cp != '\n' && cp != '\r') || cp == 0xFFFE || cp == 0xFFFF) {
            *error = "a text holds a control character that a property list cannot store";
            return false;
        }
        i += len;
    }
    return true;
}

}  // namespace

bool CanStoreText(std::string_view text, std::string* error) {
    std::string ignored;
    return CheckText(text, error != nullptr ? error : &ignored);
}

namespace {

void AppendEscaped(std::string& out, std::string_view s) {
    for (char c : s) {
        switch (c) {
            case '&':
                out += "&amp;";
                break;
            case '<':
                out += "&lt;";
                break;
            case '>':
                out += "&gt;";
                break;
            case '\r':
                out += "&#13;";
                break;  // a bare CR would be read back as a line feed
            default:
                out += c;
        }
    }
}

void AppendBase64(std::string& out, const Data& data, int indent) {
    static constexpr char kAlphabet[] =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    constexpr std::size_t kBytesPerLine = 51;  // 68 characters
    for (std::size_t line = 0; line < data.size(); line += kBytesPerLine) {
        out.append(static_cast<std::size_t>(indent), '\t');
        const std::size_t end = std::min(data.size(), line + kBytesPerLine);
        for (std::size_t i = line; i < end; i += 3) {
            const std::uint32_t n = (std::uint32_t{data[i]} << 16) |
                                    (i + 1 < end ? std::uint32_t{data[i + 1]} << 8 : 0) |
                                    (i + 2 < end ? std::uint32_t{data[i + 2]} : 0);
            out += kAlphabet[(n >> 18) & 63];
            out += kAlphabet[(n >> 12) & 63];
            out += i + 1 < end ? kAlphabet[(n >> 6) & 63] : '=';
            out += i + 2 < end ? kAlphabet[n & 63] : '=';
        }
        out += '\n';
    }
}

void AppendReal(std::string& out, double d) {
    if (std::isnan(d)) {
        out += "nan";
    } else if (std::isinf(d)) {
        out += d > 0 ? "inf" : "-inf";
    } else {
        char buf[64];
        auto r = std::to_chars(buf, buf + sizeof buf, d);
        out.append(buf, r.ptr);
    }
}

// Whole seconds, and always a four-digit year: the only form every reader takes.
bool AppendDate(std::string& out, const Date& date, std::string* error) {
    constexpr double kYear1 = -62135596800.0;      // 0001-01-01T00:00:00Z
    constexpr double kYear10000 = 253402300800.0;  // 10000-01-01T00:00:00Z
    if (!(date.seconds >= kYear1 && date.seconds < kYear10000)) {
        *error = "a date lies outside the years 1 to 9999";
        return false;
    }
    const auto t = static_cast<std::time_t>(std::floor(date.seconds));
    std::tm tm{};
    gmtime_r(&t, &tm);
    char buf[64];
    std::snprintf(buf, sizeof buf, "%04d-%02d-%02dT%02d:%02d:%02dZ", tm.tm_year + 1900,
                  tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec);
    out += buf;
    return true;
}

bool AppendValue(std::string& out, const Value& v, int indent, std::string* error) {
    const auto pad = [&](int n) { out.append(static_cast<std::size_t>(n), '\t'); };
    pad(indent);
    switch (v.type()) {
        case Value::Type::String:
            if (!CheckText(v.str(), error)) return false;
            out += "<string>";
            AppendEscaped(out, v.str());
            out += "</string>\n";
            return true;
        case Value::Type::Integer:
            out += "<integer>" + std::to_string(v.intValue()) + "</integer>\n";
            return true;
        case Value::Type::Real:
            out += "<real>";
            AppendReal(out, v.realValue());
            out += "</real>\n";
            return true;
        case Value::Type::Boolean:
            out += v.intValue() != 0 ? "<true/>\n" : "<false/>\n";
            return true;
        case Value::Type::Date:
            out += "<date>";
            if (!AppendDate(out, v.date(), error)) return false;
            out += "</date>\n";
            return true;
        case Value::Type::Data:
            out += "<data>\n";
            AppendBase64(out, v.data(), indent);
            pad(indent);
            out += "</data>\n";
            return true;
        case Value::Type::Array:
            if (v.array().empty()) {
                out += "<array/>\n";
                return true;
            }
            out += "<array>\n";
            for (const auto& item : v.array()) {
                if (!AppendValue(out, item, indent + 1, error)) return false;
            }
            pad(indent);
            out += "</array>\n";
            return true;
        case Value::Type::Dict:
            if (v.dict().empty()) {
                out += "<dict/>\n";
                return true;
            }
            out += "<dict>\n";
            for (const auto& [key, item] : v.dict()) {
                if (!CheckText(key, error)) return false;
                pad(indent + 1);
                out += "<key>";
                AppendEscaped(out, key);
                out += "</key>\n";
                if (!AppendValue(out, item, indent + 1, error)) return false;
            }
            pad(indent);
            out += "</dict>\n";
            return true;
    }
    return false;
}

}  // namespace

namespace {

// libplist's nodes for the bytes, or nullptr (with the reason) when they are refused.
PlistPtr ParseNodes(std::string_view bytes, std::string* error) {
    if (bytes.size() > kMaxPlistFileBytes) {
        *error = "property list too large";
        return nullptr;
    }
    plist_t raw = nullptr;
    if (bytes.size() >= 8 && bytes.substr(0, 8) == "bplist00") {
        if (!CheckBinaryStructure(bytes, error)) return nullptr;
        plist_from_bin(bytes.data(), static_cast<std::uint32_t>(bytes.size()), &raw);
    } else {
        if (bytes.find("<plist") == std::string_view::npos) {
            *error = "not a property list";
            return nullptr;
        }
        // XML has no place for a NUL byte, and libplist aborts on a text that holds one.
        if (bytes.find('\0') != std::string_view::npos) {
            *error = "damaged property list (a NUL byte)";
            return nullptr;
        }
        // The <plist> element and a value at the deepest level the binary reader accepts
        // (depth kMaxNestingDepth, counted from 0) are open elements too.
        if (!XmlNestingWithin(bytes, kMaxNestingDepth + 2)) {
            *error = "property list nested too deeply";
            return nullptr;
        }
        plist_from_xml(bytes.data(), static_cast<std::uint32_t>(bytes.size()), &raw);
    }
    PlistPtr root(raw);
    if (!root) *error = "damaged or not a property list";
    return root;
}

// Converts the nodes, which are used up on the way.
std::optional<Value> ConvertNodes(PlistPtr root, std::string* error) {
    Value value;
    if (!Convert(root.get(), 0, &value, error)) return std::nullopt;
    return value;
}

}  // namespace

std::optional<Value> Parse(std::string_view bytes, std::string* error) {
    std::string ignored;
    if (error == nullptr) error = &ignored;
    PlistPtr root = ParseNodes(bytes, error);
    if (!root) return std::nullopt;
    return ConvertNodes(std::move(root), error);
}

ReadResult ReadFile(const std::string& path) {
    ReadResult result;
    platform::ReadFileResult file = platform::ReadWholeFile(path, kMaxPlistFileBytes);
    switch (file.status) {
        case platform::ReadStatus::Ok:
            break;
        case platform::ReadStatus::Missing:
            result.failure = ReadFailure::Missing;
            break;
        case platform::ReadStatus::NotAFile:
            result.failure = ReadFailure::NotAFile;
            break;
        case platform::ReadStatus::TooLarge:
            result.failure = ReadFailure::NotAPropertyList;
            break;
        case platform::ReadStatus::Unreadable:
            result.failure = ReadFailure::Unreadable;
            break;
    }
    if (file.status != platform::ReadStatus::Ok) {
        result.reason = file.reason;
        return result;
    }
    result.owner = file.owner;
    result.mode = file.mode;
    PlistPtr root = ParseNodes(file.bytes, &result.reason);
    // The text is no longer needed: gone before the values are built.
    std::string().swap(file.bytes);
    if (root) result.value = ConvertNodes(std::move(root), &result.reason);
    if (!result.value) result.failure = ReadFailure::NotAPropertyList;
    return result;
}

bool ToXml(const Value& value, std::string* out, std::string* error) {
    std::string ignored;
    if (error == nullptr) error = &ignored;
    std::string xml =
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
        "<!DOCTYPE plist PUBLIC \"-//Apple//DTD PLIST 1.0//EN\" "
        "\"http://www.apple.com/DTDs/PropertyList-1.0.dtd\">\n"
        "<plist version=\"1.0\">\n";
    if (!AppendValue(xml, value, 0, error)) return false;
    xml += "</plist>\n";
    *out = std::move(xml);
    return true;
}

platform::WriteResult WriteXmlFile(const std::string& path, const Value& value,
                                   const platform::AtomicWriteOptions& options) {
    std::string xml;
    platform::WriteResult result;
    if (!ToXml(value, &xml, &result.reason)) return result;
    return platform::WriteFileAtomically(path, xml, options);
}

}  // namespace qv::plist
