#include <string>
#include <vector>

#include "UnitSupport.h"
#include "core/Log.h"

namespace {

class LogTest : public CoreTest {
protected:
    bool openFile(const std::string& name = "server.log") {
        return Log::getInstance()->openLogForWriting(m_dir.file(name).c_str());
    }
    // The file's lines after closing it, so that the closing line is there too.
    std::vector<std::string> closedFileLines(const std::string& name = "server.log") {
        Log::getInstance()->closeLog();
        return splitLines(m_dir.read(name));
    }

    TempDir m_dir;
};

using Lines = std::vector<std::string>;

}  // namespace

TEST(LogPrefix, FormatsHourMinuteSecond) {
    struct Case {
        std::time_t wall;
        const char* prefix;
    };
    const Case cases[] = {
        {0, "( 0:00:00) "},
        {kPinnedWall, "( 3:04:05) "},
        {10 * 3600 + 9, "(10:00:09) "},
        {23 * 3600 + 59 * 60 + 59, "(23:59:59) "},
        {86400 + 9 * 3600 + 30 * 60, "( 9:30:00) "},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.prefix);
        Clock::pin(c.wall, 0);
        EXPECT_EQ(Log::timePrefix(), c.prefix);
    }
    Clock::unpin();
}

TEST_F(LogTest, PiecesShareOnePrefixTakenAtTheFirstPiece) {
    ASSERT_TRUE(openFile());
    Log* log = Log::getInstance();
    log->writeToLog("Name: '", false, true);
    Clock::advanceMillis(2000);
    log->writeToLog("Test", false, true);
    log->writeToLog("'", true, true);
    log->writeToLog("Next", true, true);

    EXPECT_EQ(closedFileLines(), (Lines{"- ZEVServer log opened -", "( 3:04:05) Name: 'Test'",
                                        "( 3:04:07) Next", "- ZEVServer log closed -"}));
    EXPECT_EQ(console(), "Name: 'Test'\nNext\n");
}

TEST_F(LogTest, TimeModeGivesConsoleTheSamePrefix) {
    ASSERT_TRUE(openFile());
    Log* log = Log::getInstance();
    log->setSTDTime(true);
    log->writeToLog("One", false, true);
    log->writeToLog(" line", true, true);
    Clock::advanceMillis(61000);
    log->writeToLog("Two", true, true);

    EXPECT_EQ(console(), "( 3:04:05) One line\n( 3:05:06) Two\n");
    EXPECT_EQ(closedFileLines(), (Lines{"- ZEVServer log opened -", "( 3:04:05) One line",
                                        "( 3:05:06) Two", "- ZEVServer log closed -"}));
}

TEST_F(LogTest, FileOnlyPiecesStayOutOfTheConsole) {
    ASSERT_TRUE(openFile());
    Log* log = Log::getInstance();
    log->setSTDTime(true);
    // A statistics line, file only, then an ordinary line.
    log->writeToLog("ServerInit: ", false, false);
    log->writeToLog("Test", true, false);
    log->writeToLog("After", true, true);
    // A line whose first piece is file only: the console gets the rest without a prefix.
    log->writeToLog("Hidden ", false, false);
    log->writeToLog("Shown", true, true);

    EXPECT_EQ(console(), "( 3:04:05) After\nShown\n");
    EXPECT_EQ(closedFileLines(),
              (Lines{"- ZEVServer log opened -", "( 3:04:05) ServerInit: Test", "( 3:04:05) After",
                     "( 3:04:05) Hidden Shown", "- ZEVServer log closed -"}));
}

TEST_F(LogTest, QuietModeSilencesOnlyTheConsole) {
    Log* log = Log::getInstance();
    log->setQuietMode(true);
    log->setSTDTime(true);
    log->writeToLog("Nowhere", true, true);
    EXPECT_EQ(console(), "");

    ASSERT_TRUE(openFile());
    log->writeToLog("Filed", true, true);
    EXPECT_EQ(console(), "");
    EXPECT_EQ(closedFileLines(),
              (Lines{"- ZEVServer log opened -", "( 3:04:05) Filed", "- ZEVServer log closed -"}));
}

