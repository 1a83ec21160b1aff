#pragma once
// Running as root on a user's behalf: who invoked the privileged instance (through pkexec or
// sudo), and the owner that files and folders Quorvel makes for itself are given back to, so
// that the user can still read and replace their preferences, documents, indexes and logs.

#include <sys/types.h>

#include <optional>
#include <string>
#include <string_view>

namespace qv::platform {

struct InvokingUserInfo {
    uid_t uid = 0;
    gid_t gid = 0;
    std::string home;
};

bool RunningAsRoot();

// When the effective user is root: the user named by PKEXEC_UID, else by SUDO_UID, as the user
// database knows them. Nothing when not root, when neither is set, or when it names root.
std::optional<InvokingUserInfo> InvokingUser();

// From now on, new files made through WriteFileAtomically, folders made through
// CreateFolderWithFoldersInBetween (unless told they are the process's) and the preferences
// folder are given to uid:gid. Only root may.
void SetOwnerOfCreatedFiles(uid_t uid, gid_t gid);
void ClearOwnerOfCreatedFiles();
// Gives a just-made item (the link itself, never its target) or an open file to that owner;
// nothing when no owner is set.
void GiveCreatedItem(const std::string& path);
void GiveCreatedFile(int fd);

// The privileged instance tells the one that launched it that it is up: the line on standard
// output, flushed, then standard output goes to /dev/null, so that the launcher may go without
// the instance dying of a broken pipe later.
void AnnounceOnStandardOutput(std::string_view line);

}  // namespace qv::platform
