#include "platform/icu_on_demand.h"

#include <dlfcn.h>

#include <optional>
#include <type_traits>
#include <utility>

// ICU's headers rename every entry point after the library's version (udat_open becomes
// udat_open_72): the names looked up are spelled the same way, and the library is the one of
// the major version built against.
#define QV_ICU_TEXT2(x) #x
#define QV_ICU_TEXT(x) QV_ICU_TEXT2(x)
#define QV_ICU_LIBRARY(name) "lib" name ".so." QV_ICU_TEXT(U_ICU_VERSION_MAJOR_NUM)

namespace qv::platform {

namespace {

// The library's entry points, each looked up into its field of the table; none when the library
// or any of them is missing. The library stays loaded for the rest of the process.
template <typename Table, typename... Fields>
std::optional<Table> Load(const char* library, std::pair<const char*, Fields Table::*>... fields) {
    void* handle = dlopen(library, RTLD_NOW | RTLD_LOCAL);
    if (handle == nullptr) return std::nullopt;
    Table table{};
    const auto find = [handle](const char* name, auto& function) {
        function =
            reinterpret_cast<std::remove_reference_t<decltype(function)>>(dlsym(handle, name));
        return function != nullptr;
    };
    if (!(find(fields.first, table.*fields.second) && ...)) return std::nullopt;
    return table;
}

}  // namespace

const IcuCommon* LoadIcuCommon() {
    static const std::optional<IcuCommon> common = Load<IcuCommon>(
        QV_ICU_LIBRARY("icuuc"), std::pair{QV_ICU_TEXT(u_strFromUTF8), &IcuCommon::fromUtf8},
        std::pair{QV_ICU_TEXT(u_strToUTF8), &IcuCommon::toUtf8},
        std::pair{QV_ICU_TEXT(u_strFoldCase), &IcuCommon::foldCase});
    return common ? &*common : nullptr;
}

const IcuDates* LoadIcuDates() {
    static const std::optional<IcuDates> dates = Load<IcuDates>(
        QV_ICU_LIBRARY("icui18n"), std::pair{QV_ICU_TEXT(udat_open), &IcuDates::open},
        std::pair{QV_ICU_TEXT(udat_format), &IcuDates::format},
        std::pair{QV_ICU_TEXT(udat_close), &IcuDates::close});
    return dates ? &*dates : nullptr;
}

}  // namespace qv::platform
