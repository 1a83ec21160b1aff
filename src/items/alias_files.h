#pragma once
// Alias files on Linux: desktop link files (a ".desktop" file of Type=Link whose URL is a
// file:// address), the form the desktop file managers make for "link to a place".

#include <string>

namespace qv::items {

inline constexpr std::size_t kMaxAliasPathBytes = 16384;

bool IsAlias(const std::string& path);
// The name an alias stands for: its file's last component without ".desktop" (a link file
// "report.pdf.desktop" stands for "report.pdf").
std::string AliasName(const std::string& path);
// Replaces path by what the alias points to, following chains of aliases. A path that is not
// an alias is left as it is (true); false when an alias cannot be resolved.
bool ResolveTheAlias(std::string& path);

}  // namespace qv::items
