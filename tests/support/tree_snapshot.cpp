#include "support/tree_snapshot.h"

#include <acl/libacl.h>
#include <dirent.h>
#include <fcntl.h>
#include <sys/acl.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <ostream>
#include <sstream>
#include <stdexcept>
#include <vector>

namespace qv::test {

namespace {

constexpr std::string_view kOwnXattrPrefix = "user.quorvel.";
// ACLs are compared through their text; their xattr form would only repeat it.
constexpr std::string_view kAclXattrPrefix = "system.posix_acl_";

std::string ErrnoText(const std::string& what, const std::string& path) {
    return what + " " + path + ": " + std::strerror(errno);
}

std::uint64_t Fnv1a(std::uint64_t hash, const unsigned char* data, std::size_t size) {
    for (std::size_t i = 0; i < size; ++i) {
        hash ^= data[i];
        hash *= 0x100000001b3ULL;
    }
    return hash;
}

void DigestFile(const std::string& path, ItemSnapshot& item) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) {
        item.unreadable = true;
        return;
    }
    std::uint64_t hash = 0xcbf29ce484222325ULL;
    unsigned char buffer[1 << 16];
    for (;;) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) item.unreadable = true;
        if (n <= 0) break;
        hash = Fnv1a(hash, buffer, static_cast<std::size_t>(n));
    }
    ::close(fd);
    item.digest = hash;
}

void ReadXattrs(const std::string& path, ItemSnapshot& item) {
    ssize_t size = ::llistxattr(path.c_str(), nullptr, 0);
    if (size <= 0) return;
    std::string names(static_cast<std::size_t>(size), '\0');
    size = ::llistxattr(path.c_str(), names.data(), names.size());
    if (size < 0) throw std::runtime_error(ErrnoText("llistxattr", path));
    names.resize(static_cast<std::size_t>(size));
    for (std::size_t at = 0; at < names.size();) {
        const std::string name(names.c_str() + at);
        at += name.size() + 1;
        if (name.rfind(kOwnXattrPrefix, 0) == 0 || name.rfind(kAclXattrPrefix, 0) == 0) continue;
        const ssize_t n = ::lgetxattr(path.c_str(), name.c_str(), nullptr, 0);
        if (n < 0) throw std::runtime_error(ErrnoText("lgetxattr " + name, path));
        std::string value(static_cast<std::size_t>(n), '\0');
        const ssize_t got = ::lgetxattr(path.c_str(), name.c_str(), value.data(), value.size());
        if (got < 0) throw std::runtime_error(ErrnoText("lgetxattr " + name, path));
        value.resize(static_cast<std::size_t>(got));
        item.xattrs[name] = value;
    }
}

// The text of the ACL, or empty when it says no more than the mode does.
std::string AclText(const std::string& path, acl_type_t type) {
    acl_t acl = ::acl_get_file(path.c_str(), type);
    if (acl == nullptr) return {};
    std::string text;
    if (::acl_entries(acl) > (type == ACL_TYPE_ACCESS ? 3 : 0)) {
        if (char* t = ::acl_to_any_text(acl, nullptr, ',', 0)) {
            text = t;
            ::acl_free(t);
        }
    }
    ::acl_free(acl);
    return text;
}

void Visit(const std::string& path, const std::string& key, bool record, TreeSnapshot& out) {
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0) throw std::runtime_error(ErrnoText("lstat", path));
    ItemSnapshot item;
    item.mode = st.st_mode & 07777;
    item.uid = st.st_uid;
    item.gid = st.st_gid;
    item.mtimeSeconds = st.st_mtim.tv_sec;
    item.mtimeNanoseconds = st.st_mtim.tv_nsec;
    if (S_ISREG(st.st_mode)) {
        item.type = 'f';
        item.size = st.st_size;
        DigestFile(path, item);
    } else if (S_ISDIR(st.st_mode)) {
        item.type = 'd';
    } else if (S_ISLNK(st.st_mode)) {
        item.type = 'l';
        std::string target(static_cast<std::size_t>(st.st_size) + 1, '\0');
        const ssize_t n = ::readlink(path.c_str(), target.data(), target.size());
        if (n < 0) throw std::runtime_error(ErrnoText("readlink", path));
        target.resize(static_cast<std::size_t>(n));
        item.linkTarget = target;
    } else {
        item.type = 'o';
    }
    ReadXattrs(path, item);
    if (item.type != 'l') {
        item.accessAcl = AclText(path, ACL_TYPE_ACCESS);
        if (item.type == 'd') item.defaultAcl = AclText(path, ACL_TYPE_DEFAULT);
    }
    if (record) out.items.emplace(key, std::move(item));
    if (!S_ISDIR(st.st_mode)) return;

    DIR* dir = ::opendir(path.c_str());
    if (dir == nullptr) throw std::runtime_error(ErrnoText("opendir", path));
    std::vector<std::string> names;
    errno = 0;
    while (const dirent* e = ::readdir(dir)) {
        const std::string name = e->d_name;
        if (name != "." && name != "..") names.push_back(name);
    }
    const int error = errno;
    ::closedir(dir);
    if (error != 0) {
        errno = error;
        throw std::runtime_error(ErrnoText("readdir", path));
    }
    for (const std::string& name : names) {
        Visit(path + "/" + name, key.empty() ? name : key + "/" + name, true, out);
    }
}

