// The configuration store: key to an ordered list of value texts, read once from the
// configuration file. Readers fetch values by key at the moment they need them, so a value
// replaced at run time is seen by every later read.
#pragma once

#include <map>
#include <string>
#include <vector>

struct ConfEntry {
    std::vector<std::string> values;
};

// Where a key was read, for the configuration check's messages.
struct ConfLine {
    std::string key;
    int line = 0;
    std::string valueText;  // everything after the key's space, as read
};

class Conf {
public:
    // Created on first use; delete the returned object to destroy it.
    static Conf* getInstance();
    ~Conf();

    Conf(const Conf&) = delete;
    Conf& operator=(const Conf&) = delete;

    // Reads `path` into the store. False only when the file cannot be opened; content problems
    // are reported and skipped. A key given again replaces its earlier entry.
    bool readConf(const char* path);
    // Splits `valueText` into values by the file's quoting rules and stores them under `key`,
    // replacing any earlier entry.
    void addConfEntry(const std::string& key, const std::string& valueText);

    // The value at `index`, or null when the key is absent or has fewer values. Valid until the
    // value is replaced or the store destroyed.
    const char* getConfEntryValue(const std::string& key, int index = 0) const;
    // The value at `index` as an integer, -1 when there is no such value.
    int getConfEntryValueAsInt(const std::string& key, int index = 0) const;
    // Number of values, -1 when the key is absent.
    int getConfEntryValueCount(const std::string& key) const;
    bool isConfEntrySet(const std::string& key) const;
    // Replaces an existing value; never creates a key or a value. False when nothing changed.
    bool setConfEntryValue(const std::string& key, const char* value, int index);
    int getConfEntryCount() const { return static_cast<int>(m_entries.size()); }
    // Every key line of the last file read, in file order (repeats included).
    const std::vector<ConfLine>& getKeyLines() const { return m_keyLines; }

    static std::string trimLeft(const std::string& text, const std::string& set);
    static std::string trimRight(const std::string& text, const std::string& set);

    // Chooses the file (-c, else --conf, else "zevserver.conf") and reads it.
    bool loadConf();
    // Validates the keys the server cannot run without, logging the first problems found.
    bool checkForRequiredConfEntries();

private:
    Conf() = default;
    bool checkGameClock();

    static Conf* s_instance;
    int m_lineNumber = 0;
    std::map<std::string, ConfEntry> m_entries;
    std::vector<ConfLine> m_keyLines;
};
