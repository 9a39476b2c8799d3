// The ban list: an ordered list of text entries (client addresses and address patterns) kept in
// the file named by BannedFile, one entry per line. Every change is written to the file at once.
//
// Matching: an entry equal to the given text bans it. Otherwise both the text and each entry are
// converted with inet_addr (every form it accepts; text it cannot convert becomes
// 255.255.255.255), and an entry bans the text when each of its four octets is 0 or equal to the
// text's octet in the same place.
//
// The file is always replaced whole: the entries go to "<file>.tmp" in the same folder, which is
// flushed to disk and renamed over the file, so a crash leaves either the old list or the new
// one, never a part. When the ban file is a symbolic link, the file it points to is replaced.
#pragma once

#include <netinet/in.h>

#include <cstdint>
#include <string>
#include <vector>

#include "core/TokenBucket.h"

class Ban {
public:
    enum class LoadResult {
        Loaded,      // the entries are now the file's lines
        Missing,     // no file of that name; the entries are unchanged
        Unreadable,  // the file exists but is not a readable regular file; entries unchanged
    };

    // Created empty on first use. `delete Ban::getInstance()` destroys it; the destructor writes
    // the list once more and lets the next getInstance() create a fresh, empty list.
    static Ban* getInstance();
    ~Ban();

    Ban(const Ban&) = delete;
    Ban& operator=(const Ban&) = delete;

    // Remembers `fileName` as the list file and reads it: each line, without its "\n" and with
    // nothing else trimmed, becomes an entry (an empty line too; a last line without "\n"
    // counts). Loading never writes the file.
    // For start-up: on Missing, writeList() creates the file empty; after Unreadable the file is
    // left alone (writeList() returns false without touching it) until the list next changes
    // through addIP or a successful removeIP, whose write then replaces it.
    LoadResult load(const char* fileName);
    // load() reduced to "the file was read".
    bool readList(const char* fileName);

    // Replaces the list file with the entries, each followed by "\n". False, with the file
    // untouched, when no file name is known, the writes are held after an Unreadable load, the
    // file is not a regular file, or any step of the replacement fails. The first failed save
    // after a good one (or after start-up) is logged as an ERROR, and the next good one after it;
    // without `reportFailure` a failure is not logged and does not count as that first one.
    bool writeList(bool reportFailure = true);

    // Appends `text` as the last entry (no check, duplicates allowed) and returns writeList().
    bool addIP(const char* text);
    // Appends the address's dotted-decimal text; the port is ignored.
    bool addIP(const sockaddr_in* address);
    // A ban the server decides on its own (floods, bad passwords). Those are driven by datagrams
    // whose sender may be forged, so they are limited in rate and in total; a suppressed ban is
    // logged and not added. True when the address was added.
    bool addAutomaticIP(const char* text);
    bool addAutomaticIP(const sockaddr_in* address);

    static constexpr int kMaxAutomaticBans = 1000;
    // Removes the first entry equal to `text` and writes the list. False, without writing, when
    // no entry is equal (an address banned only through a wildcard entry is not removed).
    bool removeIP(const char* text);
    bool removeIP(const sockaddr_in* address);

    bool isBanned(const char* text) const;
    // Matches the address's dotted-decimal text, so every port of a banned address is banned.
    bool isBanned(const sockaddr_in* address) const;

    // Writes each entry followed by "|" and returns the byte count; no NUL is written. Never
    // writes more than `capacity` bytes: a longer list is cut after the last whole entry (with
    // its "|") that fits.
    int readListToBuffer(char* destination, int capacity) const;

    int getEntryCount() const { return static_cast<int>(m_entries.size()); }
    const std::vector<std::string>& getEntries() const { return m_entries; }
    const std::string& getFileName() const { return m_fileName; }

    // Counted since the list was created, for the metrics file.
    std::uint64_t getBansAdded() const { return m_bansAdded; }
    std::uint64_t getAutomaticBansAdded() const {
        return static_cast<std::uint64_t>(m_automaticBanCount);
    }
    std::uint64_t getAutomaticBansSuppressed() const { return m_automaticBansSuppressed; }
    std::uint64_t getFailedWrites() const { return m_failedWrites; }

private:
    Ban() = default;

    static Ban* s_instance;

    std::string m_fileName;
    std::vector<std::string> m_entries;
    bool m_writesHeld = false;
    bool m_writeFailing = false;
    TokenBucket m_automaticBans{1, 20};
    int m_automaticBanCount = 0;
    TokenBucket m_suppressionLines{1, 1};
    int m_unloggedSuppressions = 0;
    std::uint64_t m_bansAdded = 0;
    std::uint64_t m_automaticBansSuppressed = 0;
    std::uint64_t m_failedWrites = 0;
};
