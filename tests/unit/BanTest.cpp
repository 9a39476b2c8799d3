#include <arpa/inet.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "UnitSupport.h"
#include "admin/Ban.h"

namespace {

sockaddr_in addressOf(const char* dotted, std::uint16_t port) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    inet_pton(AF_INET, dotted, &address.sin_addr);
    return address;
}

std::vector<std::string> namesIn(const std::string& folder) {
    std::vector<std::string> names;
    for (const auto& item : std::filesystem::directory_iterator(folder)) {
        names.push_back(item.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
}

// Every test starts and ends without a Ban, so each one loads its own file.
class BanTest : public ::testing::Test {
protected:
    void SetUp() override { delete Ban::getInstance(); }
    void TearDown() override { delete Ban::getInstance(); }

    std::string path() const { return m_dir.file("banned.txt"); }
    std::string content() const { return m_dir.read("banned.txt"); }

    // A fresh list loaded from a ban file that holds `fileContent`.
    Ban* loadedFrom(const std::string& fileContent) {
        // The old list writes itself on destruction, so it goes before the file is made.
        delete Ban::getInstance();
        m_dir.write("banned.txt", fileContent);
        Ban* ban = Ban::getInstance();
        EXPECT_EQ(ban->load(path().c_str()), Ban::LoadResult::Loaded);
        return ban;
    }

    TempDir m_dir;
};

using Entries = std::vector<std::string>;

}  // namespace

TEST_F(BanTest, MatchesExactTextThenOctetsWithZeroAsWildcard) {
    struct Case {
        const char* entry;
        const char* text;
        bool banned;
    };
    const Case cases[] = {
        {"0.0.0.0", "1.2.3.4", true},
        {"0.0.0.0", "255.255.255.255", true},
        {"10.0.0.0", "10.200.3.4", true},
        {"10.0.0.0", "11.0.0.0", false},
        {"10.0.0.0", "1.10.0.0", false},
        {"192.168.1.0", "192.168.1.7", true},
        {"192.168.1.0", "192.168.1.0", true},
        {"192.168.1.0", "192.168.2.7", false},
        {"192.168.1.7", "192.168.1.7", true},
        {"192.168.1.7", "192.168.1.8", false},
        {"0.168.0.7", "1.168.99.7", true},
        {"0.168.0.7", "1.169.99.7", false},
        // Unconvertible text stands for 255.255.255.255, on both sides.
        {"abc", "abc", true},
        {"abc", "255.255.255.255", true},
        {"abc", "1.2.3.4", false},
        {"abc", "xyz", true},
        {"", "1.2.3.4", false},
        {"", "0.0.0.0", false},
        // The shorter, hexadecimal and octal forms of inet_addr.
        {"10.1", "10.9.9.1", true},
        {"10.1", "10.9.9.2", false},
        {"0x0a.0.0.0", "10.1.2.3", true},
        {"012.0.0.0", "10.1.2.3", true},
        {"010.0.0.0", "10.1.2.3", false},
        {"10.0.0.1", "10.1", true},
        // A line of a ban file edited on Windows keeps its "\r", which inet_addr passes over.
        {"10.0.0.0\r", "10.1.2.3", true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string("entry '") + c.entry + "', text '" + c.text + "'");
        Ban* ban = loadedFrom(std::string(c.entry) + "\n");
        EXPECT_EQ(ban->isBanned(c.text), c.banned);
    }
}

TEST_F(BanTest, AddressFormsIgnoreThePort) {
    Ban* ban = loadedFrom("");
    sockaddr_in client = addressOf("192.168.1.7", 4000);
    EXPECT_TRUE(ban->addIP(&client));
    EXPECT_EQ(content(), "192.168.1.7\n");

    for (std::uint16_t port : {1, 4000, 65535}) {
        SCOPED_TRACE(port);
        sockaddr_in samePlace = addressOf("192.168.1.7", port);
        EXPECT_TRUE(ban->isBanned(&samePlace));
    }
    sockaddr_in neighbour = addressOf("192.168.1.8", 4000);
    EXPECT_FALSE(ban->isBanned(&neighbour));

    sockaddr_in otherPort = addressOf("192.168.1.7", 5);
    EXPECT_TRUE(ban->removeIP(&otherPort));
    EXPECT_EQ(ban->getEntryCount(), 0);
    EXPECT_EQ(content(), "");
}

TEST_F(BanTest, UnbanRemovesOnlyTheFirstEqualEntry) {
    Ban* ban = loadedFrom("");
    EXPECT_TRUE(ban->addIP("1.2.3.4"));
    EXPECT_TRUE(ban->addIP("5.6.7.8"));
    EXPECT_TRUE(ban->addIP("1.2.3.4"));
    EXPECT_EQ(content(), "1.2.3.4\n5.6.7.8\n1.2.3.4\n");

    EXPECT_TRUE(ban->removeIP("1.2.3.4"));
    EXPECT_TRUE(ban->isBanned("1.2.3.4"));
    EXPECT_EQ(content(), "5.6.7.8\n1.2.3.4\n");

    EXPECT_TRUE(ban->removeIP("1.2.3.4"));
    EXPECT_FALSE(ban->isBanned("1.2.3.4"));
    EXPECT_EQ(content(), "5.6.7.8\n");
}

TEST_F(BanTest, UnbanThroughAWildcardChangesNothing) {
    Ban* ban = loadedFrom("10.0.0.0\n");
    struct stat before {};
    ASSERT_EQ(stat(path().c_str(), &before), 0);

    EXPECT_FALSE(ban->removeIP("10.1.2.3"));

    // Every write renames a new file into place, so an unchanged inode means no write.
    struct stat after {};
    ASSERT_EQ(stat(path().c_str(), &after), 0);
    EXPECT_EQ(after.st_ino, before.st_ino);
    EXPECT_EQ(content(), "10.0.0.0\n");
    EXPECT_TRUE(ban->isBanned("10.1.2.3"));
}

TEST_F(BanTest, ReadsEveryLineAsItIs) {
    struct Case {
        const char* fileContent;
        Entries entries;
    };
    const Case cases[] = {
        {"", {}},
        {"\n", {""}},
        {"1.2.3.4", {"1.2.3.4"}},
        {"1.2.3.4\n\n5.6.7.8", {"1.2.3.4", "", "5.6.7.8"}},
        {"1.2.3.4\n\n", {"1.2.3.4", ""}},
        {" 1.2.3.4\r\n", {" 1.2.3.4\r"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::PrintToString(std::string(c.fileContent)));
        Ban* ban = loadedFrom(c.fileContent);
        EXPECT_EQ(ban->getEntries(), c.entries);
        EXPECT_EQ(content(), c.fileContent);
    }
}

TEST_F(BanTest, ListTextStopsAfterTheLastWholeEntryThatFits) {
    struct Case {
        int capacity;
        const char* text;
    };
    const Case cases[] = {
        {1023, "1.2.3.4|10.0.0.0|"},
        {17, "1.2.3.4|10.0.0.0|"},
        {16, "1.2.3.4|"},
        {8, "1.2.3.4|"},
        {7, ""},
        {0, ""},
    };
    Ban* ban = loadedFrom("1.2.3.4\n10.0.0.0\n");
    for (const Case& c : cases) {
        SCOPED_TRACE(c.capacity);
        // Exactly `capacity` bytes on the heap, so the sanitizer sees any write past them.
        std::vector<char> buffer(static_cast<std::size_t>(c.capacity), '#');
        int count = ban->readListToBuffer(buffer.data(), c.capacity);
        ASSERT_GE(count, 0);
        ASSERT_LE(count, c.capacity);
        EXPECT_EQ(std::string(buffer.data(), static_cast<std::size_t>(count)), c.text);
        if (count < c.capacity) {
            EXPECT_EQ(buffer[static_cast<std::size_t>(count)], '#');
        }
    }

    char buffer[16] = "untouched";
    EXPECT_EQ(loadedFrom("")->readListToBuffer(buffer, sizeof(buffer)), 0);
    EXPECT_STREQ(buffer, "untouched");
}

TEST_F(BanTest, WriteLeavesExactlyTheEntriesAndNoTemporaryFile) {
    Ban* ban = loadedFrom("1.2.3.4\n");
    m_dir.write("banned.txt.tmp", "left by a crash");
    EXPECT_TRUE(ban->addIP(""));
    EXPECT_TRUE(ban->addIP("abc"));
    EXPECT_EQ(content(), "1.2.3.4\n\nabc\n");
    EXPECT_EQ(namesIn(m_dir.path()), Entries{"banned.txt"});
}

TEST_F(BanTest, FailedWriteLeavesTheOldFileAndKeepsTheEntry) {
    Ban* ban = loadedFrom("1.2.3.4\n");
    // A folder where the temporary file must go fails the write even for root.
    std::string blocker = path() + ".tmp";
    ASSERT_EQ(mkdir(blocker.c_str(), 0700), 0);

    EXPECT_FALSE(ban->addIP("5.6.7.8"));
    EXPECT_EQ(content(), "1.2.3.4\n");
    EXPECT_TRUE(ban->isBanned("5.6.7.8"));

    ASSERT_EQ(rmdir(blocker.c_str()), 0);
    EXPECT_TRUE(ban->writeList());
    EXPECT_EQ(content(), "1.2.3.4\n5.6.7.8\n");
}

TEST_F(BanTest, ReplacementKeepsTheLinkAndTheMode) {
    m_dir.write("real.txt", "1.2.3.4\n");
    std::string real = m_dir.file("real.txt");
    ASSERT_EQ(chmod(real.c_str(), 0640), 0);
    ASSERT_EQ(symlink("real.txt", path().c_str()), 0);
    Ban* ban = Ban::getInstance();
    ASSERT_EQ(ban->load(path().c_str()), Ban::LoadResult::Loaded);

    EXPECT_TRUE(ban->addIP("5.6.7.8"));

    struct stat link {};
    ASSERT_EQ(lstat(path().c_str(), &link), 0);
    EXPECT_TRUE(S_ISLNK(link.st_mode));
    EXPECT_EQ(m_dir.read("real.txt"), "1.2.3.4\n5.6.7.8\n");
    struct stat target {};
    ASSERT_EQ(stat(real.c_str(), &target), 0);
    EXPECT_EQ(target.st_mode & 07777, 0640u);
}

TEST_F(BanTest, MissingFileIsCreatedOnlyByAWrite) {
    Ban* ban = Ban::getInstance();
    EXPECT_EQ(ban->load(path().c_str()), Ban::LoadResult::Missing);
    EXPECT_FALSE(m_dir.exists("banned.txt"));
    EXPECT_TRUE(ban->writeList());
    EXPECT_TRUE(m_dir.exists("banned.txt"));
    EXPECT_EQ(content(), "");

    EXPECT_FALSE(ban->readList(m_dir.file("absent/banned.txt").c_str()));
    EXPECT_FALSE(ban->addIP("1.2.3.4"));
    EXPECT_FALSE(m_dir.exists("absent"));
}

TEST_F(BanTest, FileThatIsNotARegularFileIsUnreadableAndNeverReplaced) {
    ASSERT_EQ(mkdir(m_dir.file("folder").c_str(), 0700), 0);
    // A FIFO stands for devices such as /dev/null: a rename would replace the node itself.
    ASSERT_EQ(mkfifo(m_dir.file("fifo").c_str(), 0600), 0);
    for (const char* name : {"folder", "fifo"}) {
        SCOPED_TRACE(name);
        Ban* ban = loadedFrom("1.2.3.4\n");
        std::string special = m_dir.file(name);
        EXPECT_EQ(ban->load(special.c_str()), Ban::LoadResult::Unreadable);
        EXPECT_EQ(ban->getEntries(), Entries{"1.2.3.4"});

        EXPECT_FALSE(ban->addIP("5.6.7.8"));
        delete ban;
        struct stat info {};
        ASSERT_EQ(lstat(special.c_str(), &info), 0);
        EXPECT_TRUE(std::string(name) == "folder" ? S_ISDIR(info.st_mode) : S_ISFIFO(info.st_mode));
    }
    EXPECT_EQ(namesIn(m_dir.path()), (Entries{"banned.txt", "fifo", "folder"}));
}

TEST_F(BanTest, UnreadableFileSurvivesTheWritesOfShutdown) {
    m_dir.write("banned.txt", "1.2.3.4\n");
    ASSERT_EQ(chmod(path().c_str(), 0), 0);
    // Root reads any file, so it loads as nobody.
    bool dropped = geteuid() == 0;
    if (dropped && seteuid(65534) != 0) GTEST_SKIP() << "cannot act as another user";
    Ban::LoadResult result = Ban::getInstance()->load(path().c_str());
    if (dropped) {
        ASSERT_EQ(seteuid(0), 0);
    }
    ASSERT_EQ(result, Ban::LoadResult::Unreadable);

    EXPECT_FALSE(Ban::getInstance()->writeList());
    delete Ban::getInstance();
    ASSERT_EQ(chmod(path().c_str(), 0600), 0);
    EXPECT_EQ(content(), "1.2.3.4\n");
}

TEST_F(BanTest, DestructionWritesTheListAndAllowsAFreshOne) {
    Ban* ban = loadedFrom("1.2.3.4\n");
    m_dir.write("banned.txt", "edited meanwhile\n");
    delete ban;
    EXPECT_EQ(content(), "1.2.3.4\n");

    EXPECT_EQ(Ban::getInstance()->getEntryCount(), 0);
    EXPECT_EQ(Ban::getInstance()->getFileName(), "");
}

TEST_F(BanTest, ListWithoutAFileNameWritesNothing) {
    WorkingDirectory inside(m_dir.path());
    ASSERT_TRUE(inside.changed());
    EXPECT_FALSE(Ban::getInstance()->addIP("1.2.3.4"));
    EXPECT_TRUE(Ban::getInstance()->isBanned("1.2.3.4"));
    delete Ban::getInstance();
    EXPECT_EQ(namesIn(m_dir.path()), Entries{});
}
