// The configuration file: readConf on a file holding the input, then
// checkForRequiredConfEntries and the configuration check's warnings. The line layer is checked
// against the file: every line that is not empty or a comment after trimming spaces stores its key
// (the text before the first space), and the store holds exactly those keys. Every stored value is
// non-empty and free of double quotes, which the value splitter consumes.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <set>
#include <string>

#include "FuzzSupport.h"
#include "core/Conf.h"
#include "core/ConfigCheck.h"

namespace {

std::string g_path;

// The keys of the lines, as the file's syntax defines them.
std::set<std::string> keysOf(const std::string& text) {
    std::set<std::string> keys;
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        std::string line = text.substr(start, end - start);
        start = end + 1;
        std::size_t first = line.find_first_not_of(' ');
        if (first == std::string::npos) continue;
        line = line.substr(first, line.find_last_not_of(' ') - first + 1);
        if (line[0] == '#') continue;
        keys.insert(line.substr(0, line.find(' ')));
    }
    return keys;
}

void checkEntry(const Conf& conf, const std::string& key) {
    FUZZ_CHECK(conf.isConfEntrySet(key));
    int count = conf.getConfEntryValueCount(key);
    FUZZ_CHECK(count >= 0);
    for (int i = 0; i < count; ++i) {
        const char* value = conf.getConfEntryValue(key, i);
        FUZZ_CHECK(value != nullptr && *value != '\0');
        FUZZ_CHECK(std::strchr(value, '"') == nullptr);
    }
    FUZZ_CHECK(conf.getConfEntryValue(key, count) == nullptr);
    FUZZ_CHECK(conf.getConfEntryValue(key, -1) == nullptr);
    if (count == 0) FUZZ_CHECK(conf.getConfEntryValueAsInt(key) == -1);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzz::quietProcess();
    g_path = fuzz::scratchPath("zevserver.conf");
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    delete Conf::getInstance();
    if (!fuzz::writeFile(g_path, data, size)) fuzz::fail(__FILE__, __LINE__, "cannot write");
    Conf& conf = *Conf::getInstance();
    FUZZ_CHECK(conf.readConf(g_path.c_str()));
    conf.checkForRequiredConfEntries();
    // What --check-config adds reads the same store, the ban file it names included.
    reportConfigurationWarnings();

    // Text with NUL bytes is read for crashes only: a value cut at a NUL is not a fault.
    std::string text(reinterpret_cast<const char*>(data), size);
    if (text.find('\0') != std::string::npos) return 0;
    std::set<std::string> keys = keysOf(text);
    for (const std::string& key : keys) checkEntry(conf, key);
    FUZZ_CHECK(conf.getConfEntryCount() == static_cast<int>(keys.size()));
    if (keys.empty()) return 0;

    // A replacement only ever changes a value that is there.
    const std::string& key = *keys.begin();
    int count = conf.getConfEntryValueCount(key);
    FUZZ_CHECK(!conf.setConfEntryValue(key, "v", count));
    if (count > 0) {
        FUZZ_CHECK(conf.setConfEntryValue(key, "v", count - 1));
        FUZZ_CHECK(std::strcmp(conf.getConfEntryValue(key, count - 1), "v") == 0);
    }
    FUZZ_CHECK(conf.getConfEntryValueCount(key) == count);
    return 0;
}
