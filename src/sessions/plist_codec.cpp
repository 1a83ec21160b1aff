#include "sessions/plist_codec.h"

#include <plist/plist.h>

#include <charconv>
#include <cmath>
#include <cstdint>
#include <ctime>
#include <memory>
#include <vector>

namespace qv::plist {

namespace {

// Seconds between 1970-01-01 and 2001-01-01, the reference date of property-list dates.
constexpr double kSecondsFrom1970To2001 = 978307200.0;

struct PlistDeleter {
    void operator()(plist_t p) const { plist_free(p); }
};
using PlistPtr = std::unique_ptr<void, PlistDeleter>;

// ---- Structural checks made before the bytes reach the parser ----

// Deepest nesting of elements in an XML text, counted generously: every opening tag that is
// not self-closing counts, wherever it stands, so the count never falls below the parser's.
bool XmlNestingWithin(std::string_view s, int limit) {
    int depth = 0;
    std::size_t i = 0;
    while ((i = s.find('<', i)) != std::string_view::npos) {
        if (s.compare(i, 4, "<!--") == 0) {
            auto end = s.find("-->", i + 4);
            if (end == std::string_view::npos) return true;
            i = end + 3;
            continue;
        }
        auto close = s.find('>', i);
        if (close == std::string_view::npos) return true;
        char next = i + 1 < s.size() ? s[i + 1] : '\0';
        if (next == '/') {
            --depth;
        } else if (next != '?' && next != '!' && s[close - 1] != '/') {
            if (++depth > limit) return false;
        }
        i = close + 1;
    }
    return true;
}

std::uint64_t ReadBigEndian(const unsigned char* p, std::size_t n) {
    std::uint64_t v = 0;
    for (std::size_t k = 0; k < n; ++k) v = (v << 8) | p[k];
    return v;
}

// Checks the object graph of a binary property list: every reference inside the file, no
// cycle, and no chain of containers deeper than the limit. The parser itself trusts all three.
bool CheckBinaryStructure(std::string_view bytes, std::string* error) {
    const auto* b = reinterpret_cast<const unsigned char*>(bytes.data());
    const std::size_t size = bytes.size();
    if (size < 8 + 32) {
        *error = "truncated binary property list";
        return false;
    }
    const unsigned char* trailer = b + size - 32;
    const std::size_t offsetSize = trailer[6];
    const std::size_t refSize = trailer[7];
    const std::uint64_t numObjects = ReadBigEndian(trailer + 8, 8);
    const std::uint64_t root = ReadBigEndian(trailer + 16, 8);
    const std::uint64_t tableOffset = ReadBigEndian(trailer + 24, 8);
    const std::size_t objectsEnd = size - 32;
    if (offsetSize < 1 || offsetSize > 8 || refSize < 1 || refSize > 8 || numObjects == 0 ||
        root >= numObjects || tableOffset < 8 || tableOffset > objectsEnd ||
        numObjects > (objectsEnd - tableOffset) / offsetSize) {
        *error = "damaged binary property list (bad trailer)";
        return false;
    }
    auto offsetOf = [&](std::uint64_t obj) {
        return ReadBigEndian(b + tableOffset + obj * offsetSize, offsetSize);
    };
    // Children of a container object, or false when the object is damaged.
    auto children = [&](std::uint64_t obj, std::vector<std::uint64_t>* out) {
        out->clear();
        const std::uint64_t off = offsetOf(obj);
        if (off < 8 || off >= tableOffset) return false;
        const unsigned kind = b[off] >> 4;
        if (kind != 0xA && kind != 0xC && kind != 0xD) return true;
        std::uint64_t count = b[off] & 0x0F;
        std::uint64_t pos = off + 1;
        if (count == 0x0F) {
            if (pos >= tableOffset || (b[pos] >> 4) != 0x1 || (b[pos] & 0x0F) > 3) return false;
            const std::size_t len = std::size_t{1} << (b[pos] & 0x0F);
            if (pos + 1 + len > tableOffset) return false;
            count = ReadBigEndian(b + pos + 1, len);
            pos += 1 + len;
        }
        const std::uint64_t refs = kind == 0xD ? count * 2 : count;
        if (count > tableOffset || refs > (tableOffset - pos) / refSize) return false;
        out->reserve(refs);
        for (std::uint64_t k = 0; k < refs; ++k) {
            const std::uint64_t ref = ReadBigEndian(b + pos + k * refSize, refSize);
            if (ref >= numObjects) return false;
            out->push_back(ref);
        }
        return true;
    };

    // Depth-first walk with an explicit stack; each object's height is computed once.
    enum : std::uint8_t { kNew, kOpen, kDone };
    std::vector<std::uint8_t> state(numObjects, kNew);
    std::vector<int> height(numObjects, 0);
    struct Frame {
        std::uint64_t obj;
        std::vector<std::uint64_t> kids;
        std::size_t next = 0;
    };
    std::vector<Frame> stack;
    stack.push_back({root, {}, 0});
    if (!children(root, &stack.back().kids)) {
        *error = "damaged binary property list";
        return false;
    }
    state[root] = kOpen;
    while (!stack.empty()) {
        Frame& f = stack.back();
        if (f.next == f.kids.size()) {
            int h = 0;
            for (auto k : f.kids) h = std::max(h, height[k] + 1);
            height[f.obj] = h;
            state[f.obj] = kDone;
            stack.pop_back();
            continue;
        }
        const std::uint64_t kid = f.kids[f.next++];
        if (state[kid] == kOpen) {
            *error = "damaged binary property list (an object contains itself)";
            return false;
        }
        if (state[kid] == kDone) continue;
        if (static_cast<int>(stack.size()) > kMaxNestingDepth) {
            *error = "property list nested too deeply";
            return false;
        }
        stack.push_back({kid, {}, 0});
        if (!children(kid, &stack.back().kids)) {
            *error = "damaged binary property list";
            return false;
        }
        state[kid] = kOpen;
    }
    return true;
}

// ---- From the parser's nodes to values ----

bool Convert(plist_t node, int depth, Value* out, std::string* error) {
    if (depth > kMaxNestingDepth) {
        *error = "property list nested too deeply";
        return false;
    }
    switch (plist_get_node_type(node)) {
        case PLIST_BOOLEAN: {
            std::uint8_t b = 0;
            plist_get_bool_val(node, &b);
            *out = Value(b != 0);
            return true;
        }
        case PLIST_UINT: {
            std::uint64_t u = 0;
            plist_get_uint_val(node, &u);
            *out = Value(static_cast<std::int64_t>(u));
            return true;
        }
        case PLIST_UID: {
            std::uint64_t u = 0;
            plist_get_uid_val(node, &u);
            *out = Value(static_cast<std::int64_t>(u));
            return true;
        }
        case PLIST_REAL: {
            double d = 0;
            plist_get_real_val(node, &d);
            *out = Value(d);
            return true;
        }
        case PLIST_STRING:
        case PLIST_KEY: {
            char* s = nullptr;
            if (plist_get_node_type(node) == PLIST_STRING) {
                plist_get_string_val(node, &s);
            } else {
                plist_get_key_val(node, &s);
            }
            *out = Value(std::string(s != nullptr ? s : ""));
            free(s);
            return true;
        }
        case PLIST_DATE: {
            std::int32_t sec = 0, usec = 0;
            plist_get_date_val(node, &sec, &usec);
            *out = Value(Date{kSecondsFrom1970To2001 + sec + usec / 1e6});
            return true;
        }
        case PLIST_DATA: {
            char* d = nullptr;
            std::uint64_t len = 0;
            plist_get_data_val(node, &d, &len);
            Data data(reinterpret_cast<std::uint8_t*>(d), reinterpret_cast<std::uint8_t*>(d) + len);
            free(d);
            *out = Value(std::move(data));
            return true;
        }
        case PLIST_ARRAY: {
            Array a;
            const std::uint32_t n = plist_array_get_size(node);
            a.reserve(n);
            for (std::uint32_t i = 0; i < n; ++i) {
                Value item;
                if (!Convert(plist_array_get_item(node, i), depth + 1, &item, error)) return false;
                a.push_back(std::move(item));
            }
            *out = Value(std::move(a));
            return true;
        }
        case PLIST_DICT: {
            Dict d;
            plist_dict_iter it = nullptr;
            plist_dict_new_iter(node, &it);
            std::unique_ptr<void, decltype(&free)> iterGuard(it, &free);
            for (;;) {
                char* key = nullptr;
                plist_t item = nullptr;
                plist_dict_next_item(node, it, &key, &item);
                if (key == nullptr || item == nullptr) {
                    free(key);
                    break;
                }
                std::string k(key);
                free(key);
                Value v;
                if (!Convert(item, depth + 1, &v, error)) return false;
                d.insert_or_assign(std::move(k), std::move(v));
            }
            *out = Value(std::move(d));
            return true;
        }
        default:
            *error = "unsupported value in property list";
            return false;
    }
}

// ---- XML writing ----

// Checks UTF-8 and that every character may stand in an XML 1.0 document.
bool CheckText(std::string_view s, std::string* error) {
    const auto* p = reinterpret_cast<const unsigned char*>(s.data());
    std::size_t i = 0;
    while (i < s.size()) {
        unsigned char c = p[i];
        char32_t cp;
        std::size_t len;
        if (c < 0x80) {
            cp = c;
            len = 1;
        } else if ((c & 0xE0) == 0xC0) {
            cp = c & 0x1F;
            len = 2;
        } else if ((c & 0xF0) == 0xE0) {
            cp = c & 0x0F;
            len = 3;
        } else if ((c & 0xF8) == 0xF0) {
            cp = c & 0x07;
            len = 4;
        } else {
            *error = "a text is not valid UTF-8";
            return false;
        }
        if (i + len > s.size()) {
            *error = "a text is not valid UTF-8";
            return false;
        }
        for (std::size_t k = 1; k < len; ++k) {
            if ((p[i + k] & 0xC0) != 0x80) {
                *error = "a text is not valid UTF-8";
                return false;
            }
            cp = (cp << 6) | (p[i + k] & 0x3F);
        }
        const bool overlong =
            (len == 2 && cp < 0x80) || (len == 3 && cp < 0x800) || (len == 4 && cp < 0x10000);
        if (overlong || cp > 0x10FFFF || (cp >= 0xD800 && cp < 0xE000)) {
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

void AppendDate(std::string& out, const Date& date) {
    const auto t = static_cast<std::time_t>(std::floor(date.seconds));
    std::tm tm{};
    gmtime_r(&t, &tm);
    char buf[64];
    std::strftime(buf, sizeof buf, "%Y-%m-%dT%H:%M:%SZ", &tm);
    out += buf;
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
            AppendDate(out, v.date());
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

std::optional<Value> Parse(std::string_view bytes, std::string* error) {
    std::string ignored;
    if (error == nullptr) error = &ignored;
    if (bytes.size() > kMaxPlistFileBytes) {
        *error = "property list too large";
        return std::nullopt;
    }
    PlistPtr root;
    plist_t raw = nullptr;
    if (bytes.size() >= 8 && bytes.substr(0, 8) == "bplist00") {
        if (!CheckBinaryStructure(bytes, error)) return std::nullopt;
        plist_from_bin(bytes.data(), static_cast<std::uint32_t>(bytes.size()), &raw);
    } else {
        if (bytes.find("<plist") == std::string_view::npos) {
            *error = "not a property list";
            return std::nullopt;
        }
        if (!XmlNestingWithin(bytes, kMaxNestingDepth)) {
            *error = "property list nested too deeply";
            return std::nullopt;
        }
        plist_from_xml(bytes.data(), static_cast<std::uint32_t>(bytes.size()), &raw);
    }
    root.reset(raw);
    if (!root) {
        *error = "damaged or not a property list";
        return std::nullopt;
    }
    Value value;
    if (!Convert(root.get(), 0, &value, error)) return std::nullopt;
    return value;
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
    result.value = Parse(file.bytes, &result.reason);
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
