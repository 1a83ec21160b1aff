// libFuzzer entry point: any bytes given to the property-list reader must yield a value or a
// failure, never a crash, a hang or a leak. A value that comes back must serialise and read
// back to an equal value. The in-place reader must refuse the bytes or answer every lookup
// within them.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "sessions/plist_codec.h"
#include "sessions/plist_view.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string error;
    qv::plist::BinaryView view;
    if (view.Open(std::string(reinterpret_cast<const char*>(data), size), &error)) {
        for (std::uint64_t object = 0; object < 256; ++object) {
            view.Text(object);
            view.Integer(object);
            view.Date(object);
            for (const char* key : {"a", "treeSource", "\xC3\xA9"}) view.Find(object, key);
        }
    }
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
