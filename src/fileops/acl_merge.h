#pragma once
// Access-control lists merged from one item into another: the named entries and the mask
// added to what the destination has, the destination's own base entries kept unless it has
// none.

#include <sys/acl.h>

#include <string>

namespace qv::fileops {

// The number of entries copied and applied for one ACL type, the items given as paths that
// reach them whatever becomes of their folders (ProcPath of an open descriptor); 0 when there
// was nothing to copy or a step failed.
int CopyAclOfType(const std::string& src, const std::string& dst, acl_type_t type);

// The access ACL of the open file srcFd merged into that of the open file dstFd.
bool MergeAccessAclOf(int srcFd, int dstFd);

}  // namespace qv::fileops
