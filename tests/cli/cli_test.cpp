// The `quorvel` command, run as a user would run it.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>

#include "platform/file_io.h"
#include "sessions/plist_codec.h"
#include "support/test_support.h"

namespace qv {
namespace {

class CliTest : public test::IsolatedHomeTest {
  protected:
    // Runs quorvel with the arguments; returns the exit status, stdout in *out, stderr in *err.
    int Quorvel(const std::string& args, std::string* out = nullptr, std::string* err = nullptr,
                const std::string& env = "", const std::string& binary = QV_QUORVEL_BIN) {
        const std::string errFile = dir_ / "stderr.txt";
        const int rc = test::RunCommand(
            env + " " + test::ShellQuote(binary) + " " + args + " 2>" + test::ShellQuote(errFile),
            out);
        if (err) *err = test::ReadText(errFile);
        return rc;
    }
};

TEST_F(CliTest, NewDocumentThenListAndShow) {
    const std::string doc = dir_ / "My Sessions";
    std::string out, err;
    ASSERT_EQ(Quorvel("new-document " + test::ShellQuote(doc), &out, &err), 0) << err;
    EXPECT_EQ(out, doc + ".qvd\n");  // the extension is added
    ASSERT_TRUE(platform::IsExistingRegularFile(doc + ".qvd"));

    ASSERT_EQ(Quorvel("list --document " + test::ShellQuote(doc + ".qvd"), &out, &err), 0) << err;
    EXPECT_EQ(out,
              "0\tDefault Sync Session\tSynchronize\tNo\t\t\n"
              "1\tDefault Backup Session\tBackup\tNo\t\t\n");

    ASSERT_EQ(Quorvel("show --document=" + test::ShellQuote(doc + ".qvd"), &out, &err), 0) << err;
    EXPECT_EQ(out, test::ReadText(doc + ".qvd"));  // a current document shows as it is stored
    auto shown = plist::Parse(out, nullptr);
    ASSERT_TRUE(shown.has_value());
    EXPECT_EQ(shown->intAt("fileVersion"), 420);

    // An existing document is never overwritten by accident.
    test::WriteText(doc + ".qvd", "precious");
    EXPECT_EQ(Quorvel("new-document " + test::ShellQuote(doc + ".qvd"), &out, &err), 2);
    EXPECT_NE(err.find("already exists"), std::string::npos) << err;
    EXPECT_EQ(test::ReadText(doc + ".qvd"), "precious");
    EXPECT_EQ(Quorvel("new-document --force " + test::ShellQuote(doc + ".qvd"), &out, &err), 0);
    EXPECT_NE(test::ReadText(doc + ".qvd"), "precious");
}

TEST_F(CliTest, ListWithoutDocumentMakesTheTemplate) {
    const std::string tmpl = configDir() + "/app.quorvel.Quorvel.template.plist";
    std::string out, err;
    ASSERT_EQ(Quorvel("list", &out, &err), 0) << err;
    EXPECT_NE(out.find("0\tDefault Sync Session\tSynchronize\tNo"), std::string::npos) << out;
    EXPECT_NE(out.find("1\tDefault Backup Session\tBackup\tNo"), std::string::npos) << out;
    ASSERT_TRUE(platform::IsExistingRegularFile(tmpl));
    EXPECT_TRUE(platform::IsExistingRegularFile(configDir() + "/app.quorvel.Quorvel.plist"));

    // The template is what list reads next time: an edit shows.
    auto read = plist::ReadFile(tmpl);
    ASSERT_TRUE(read.value.has_value());
    read.value->find("sessionsArray")->array()[1].find("consoleDict")->set("topFolder", "/src");
    ASSERT_TRUE(plist::WriteXmlFile(tmpl, *read.value).ok);
    ASSERT_EQ(Quorvel("list", &out, &err), 0) << err;
    EXPECT_NE(out.find("1\tDefault Backup Session\tBackup\tNo\t/src\t\n"), std::string::npos)
        << out;
}

TEST_F(CliTest, TextsFollowTheUsersLanguage) {
    std::string out, err;
    ASSERT_EQ(Quorvel("list", &out, &err, "LANGUAGE=fr"), 0) << err;
    EXPECT_NE(out.find("Session de synchronisation par défaut\tSynchroniser\tNon"),
              std::string::npos)
        << out;
}

TEST_F(CliTest, RefusedDocumentsAndBadArgumentsExitWithTwo) {
    const std::string newer = dir_ / "newer.qvd";
    test::WriteText(newer,
                    "<?xml version=\"1.0\" encoding=\"UTF-8\"?><plist version=\"1.0\"><dict>"
                    "<key>fileVersion</key><integer>421</integer><key>sessionsArray</key><array>"
                    "<dict/></array></dict></plist>");
    test::WriteText(dir_ / "junk.qvd", "not a property list");
    std::string out, err;
    EXPECT_EQ(Quorvel("list --document " + test::ShellQuote(newer), &out, &err), 2);
    EXPECT_NE(err.find("Can't open the file\n\"" + newer +
                       "\"\nbecause it has been created by a higher version."),
              std::string::npos)
        << err;
    EXPECT_TRUE(out.empty());

    const struct {
        std::string args;
        const char* message;
    } cases[] = {
        {"show --document " + test::ShellQuote(dir_ / "junk.qvd"), "not a property list"},
        {"show --document " + test::ShellQuote(dir_ / "missing.qvd"), "does not exist"},
        {"show --document " + test::ShellQuote(dir_.path()), "not a file"},
        {"list --document", "--document needs a file"},
        {"frobnicate", "unknown command"},
        {"list --bogus", "unknown option"},
        {"", "no command given"},
        {"new-document", "needs one FILE.qvd"},
        {"list extra", "unexpected argument"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(Quorvel(c.args, &out, &err), 2) << c.args;
        EXPECT_NE(err.find(c.message), std::string::npos) << c.args << " -> " << err;
    }
}

TEST_F(CliTest, HelpVersionAndMissingResources) {
    std::string out, err;
    EXPECT_EQ(Quorvel("--help", &out, &err), 0);
    EXPECT_NE(out.find("new-document FILE.qvd"), std::string::npos);
    EXPECT_EQ(Quorvel("list --version", &out, &err), 0);
    EXPECT_EQ(out.rfind("quorvel ", 0), 0u) << out;

    // A copy of the program without its string tables refuses to run, and says why.
    const std::string lonely = dir_ / "elsewhere/bin/quorvel";
    std::filesystem::create_directories(dir_ / "elsewhere/bin");
    std::filesystem::copy_file(QV_QUORVEL_BIN, lonely);
    EXPECT_EQ(Quorvel("list", &out, &err, "", lonely), 2);
    EXPECT_NE(err.find("Can't find the file \"Localizable.strings\""), std::string::npos) << err;
}

}  // namespace
}  // namespace qv
