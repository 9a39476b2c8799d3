#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "UnitSupport.h"
#include "core/Conf.h"

namespace {

using EntryMap = std::map<std::string, std::vector<std::string>>;

class ConfTest : public CoreTest {
protected:
    // Writes `text` to a file and reads it into the store.
    bool readText(const std::string& text) {
        m_dir.write("test.conf", text);
        return Conf::getInstance()->readConf(m_dir.file("test.conf").c_str());
    }

    TempDir m_dir;
};

std::vector<std::string> storedValues(const std::string& key) {
    Conf* conf = Conf::getInstance();
    std::vector<std::string> values;
    for (int i = 0; i < conf->getConfEntryValueCount(key); ++i) {
        values.push_back(conf->getConfEntryValue(key, i));
    }
    return values;
}

}  // namespace

TEST_F(ConfTest, FileLinesBecomeKeysAndValues) {
    const std::string unmatched = "ERROR: Unmatched quotation in configuration file. (Line #3)\n";
    struct Case {
        const char* name;
        std::string text;
        EntryMap expected;  // the whole store
        std::string console;
    };
    const Case cases[] = {
        {"first space splits key from values", "Key a\n", {{"Key", {"a"}}}, ""},
        {"quoted value keeps spaces",
         "ServerName \"My Server\"\n",
         {{"ServerName", {"My Server"}}},
         ""},
        {"unquoted text keeps only its first word",
         "ServerName My Server\n",
         {{"ServerName", {"My"}}},
         ""},
        {"runs of spaces give no empty values", "Key \"a\"   \"b\"\n", {{"Key", {"a", "b"}}}, ""},
        {"empty quoted value dropped", "Key \"a\" \"\" \"b\"\n", {{"Key", {"a", "b"}}}, ""},
        {"text before an opening quote dropped", "Key ab\"cd\"\n", {{"Key", {"cd"}}}, ""},
        {"text after a closing quote starts a value, and it is the last",
         "Key \"ab\"cd ef gh\n",
         {{"Key", {"ab", "cd"}}},
         ""},
        {"unquoted word before a quoted value", "Key a \"b c\"\n", {{"Key", {"a", "b c"}}}, ""},
        {"a second space before the first value ends the scan", "Key  a\n", {{"Key", {}}}, ""},
        {"unmatched quote keeps earlier values and counts every line",
         "# comment\n\nKey a \"b c\nOther x\n",
         {{"Key", {"a"}}, {"Other", {"x"}}},
         unmatched},
        {"unmatched quote as the first value", "\n\nKey \"abc\n", {{"Key", {}}}, unmatched},
        {"key alone", "Key\n", {{"Key", {}}}, ""},
        {"spaces around the line trimmed", "   Key x   \n", {{"Key", {"x"}}}, ""},
        {"spaces before # still a comment", "   # note\nKey x\n", {{"Key", {"x"}}}, ""},
        {"tab before # makes a key", "\t# tab note\n", {{"\t#", {"tab"}}}, ""},
        {"# inside a line is text", "Key a#b\n", {{"Key", {"a#b"}}}, ""},
        {"tab is not a separator", "Key a\tb\n", {{"Key", {"a\tb"}}}, ""},
        {"carriage return kept in the value", "Key value\r\n", {{"Key", {"value\r"}}}, ""},
        {"carriage return kept in a lone key", "Lone\r\n", {{"Lone\r", {}}}, ""},
        {"key given twice keeps the later line", "Key \"x\" \"y\"\nKey z\n", {{"Key", {"z"}}}, ""},
        {"last line without newline", "Key x", {{"Key", {"x"}}}, ""},
        {"keys are case-sensitive", "key a\nKey b\n", {{"key", {"a"}}, {"Key", {"b"}}}, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        delete Conf::getInstance();
        clearConsole();
        ASSERT_TRUE(readText(c.text));
        Conf* conf = Conf::getInstance();
        EXPECT_EQ(conf->getConfEntryCount(), static_cast<int>(c.expected.size()));
        for (const auto& [key, values] : c.expected) {
            EXPECT_TRUE(conf->isConfEntrySet(key)) << key;
            EXPECT_EQ(storedValues(key), values) << key;
        }
        EXPECT_EQ(console(), c.console);
    }
}

TEST_F(ConfTest, KeyWithoutValuesReadsAsPresentButEmpty) {
    ASSERT_TRUE(readText("Key\n"));
    Conf* conf = Conf::getInstance();
    EXPECT_TRUE(conf->isConfEntrySet("Key"));
    EXPECT_EQ(conf->getConfEntryValueCount("Key"), 0);
    EXPECT_EQ(conf->getConfEntryValue("Key", 0), nullptr);
    EXPECT_EQ(conf->getConfEntryValueAsInt("Key", 0), -1);

    EXPECT_FALSE(conf->isConfEntrySet("Absent"));
    EXPECT_EQ(conf->getConfEntryValueCount("Absent"), -1);
    EXPECT_EQ(conf->getConfEntryValue("Absent", 0), nullptr);
    EXPECT_EQ(conf->getConfEntryValueAsInt("Absent", 0), -1);
}

TEST_F(ConfTest, ValueLookupRejectsOutOfRangeIndexes) {
    setConf("Key", "\"7\" \"8\"");
    Conf* conf = Conf::getInstance();
    EXPECT_EQ(conf->getConfEntryValueAsInt("Key", 1), 8);
    EXPECT_EQ(conf->getConfEntryValue("Key", 2), nullptr);
    EXPECT_EQ(conf->getConfEntryValue("Key", -1), nullptr);
    EXPECT_EQ(conf->getConfEntryValueAsInt("Key", -1), -1);
}

TEST_F(ConfTest, ReadingAnotherFileKeepsEarlierKeys) {
    ASSERT_TRUE(readText("First a\nShared b\n"));
    ASSERT_TRUE(readText("Shared c\n"));
    EXPECT_EQ(storedValues("First"), std::vector<std::string>{"a"});
    EXPECT_EQ(storedValues("Shared"), std::vector<std::string>{"c"});
}

TEST_F(ConfTest, MissingFileFailsSilently) {
    EXPECT_FALSE(Conf::getInstance()->readConf(m_dir.file("absent.conf").c_str()));
    EXPECT_EQ(console(), "");
}

TEST_F(ConfTest, SetValueOnlyReplacesExistingValues) {
    setConf("Key", "\"one\"");
    setConf("Bare", "");
    Conf* conf = Conf::getInstance();
    struct Case {
        const char* key;
        const char* value;
        int index;
        bool replaced;
    };
    const Case cases[] = {
        {"Absent", "x", 0, false},  {"Key", "x", 1, false},  {"Key", "x", -1, false},
        {"Key", nullptr, 0, false}, {"Bare", "x", 0, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.key) + " " + std::to_string(c.index));
        EXPECT_EQ(conf->setConfEntryValue(c.key, c.value, c.index), c.replaced);
    }
    EXPECT_FALSE(conf->isConfEntrySet("Absent"));
    EXPECT_EQ(storedValues("Key"), std::vector<std::string>{"one"});
    EXPECT_EQ(conf->getConfEntryValueCount("Bare"), 0);

    EXPECT_TRUE(conf->setConfEntryValue("Key", "two words", 0));
    EXPECT_EQ(storedValues("Key"), std::vector<std::string>{"two words"});
}

