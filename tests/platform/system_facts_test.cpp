#include "platform/system_facts.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/utsname.h>
#include <unistd.h>

#include "support/test_support.h"

namespace qv::platform {
namespace {

void AddInterface(const test::TempDir& net, const std::string& name, const std::string& type,
                  const std::string& address) {
    ASSERT_EQ(::mkdir((net / name).c_str(), 0755), 0);
    test::WriteText(net / (name + "/type"), type + "\n");
    if (!address.empty()) test::WriteText(net / (name + "/address"), address + "\n");
}

TEST(SystemFactsTest, SystemNameComesFromTheFirstReadableOsRelease) {
    test::TempDir dir;
    struct Case {
        std::string osRelease;  // empty: no such file
        std::string fallback;
        std::string expected;
    };
    const Case cases[] = {
        {"NAME=x\nPRETTY_NAME=\"Debian GNU/Linux 12 (bookworm)\"\n", "PRETTY_NAME=Other",
         "Debian GNU/Linux 12 (bookworm)"},
        {"  PRETTY_NAME='Single \"quoted\"' # comment\n", "", "Single \"quoted\""},
        {"PRETTY_NAME=\"Say \\\"hi\\\" \\$HOME \\\\ done\"\n", "", "Say \"hi\" $HOME \\ done"},
        {"PRETTY_NAME=Bare\\ words\n", "", "Bare words"},
        {"", "PRETTY_NAME=\"From the fallback\"", "From the fallback"},
        {"NAME=none", "PRETTY_NAME=\"Not read\"", "Linux"},
        {"", "", "Linux"},
    };
    for (const Case& c : cases) {
        SystemFactSources sources;
        sources.osRelease = dir / "os-release";
        sources.fallbackOsRelease = dir / "fallback";
        sources.netFolder = dir / "no-net";
        ::unlink(sources.osRelease.c_str());
        ::unlink(sources.fallbackOsRelease.c_str());
        if (!c.osRelease.empty()) test::WriteText(sources.osRelease, c.osRelease);
        if (!c.fallback.empty()) test::WriteText(sources.fallbackOsRelease, c.fallback);
        EXPECT_EQ(ReadSystemFacts(sources).systemVersion, c.expected) << c.osRelease;
    }
}

TEST(SystemFactsTest, HardwareAddressOfTheFirstRealInterfaceInNameOrder) {
    test::TempDir net;
    AddInterface(net, "lo", "772", "00:00:00:00:00:00");
    AddInterface(net, "aaloop", "772", "11:22:33:44:55:66");  // a loopback by its type
    AddInterface(net, "dummy0", "1", "00:00:00:00:00:00");
    AddInterface(net, "eth1", "1", "");
    AddInterface(net, "wlan0", "1", "de:ad:be:ef:00:02");
    AddInterface(net, "eth2", "1", "52:54:00:ab:cd:ef");
    SystemFactSources sources;
    sources.netFolder = net.path();
    EXPECT_EQ(ReadSystemFacts(sources).macAddress, "52.54.00.AB.CD.EF");

    sources.netFolder = net / "missing";
    EXPECT_EQ(ReadSystemFacts(sources).macAddress, "");
}

TEST(SystemFactsTest, UserAndKernelOfThisProcess) {
    const SystemFacts facts = ReadSystemFacts();
    EXPECT_EQ(facts.uid, static_cast<long>(::getuid()));
    EXPECT_EQ(facts.egid, static_cast<long>(::getegid()));
    EXPECT_FALSE(facts.fullName.empty());
    EXPECT_EQ(facts.fullName.find(','), std::string::npos);
    utsname names{};
    ASSERT_EQ(::uname(&names), 0);
    EXPECT_EQ(facts.systemBuild, names.release);
}

}  // namespace
}  // namespace qv::platform
