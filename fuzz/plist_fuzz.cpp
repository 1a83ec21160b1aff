// libFuzzer entry point: any bytes given to the property-list reader must yield a value or a
// failure, never a crash, a hang or a leak. A value that comes back must serialise and read
// back to an equal value.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "sessions/plist_codec.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string error;
    auto value =
        qv::plist::Parse(std::string_view(reinterpret_cast<const char*>(data), size), &error);
    if (!value) return 0;
    std::string xml;
    if (!qv::plist::ToXml(*value, &xml, &error)) return 0;  // e.g. a string that is not UTF-8
    auto again = qv::plist::Parse(xml, &error);
    if (!again) std::abort();
    std::string xml2;
    if (!qv::plist::ToXml(*again, &xml2, &error) || xml2 != xml) std::abort();
    return 0;
}
