#include "platform/icu_on_demand.h"

#include <dlfcn.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
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

// Names folded by a guess would pair the wrong files on a volume that ignores case: without the
// library, nothing is done at all. As when a library linked at start-up is missing, the process
// ends with a message and status 127.
[[noreturn]] void Missing(const char* library, const char* why) {
    std::fprintf(stderr,
                 "%s: can't load %s (%s): it is needed to compare names beyond ASCII ignoring "
                 "case and to write dates. Install ICU %d.\n",
                 program_invocation_short_name, library, why != nullptr ? why : "not found",
                 U_ICU_VERSION_MAJOR_NUM);
    std::fflush(nullptr);
    std::_Exit(127);
}

// The library's entry points, each looked up into its field of the table. The library stays
// loaded for the rest of the process.
template <typename Table, typename... Fields>
Table Load(const char* library, std::pair<const char*, Fields Table::*>... fields) {
    void* handle = dlopen(library, RTLD_NOW | RTLD_LOCAL);
    if (handle == nullptr) Missing(library, dlerror());
    Table table{};
    const auto find = [handle, library](const char* name, auto& function) {
        using Function = std::remove_reference_t<decltype(function)>;
        function = reinterpret_cast<Function>(dlsym(handle, name));
        if (function == nullptr) Missing(library, dlerror());
    };
    (find(fields.first, table.*fields.second), ...);
    return table;
}

}  // namespace

const IcuCommon& LoadIcuCommon() {
    static const IcuCommon common = Load<IcuCommon>(
        QV_ICU_LIBRARY("icuuc"), std::pair{QV_ICU_TEXT(u_strFromUTF8), &IcuCommon::fromUtf8},
        std::pair{QV_ICU_TEXT(u_strToUTF8), &IcuCommon::toUtf8},
        std::pair{QV_ICU_TEXT(u_strFoldCase), &IcuCommon::foldCase});
    return common;
}

const IcuDates& LoadIcuDates() {
    static const IcuDates dates = Load<IcuDates>(
        QV_ICU_LIBRARY("icui18n"), std::pair{QV_ICU_TEXT(udat_open), &IcuDates::open},
        std::pair{QV_ICU_TEXT(udat_format), &IcuDates::format},
        std::pair{QV_ICU_TEXT(udat_close), &IcuDates::close});
    return dates;
}

}  // namespace qv::platform
