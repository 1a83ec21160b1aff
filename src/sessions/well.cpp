#include "sessions/well.h"

#include <random>

#include "sessions/plist_codec.h"

namespace qv::sessions {

namespace {

// The 22-byte well key, "Kd8%w]?§305#èèr)+c2" in UTF-8.
constexpr unsigned char kWellKey[22] = {0x4B, 0x64, 0x38, 0x25, 0x77, 0x5D, 0x3F, 0xC2,
                                        0xA7, 0x33, 0x30, 0x35, 0x23, 0xC3, 0xA8, 0xC3,
                                        0xA8, 0x72, 0x29, 0x2B, 0x63, 0x32};
constexpr unsigned char kFirstPrevious = 0x61;  // 'a'

std::size_t Utf8Length(std::string_view s) {
    std::size_t n = 0;
    for (unsigned char c : s) n += (c & 0xC0) != 0x80;
    return n;
}

bool IsValidUtf8(std::string_view s) {
    const auto* p = reinterpret_cast<const unsigned char*>(s.data());
    for (std::size_t i = 0; i < s.size();) {
        std::size_t len = p[i] < 0x80             ? 1
                          : (p[i] & 0xE0) == 0xC0 ? 2
                          : (p[i] & 0xF0) == 0xE0 ? 3
                          : (p[i] & 0xF8) == 0xF0 ? 4
                                                  : 0;
        if (len == 0 || i + len > s.size()) return false;
        for (std::size_t k = 1; k < len; ++k) {
            if ((p[i + k] & 0xC0) != 0x80) return false;
        }
        i += len;
    }
    return true;
}

}  // namespace

plist::Data ScrambleWithWellKey(std::string_view plain) {
    plist::Data out;
    out.reserve(plain.size());
    unsigned previous = kFirstPrevious;
    for (std::size_t i = 0; i < plain.size(); ++i) {
        const auto s = static_cast<unsigned char>(plain[i]);
        out.push_back(static_cast<std::uint8_t>(s + previous + kWellKey[i % 22] + i));
        previous = s;
    }
    return out;
}

std::string UnscrambleWithWellKey(const plist::Data& scrambled) {
    std::string out;
    out.reserve(scrambled.size());
    unsigned previous = kFirstPrevious;
    for (std::size_t i = 0; i < scrambled.size(); ++i) {
        const auto plain =
            static_cast<unsigned char>(scrambled[i] - (previous + i) - kWellKey[i % 22]);
        out += static_cast<char>(plain);
        previous = plain;
    }
    return out;
}

std::optional<plist::Data> SetWellData(std::string_view text) {
    if (text.empty()) return plist::Data{};
    if (text.size() + 1 > kMaxWellDataBytes) return std::nullopt;
    static thread_local std::mt19937 random{std::random_device{}()};
    const unsigned n = std::uniform_int_distribution<unsigned>(0, 254)(random);
    std::string s = std::to_string(n).substr(0, 1);  // the first digit of n
    s += text;
    return ScrambleWithWellKey(s);
}

std::string GetWellData(const plist::Data& data) {
    if (data.empty()) return {};
    std::string plain = UnscrambleWithWellKey(data);
    if (!IsValidUtf8(plain)) return {};
    // Drop the random lead character (one UTF-8 sequence).
    std::size_t first = 1;
    while (first < plain.size() && (static_cast<unsigned char>(plain[first]) & 0xC0) == 0x80) {
        ++first;
    }
    std::string text = plain.substr(first);
    if (Utf8Length(text) <= 2) return {};
    return text;
}

std::string GetWellData(const plist::Value* value) {
    if (value == nullptr || !value->isData()) return {};
    return GetWellData(value->data());
}

plist::Data SetWellDict(const plist::Value& dict) {
    std::string xml;
    if (!plist::ToXml(dict, &xml, nullptr)) return {};
    return ScrambleWithWellKey(xml);
}

std::optional<plist::Value> GetWellDict(const plist::Data& data) {
    if (data.empty()) return plist::Value(plist::Dict{});
    auto parsed = plist::Parse(UnscrambleWithWellKey(data), nullptr);
    if (!parsed || !parsed->isDict()) return std::nullopt;
    return parsed;
}

}  // namespace qv::sessions
