// Binary property lists read in place, and folder trees of names written as nested
// dictionaries: what the ExactSync index relies on to stay cheap for large trees.

#include "sessions/plist_view.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "sessions/plist_codec.h"

namespace qv::plist {
namespace {

// A folder of the given file names, then of the given sub-folders.
std::unique_ptr<NameTree> Folder(
    std::vector<std::string> files,
    std::vector<std::pair<std::string, std::unique_ptr<NameTree>>> folders = {}) {
    auto tree = std::make_unique<NameTree>();
    for (std::string& name : files) tree->entries.push_back({std::move(name), nullptr});
    for (auto& [name, folder] : folders) tree->entries.push_back({name, std::move(folder)});
    return tree;
}

std::vector<std::pair<std::string, std::unique_ptr<NameTree>>> Named(
    std::string name, std::unique_ptr<NameTree> folder) {
    std::vector<std::pair<std::string, std::unique_ptr<NameTree>>> one;
    one.emplace_back(std::move(name), std::move(folder));
    return one;
}

// The dictionary {"b": "", "a": {"c": ""}} written with its keys in that order, as another
// writer may leave them; one byte offsets and references.
std::string UnsortedDictionary() {
    std::string bytes = "bplist00";
    std::vector<std::size_t> offsets;
    auto add = [&](std::string object) {
        offsets.push_back(bytes.size());
        bytes += object;
    };
    add(std::string("\xD2\x01\x02\x03\x04", 5));  // 0: root {1: 3, 2: 4}
    add("\x51"
        "b");  // 1
    add("\x51"
        "a");                             // 2
    add(std::string("\x50", 1));          // 3: ""
    add(std::string("\xD1\x05\x03", 3));  // 4: {5: 3}
    add("\x51"
        "c");  // 5
    const std::size_t table = bytes.size();
    for (std::size_t off : offsets) bytes.push_back(static_cast<char>(off));
    std::string trailer(32, '\0');
    trailer[6] = 1;
    trailer[7] = 1;
    trailer[15] = static_cast<char>(offsets.size());
    trailer[31] = static_cast<char>(table);
    return bytes + trailer;
}

TEST(NameTreeWriter, WritesSortedFoldersThatBothReadersAgreeOn) {
    const std::string smile = "\xF0\x9F\x98\x80";  // outside the first plane: two UTF-16 units
    NameTree tree;
    tree.entries.push_back(
        {"Top", Folder({"b", "a", "\xC3\xA9t\xC3\xA9", smile, "a", "Z"},
                       Named("sub", Folder({"b"}, Named("empty", Folder({})))))});
    Value dict = Dict{
        {"fileVersion", 320}, {"name", "pair"}, {"when", Date{1000.5}}, {"list", Array{"x", "y"}}};
    std::string bytes, error;
    ASSERT_TRUE(ToBinary(dict, {{"tree", &tree}}, &bytes, &error)) << error;

    // The general reader sees the tree as dictionaries, each name once.
    const std::optional<Value> parsed = Parse(bytes, &error);
    ASSERT_TRUE(parsed) << error;
    const Value sub = Dict{{"b", ""}, {"empty", Dict{}}};
    const Value top =
        Dict{{"a", ""}, {"b", ""}, {"Z", ""}, {"\xC3\xA9t\xC3\xA9", ""}, {smile, ""}, {"sub", sub}};
    const Value expected = Dict{{"fileVersion", 320},
                                {"name", "pair"},
                                {"when", Date{1000.5}},
                                {"list", Array{"x", "y"}},
                                {"tree", Dict{{"Top", top}}}};
    EXPECT_EQ(*parsed, expected);

    // Read in place, the same answers.
    BinaryView view;
    ASSERT_TRUE(view.Open(bytes, &error)) << error;
    EXPECT_EQ(view.Integer(*view.Find(view.root(), "fileVersion")), 320);
    EXPECT_EQ(view.Text(*view.Find(view.root(), "name")), "pair");
    EXPECT_EQ(view.Date(*view.Find(view.root(), "when")), 1000.5);
    EXPECT_EQ(view.Date(*view.Find(view.root(), "name")), std::nullopt);
    const auto list = *view.Find(view.root(), "list");
    EXPECT_EQ(view.Count(list), 2u);
    EXPECT_EQ(view.Text(*view.Element(list, 1)), "y");
    EXPECT_FALSE(view.Element(list, 2));
    BinaryView copy = view;  // a copy reads its own bytes
    view = BinaryView();
    EXPECT_EQ(copy.Text(*copy.Find(copy.root(), "name")), "pair");
    view = std::move(copy);
    const auto topObject = view.Find(*view.Find(view.root(), "tree"), "Top");
    ASSERT_TRUE(topObject);
    EXPECT_EQ(view.Count(*topObject), 6u);
    for (const std::string& name : {std::string("a"), std::string("Z"), std::string("b"),
                                    std::string("\xC3\xA9t\xC3\xA9"), smile}) {
        const auto leaf = view.Find(*topObject, name);
        ASSERT_TRUE(leaf) << name;
        EXPECT_EQ(view.Text(*leaf), "") << name;
    }
    for (const char* absent : {"A", "c", "\xC3\xA9", "", "sub/b"}) {
        EXPECT_FALSE(view.Find(*topObject, absent)) << absent;
    }
    const auto subObject = view.Find(*topObject, "sub");
    ASSERT_TRUE(subObject);
    EXPECT_EQ(view.KindOf(*subObject), BinaryView::Kind::Dict);
    EXPECT_EQ(view.KindOf(*view.Find(*subObject, "empty")), BinaryView::Kind::Dict);
    EXPECT_FALSE(view.Find(*view.Find(*topObject, "a"), "x"));  // a text has no entries

    // Files from the general writer, and dictionaries whose keys are not in order.
    std::string general;
    ASSERT_TRUE(ToBinary(expected, &general, &error));
    ASSERT_TRUE(view.Open(general, &error)) << error;
    EXPECT_TRUE(view.Find(*view.Find(*view.Find(view.root(), "tree"), "Top"), smile));
    ASSERT_TRUE(view.Open(UnsortedDictionary(), &error)) << error;
    ASSERT_TRUE(view.Find(view.root(), "a"));
    EXPECT_TRUE(view.Find(*view.Find(view.root(), "a"), "c"));
    EXPECT_TRUE(view.Find(view.root(), "b"));

    // Of two entries with one name, the first given is written.
    for (const bool folderFirst : {false, true}) {
        NameTree twice;
        if (folderFirst) twice.entries.push_back({"x", Folder({"in"})});
        twice.entries.push_back({"x", nullptr});
        if (!folderFirst) twice.entries.push_back({"x", Folder({"in"})});
        ASSERT_TRUE(ToBinary(Dict{}, {{"t", &twice}}, &bytes, &error)) << error;
        const Value x = folderFirst ? Value(Dict{{"in", ""}}) : Value("");
        EXPECT_EQ(Parse(bytes, &error), Value(Dict{{"t", Dict{{"x", x}}}}));
    }

    // A name the format cannot hold is refused, not written.
    NameTree bad;
    bad.entries.push_back({"caf\xE9", nullptr});
    EXPECT_FALSE(ToBinary(dict, {{"tree", &bad}}, &bytes, &error));
}

TEST(BinaryView, DamagedFilesAreRefusedOrAnsweredWithinBounds) {
    NameTree tree;
    tree.entries.push_back({"Top", Folder({"one", "\xC3\xA9"}, Named("d", Folder({"x"})))});
    std::string bytes, error;
    ASSERT_TRUE(ToBinary(Dict{{"v", 1}}, {{"tree", &tree}}, &bytes, &error));

    // Whatever Open accepts must answer lookups without reading outside the file (the
    // sanitizer build checks the reads).
    auto probe = [](const std::string& input) {
        BinaryView view;
        std::string reason;
        if (!view.Open(input, &reason)) {
            EXPECT_FALSE(reason.empty());
            return false;
        }
        for (std::uint64_t object = 0; object < 64; ++object) {
            view.KindOf(object);
            view.Text(object);
            view.Integer(object);
            view.Number(object);
            for (const char* key : {"tree", "Top", "one", "d", "x", "\xC3\xA9"})
                view.Find(object, key);
        }
        return true;
    };
    EXPECT_TRUE(probe(bytes));
    int refused = 0;
    for (std::size_t size = 0; size < bytes.size(); ++size) {
        refused += probe(bytes.substr(0, size)) ? 0 : 1;
    }
    EXPECT_EQ(refused, static_cast<int>(bytes.size()));  // no shortened file has a trailer
    for (std::size_t at = 0; at < bytes.size(); ++at) {
        for (unsigned char flip : {0x01, 0x10, 0x80, 0xFF}) {
            std::string damaged = bytes;
            damaged[at] = static_cast<char>(damaged[at] ^ flip);
            probe(damaged);
        }
    }

    // A dictionary that holds itself is a tree without end, which no writer makes: refused,
    // so that an index damaged that way is never taken to say what the folders held.
    std::string cycle = UnsortedDictionary();
    cycle[8 + 4] = 0x00;  // the root's value for "a" is now the root
    BinaryView view;
    EXPECT_FALSE(view.Open(cycle, &error));
    EXPECT_EQ(error, "damaged binary property list (an object contains itself)");

    // A key that is not a text, a reference past the last object, a text with a NUL.
    std::string badKey = UnsortedDictionary();
    badKey[8 + 1] = 0x03;  // the empty text: still a text, accepted
    EXPECT_TRUE(view.Open(badKey, &error));
    badKey[8 + 1] = 0x04;  // a dictionary as a key
    EXPECT_FALSE(view.Open(badKey, &error));
    std::string farRef = UnsortedDictionary();
    farRef[8 + 3] = 0x06;
    EXPECT_FALSE(view.Open(farRef, &error));
    std::string nul = UnsortedDictionary();
    nul[8 + 5 + 1] = '\0';
    EXPECT_FALSE(view.Open(nul, &error));
    EXPECT_FALSE(view.Open("bplist00", &error));
    EXPECT_FALSE(view.Open("<?xml version=\"1.0\"?><plist><dict/></plist>", &error));
}

}  // namespace
}  // namespace qv::plist
