#include <map>
#include <string>
#include <vector>

#include "UnitSupport.h"
#include "core/ArgumentList.h"

namespace {

using OptionMap = std::map<std::string, std::vector<std::string>>;

class ArgumentListTest : public CoreTest {};

// Every stored option with its values, read back through the public interface.
void expectOptions(const OptionMap& expected) {
    ArgumentList* args = ArgumentList::getInstance();
    EXPECT_EQ(args->getArgumentCount(), static_cast<int>(expected.size()));
    for (const auto& [name, values] : expected) {
        SCOPED_TRACE(name);
        ASSERT_TRUE(args->isArgumentSet(name));
        ASSERT_EQ(args->getArgumentValueCount(name), static_cast<int>(values.size()));
        for (std::size_t i = 0; i < values.size(); ++i) {
            const char* value = args->getArgumentValue(name, static_cast<int>(i));
            ASSERT_NE(value, nullptr);
            EXPECT_EQ(value, values[i]);
        }
    }
}

}  // namespace

TEST(ArgumentListSwitch, RecognisesOptionWords) {
    struct Case {
        const char* word;
        bool isSwitch;
    };
    const Case cases[] = {
        {nullptr, false}, {"", false},   {"-", false},     {"-5", false},  {"-0x", false},
        {"a", false},     {"ab", false}, {"-?", true},     {"-p", true},   {"--", true},
        {"--5", true},    {"-p=", true}, {"--conf", true}, {"x-p", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.word == nullptr ? "(null)" : c.word);
        EXPECT_EQ(ArgumentList::isSwitch(c.word), c.isSwitch);
    }
}

TEST_F(ArgumentListTest, ParsesWordsIntoOptionsAndValues) {
    struct Case {
        const char* name;
        std::vector<const char*> words;
        OptionMap expected;
    };
    const Case cases[] = {
        {"no arguments", {}, {}},
        {"equals value", {"-p=12"}, {{"-p", {"12"}}}},
        {"empty equals value", {"-p="}, {{"-p", {""}}}},
        {"equals value then more", {"--conf=a.conf", "b.conf"}, {{"--conf", {"a.conf", "b.conf"}}}},
        {"only the first equals splits", {"--x=a=b"}, {{"--x", {"a=b"}}}},
        {"negative number is a value", {"-p", "-5"}, {{"-p", {"-5"}}}},
        {"lone minus is a value", {"-n", "Foo", "-"}, {{"-n", {"Foo", "-"}}}},
        {"several words", {"-n", "My", "Server"}, {{"-n", {"My", "Server"}}}},
        {"repeat replaces", {"-p", "8", "-p", "9"}, {{"-p", {"9"}}}},
        {"repeat without values replaces whole", {"-p", "8", "9", "-p"}, {{"-p", {}}}},
        {"first plain word ignored", {"stray", "-q"}, {{"-q", {}}}},
        {"names are case-sensitive", {"-p", "1", "-P", "2"}, {{"-p", {"1"}}, {"-P", {"2"}}}},
        {"short and long are distinct",
         {"-p", "3", "--players", "4", "-?"},
         {{"-p", {"3"}}, {"--players", {"4"}}, {"-?", {}}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        delete ArgumentList::getInstance();
        EXPECT_EQ(parseArgs(c.words), static_cast<int>(c.expected.size()));
        expectOptions(c.expected);
    }
}

TEST_F(ArgumentListTest, MissingOptionsAndValuesGiveNullAndMinusOne) {
    parseArgs({"-p", "8", "-q"});
    ArgumentList* args = ArgumentList::getInstance();
    EXPECT_FALSE(args->isArgumentSet("-x"));
    EXPECT_EQ(args->getArgumentValueCount("-x"), -1);
    EXPECT_EQ(args->getArgumentValue("-x", 0), nullptr);
    EXPECT_EQ(args->getArgumentValue("-p", 1), nullptr);
    EXPECT_EQ(args->getArgumentValue("-p", -1), nullptr);
    EXPECT_EQ(args->getArgumentValue("-q", 0), nullptr);
    EXPECT_EQ(args->getArgumentValueCount("-q"), 0);
}

TEST_F(ArgumentListTest, VersionBannerDependsOnListenMode) {
    ArgumentList::showVersion();
    EXPECT_EQ(console(), "ZEV Server (Patch 1) for ZEV 0.5\n\n");

    clearConsole();
    Log::getInstance()->setListenMode(true);
    ArgumentList::showVersion();
    EXPECT_EQ(console(), "Listen server started.\n");
}

TEST_F(ArgumentListTest, HelpTextReachesConsoleAndLogFile) {
    TempDir dir;
    ASSERT_TRUE(Log::getInstance()->openLogForWriting(dir.file("help.log").c_str()));
    ArgumentList::showHelp();
    Log::getInstance()->closeLog();

    const std::vector<std::string> expected = {
        "Usage: ZEVServer [OPTION]...",
        "",
        "  -b, --background      go to the background after startup (daemon)",
        "  -c, --conf=PATH       specify the path to the configuration file",
        "  -l, --log=PATH        specify the path to the file you wish to log to",
        "  -h, --help            display this help and exit",
        "  -t, --time            enable time output",
        "  -q, --quiet           enter quiet mode (absolutely no output)",
        "      --check-config    check the configuration and the ban file, then exit",
        "",
        "By default, the configuration file (zevserver.conf) will be read from the",
        "the current directory.",
        "",
    };
    std::vector<std::string> lines = splitLines(console());
    ASSERT_EQ(lines.size(), expected.size() + 1);
    for (std::size_t i = 0; i < expected.size(); ++i) EXPECT_EQ(lines[i], expected[i]) << i;
    EXPECT_EQ(lines.back().rfind("Report bugs to ", 0), 0u) << lines.back();
    EXPECT_GT(lines.back().size(), std::string("Report bugs to ").size());

    std::vector<std::string> fileLines = splitLines(dir.read("help.log"));
    ASSERT_EQ(fileLines.size(), lines.size() + 2);
    for (std::size_t i = 0; i < lines.size(); ++i) {
        EXPECT_EQ(fileLines[i + 1], kPinnedPrefix + lines[i]) << i;
    }
}
