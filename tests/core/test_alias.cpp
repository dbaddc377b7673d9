#include "core/JsonParse.h"
#include "platform/fileops.h"
#include "support/test_env.h"

namespace {

class AliasTest : public SimEnv {
protected:
    void writeAlias(const std::string& text) { writeHostFile(hostPath(kAliasFile), text); }
};

TEST_F(AliasTest, MissingFileGivesNoNames) {
    ALIAS_PARA a;
    EXPECT_EQ(get_json_alias_para(&a, "source", 0), 0);
    EXPECT_FALSE(FileOps::exists(kAliasFile));
}

TEST_F(AliasTest, LooksUpKindAndIdAndHonoursOffAndEmptyNames) {
    writeAlias(R"({"namelist": {
        "source": [
            {"id": 0, "valid": "on", "name": "abcdefghijkl"},
            {"id": "2", "valid": "on", "name": "Camera"},
            {"id": 3, "valid": "off", "name": "Hidden"},
            {"id": 4, "valid": "on", "name": ""}
        ],
        "crop": [ {"id": 0, "valid": "on", "name": "Left half"} ],
        "usermode": [ {"id": 5, "valid": "on", "name": "Evening"} ]
    }})");
    // Kind and id to the name found (a numeric string id counts), or none.
    const struct {
        const char* kind;
        int id;
        std::string name;
    } table[] = {{"source", 0, "abcdefghijkl"}, {"source", 2, "Camera"}, {"crop", 0, "Left half"},
                 {"usermode", 5, "Evening"},    {"source", 4, ""},       {"source", 1, ""},
                 {"nosuchkind", 0, ""}};
    for (const auto& row : table) {
        ALIAS_PARA a;
        EXPECT_EQ(get_json_alias_para(&a, row.kind, row.id), row.name.empty() ? 0 : 1) << row.kind << row.id;
        if (row.name.empty()) continue;
        EXPECT_EQ(a.id, row.id);
        EXPECT_EQ(a.name, row.name);
    }
    ALIAS_PARA off;
    EXPECT_EQ(get_json_alias_para(&off, "source", 3), 0);
    EXPECT_EQ(off.valid + " " + off.name, "off Hidden");  // filled although switched off
    EXPECT_TRUE(FileOps::exists(kAliasFile));
}

std::string sources(const std::string& elements) { return R"({"namelist": {"source": [)" + elements + "]}}"; }
const std::string kDvi = R"({"id": 1, "valid": "on", "name": "DVI desk"})";

TEST_F(AliasTest, ALookUpThatMeetsABrokenStepSetsTheFileAsideAndOneThatDoesNotKeepsIt) {
    // Each file looked up for source 1.
    const struct {
        std::string text;
        int result;
        bool kept;
    } table[] = {
        {R"({"other": 1})", 0, false},  // no "namelist"
        {sources(R"({"valid": "on", "name": "no id"}, )" + kDvi), 0, false},  // before the match
        {sources(R"({"id": "x1", "valid": "on", "name": "bad id"}, )" + kDvi), 0, false},
        {sources(R"("not an object", )" + kDvi), 0, false},
        {R"({"namelist": {"source": {"a": "DVI desk"}}})", 0, false},
        {sources(R"({"id": 1, "name": "no valid"}, )" + kDvi), 0, false},  // the match itself
        {sources(R"({"id": "1", "valid": "on"})"), 0, false},
        // A kind given as an object holds its members as elements; a text
        // or a number holds nothing, and neither do an array's elements,
        // which have no names.
        {R"({"namelist": {"source": {"a": {"id": 1, "valid": "on", "name": "DVI desk"}}}})", 1, true},
        {R"({"namelist": "source"})", 0, true},
        {R"({"namelist": {"source": "DVI desk"}})", 0, true},
        {R"({"namelist": {"source": 7}})", 0, true},
        {R"({"namelist": [{"source": [)" + kDvi + "]}]}", 0, true},
        {sources(R"({"id": 1, "valid": "on", "name": {"en": "DVI desk"}})"), 0, true},  // no text: no name
        // Steps this look-up never takes.
        {sources(R"({"id": 0, "valid": "on"}, )" + kDvi), 1, true},  // only the match's entry is read
        {sources(kDvi + R"(, {"name": "no id, after the match"})"), 1, true},
        {sources(kDvi + R"(, {"id": 1, "name": "a second 1 is never read"})"), 1, true},
        {R"({"namelist": {"crop": "another kind", "source": [)" + kDvi + "]}}", 1, true},
        {R"({"namelist": {"crop": []}})", 0, true},                          // no such kind
        {sources(R"({"id": 2, "valid": "on", "name": "HDMI1"})"), 0, true},  // no such id
    };
    for (const auto& row : table) {
        SCOPED_TRACE(row.text);
        writeAlias(row.text);
        ALIAS_PARA a;
        EXPECT_EQ(get_json_alias_para(&a, "source", 1), row.result);
        EXPECT_EQ(FileOps::exists(kAliasFile), row.kept);
        if (row.result == 1) { EXPECT_EQ(a.name, "DVI desk"); }
    }
}