TEST(ConfTrim, RemovesOnlyCharactersOfTheSet) {
    EXPECT_EQ(Conf::trimLeft("  \ta ", " "), "\ta ");
    EXPECT_EQ(Conf::trimRight(" a\r  ", " "), " a\r");
    EXPECT_EQ(Conf::trimLeft("    ", " "), "");
    EXPECT_EQ(Conf::trimRight("", " "), "");
    EXPECT_EQ(Conf::trimLeft("xyxa", "xy"), "a");
}

TEST_F(ConfTest, LoadChoosesFileFromOptions) {
    WorkingDirectory cwd(m_dir.path());
    ASSERT_TRUE(cwd.changed());
    m_dir.write("zevserver.conf", "Which default\n");
    m_dir.write("other.conf", "Which other\n");
    const std::string cError = "ERROR: Invalid number of arguments for '-c'.\n";
    const std::string confError = "ERROR: Invalid number of arguments for '--conf'.\n";
    struct Case {
        std::vector<const char*> words;
        bool loaded;
        const char* which;
        std::string console;
    };
    const Case cases[] = {
        {{}, true, "default", ""},
        {{"-c", "other.conf"}, true, "other", ""},
        {{"-c=other.conf"}, true, "other", ""},
        {{"--conf", "other.conf"}, true, "other", ""},
        {{"--conf=other.conf"}, true, "other", ""},
        {{"-c"}, false, nullptr, cError},
        {{"-c", "other.conf", "zevserver.conf"}, false, nullptr, cError},
        {{"--conf"}, false, nullptr, confError},
        {{"--conf=other.conf", "zevserver.conf"}, false, nullptr, confError},
        {{"-c", "other.conf", "--conf"}, true, "other", ""},
        {{"--conf", "zevserver.conf", "-c"}, false, nullptr, cError},
        {{"-c", "absent.conf"}, false, nullptr, ""},
    };
    for (const Case& c : cases) {
        std::string trace;
        for (const char* word : c.words) trace += std::string(word) + " ";
        SCOPED_TRACE(trace);
        delete Conf::getInstance();
        delete ArgumentList::getInstance();
        clearConsole();
        parseArgs(c.words);
        EXPECT_EQ(Conf::getInstance()->loadConf(), c.loaded);
        const char* which = Conf::getInstance()->getConfEntryValue("Which", 0);
        if (c.which == nullptr) {
            EXPECT_EQ(which, nullptr);
        } else {
            ASSERT_NE(which, nullptr);
            EXPECT_STREQ(which, c.which);
        }
        EXPECT_EQ(console(), c.console);
    }
}