// Names as bytes, readable: anything outside printable ASCII as \xNN.
std::string Printable(const std::string& bytes) {
    static constexpr char kHex[] = "0123456789abcdef";
    std::string out;
    for (const char ch : bytes) {
        const auto c = static_cast<unsigned char>(ch);
        if (c >= 0x20 && c < 0x7F && c != '\\') {
            out += ch;
        } else {
            out += "\\x";
            out += kHex[c >> 4];
            out += kHex[c & 0xF];
        }
    }
    return out;
}

std::string Octal(mode_t mode) {
    std::ostringstream s;
    s << '0' << std::oct << mode;
    return s.str();
}

std::string Mtime(const ItemSnapshot& item) {
    std::ostringstream s;
    s << item.mtimeSeconds << '.';
    s.width(9);
    s.fill('0');
    s << item.mtimeNanoseconds;
    return s.str();
}

std::string Xattrs(const std::map<std::string, std::string>& xattrs) {
    std::string out = "{";
    for (const auto& [name, value] : xattrs) {
        if (out.size() > 1) out += ", ";
        out += Printable(name) + "=" + Printable(value);
    }
    return out + "}";
}

std::string Acl(const std::string& text) { return text.empty() ? "none" : Printable(text); }

// "field: a != b" for every field that differs.
std::string FieldDifferences(const ItemSnapshot& a, const ItemSnapshot& b) {
    std::vector<std::string> parts;
    const auto note = [&](bool differs, const char* field, const std::string& x,
                          const std::string& y) {
        if (differs) parts.push_back(std::string(field) + " " + x + " != " + y);
    };
    note(a.type != b.type, "type", std::string(1, a.type), std::string(1, b.type));
    note(a.size != b.size, "size", std::to_string(a.size), std::to_string(b.size));
    note(a.digest != b.digest || a.unreadable != b.unreadable, "content",
         a.unreadable ? "unreadable" : std::to_string(a.digest),
         b.unreadable ? "unreadable" : std::to_string(b.digest));
    note(a.mode != b.mode, "mode", Octal(a.mode), Octal(b.mode));
    note(a.uid != b.uid, "uid", std::to_string(a.uid), std::to_string(b.uid));
    note(a.gid != b.gid, "gid", std::to_string(a.gid), std::to_string(b.gid));
    note(a.mtimeSeconds != b.mtimeSeconds || a.mtimeNanoseconds != b.mtimeNanoseconds, "mtime",
         Mtime(a), Mtime(b));
    note(a.linkTarget != b.linkTarget, "link", Printable(a.linkTarget), Printable(b.linkTarget));
    note(a.xattrs != b.xattrs, "xattrs", Xattrs(a.xattrs), Xattrs(b.xattrs));
    note(a.accessAcl != b.accessAcl, "acl", Acl(a.accessAcl), Acl(b.accessAcl));
    note(a.defaultAcl != b.defaultAcl, "default acl", Acl(a.defaultAcl), Acl(b.defaultAcl));
    std::string out;
    for (const std::string& p : parts) out += (out.empty() ? "" : "; ") + p;
    return out;
}

std::string Key(const std::string& key) { return key.empty() ? "(root)" : Printable(key); }

}  // namespace

TreeSnapshot Snapshot(const std::string& root, SnapshotOptions options) {
    TreeSnapshot out;
    Visit(root, "", options.withRoot, out);
    return out;
}

std::string Describe(const ItemSnapshot& item) {
    std::string out = std::string(1, item.type) + " mode " + Octal(item.mode) + " uid " +
                      std::to_string(item.uid) + " gid " + std::to_string(item.gid) + " mtime " +
                      Mtime(item);
    if (item.type == 'f') out += " size " + std::to_string(item.size);
    if (item.type == 'l') out += " -> " + Printable(item.linkTarget);
    if (!item.xattrs.empty()) out += " xattrs " + Xattrs(item.xattrs);
    if (!item.accessAcl.empty()) out += " acl " + Acl(item.accessAcl);
    if (!item.defaultAcl.empty()) out += " default acl " + Acl(item.defaultAcl);
    return out;
}

std::string Diff(const TreeSnapshot& a, const TreeSnapshot& b) {
    std::string out;
    auto x = a.items.begin();
    auto y = b.items.begin();
    while (x != a.items.end() || y != b.items.end()) {
        if (y == b.items.end() || (x != a.items.end() && x->first < y->first)) {
            out += "only in the first:  " + Key(x->first) + " (" + Describe(x->second) + ")\n";
            ++x;
        } else if (x == a.items.end() || y->first < x->first) {
            out += "only in the second: " + Key(y->first) + " (" + Describe(y->second) + ")\n";
            ++y;
        } else {
            if (!(x->second == y->second)) {
                out += "differs: " + Key(x->first) + ": " + FieldDifferences(x->second, y->second) +
                       "\n";
            }
            ++x;
            ++y;
        }
    }
    return out;
}

::testing::AssertionResult SameTrees(const std::string& a, const std::string& b,
                                     SnapshotOptions options) {
    const TreeSnapshot first = Snapshot(a, options);
    const TreeSnapshot second = Snapshot(b, options);
    if (first == second) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure()
           << "the trees " << a << " (first) and " << b << " (second) differ:\n"
           << Diff(first, second);
}

void PrintTo(const TreeSnapshot& snapshot, std::ostream* out) {
    *out << snapshot.items.size() << " items";
}

}  // namespace qv::test
