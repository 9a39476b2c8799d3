#include <sstream>

#include "UnitSupport.h"
#include "core/Log.h"

namespace {

class LogFaultTest : public CoreTest {};

}  // namespace

// A log on a device that is always full: every line is lost, the server is told once on its
// error stream, and writing goes on without failing.
TEST_F(LogFaultTest, FullDeviceLosesLinesAndReportsItOnce) {
    if (access("/dev/full", W_OK) != 0) GTEST_SKIP() << "no /dev/full";
    std::ostringstream errors;
    Log* log = Log::getInstance();
    log->setErrorStream(&errors);
    ASSERT_TRUE(log->openLogForWriting("/dev/full"));
    for (int i = 0; i < 5; ++i) log->writeToLog("line", true, true);
    log->closeLog();
    EXPECT_EQ(errors.str(),
              "ERROR: Unable to write to the log file '/dev/full': No space left on device. Log "
              "lines are lost until it can be written again.\n");
    EXPECT_EQ(console(), "line\nline\nline\nline\nline\n");
}
