#pragma once
// A property-list value: string, integer, real, boolean, date, data, array or dictionary.
// Dictionaries keep their keys sorted, so equal values always serialise to identical bytes.

#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <type_traits>
#include <variant>
#include <vector>

namespace qv::plist {

class Value;

// Seconds since 1970-01-01 00:00:00 UTC.
struct Date {
    double seconds = 0;
    bool operator==(const Date&) const = default;
};

using Data = std::vector<std::uint8_t>;
using Array = std::vector<Value>;
using Dict = std::map<std::string, Value, std::less<>>;

class Value {
  public:
    enum class Type { String, Integer, Real, Boolean, Date, Data, Array, Dict };

    Value() : v_(Dict{}) {}
    Value(const char* s) : v_(std::string(s)) {}
    Value(std::string s) : v_(std::move(s)) {}
    Value(std::string_view s) : v_(std::string(s)) {}
    template <typename T,
              std::enable_if_t<std::is_integral_v<T> && !std::is_same_v<T, bool>, int> = 0>
    Value(T i) : v_(static_cast<std::int64_t>(i)) {}
    Value(bool b) : v_(b) {}
    Value(double d) : v_(d) {}
    Value(plist::Date d) : v_(d) {}
    Value(plist::Data d) : v_(std::move(d)) {}
    Value(plist::Array a) : v_(std::move(a)) {}
    Value(plist::Dict d) : v_(std::move(d)) {}

    Type type() const { return static_cast<Type>(v_.index()); }
    bool isString() const { return type() == Type::String; }
    bool isInteger() const { return type() == Type::Integer; }
    bool isReal() const { return type() == Type::Real; }
    bool isBoolean() const { return type() == Type::Boolean; }
    bool isDate() const { return type() == Type::Date; }
    bool isData() const { return type() == Type::Data; }
    bool isArray() const { return type() == Type::Array; }
    bool isDict() const { return type() == Type::Dict; }
    bool isNumber() const { return isInteger() || isReal() || isBoolean(); }

    // Every option value is read through its integer value: integers as they are, reals
    // truncated, booleans 0 or 1, strings by their leading decimal number; anything else 0.
    std::int64_t intValue() const;
    double realValue() const;
    // The string, or the empty string for any other type.
    const std::string& str() const;

    // Typed access; the caller must have checked the type.
    const plist::Date& date() const { return std::get<plist::Date>(v_); }
    const plist::Data& data() const { return std::get<plist::Data>(v_); }
    const plist::Array& array() const { return std::get<plist::Array>(v_); }
    plist::Array& array() { return std::get<plist::Array>(v_); }
    const plist::Dict& dict() const { return std::get<plist::Dict>(v_); }
    plist::Dict& dict() { return std::get<plist::Dict>(v_); }

    // Dictionary lookups; nullptr when this is not a dictionary or has no such key.
    const Value* find(std::string_view key) const;
    Value* find(std::string_view key);
    bool contains(std::string_view key) const { return find(key) != nullptr; }
    // The integer value under key, or fallback when absent.
    std::int64_t intAt(std::string_view key, std::int64_t fallback = 0) const;
    // The string under key, or the empty string.
    const std::string& stringAt(std::string_view key) const;
    // The sub-dictionary or array under key, or nullptr when absent or of another type.
    const Value* dictAt(std::string_view key) const;
    Value* dictAt(std::string_view key);
    const Value* arrayAt(std::string_view key) const;
    Value* arrayAt(std::string_view key);

    // Sets key in this dictionary (which it must be) and returns the stored value.
    Value& set(std::string_view key, Value value);
    // Sets key only when absent.
    void setIfAbsent(std::string_view key, Value value);
    // Removes key; true when it was present.
    bool remove(std::string_view key);

    bool operator==(const Value& other) const = default;

  private:
    std::variant<std::string, std::int64_t, double, bool, plist::Date, plist::Data, plist::Array,
                 plist::Dict>
        v_;
};

// Numbers compare by value (an integer 1 equals a boolean true and a real 1.0); everything
// else compares exactly. Used to tell whether an option dictionary departs from its defaults.
bool EqualByValue(const Value& a, const Value& b);

}  // namespace qv::plist