TEST_F(ConfTest, ValidationReportsTheFirstProblems) {
    const std::string name =
        "ERROR: A ServerName MUST be specified in the configuration file AND must be between 1 "
        "and 49 characters in length.\n";
    const std::string port =
        "ERROR: A ServerPort needs to be specified in the configuration file AND be > 0.\n";
    const std::string map =
        "ERROR: A valid GameMap needs to be specified in the configuration file.\n";
    const std::string players26 =
        "ERROR: MaxPlayers needs to be specified in the configuration file, be between 1 and 26.\n";
    const std::string players32 =
        "ERROR: MaxPlayers needs to be specified in the configuration file, be between 1 and 32.\n";
    const std::string hour =
        "ERROR: GameHour needs to be specified in the configuration file and be between 0 and 23\n";
    const std::string mins =
        "ERROR: GameMins needs to be specified in the configuration file and be between 0 and 59\n";
    const std::string banned =
        "ERROR: A BannedFile needs to be specified in the configuration file\n";
    const std::string name49 = std::string(49, 'n');
    const std::string name50 = std::string(50, 'n');

    // A value of nullopt removes the key; an empty text leaves it with no values.
    using Changes = std::vector<std::pair<std::string, std::optional<std::string>>>;
    struct Case {
        const char* name;
        Changes changes;
        bool valid;
        std::string console;
    };
    const Case cases[] = {
        {"valid", {}, true, ""},
        {"quoted name with spaces", {{"ServerName", "\"My Server\""}}, true, ""},
        {"name of 49", {{"ServerName", name49}}, true, ""},
        {"name of 50", {{"ServerName", name50}}, false, name},
        {"name missing", {{"ServerName", std::nullopt}}, false, name},
        {"name without value", {{"ServerName", ""}}, false, name},
        {"name failure ends the check", {{"ServerName", ""}, {"ServerPort", "0"}}, false, name},
        {"port abc", {{"ServerPort", "abc"}}, false, port},
        {"port 4000abc", {{"ServerPort", "4000abc"}}, true, ""},
        {"port 0", {{"ServerPort", "0"}}, false, port},
        {"port negative", {{"ServerPort", "-4000"}}, false, port},
        {"port missing", {{"ServerPort", std::nullopt}}, false, port},
        {"port has no upper bound", {{"ServerPort", "70000"}}, true, ""},
        {"port failure ends the check", {{"ServerPort", "x"}, {"GameMap", "9"}}, false, port},
        {"map 0 only its message",
         {{"GameMap", "0"},
          {"MaxPlayers", "99"},
          {"GameHour", "24"},
          {"GameMins", "60"},
          {"BannedFile", std::nullopt}},
         false,
         map},
        {"map 6", {{"GameMap", "6"}}, false, map},
        {"map missing", {{"GameMap", std::nullopt}}, false, map},
        {"27 players on map 1", {{"GameMap", "1"}, {"MaxPlayers", "27"}}, false, players26},
        {"26 players on map 2", {{"GameMap", "2"}, {"MaxPlayers", "26"}}, true, ""},
        {"27 players on map 3", {{"GameMap", "3"}, {"MaxPlayers", "27"}}, true, ""},
        {"33 players on map 5", {{"GameMap", "5"}, {"MaxPlayers", "33"}}, false, players32},
        {"0 players", {{"MaxPlayers", "0"}}, false, players32},
        {"players missing", {{"MaxPlayers", std::nullopt}}, false, players32},
        {"players failure skips the clock",
         {{"GameMap", "1"}, {"MaxPlayers", "27"}, {"GameHour", "24"}},
         false,
         players26},
        {"hour 24 and minutes 60", {{"GameHour", "24"}, {"GameMins", "60"}}, false, hour + mins},
        {"clock upper bounds", {{"GameHour", "23"}, {"GameMins", "59"}}, true, ""},
        {"clock lower bounds", {{"GameHour", "0"}, {"GameMins", "0"}}, true, ""},
        {"hour negative", {{"GameHour", "-1"}}, false, hour},
        {"minutes missing", {{"GameMins", std::nullopt}}, false, mins},
        {"clock failure hides banned file",
         {{"GameHour", "24"}, {"BannedFile", std::nullopt}},
         false,
         hour},
        {"banned file missing", {{"BannedFile", std::nullopt}}, false, banned},
        {"banned file without value", {{"BannedFile", ""}}, false, banned},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        delete Conf::getInstance();
        clearConsole();
        std::map<std::string, std::optional<std::string>> entries = {
            {"ServerName", "Test"},       {"ServerPort", "4000"}, {"GameMap", "3"},
            {"MaxPlayers", "32"},         {"GameHour", "12"},     {"GameMins", "30"},
            {"BannedFile", "banned.txt"},
        };
        for (const auto& [key, value] : c.changes) entries[key] = value;
        for (const auto& [key, value] : entries) {
            if (value) setConf(key, *value);
        }
        EXPECT_EQ(Conf::getInstance()->checkForRequiredConfEntries(), c.valid);
        EXPECT_EQ(console(), c.console);
    }
}

TEST_F(ConfTest, EmptyBannedFileValueFailsValidation) {
    ASSERT_TRUE(readText(
        "ServerName Test\nServerPort 4000\nGameMap 1\nMaxPlayers 26\nGameHour 0\nGameMins 0\n"
        "BannedFile banned.txt\n"));
    ASSERT_TRUE(Conf::getInstance()->checkForRequiredConfEntries());
    ASSERT_TRUE(Conf::getInstance()->setConfEntryValue("BannedFile", "", 0));
    EXPECT_FALSE(Conf::getInstance()->checkForRequiredConfEntries());
    EXPECT_EQ(console(), "ERROR: A BannedFile needs to be specified in the configuration file\n");
}
