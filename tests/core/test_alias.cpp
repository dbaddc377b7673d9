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
    ALIAS_PARA a;
    EXPECT_EQ(get_json_alias_para(&a, "source", 0), 1);
    EXPECT_EQ(a.name, "abcdefghijkl");
    EXPECT_EQ(get_json_alias_para(&a, "source", 2), 1);  // numeric string id
    EXPECT_EQ(a.id, 2);
    EXPECT_EQ(a.name, "Camera");
    EXPECT_EQ(get_json_alias_para(&a, "crop", 0), 1);
    EXPECT_EQ(a.name, "Left half");
    EXPECT_EQ(get_json_alias_para(&a, "usermode", 5), 1);

    ALIAS_PARA off;
    EXPECT_EQ(get_json_alias_para(&off, "source", 3), 0);
    EXPECT_EQ(off.valid, "off");  // filled although switched off
    EXPECT_EQ(off.name, "Hidden");
    EXPECT_EQ(get_json_alias_para(&a, "source", 4), 0);
    EXPECT_EQ(get_json_alias_para(&a, "source", 1), 0);
    EXPECT_EQ(get_json_alias_para(&a, "nosuchkind", 0), 0);
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

}  // namespace
