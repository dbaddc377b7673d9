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

TEST_F(AliasTest, MalformedElementHidesOnlyItself) {
    writeAlias(R"({"namelist": {"source": [
        {"valid": "on", "name": "no id"},
        {"id": "x1", "valid": "on", "name": "bad id"},
        {"id": 1, "name": "no valid"},
        "not an object",
        {"id": 1, "valid": "on", "name": "DVI desk"}
    ]}})");
    ALIAS_PARA a;
    EXPECT_EQ(get_json_alias_para(&a, "source", 1), 1);
    EXPECT_EQ(a.name, "DVI desk");
    EXPECT_TRUE(FileOps::exists(kAliasFile));

    writeAlias(R"({"other": 1})");  // parses, but has no names
    EXPECT_EQ(get_json_alias_para(&a, "source", 1), 0);
    EXPECT_TRUE(FileOps::exists(kAliasFile));
}

TEST_F(AliasTest, UnparseableFileIsRemovedOnFirstUse) {
    writeAlias("{\"namelist\": {\"source\": [ {\"id\": 0, ");
    ALIAS_PARA a;
    EXPECT_EQ(get_json_alias_para(&a, "source", 0), 0);
    EXPECT_FALSE(FileOps::exists(kAliasFile));
    EXPECT_EQ(get_json_alias_para(&a, "source", 0), 0);
}

TEST_F(AliasTest, HostileFilesOnDiskAreRemovedAndNeverCrashTheLookup) {
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
