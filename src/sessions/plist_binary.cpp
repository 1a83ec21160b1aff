// Binary property-list writer. Layout: "bplist00", the objects, a table of their offsets and a
// 32-byte trailer (offset size, reference size, object count, root object, table offset).
// Texts are shared: a tree whose leaves all hold the empty text, and whose folders repeat the
// same names, costs little more than one reference per entry.

#include <algorithm>
#include <cstring>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "platform/utf8.h"
#include "sessions/plist_codec.h"

namespace qv::plist {

namespace {

// Seconds between 1970-01-01 and 2001-01-01, the epoch of binary dates.
constexpr double kEpoch2001 = 978307200.0;

unsigned BytesFor(std::uint64_t n) {
    unsigned bytes = 1;
    while (bytes < 8 && (n >> (8 * bytes)) != 0) ++bytes;
    return bytes;
}

void PutBigEndian(std::string& out, std::uint64_t v, unsigned bytes) {
    for (unsigned k = bytes; k-- > 0;) out.push_back(static_cast<char>((v >> (8 * k)) & 0xFF));
}

// A marker with a count: small counts sit in the marker, larger ones follow as an integer.
void PutMarker(std::string& out, unsigned kind, std::uint64_t count) {
    if (count < 15) {
        out.push_back(static_cast<char>((kind << 4) | count));
        return;
    }
    out.push_back(static_cast<char>((kind << 4) | 0x0F));
    const unsigned bytes = BytesFor(count);
    const unsigned log2 = bytes <= 1 ? 0 : bytes <= 2 ? 1 : bytes <= 4 ? 2 : 3;
    out.push_back(static_cast<char>(0x10 | log2));
    PutBigEndian(out, count, 1u << log2);
}

class BinaryWriter {
  public:
    // extra: more keys of the root dictionary, whose values are name trees.
    bool Write(const Value& root, std::string* out, std::string* error,
               const std::vector<std::pair<std::string, NameTree*>>& extra = {}) {
        if (!(extra.empty() ? Add(root, 0, error) : AddRoot(root, extra, error))) return false;

        const std::uint64_t count = objects_.size() + records_.size();
        refSize_ = BytesFor(count == 0 ? 0 : count - 1);
        for (std::uint64_t& ref : refs_) {
            if ((ref & kRecordRef) != 0) ref = objects_.size() + (ref & ~kRecordRef);
        }
        std::string bytes = "bplist00";
        bytes.reserve(16 * objects_.size() + 9 * records_.size() + refSize_ * refs_.size());
        std::vector<std::uint64_t> offsets;
        offsets.reserve(count);
        for (const Object& object : objects_) {
            offsets.push_back(bytes.size());
            Put(bytes, object);
        }
        for (const std::uint64_t record : records_) {
            offsets.push_back(bytes.size());
            bytes.push_back(static_cast<char>(0x13));
            PutBigEndian(bytes, record, 8);
        }
        const std::uint64_t tableOffset = bytes.size();
        const unsigned offsetSize = BytesFor(tableOffset);
        for (std::uint64_t off : offsets) PutBigEndian(bytes, off, offsetSize);
        bytes.append(6, '\0');
        bytes.push_back(static_cast<char>(offsetSize));
        bytes.push_back(static_cast<char>(refSize_));
        PutBigEndian(bytes, count, 8);
        PutBigEndian(bytes, 0, 8);  // the root is the first object
        PutBigEndian(bytes, tableOffset, 8);
        *out = std::move(bytes);
        return true;
    }

  private:
    struct Object {
        const Value* value = nullptr;      // nullptr for a dictionary key or a name tree
        const std::string* key = nullptr;  // the key's text
        const NameTree* tree = nullptr;    // a folder of a name tree
        std::size_t firstRef = 0;          // containers: their references in refs_
        std::size_t count = 0;             // keyed: the number of keys
        bool keyed = false;  // a dictionary whose keys and values are the references given
    };
    // A reference to the n-th name-tree record is kRecordRef | n until the records are
    // numbered, after every other object: a tree of many files then holds one 8-byte value per
    // record while it is written, not an object.
    static constexpr std::uint64_t kRecordRef = std::uint64_t{1} << 63;