TEST_F(LogTest, NumbersAndNullTextAreWrittenAsPieces) {
    ASSERT_TRUE(openFile());
    Log* log = Log::getInstance();
    log->writeToLog(-42, false, true);
    log->writeToLog(" ", false, true);
    log->writeToLog(5000000000L, true, true);
    log->writeToLog(3.14159265f, false, true);
    log->writeToLog(" ", false, true);
    log->writeToLog(2.5f, false, true);
    log->writeToLog(" ", false, true);
    log->writeToLog(1e7f, true, true);
    log->writeToLog(static_cast<const char*>(nullptr), false, true);
    log->writeToLog("after null", true, true);
    log->writeToLog(static_cast<const char*>(nullptr), true, true);

    EXPECT_EQ(console(), "-42 5000000000\n3.14159 2.5 1e+07\nafter null\n\n");
    EXPECT_EQ(closedFileLines(), (Lines{"- ZEVServer log opened -", "( 3:04:05) -42 5000000000",
                                        "( 3:04:05) 3.14159 2.5 1e+07", "( 3:04:05) after null",
                                        "( 3:04:05) ", "- ZEVServer log closed -"}));
}

TEST_F(LogTest, OpeningEmptiesTheFileAndReopeningClosesTheFirst) {
    m_dir.write("server.log", "old run\n");
    ASSERT_TRUE(openFile());
    EXPECT_TRUE(Log::getInstance()->isLogOpen());
    Log::getInstance()->writeToLog("first", true, true);
    ASSERT_TRUE(openFile("other.log"));
    EXPECT_EQ(splitLines(m_dir.read("server.log")),
              (Lines{"- ZEVServer log opened -", "( 3:04:05) first", "- ZEVServer log closed -"}));

    Log::getInstance()->writeToLog("second", true, true);
    delete Log::getInstance();
    EXPECT_EQ(splitLines(m_dir.read("other.log")),
              (Lines{"- ZEVServer log opened -", "( 3:04:05) second", "- ZEVServer log closed -"}));
    EXPECT_EQ(console(), "first\nsecond\n");
}

TEST_F(LogTest, UnopenableFileFailsWithoutMessage) {
    EXPECT_FALSE(openFile("missing-dir/server.log"));
    EXPECT_FALSE(Log::getInstance()->isLogOpen());
    EXPECT_EQ(console(), "");
    Log::getInstance()->closeLog();
    EXPECT_EQ(console(), "");
}

TEST_F(LogTest, SetupChoosesTheLogFile) {
    const std::string lError = "ERROR: Invalid number of arguments for '-l'.\n";
    const std::string logError = "ERROR: Invalid number of arguments for '--log'.\n";
    const std::string confError =
        "ERROR: Invalid number of values for 'LogFile' in the configuration file.\n";
    struct Case {
        std::vector<const char*> words;
        const char* logFileValues;  // null: no LogFile key
        bool ok;
        const char* opened;  // null: no file open
        std::string console;
    };
    const Case cases[] = {
        {{}, nullptr, true, nullptr, ""},
        {{"-l", "a.log"}, nullptr, true, "a.log", ""},
        {{"-l=a.log"}, nullptr, true, "a.log", ""},
        {{"-l", "a.log", "-l", "b.log"}, nullptr, true, "b.log", ""},
        {{"-l", "a.log", "b.log"}, nullptr, false, nullptr, lError},
        {{"-l"}, "c.log", false, nullptr, lError},
        {{"--log", "a.log"}, nullptr, true, "a.log", ""},
        {{"--log=a.log", "b.log"}, nullptr, false, nullptr, logError},
        {{"--log"}, nullptr, false, nullptr, logError},
        {{"-l", "a.log", "--log", "b.log"}, nullptr, true, "a.log", ""},
        {{"--log", "b.log"}, "c.log", true, "b.log", ""},
        {{}, "c.log", true, "c.log", ""},
        {{}, "", false, nullptr, confError},
        {{}, "\"c.log\" \"d.log\"", false, nullptr, confError},
        {{"-l", "missing-dir/a.log"}, nullptr, false, nullptr, ""},
    };
    for (const Case& c : cases) {
        std::string trace;
        for (const char* word : c.words) trace += std::string(word) + " ";
        SCOPED_TRACE(trace + "LogFile=" + (c.logFileValues ? c.logFileValues : "(absent)"));
        TempDir dir;
        WorkingDirectory cwd(dir.path());
        ASSERT_TRUE(cwd.changed());
        delete ArgumentList::getInstance();
        delete Conf::getInstance();
        clearConsole();
        parseArgs(c.words);
        if (c.logFileValues != nullptr) setConf("LogFile", c.logFileValues);

        EXPECT_EQ(Log::getInstance()->setupLog(), c.ok);
        EXPECT_EQ(Log::getInstance()->isLogOpen(), c.opened != nullptr);
        EXPECT_EQ(console(), c.console);
        Log::getInstance()->closeLog();
        for (const char* name : {"a.log", "b.log", "c.log", "d.log"}) {
            bool expected = c.opened != nullptr && std::string(c.opened) == name;
            EXPECT_EQ(dir.exists(name), expected) << name;
        }
    }
}
