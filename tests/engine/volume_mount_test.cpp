// Mounting a session's volumes: what each tool is given (never a password in an argument or
// the environment), rows a tool must not be given, how failures read, and a tool that hangs.

#include "engine/volume_mount.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <fstream>

#include "platform/file_io.h"
#include "sessions/automount_options.h"
#include "support/fake_child_runner.h"
#include "support/test_support.h"

namespace qv::engine {
namespace {

using Args = std::vector<std::string>;

plist::Value Row(std::int64_t type, const std::string& scheme, const std::string& host,
                 const std::string& path, const std::string& mountPoint) {
    plist::Value row = sessions::DefaultAutoMountRow();
    row.set("volumeType", type);
    row.set("scheme", scheme);
    row.set("user", "ann");
    row.set("host", host);
    row.set("path", path);
    row.set("mountPoint", mountPoint);
    return row;
}

bool Holds(const std::vector<std::string>& texts, const std::string& secret) {
    for (const std::string& t : texts) {
        if (t.find(secret) != std::string::npos) return true;
    }
    return false;
}

TEST(VolumeMountTest, EachToolGetsItsArgumentsAndThePasswordOnlyOnItsInput) {
    test::TempDir dir;
    const std::string point = dir / "share";  // never mounted here: the fake mounts nothing
    const std::string secret = "s3cr$t pass";
    // clang-format off
    const struct { bool root; plist::Value row; Args argv; std::string input; } cases[] = {
        {false, Row(1, "smb", "nas", "/music", point), {"gio", "mount", "smb://ann@nas/music"}, secret + "\n"},
        {false, Row(1, "davs", "dav.example", "/files", point), {"gio", "mount", "davs://ann@dav.example/files"}, secret + "\n"},
        {false, Row(1, "sftp", "box", "/srv/data", point), {"sshfs", "ann@box:/srv/data", point, "-o", "password_stdin"}, secret + "\n"},
        {false, Row(1, "nfs", "filer", "/export", point), {"mount", point}, ""},
        {true,  Row(1, "nfs", "filer", "/export", point), {"mount", "-t", "nfs", "filer:/export", point}, ""},
    };
    // clang-format on
    for (const auto& c : cases) {
        SCOPED_TRACE(c.argv.front() + " " + c.row.stringAt("scheme"));
        test::FakeChildRunner runner;
        MountSetting setting;
        setting.root = c.root;
        if (c.root) {  // a root instance mounts onto /mnt and the like only: checked first
            EXPECT_NE(MountVolume(c.row, secret, runner, setting).message, "");
            EXPECT_TRUE(runner.requests().empty());
            continue;
        }
        const MountResult r = MountVolume(c.row, secret, runner, setting);
        ASSERT_EQ(runner.requests().size(), 1u);
        const platform::ChildRequest request = runner.requests().front();
        EXPECT_EQ(request.argv, c.argv);
        EXPECT_EQ(request.options.input, c.input);
        Args environment;
        for (const auto& [name, value] : request.options.environment) environment.push_back(value);
        EXPECT_FALSE(Holds(request.argv, secret) || Holds(environment, secret));
        // The tool said it mounted the volume, but the folder is not a mount point.
        EXPECT_EQ(r.status, MountStatus::kFailed);
    }
}

TEST(VolumeMountTest, AsRootASharesPasswordIsInAPrivateFileThatGoesWithTheTool) {
    test::TempDir dir;
    test::FakeChildRunner runner;
    std::string credentials, content;
    mode_t mode = 0, folderMode = 0;
    runner.answer = [&](const platform::ChildRequest& request) {
        const std::string& options = request.argv.back();
        credentials = options.substr(12, options.find(',') - 12);  // "credentials=..."
        struct stat st {};
        ::stat(credentials.c_str(), &st);
        mode = st.st_mode & 07777;
        ::stat(credentials.substr(0, credentials.rfind('/')).c_str(), &st);
        folderMode = st.st_mode & 07777;
        content = test::ReadText(credentials);
        return test::Exited(32, "mount error(13): Permission denied");
    };
    MountSetting setting;
    setting.root = true;
    setting.runtimeFolder = dir.path();
    setting.uid = 1000;
    setting.gid = 1000;
    const MountResult r =
        MountVolume(Row(1, "smb", "nas", "/music", "/mnt/qv-test-never"), "pa55", runner, setting);
    ASSERT_EQ(runner.requests().size(), 1u);
    EXPECT_EQ(runner.requests()[0].argv,
              (Args{"mount", "-t", "cifs", "//nas/music", "/mnt/qv-test-never", "-o",
                    "credentials=" + credentials + ",uid=1000,gid=1000"}));
    EXPECT_EQ(content, "username=ann\npassword=pa55\n");
    EXPECT_EQ(mode, 0600u);
    EXPECT_EQ(folderMode, 0700u);
    EXPECT_FALSE(platform::ItemExists(credentials));
    EXPECT_FALSE(platform::ItemExists(credentials.substr(0, credentials.rfind('/'))));
    EXPECT_EQ(r.message, "Can't mount the volume. User or password not authorized.");
    ::rmdir("/mnt/qv-test-never");
}

TEST(VolumeMountTest, RowsAToolMustNotBeGivenAreRefusedAndFailuresReadAsTheyShould) {
    test::TempDir dir;
    test::FakeChildRunner runner;
    MountSetting setting;
    for (const plist::Value& row :
         {Row(1, "sftp", "-oProxyCommand=touch /tmp/x", "/srv", dir / "m"),
          Row(1, "smb", "nas", "/music\nline", dir / "m"), Row(1, "smb", "nas", "/music", "m"),
          Row(2, "file", "localhost", dir / "m", dir / "m")}) {
        EXPECT_NE(MountVolume(row, "", runner, setting).message, "");
    }
    EXPECT_TRUE(runner.requests().empty());  // the disk without a diskID included
    // clang-format off
    const struct { platform::ChildResult result; std::string message; } failures[] = {
        {test::Exited(1, "gio: smb://nas/: Failed to mount: Name or service not known"), "Can't mount the volume. Unable to lookup the host address."},
        {test::Exited(1, "ssh: connect to host box port 22: Connection refused"), "Can't mount the volume. No servers at that address."},
        {test::Exited(5, "odd"), "Can't mount the volume. Err 5."},
    };
    // clang-format on
    for (const auto& f : failures) {
        runner.answer = [&](const platform::ChildRequest&) { return f.result; };
        EXPECT_EQ(MountVolume(Row(1, "smb", "nas", "/m", dir / "m"), "", runner, setting).message,
                  f.message);
    }
}

TEST(VolumeMountTest, AsRootADocumentCannotMountOverOrUnmountWhatIsNotAVolumesFolder) {
    if (::geteuid() != 0) GTEST_SKIP() << "only a root instance has these limits";
    test::TempDir dir;
    const std::string full = "/mnt/qv-test-full-" + std::to_string(::getpid());
    test::WriteText(full + "/keep.txt", "keep");
    test::WriteText(dir / "disk.img", "not a disk either, but a regular file");
    test::FakeChildRunner runner;
    MountSetting setting;
    setting.root = true;
    plist::Value image = Row(3, "file", "localhost", "/x", "/mnt/qv-test-never");
    image.set("dmgPath", "/dev/null");
    // clang-format off
    const plist::Value refused[] = {
        Row(3, "file", "localhost", "/x", full + "/inner/.."),  // "/mnt/qv-test-full-N"
        Row(3, "file", "localhost", "/x", "/mnt/.."),           // "/"
        Row(1, "sftp", "box", "/srv", "/etc"),
        Row(2, "file", "localhost", "/x", full),                // not empty
        image,                                                  // a device, not an image file
    };
    // clang-format on
    for (const plist::Value& row : refused) {
        SCOPED_TRACE(row.stringAt("mountPoint"));
        EXPECT_EQ(MountVolume(row, "", runner, setting).status, MountStatus::kFailed);
    }
    EXPECT_TRUE(runner.requests().empty());
    EXPECT_NE(UnmountVolume({"x", "file", 2, "/dev/shm", {}}, runner, setting), "");
    EXPECT_TRUE(runner.requests().empty());
    EXPECT_EQ(test::ReadText(full + "/keep.txt"), "keep");
    test::RunCommand("rm -r " + full + "; rmdir /mnt/qv-test-never 2>/dev/null");
}

TEST(VolumeMountTest, AToolThatHangsEndsAtTheDeadlineOrAtOnceOnStop) {
    test::TempDir dir;
    test::WriteText(dir / "bin/gio", "#!/bin/sh\nsleep 60\n");
    ::chmod((dir / "bin/gio").c_str(), 0755);
    test::ScopedEnv env;
    env.Set("PATH", dir / "bin" + ":/usr/bin:/bin");
    MountSetting setting;
    setting.timeout = std::chrono::seconds(1);
    const auto started = std::chrono::steady_clock::now();
    MountResult r = MountVolume(Row(1, "smb", "nas", "/m", dir / "m"), "",
                                platform::SystemChildRunner(), setting);
    EXPECT_EQ(r.message, "Can't mount the volume. No answer from the host.");
    std::atomic<bool> stop{true};
    setting.timeout = std::chrono::seconds(60);
    setting.stop = &stop;
    r = MountVolume(Row(1, "smb", "nas", "/m", dir / "m"), "", platform::SystemChildRunner(),
                    setting);
    EXPECT_NE(r.message, "");
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(20));
}

}  // namespace
}  // namespace qv::engine