    // Numbers the value and everything below it; texts equal to one already numbered get its
    // number.
    bool Add(const Value& value, int depth, std::string* error, std::uint64_t* id = nullptr) {
        if (value.isString()) return AddText(value.str(), &value, nullptr, error, id);
        const std::uint64_t self = objects_.size();
        if (id) *id = self;
        objects_.push_back({&value, nullptr, nullptr, 0, 0, false});
        if (!value.isArray() && !value.isDict()) return true;
        if (depth >= kMaxNestingDepth) {
            *error = "property list nested too deeply";
            return false;
        }
        // The references are reserved first, so that the container's own stay together.
        const std::size_t first = refs_.size();
        objects_[self].firstRef = first;
        if (value.isArray()) {
            refs_.resize(first + value.array().size());
            std::size_t k = first;
            for (const Value& item : value.array()) {
                std::uint64_t ref = 0;
                if (!Add(item, depth + 1, error, &ref)) return false;
                refs_[k++] = ref;
            }
            return true;
        }
        const std::size_t n = value.dict().size();
        refs_.resize(first + 2 * n);
        std::size_t k = first;
        for (const auto& [key, item] : value.dict()) {
            std::uint64_t keyRef = 0, itemRef = 0;
            if (!AddText(key, nullptr, &key, error, &keyRef)) return false;
            if (!Add(item, depth + 1, error, &itemRef)) return false;
            refs_[k] = keyRef;
            refs_[k + n] = itemRef;
            ++k;
        }
        return true;
    }

    // The root dictionary with its own keys and the name-tree keys, all in key order.
    bool AddRoot(const Value& root, const std::vector<std::pair<std::string, NameTree*>>& extra,
                 std::string* error) {
        if (!root.isDict()) {
            *error = "a name tree needs a dictionary to hold it";
            return false;
        }
        struct Key {
            const std::string* name;
            const Value* value;
            NameTree* tree;
        };
        std::vector<Key> keys;
        for (const auto& [name, item] : root.dict()) keys.push_back({&name, &item, nullptr});
        for (const auto& [name, tree] : extra) keys.push_back({&name, nullptr, tree});
        std::sort(keys.begin(), keys.end(),
                  [](const Key& x, const Key& y) { return *x.name < *y.name; });
        std::size_t entries = 0, folders = 0;
        for (const auto& [name, tree] : extra) CountTree(*tree, entries, folders);
        objects_.reserve(objects_.size() + folders + entries / 4 + 64);
        refs_.reserve(2 * (entries + keys.size()));
        objects_.push_back({&root, nullptr, nullptr, 0, 0, false});
        const std::size_t n = keys.size();
        refs_.resize(2 * n);
        for (std::size_t k = 0; k < n; ++k) {
            std::uint64_t keyRef = 0, itemRef = 0;
            if (!AddText(*keys[k].name, nullptr, keys[k].name, error, &keyRef)) return false;
            const bool added = keys[k].tree ? AddTree(*keys[k].tree, error, &itemRef)
                                            : Add(*keys[k].value, 1, error, &itemRef);
            if (!added) return false;
            refs_[k] = keyRef;
            refs_[k + n] = itemRef;
        }
        objects_[0].count = n;
        objects_[0].keyed = true;
        return true;
    }

    static void CountTree(const NameTree& tree, std::size_t& entries, std::size_t& folders) {
        ++folders;
        entries += tree.entries.size();
        for (const NameTree::Entry& entry : tree.entries) {
            if (entry.folder) CountTree(*entry.folder, entries, folders);
        }
    }

    // A folder of names: sorted, each name once, folders below as dictionaries and every
    // other entry the one empty text. Depth is not limited: a name tree mirrors a folder tree,
    // and only readers that build every value need the limit.
    bool AddTree(NameTree& tree, std::string* error, std::uint64_t* id) {
        // Of entries that share a name, the first given is kept.
        std::stable_sort(
            tree.entries.begin(), tree.entries.end(),
            [](const NameTree::Entry& x, const NameTree::Entry& y) { return x.name < y.name; });
        tree.entries.erase(std::unique(tree.entries.begin(), tree.entries.end(),
                                       [](const NameTree::Entry& x, const NameTree::Entry& y) {
                                           return x.name == y.name;
                                       }),
                           tree.entries.end());
        const std::uint64_t self = objects_.size();
        *id = self;
        const std::size_t n = tree.entries.size();
        const std::size_t first = refs_.size();
        objects_.push_back({nullptr, nullptr, &tree, first, n, true});
        refs_.resize(first + 2 * n);
        for (std::size_t k = 0; k < n; ++k) {
            NameTree::Entry& entry = tree.entries[k];
            std::uint64_t keyRef = 0, itemRef = 0;
            if (!AddText(entry.name, nullptr, &entry.name, error, &keyRef)) return false;
            bool added = true;
            if (entry.folder) {
                added = AddTree(*entry.folder, error, &itemRef);
            } else if (entry.record != 0) {
                // Numbered once every other object is: see Write.
                itemRef = kRecordRef | records_.size();
                records_.push_back(entry.record);
            } else {
                added = AddText(kEmpty, nullptr, &kEmpty, error, &itemRef);
            }
            if (!added) return false;
            refs_[first + k] = keyRef;
            refs_[first + n + k] = itemRef;
        }
        return true;
    }

