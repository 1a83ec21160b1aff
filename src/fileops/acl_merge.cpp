#include "fileops/acl_merge.h"

#include <acl/libacl.h>

#include <optional>

#include "platform/file_system.h"

namespace qv::fileops {

namespace {

class ScopedAcl {
  public:
    explicit ScopedAcl(acl_t acl = nullptr) : acl_(acl) {}
    ~ScopedAcl() {
        if (acl_ != nullptr) ::acl_free(acl_);
    }
    ScopedAcl(const ScopedAcl&) = delete;
    ScopedAcl& operator=(const ScopedAcl&) = delete;
    acl_t get() const { return acl_; }
    // libacl may move the ACL while it grows, so entry creation needs the owner's pointer.
    acl_t* address() { return &acl_; }
    explicit operator bool() const { return acl_ != nullptr; }

  private:
    acl_t acl_;
};

std::optional<id_t> Qualifier(acl_entry_t entry) {
    void* qualifier = ::acl_get_qualifier(entry);
    if (qualifier == nullptr) return std::nullopt;
    const id_t id = *static_cast<id_t*>(qualifier);
    ::acl_free(qualifier);
    return id;
}

bool IsNamedTag(acl_tag_t tag) { return tag == ACL_USER || tag == ACL_GROUP; }

acl_entry_t FindEntry(acl_t acl, acl_tag_t tag, std::optional<id_t> who) {
    acl_entry_t entry = nullptr;
    for (int which = ACL_FIRST_ENTRY; ::acl_get_entry(acl, which, &entry) == 1;
         which = ACL_NEXT_ENTRY) {
        acl_tag_t entryTag = ACL_UNDEFINED_TAG;
        if (::acl_get_tag_type(entry, &entryTag) != 0 || entryTag != tag) continue;
        if (!IsNamedTag(tag) || Qualifier(entry) == who) return entry;
    }
    return nullptr;
}

// A POSIX ACL refuses two entries for one user or group, or two masks: an entry the
// destination has already is given the source's permissions instead of a second entry.
bool PutEntry(acl_t* acl, acl_entry_t from, acl_tag_t tag) {
    std::optional<id_t> who;
    if (IsNamedTag(tag) && !(who = Qualifier(from))) return false;
    acl_entry_t to = FindEntry(*acl, tag, who);
    if (to == nullptr && ::acl_create_entry(acl, &to) != 0) return false;
    return ::acl_copy_entry(to, from) == 0;
}

// Adds the source's named entries (and its mask) to dst; with withBase, its owner, group and
// other entries too, for a destination that has no ACL of that type to keep. The number of
// entries copied, -1 on failure.
int MergeAcl(acl_t src, acl_t* dst, bool withBase) {
    int copied = 0;
    bool hasNamed = false;
    acl_entry_t entry = nullptr;
    for (int which = ACL_FIRST_ENTRY; ::acl_get_entry(src, which, &entry) == 1;
         which = ACL_NEXT_ENTRY) {
        acl_tag_t tag = ACL_UNDEFINED_TAG;
        if (::acl_get_tag_type(entry, &tag) != 0) return -1;
        const bool named = IsNamedTag(tag);
        const bool base = tag == ACL_USER_OBJ || tag == ACL_GROUP_OBJ || tag == ACL_OTHER;
        if (!named && tag != ACL_MASK && !(withBase && base)) continue;
        if (!PutEntry(dst, entry, tag)) return -1;
        if (named || base) ++copied;
        hasNamed = hasNamed || named;
    }
    // The mask bounds the named entries; without one the ACL is invalid.
    if (hasNamed && FindEntry(*dst, ACL_MASK, std::nullopt) == nullptr &&
        ::acl_calc_mask(dst) != 0) {
        return -1;
    }
    return copied;
}

}  // namespace

// The number of entries copied and applied for one ACL type, the items given as paths that
// reach them whatever becomes of their folders (ProcPath of an open descriptor); 0 when there
// was nothing to copy or a step failed.
int CopyAclOfType(const std::string& src, const std::string& dst, acl_type_t type) {
    const ScopedAcl from(platform::sys().getacl(src.c_str(), type));
    if (!from || ::acl_entries(from.get()) <= 0) return 0;
    ScopedAcl to(platform::sys().getacl(dst.c_str(), type));
    if (!to) return 0;
    const bool withBase = ::acl_entries(to.get()) <= 0;
    const int copied = MergeAcl(from.get(), to.address(), withBase);
    if (copied <= 0 || ::acl_valid(to.get()) != 0) return 0;
    return platform::sys().setacl(dst.c_str(), type, to.get()) == 0 ? copied : 0;
}

// The access ACL of the open file srcFd merged into that of the open file dstFd.
bool MergeAccessAclOf(int srcFd, int dstFd) {
    const ScopedAcl from(platform::sys().fgetacl(srcFd));
    if (!from || ::acl_entries(from.get()) <= 0) return true;
    ScopedAcl to(platform::sys().fgetacl(dstFd));
    if (!to) return false;
    const bool withBase = ::acl_entries(to.get()) <= 0;
    const int copied = MergeAcl(from.get(), to.address(), withBase);
    if (copied <= 0 || ::acl_valid(to.get()) != 0) return false;
    return platform::sys().fsetacl(dstFd, to.get()) == 0;
}

}  // namespace qv::fileops
