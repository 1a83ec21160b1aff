#include "sessions/plist_view.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "platform/utf8.h"

namespace qv::plist {

namespace {

// Seconds between 1970-01-01 and 2001-01-01, the epoch of binary dates.
constexpr double kEpoch2001 = 978307200.0;

std::uint64_t BigEndian(const unsigned char* p, std::size_t n) {
    std::uint64_t v = 0;
    for (std::size_t k = 0; k < n; ++k) v = (v << 8) | p[k];
    return v;
}

int Sign(int c) { return c < 0 ? -1 : c > 0 ? 1 : 0; }

int CompareBytes(std::string_view x, std::string_view y) { return Sign(x.compare(y)); }

}  // namespace

bool Utf16BigEndianToUtf8(const unsigned char* units, std::uint64_t count, std::string* out) {
    out->clear();
    for (std::uint64_t k = 0; k < count; ++k) {
        std::uint32_t u = static_cast<std::uint32_t>(BigEndian(units + 2 * k, 2));
        if (u >= 0xDC00 && u <= 0xDFFF) return false;
        if (u >= 0xD800 && u <= 0xDBFF) {
            if (k + 1 == count) return false;
            const auto low = static_cast<std::uint32_t>(BigEndian(units + 2 * (k + 1), 2));
            if (low < 0xDC00 || low > 0xDFFF) return false;
            u = 0x10000 + ((u - 0xD800) << 10) + (low - 0xDC00);
            ++k;
        }
        platform::AppendUtf8(u, out);
    }
    return true;
}

std::uint64_t BinaryView::OffsetOf(std::uint64_t object) const {
    const unsigned char* b = bytes();
    return BigEndian(b + tableOffset_ + object * offsetSize_, offsetSize_);
}

std::uint64_t BinaryView::Ref(std::uint64_t at) const { return BigEndian(bytes() + at, refSize_); }

// The object's kind, count and where its contents start; none when any of it lies outside the
// object area. Checked for every object by Open, so later callers may rely on it.
std::optional<BinaryView::Header> BinaryView::ReadHeader(std::uint64_t object) const {
    const unsigned char* b = bytes();
    const std::uint64_t off = OffsetOf(object);
    if (off < 8 || off >= tableOffset_) return std::nullopt;
    Header h;
    h.kind = b[off] >> 4;
    h.count = b[off] & 0x0F;
    h.body = off + 1;
    const bool counted = h.kind == 0x4 || h.kind == 0x5 || h.kind == 0x6 || h.kind == 0xA ||
                         h.kind == 0xC || h.kind == 0xD;
    if (counted && h.count == 0x0F) {
        const std::uint64_t pos = off + 1;
        if (pos >= tableOffset_ || (b[pos] >> 4) != 0x1 || (b[pos] & 0x0F) > 3) {
            return std::nullopt;
        }
        const std::uint64_t len = std::uint64_t{1} << (b[pos] & 0x0F);
        if (pos + 1 + len > tableOffset_) return std::nullopt;
        h.count = BigEndian(b + pos + 1, len);
        h.body = pos + 1 + len;
    }
    const std::uint64_t room = tableOffset_ - h.body;
    switch (h.kind) {
        case 0x0:
            return h;
        case 0x1:
        case 0x2:
        case 0x3: {
            if (h.kind == 0x3 && h.count != 3) return std::nullopt;
            if (h.kind == 0x2 && h.count != 2 && h.count != 3) return std::nullopt;
            if (h.count > 4) return std::nullopt;
            if ((std::uint64_t{1} << h.count) > room) return std::nullopt;
            return h;
        }
        case 0x4:
        case 0x5:
            if (h.count > room) return std::nullopt;
            return h;
        case 0x6:
            if (h.count > room / 2) return std::nullopt;
            return h;
        case 0x8:
            if (h.count + 1 > room) return std::nullopt;
            return h;
        case 0xA:
        case 0xC:
            if (h.count > room / refSize_) return std::nullopt;
            return h;
        case 0xD:
            if (h.count > room / refSize_ / 2) return std::nullopt;
            return h;
        default:
            return std::nullopt;
    }
}

bool BinaryView::Open(std::string bytes, std::string* reason) {
    bytes_ = std::move(bytes);
    const unsigned char* b = this->bytes();
    const std::size_t size = bytes_.size();
    const auto fail = [&](const char* why) {
        *reason = why;
        count_ = 0;
        return false;
    };
    if (size < 8 + 32 || std::memcmp(b, "bplist00", 8) != 0) {
        return fail("not a binary property list");
    }
    const unsigned char* trailer = b + size - 32;
    offsetSize_ = trailer[6];
    refSize_ = trailer[7];
    count_ = BigEndian(trailer + 8, 8);
    root_ = BigEndian(trailer + 16, 8);
    tableOffset_ = BigEndian(trailer + 24, 8);
    const std::uint64_t objectsEnd = size - 32;
    if (offsetSize_ < 1 || offsetSize_ > 8 || refSize_ < 1 || refSize_ > 8 || count_ == 0 ||
        root_ >= count_ || tableOffset_ < 8 || tableOffset_ > objectsEnd ||
        count_ > (objectsEnd - tableOffset_) / offsetSize_) {
        return fail("damaged binary property list (bad trailer)");
    }
    constexpr const char* kDamaged = "damaged binary property list";
    keysSorted_ = true;
    // Every object within bounds and every text valid first; then the containers, whose keys
    // may be any of those objects.
    std::string text;
    for (std::uint64_t object = 0; object < count_; ++object) {
        const std::optional<Header> h = ReadHeader(object);
        if (!h) return fail(kDamaged);
        if (h->kind == 0x5) {
            for (std::uint64_t k = 0; k < h->count; ++k) {
                if (b[h->body + k] == 0 || b[h->body + k] >= 0x80) return fail(kDamaged);
            }
        } else if (h->kind == 0x6) {
            if (!Utf16BigEndianToUtf8(b + h->body, h->count, &text) ||
                text.find('\0') != std::string::npos) {
                return fail(kDamaged);
            }
        }
    }
    for (std::uint64_t object = 0; object < count_; ++object) {
        const Header h = *ReadHeader(object);
        if (h.kind != 0xA && h.kind != 0xC && h.kind != 0xD) continue;
        const std::uint64_t refs = h.kind == 0xD ? 2 * h.count : h.count;
        for (std::uint64_t k = 0; k < refs; ++k) {
            if (Ref(h.body + k * refSize_) >= count_) return fail(kDamaged);
        }
        if (h.kind != 0xD) continue;
        for (std::uint64_t k = 0; k < h.count; ++k) {
            const std::uint64_t key = Ref(h.body + k * refSize_);
            if (KindOf(key) != Kind::Text) {
                return fail("damaged binary property list (a key that is not a text)");
            }
            if (k > 0 && keysSorted_ && CompareTexts(Ref(h.body + (k - 1) * refSize_), key) >= 0) {
                keysSorted_ = false;
            }
        }
    }
    if (ContainsItself()) return fail("damaged binary property list (an object contains itself)");
    return true;
}

bool BinaryView::ContainsItself() const {
    // A walk from the root that meets an object still on its way down: a tree that never ends,
    // which no writer makes. Objects shared by several containers are fine.
    enum : unsigned char { kUnseen, kOnPath, kDone };
    std::vector<unsigned char> state(count_, kUnseen);
    struct Step {
        std::uint64_t object;
        std::uint64_t next;  // the next of its references to follow
    };
    std::vector<Step> path{{root_, 0}};
    state[root_] = kOnPath;
    while (!path.empty()) {
        Step& step = path.back();
        const Header h = *ReadHeader(step.object);
        const bool container = h.kind == 0xA || h.kind == 0xC || h.kind == 0xD;
        // A dictionary's keys are texts: only its values can lead anywhere.
        const std::uint64_t first = h.kind == 0xD ? h.count : 0;
        const std::uint64_t end = h.kind == 0xD ? 2 * h.count : h.count;
        if (!container || first + step.next >= end) {
            state[step.object] = kDone;
            path.pop_back();
            continue;
        }
        const std::uint64_t child = Ref(h.body + (first + step.next++) * refSize_);
        if (state[child] == kOnPath) return true;
        if (state[child] == kUnseen) {
            state[child] = kOnPath;
            path.push_back({child, 0});
        }
    }
    return false;
}

BinaryView::Kind BinaryView::KindOf(std::uint64_t object) const {
    const unsigned char* b = bytes();
    if (object >= count_) return Kind::Other;
    const unsigned char marker = b[OffsetOf(object)];
    if (marker == 0x33) return Kind::Date;
    switch (marker >> 4) {
        case 0xD:
            return Kind::Dict;
        case 0xA:
            return Kind::Array;
        case 0x5:
        case 0x6:
            return Kind::Text;
        case 0x1:
            return Kind::Integer;
        case 0x2:
            return Kind::Real;
        default:
            return Kind::Other;
    }
}

int BinaryView::CompareText(std::uint64_t object, std::string_view text) const {
    const unsigned char* b = bytes();
    // Most keys are short ASCII names, their length in the marker.
    const std::uint64_t off = OffsetOf(object);
    if ((b[off] >> 4) == 0x5 && (b[off] & 0x0F) != 0x0F) {
        return CompareBytes(
            std::string_view(reinterpret_cast<const char*>(b + off + 1), b[off] & 0x0F), text);
    }
    const Header h = *ReadHeader(object);
    if (h.kind == 0x5) {
        return CompareBytes(std::string_view(reinterpret_cast<const char*>(b + h.body), h.count),
                            text);
    }
    std::string decoded;
    Utf16BigEndianToUtf8(b + h.body, h.count, &decoded);
    return CompareBytes(decoded, text);
}

int BinaryView::CompareTexts(std::uint64_t x, std::uint64_t y) const {
    const unsigned char* b = bytes();
    const Header hy = *ReadHeader(y);
    if (hy.kind == 0x5) {
        return CompareText(x,
                           std::string_view(reinterpret_cast<const char*>(b + hy.body), hy.count));
    }
    std::string decoded;
    Utf16BigEndianToUtf8(b + hy.body, hy.count, &decoded);
    return CompareText(x, decoded);
}

std::optional<std::uint64_t> BinaryView::Find(std::uint64_t dict, std::string_view key) const {
    if (KindOf(dict) != Kind::Dict) return std::nullopt;
    const Header h = *ReadHeader(dict);
    const auto keyAt = [&](std::uint64_t k) { return Ref(h.body + k * refSize_); };
    const auto valueAt = [&](std::uint64_t k) { return Ref(h.body + (h.count + k) * refSize_); };
    if (keysSorted_) {
        std::uint64_t lo = 0, hi = h.count;
        while (lo < hi) {
            const std::uint64_t mid = lo + (hi - lo) / 2;
            const int c = CompareText(keyAt(mid), key);
            if (c == 0) return valueAt(mid);
            if (c < 0) {
                lo = mid + 1;
            } else {
                hi = mid;
            }
        }
        return std::nullopt;
    }
    for (std::uint64_t k = 0; k < h.count; ++k) {
        if (CompareText(keyAt(k), key) == 0) return valueAt(k);
    }
    return std::nullopt;
}

std::uint64_t BinaryView::Count(std::uint64_t container) const {
    const Kind kind = KindOf(container);
    return kind == Kind::Dict || kind == Kind::Array ? ReadHeader(container)->count : 0;
}

std::optional<std::uint64_t> BinaryView::Element(std::uint64_t array, std::uint64_t index) const {
    if (KindOf(array) != Kind::Array) return std::nullopt;
    const Header h = *ReadHeader(array);
    if (index >= h.count) return std::nullopt;
    return Ref(h.body + index * refSize_);
}

std::optional<std::string> BinaryView::Text(std::uint64_t object) const {
    const unsigned char* b = bytes();
    if (KindOf(object) != Kind::Text) return std::nullopt;
    const Header h = *ReadHeader(object);
    if (h.kind == 0x5) return std::string(reinterpret_cast<const char*>(b + h.body), h.count);
    std::string decoded;
    Utf16BigEndianToUtf8(b + h.body, h.count, &decoded);
    return decoded;
}

std::optional<std::int64_t> BinaryView::Integer(std::uint64_t object) const {
    const unsigned char* b = bytes();
    if (KindOf(object) != Kind::Integer) return std::nullopt;
    const Header h = *ReadHeader(object);
    if (h.count > 3) return std::nullopt;  // 16-byte integers: beyond any version or count
    const std::uint64_t raw = BigEndian(b + h.body, std::size_t{1} << h.count);
    return static_cast<std::int64_t>(raw);
}

std::optional<double> BinaryView::Number(std::uint64_t object) const {
    const unsigned char* b = bytes();
    const Kind kind = KindOf(object);
    if (kind != Kind::Real && kind != Kind::Date) return std::nullopt;
    const Header h = *ReadHeader(object);
    if (h.count == 2) {
        const auto bits = static_cast<std::uint32_t>(BigEndian(b + h.body, 4));
        float f = 0;
        std::memcpy(&f, &bits, sizeof f);
        return f;
    }
    const std::uint64_t bits = BigEndian(b + h.body, 8);
    double d = 0;
    std::memcpy(&d, &bits, sizeof d);
    return d;
}

std::optional<double> BinaryView::Date(std::uint64_t object) const {
    if (KindOf(object) != Kind::Date) return std::nullopt;
    return *Number(object) + kEpoch2001;
}

}  // namespace qv::plist
