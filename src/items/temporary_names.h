#pragma once
// The names copies are written under before they are renamed into place, and how a leftover of
// an interrupted copy is told from a user's item: the scan lists them, the executor removes them.

#include <string>

namespace qv::items {

inline constexpr const char* kReplaceTempName = "QVTempFile";
inline constexpr const char* kRenameTempName = "Quorvel_Temporary_Name";
// A link cannot carry the mark: its copy is made under a name of its own, which a user's link
// does not take by chance, and a link at such a name is taken for a leftover.
inline constexpr const char* kLinkTempName = "QVTempLink~quorvel";

// True for "QVTempFile" and "QVTempFile N", "QVTempLink~quorvel" and "QVTempLink~quorvel N":
// the names the executor writes copies under.
bool IsTemporaryName(const std::string& name);
// A leftover of an interrupted copy in the open folder dirFd: a temporary name and the mark, or
// a link at a link's temporary name.
bool IsMarkedTemporary(int dirFd, const std::string& name);

}  // namespace qv::items
