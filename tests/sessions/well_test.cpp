#include "sessions/well.h"

#include <gtest/gtest.h>

#include <set>

#include "sessions/automount_options.h"
#include "sessions/email_settings.h"
#include "sessions/session_document.h"

namespace qv::sessions {
namespace {

TEST(WellTest, ByteTransformFollowsTheKeyAndThePreviousByte) {
    // 'a' + 'a' (the start value) + 'K' (first key byte) + 0 = 0x10D -> 0x0D;
    // 'b' + 'a' (previous plain byte) + 'd' (second key byte) + 1 = 0x128 -> 0x28.
    EXPECT_EQ(ScrambleWithWellKey("ab"), (plist::Data{0x0D, 0x28}));
    // The key repeats after 22 bytes: byte 22 uses the first key byte again.
    const std::string text(23, 'z');
    const plist::Data scrambled = ScrambleWithWellKey(text);
    EXPECT_EQ(scrambled[22], static_cast<std::uint8_t>('z' + 'z' + 'K' + 22));
    EXPECT_EQ(UnscrambleWithWellKey(scrambled), text);
}

TEST(WellTest, PasswordsRoundTripAndTheTwoCharacterRule) {
    const struct {
        std::string text;
        std::string decoded;
    } cases[] = {
        {"", ""},
        {"a", ""},  // one or two characters read back as no password
        {"ab", ""},
        {"abc", "abc"},
        {"s3cr3t p@ss", "s3cr3t p@ss"},
        {"mot de passe é€😀", "mot de passe é€😀"},
        {"éé", ""},  // two characters, four bytes
    };
    for (const auto& c : cases) {
        auto data = SetWellData(c.text);
        ASSERT_TRUE(data.has_value()) << c.text;
        EXPECT_EQ(data->empty(), c.text.empty()) << c.text;
        EXPECT_EQ(GetWellData(*data), c.decoded) << c.text;
        // Encoded data is one lead character longer than the text.
        if (!c.text.empty()) {
            EXPECT_EQ(data->size(), c.text.size() + 1);
        }
    }
    // No data, or bytes that unscramble to invalid UTF-8, give no password.
    EXPECT_EQ(GetWellData(static_cast<const plist::Value*>(nullptr)), "");
    EXPECT_EQ(GetWellData(plist::Data{}), "");
    EXPECT_EQ(GetWellData(ScrambleWithWellKey(std::string("1\xff\xfe\xfd", 4))), "");
    // A password too long for the field is refused, never cut.
    EXPECT_TRUE(SetWellData(std::string(kMaxWellDataBytes - 1, 'x')).has_value());
    EXPECT_FALSE(SetWellData(std::string(kMaxWellDataBytes, 'x')).has_value());
}

TEST(WellTest, LeadCharacterIsARandomDigit) {
    std::set<plist::Data> encodings;
    std::set<char> leads;
    for (int i = 0; i < 200; ++i) {
        const plist::Data data = *SetWellData("password");
        encodings.insert(data);
        leads.insert(UnscrambleWithWellKey(data)[0]);
        EXPECT_EQ(GetWellData(data), "password");
    }
    for (char lead : leads) EXPECT_TRUE(lead >= '0' && lead <= '9') << lead;
    EXPECT_GT(encodings.size(), 1u);  // the same password does not always look the same
}

TEST(WellTest, EmailSettingsDictionary) {
    auto defaults = GetWellDict(GetSendEmailDefaultDict());
    ASSERT_TRUE(defaults.has_value());
    EXPECT_EQ(defaults->intAt("mSendEmailUseSSL"), -1);
    for (const char* key : {"mSendEmailTo", "mSendEmailFrom", "mSendEmailAccountID",
                            "mSendEmailSMTP", "mSendEmailPort", "mSendEmailPassword"}) {
        ASSERT_TRUE(defaults->contains(key)) << key;
        EXPECT_EQ(defaults->stringAt(key), "") << key;
    }
    plist::Value settings = SendEmailDefaultSettings();
    settings.set("mSendEmailPassword", "hunter22");
    const plist::Data stored = SetWellDict(settings);
    const std::string raw(stored.begin(), stored.end());
    EXPECT_EQ(raw.find("hunter22"), std::string::npos);  // not readable in the file
    EXPECT_EQ(GetWellDict(stored), settings);

    EXPECT_TRUE(GetWellDict(plist::Data{})->dict().empty());
    EXPECT_FALSE(GetWellDict(plist::Data{1, 2, 3, 4, 5}).has_value());
}

TEST(WellTest, VolumeListPasswordsAreFoundAndRemoved) {
    plist::Value doc = SessionDocument::NewTemplate();
    EXPECT_FALSE(VolumeListContainsPassword(doc, false));

    auto& rows = doc.find("sessionsArray")
                     ->array()[1]
                     .find("autoMountDict")
                     ->find("autoMountVolumeArray")
                     ->array();
    rows[5].set("password", *SetWellData("ab"));  // decodes to nothing: not a password
    EXPECT_FALSE(VolumeListContainsPassword(doc, false));
    rows[7].set("password", *SetWellData("secret"));
    EXPECT_TRUE(VolumeListContainsPassword(doc, false));
    EXPECT_TRUE(VolumeListContainsPassword(doc, false));  // asking does not remove
    EXPECT_TRUE(VolumeListContainsPassword(doc, true));
    EXPECT_TRUE(rows[7].find("password")->data().empty());
    EXPECT_FALSE(VolumeListContainsPassword(doc, false));
}

}  // namespace
}  // namespace qv::sessions
