#include "platform/icu_on_demand.h"

#include <dlfcn.h>

#include <mutex>

// ICU's headers rename every entry point after the library's version (udat_open becomes
// udat_open_72): the names looked up are spelled the same way, and the library is the one of
// the major version built against.
#define QV_ICU_TEXT2(x) #x
#define QV_ICU_TEXT(x) QV_ICU_TEXT2(x)
#define QV_ICU_LIBRARY(name) "lib" name ".so." QV_ICU_TEXT(U_ICU_VERSION_MAJOR_NUM)

namespace qv::platform {

namespace {

template <typename Function>
bool Find(void* library, const char* name, Function& function) {
    function = reinterpret_cast<Function>(dlsym(library, name));
    return function != nullptr;
}

// The library stays loaded for the rest of the process.
void* Open(const char* name) { return dlopen(name, RTLD_NOW | RTLD_LOCAL); }

}  // namespace

const IcuCommon* LoadIcuCommon() {
    static IcuCommon common;
    static bool loaded = false;
    static std::once_flag once;
    std::call_once(once, [] {
        void* library = Open(QV_ICU_LIBRARY("icuuc"));
        loaded = library != nullptr && Find(library, QV_ICU_TEXT(u_strFromUTF8), common.fromUtf8) &&
                 Find(library, QV_ICU_TEXT(u_strToUTF8), common.toUtf8) &&
                 Find(library, QV_ICU_TEXT(u_strFoldCase), common.foldCase);
    });
    return loaded ? &common : nullptr;
}

const IcuDates* LoadIcuDates() {
    static IcuDates dates;
    static bool loaded = false;
    static std::once_flag once;
    std::call_once(once, [] {
        void* library = Open(QV_ICU_LIBRARY("icui18n"));
        loaded = library != nullptr && Find(library, QV_ICU_TEXT(udat_open), dates.open) &&
                 Find(library, QV_ICU_TEXT(udat_format), dates.format) &&
                 Find(library, QV_ICU_TEXT(udat_close), dates.close);
    });
    return loaded ? &dates : nullptr;
}

}  // namespace qv::platform