TEST_F(AliasTest, TheUploadCheckRefusesExactlyTheFilesSomeLookUpSetsAside) {
    const struct {
        std::string text;
        const char* kind;
        int id;
    } removed[] = {
        {R"({"namelist": {"crop": {"left": {"valid": "on", "name": "Stage"}}}})", "crop", 0},
        {sources(kDvi + R"(, {"name": "no id"})"), "source", 7},  // an id the file lacks reads every id
        {sources(kDvi + R"(, {"id": 4, "valid": "on"})"), "source", 4},
        {R"({"namelist": {"usermode": [{"id": "2", "name": "Evening"}]}})", "usermode", 2},
    };
    for (const auto& row : removed) {
        SCOPED_TRACE(row.text);
        EXPECT_FALSE(alias_file_well_formed(row.text, nullptr));
        writeAlias(row.text);
        ALIAS_PARA a;
        get_json_alias_para(&a, row.kind, row.id);
        EXPECT_FALSE(FileOps::exists(kAliasFile));
    }
    const std::string kept[] = {
        sources(kDvi + R"(, {"id": 1, "name": "a second 1 is never read"})"),
        R"({"namelist": {"output": "a kind the panel never reads", "crop": []}})",
        R"({"namelist": {}})",
        R"({"namelist": "source"})",
        R"({"namelist": {"crop": "Stage", "source": [)" + kDvi + "]}}",
        R"({"namelist": {"source": {"a": {"id": 1, "valid": "on", "name": "DVI desk"}}}})",
    };
    for (const std::string& text : kept) {
        SCOPED_TRACE(text);
        EXPECT_TRUE(alias_file_well_formed(text, nullptr));
        writeAlias(text);
        ALIAS_PARA a;
        for (const char* kind : {"source", "usermode", "crop"})
            for (int id = -1; id <= 40; ++id) get_json_alias_para(&a, kind, id);
        EXPECT_TRUE(FileOps::exists(kAliasFile));
    }
}

TEST_F(AliasTest, UnparseableFileIsKeptAsideOnFirstUse) {
    const std::string cut = "{\"namelist\": {\"source\": [ {\"id\": 0, ";
    writeAlias(cut);
    ALIAS_PARA a;
    EXPECT_EQ(get_json_alias_para(&a, "source", 0), 0);
    EXPECT_FALSE(FileOps::exists(kAliasFile));
    EXPECT_EQ(readHostFile(hostPath(kAliasFile) + ".refused"), cut);
    EXPECT_EQ(get_json_alias_para(&a, "source", 0), 0);
}

TEST_F(AliasTest, HostileFilesOnDiskAreSetAsideAndNeverCrashTheLookup) {
    const std::string good = R"({"namelist": {"source": [{"id": 0, "valid": "on", "name": "Desk"}]}})";
    std::string binary(3000, '\0');
    for (size_t i = 0; i < binary.size(); ++i) binary[i] = char(i * 131 + 7);
    const std::string hostile[] = {
        std::string(300000, '[') + std::string(300000, ']'),             // nested far too deep
        std::string(300000, '{'),                                        // nested and cut off
        R"({"namelist": {"source": [{"id": 0, "valid": "on", "name": ")" + std::string(70000, 'x') + "\"}]}}",
        binary,
        good.substr(0, good.size() - 3),                                 // truncated
        R"({"a": "]]]]", "b": [[[[[[[[[[[[[[[[[["x"]]]]]]]]]]]]]]]]]]})",  // 19 levels
    };
    for (const std::string& text : hostile) {
        writeAlias(text);
        ALIAS_PARA a;
        EXPECT_EQ(get_json_alias_para(&a, "source", 0), 0) << text.substr(0, 40);
        EXPECT_FALSE(FileOps::exists(kAliasFile)) << text.substr(0, 40);
    }
    // Brackets inside names and escaped quotes are text, not nesting.
    writeAlias(R"({"namelist": {"source": [{"id": 0, "valid": "on", "name": "[[{\"]]"}]}})");
    ALIAS_PARA a;
    EXPECT_EQ(get_json_alias_para(&a, "source", 0), 1);
    EXPECT_EQ(a.name, "[[{\"]]");
}

}  // namespace
