#pragma once
// ICU, loaded the first time it is needed. Most runs never fold a name beyond ASCII nor write a
// date with a pattern, and loaded at start-up its libraries would take about as much memory as
// all of a scan of 200,000 files: close to a fifth of such a run's peak.
//
// Each getter loads its library once, from any thread. A library that cannot be loaded ends the
// process with a message (status 127): folding names by a guess could pair the wrong files.

#include <unicode/udat.h>
#include <unicode/ustring.h>

namespace qv::platform {

// Case folding and UTF-8, from the common library.
struct IcuCommon {
    decltype(&::u_strFromUTF8) fromUtf8;
    decltype(&::u_strToUTF8) toUtf8;
    decltype(&::u_strFoldCase) foldCase;
};
const IcuCommon& LoadIcuCommon();

// Dates written with patterns, from the internationalisation library.
struct IcuDates {
    decltype(&::udat_open) open;
    decltype(&::udat_format) format;
    decltype(&::udat_close) close;
};
const IcuDates& LoadIcuDates();

}  // namespace qv::platform
