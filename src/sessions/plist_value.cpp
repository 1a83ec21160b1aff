#include "sessions/plist_value.h"

#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <limits>

namespace qv::plist {

namespace {
const std::string kEmptyString;

std::int64_t ClampToInt64(double d) {
    if (std::isnan(d)) return 0;
    if (d >= 9.2233720368547758e18) return std::numeric_limits<std::int64_t>::max();
    if (d <= -9.2233720368547758e18) return std::numeric_limits<std::int64_t>::min();
    return static_cast<std::int64_t>(d);
}
}  // namespace

std::int64_t Value::intValue() const {
    switch (type()) {
        case Type::Integer:
            return std::get<std::int64_t>(v_);
        case Type::Real:
            return ClampToInt64(std::get<double>(v_));
        case Type::Boolean:
            return std::get<bool>(v_) ? 1 : 0;
        case Type::String: {
            const std::string& s = std::get<std::string>(v_);
            errno = 0;
            long long v = std::strtoll(s.c_str(), nullptr, 10);
            return errno == ERANGE ? 0 : v;
        }
        default:
            return 0;
    }
}

double Value::realValue() const {
    switch (type()) {
        case Type::Integer:
            return static_cast<double>(std::get<std::int64_t>(v_));
        case Type::Real:
            return std::get<double>(v_);
        case Type::Boolean:
            return std::get<bool>(v_) ? 1.0 : 0.0;
        case Type::String:
            return std::strtod(std::get<std::string>(v_).c_str(), nullptr);
        default:
            return 0.0;
    }
}

const std::string& Value::str() const {
    return isString() ? std::get<std::string>(v_) : kEmptyString;
}

const Value* Value::find(std::string_view key) const {
    if (!isDict()) return nullptr;
    const auto& d = dict();
    auto it = d.find(key);
    return it == d.end() ? nullptr : &it->second;
}

Value* Value::find(std::string_view key) {
    return const_cast<Value*>(static_cast<const Value*>(this)->find(key));
}

std::int64_t Value::intAt(std::string_view key, std::int64_t fallback) const {
    const Value* v = find(key);
    return v ? v->intValue() : fallback;
}

const std::string& Value::stringAt(std::string_view key) const {
    const Value* v = find(key);
    return v ? v->str() : kEmptyString;
}

const Value* Value::dictAt(std::string_view key) const {
    const Value* v = find(key);
    return v && v->isDict() ? v : nullptr;
}
Value* Value::dictAt(std::string_view key) {
    Value* v = find(key);
    return v && v->isDict() ? v : nullptr;
}
const Value* Value::arrayAt(std::string_view key) const {
    const Value* v = find(key);
    return v && v->isArray() ? v : nullptr;
}
Value* Value::arrayAt(std::string_view key) {
    Value* v = find(key);
    return v && v->isArray() ? v : nullptr;
}

Value& Value::set(std::string_view key, Value value) {
    auto& d = dict();
    auto it = d.find(key);
    if (it != d.end()) {
        it->second = std::move(value);
        return it->second;
    }
    return d.emplace(std::string(key), std::move(value)).first->second;
}

void Value::setIfAbsent(std::string_view key, Value value) {
    if (!contains(key)) set(key, std::move(value));
}

bool Value::remove(std::string_view key) {
    if (!isDict()) return false;
    auto& d = dict();
    auto it = d.find(key);
    if (it == d.end()) return false;
    d.erase(it);
    return true;
}

bool EqualByValue(const Value& a, const Value& b) {
    if (a.isNumber() && b.isNumber()) return a.realValue() == b.realValue();
    if (a.type() != b.type()) return false;
    if (a.isArray()) {
        const auto& x = a.array();
        const auto& y = b.array();
        if (x.size() != y.size()) return false;
        for (std::size_t i = 0; i < x.size(); ++i) {
            if (!EqualByValue(x[i], y[i])) return false;
        }
        return true;
    }
    if (a.isDict()) {
        const auto& x = a.dict();
        const auto& y = b.dict();
        if (x.size() != y.size()) return false;
        for (auto i = x.begin(), j = y.begin(); i != x.end(); ++i, ++j) {
            if (i->first != j->first || !EqualByValue(i->second, j->second)) return false;
        }
        return true;
    }
    return a == b;
}

}  // namespace qv::plist