    bool AddText(const std::string& text, const Value* value, const std::string* key,
                 std::string* error, std::uint64_t* id) {
        const auto [it, added] = texts_.try_emplace(text, objects_.size());
        if (id) *id = it->second;
        if (!added) return true;
        // NUL is refused on top of the UTF-8 rule: the reader refuses a text holding one, and no
        // XML document could carry it.
        if (!platform::IsValidUtf8(text) || text.find('\0') != std::string::npos) {
            *error = "a text that is not valid UTF-8 or holds a NUL character";
            return false;
        }
        objects_.push_back({value, key, nullptr, 0, 0, false});
        return true;
    }

    void PutRefs(std::string& out, std::size_t first, std::size_t count) const {
        std::size_t at = out.size();
        out.resize(at + count * refSize_);
        for (std::size_t k = 0; k < count; ++k) {
            const std::uint64_t ref = refs_[first + k];
            for (unsigned byte = refSize_; byte-- > 0;) {
                out[at++] = static_cast<char>((ref >> (8 * byte)) & 0xFF);
            }
        }
    }

    void Put(std::string& out, const Object& object) const {
        if (object.key != nullptr) return PutText(out, *object.key);
        if (object.keyed) {
            PutMarker(out, 0xD, object.count);
            return PutRefs(out, object.firstRef, 2 * object.count);
        }
        const Value& v = *object.value;
        switch (v.type()) {
            case Value::Type::String:
                return PutText(out, v.str());
            case Value::Type::Integer: {
                const std::int64_t i = v.intValue();
                // Negative numbers take all eight bytes, as readers sign-extend only those.
                const unsigned bytes = i < 0 ? 8 : BytesFor(static_cast<std::uint64_t>(i));
                const unsigned log2 = bytes <= 1 ? 0 : bytes <= 2 ? 1 : bytes <= 4 ? 2 : 3;
                out.push_back(static_cast<char>(0x10 | log2));
                return PutBigEndian(out, static_cast<std::uint64_t>(i), 1u << log2);
            }
            case Value::Type::Real:
            case Value::Type::Date: {
                const double d = v.isReal() ? v.realValue() : v.date().seconds - kEpoch2001;
                std::uint64_t bits = 0;
                std::memcpy(&bits, &d, sizeof bits);
                out.push_back(static_cast<char>(v.isReal() ? 0x23 : 0x33));
                return PutBigEndian(out, bits, 8);
            }
            case Value::Type::Boolean:
                out.push_back(static_cast<char>(v.intValue() != 0 ? 0x09 : 0x08));
                return;
            case Value::Type::Data:
                PutMarker(out, 0x4, v.data().size());
                out.append(reinterpret_cast<const char*>(v.data().data()), v.data().size());
                return;
            case Value::Type::Array:
                PutMarker(out, 0xA, v.array().size());
                return PutRefs(out, object.firstRef, v.array().size());
            case Value::Type::Dict:
                PutMarker(out, 0xD, v.dict().size());
                return PutRefs(out, object.firstRef, 2 * v.dict().size());
        }
    }

    static void PutText(std::string& out, const std::string& text) {
        bool ascii = true;
        for (char c : text) ascii = ascii && static_cast<unsigned char>(c) < 0x80;
        if (ascii) {
            PutMarker(out, 0x5, text.size());
            out += text;
            return;
        }
        std::vector<std::uint16_t> units;
        for (std::size_t i = 0; i < text.size();) {
            char32_t cp = 0;
            i += platform::DecodeUtf8(text, i, &cp);  // checked when the text was numbered
            if (cp >= 0x10000) {
                units.push_back(static_cast<std::uint16_t>(0xD800 + ((cp - 0x10000) >> 10)));
                units.push_back(static_cast<std::uint16_t>(0xDC00 + ((cp - 0x10000) & 0x3FF)));
            } else {
                units.push_back(static_cast<std::uint16_t>(cp));
            }
        }
        PutMarker(out, 0x6, units.size());
        for (std::uint16_t u : units) PutBigEndian(out, u, 2);
    }

    std::vector<Object> objects_;
    std::vector<std::uint64_t> refs_;
    std::vector<std::uint64_t> records_;  // the name trees' records, numbered last
    std::unordered_map<std::string_view, std::uint64_t> texts_;
    unsigned refSize_ = 1;
    inline static const std::string kEmpty;
};

}  // namespace

bool ToBinary(const Value& value, std::string* out, std::string* error) {
    std::string ignored;
    return BinaryWriter().Write(value, out, error ? error : &ignored);
}

bool ToBinary(const Value& dict, const std::vector<std::pair<std::string, NameTree*>>& trees,
              std::string* out, std::string* error) {
    std::string ignored;
    return BinaryWriter().Write(dict, out, error ? error : &ignored, trees);
}

platform::WriteResult WriteBinaryFile(const std::string& path, const Value& value,
                                      const platform::AtomicWriteOptions& options) {
    std::string bytes;
    platform::WriteResult result;
    if (!ToBinary(value, &bytes, &result.reason)) return result;
    return platform::WriteFileAtomically(path, bytes, options);
}

}  // namespace qv::plist
