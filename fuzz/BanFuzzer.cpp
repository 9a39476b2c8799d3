// The ban list: loading a ban file, isBanned and readListToBuffer, against the rules of the ban
// file and of matching (an exact entry, or an entry whose four octets, read by inet_addr, are 0
// or equal to the address's). Nothing here changes the list, so the file is never written.
//
// Input: a 16-bit little-endian length and that many bytes of ban file, a byte that sets the
// room given to readListToBuffer (8 bytes per unit), then queries separated by NUL bytes. Each
// query is matched as text and, through its first four bytes, as a socket address.
#include <arpa/inet.h>

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "FuzzSupport.h"
#include "admin/Ban.h"
#include "net/ServerInterface.h"

namespace {

std::string g_path;

std::vector<std::string> linesOf(const std::string& content) {
    std::vector<std::string> lines;
    std::size_t start = 0;
    while (start < content.size()) {
        std::size_t end = content.find('\n', start);
        if (end == std::string::npos) end = content.size();
        lines.push_back(content.substr(start, end - start));
        start = end + 1;
    }
    return lines;
}

bool expectedBanned(const std::vector<std::string>& entries, const std::string& text) {
    for (const std::string& entry : entries) {
        if (entry == text) return true;
    }
    in_addr_t address = inet_addr(text.c_str());
    unsigned char octets[4];
    std::memcpy(octets, &address, 4);
    for (const std::string& entry : entries) {
        in_addr_t pattern = inet_addr(entry.c_str());
        unsigned char wanted[4];
        std::memcpy(wanted, &pattern, 4);
        bool match = true;
        for (int i = 0; i < 4; ++i) match = match && (wanted[i] == 0 || wanted[i] == octets[i]);
        if (match) return true;
    }
    return false;
}

void checkListText(const Ban& ban, std::size_t capacity) {
    std::string expected;
    for (const std::string& entry : ban.getEntries()) {
        if (expected.size() + entry.size() + 1 > capacity) break;
        expected += entry + "|";
    }
    fuzz::HeapBytes buffer(std::vector<std::uint8_t>(capacity, 0));
    int count =
        ban.readListToBuffer(reinterpret_cast<char*>(buffer.data()), static_cast<int>(capacity));
    FUZZ_CHECK(count == static_cast<int>(expected.size()));
    FUZZ_CHECK(std::memcmp(buffer.data(), expected.data(), expected.size()) == 0);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzz::quietProcess();
    g_path = fuzz::scratchPath("banned.txt");
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    fuzz::FuzzInput input(data, size);
    std::vector<std::uint8_t> file = input.record(65535);
    if (!fuzz::writeFile(g_path, file.data(), file.size())) {
        fuzz::fail(__FILE__, __LINE__, "cannot write the ban file");
    }
    Ban& ban = *Ban::getInstance();
    FUZZ_CHECK(ban.load(g_path.c_str()) == Ban::LoadResult::Loaded);
    const std::vector<std::string> entries = linesOf(std::string(file.begin(), file.end()));
    FUZZ_CHECK(ban.getEntries() == entries);

    checkListText(ban, static_cast<std::size_t>(input.u8()) * 8);
    for (const std::string& entry : entries) {
        if (entry.find('\0') == std::string::npos) FUZZ_CHECK(ban.isBanned(entry.c_str()));
    }

    std::vector<std::uint8_t> rest = input.rest();
    std::string queries(rest.begin(), rest.end());
    std::size_t start = 0;
    while (start < queries.size()) {
        std::size_t end = queries.find('\0', start);
        if (end == std::string::npos) end = queries.size();
        const std::string query = queries.substr(start, end - start);
        start = end + 1;
        FUZZ_CHECK(ban.isBanned(query.c_str()) == expectedBanned(entries, query));
        if (query.size() < 4) continue;
        sockaddr_in from{};
        from.sin_family = AF_INET;
        std::memcpy(&from.sin_addr, query.data(), 4);
        const std::string dotted = ServerInterface::getAsciiAddress(&from);
        FUZZ_CHECK(ban.isBanned(&from) == expectedBanned(entries, dotted));
    }
    return 0;
}
