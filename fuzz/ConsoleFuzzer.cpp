// The admin console's reading of what a server sends: the login reply, every notice and reply
// as an event line, and the ban list, over a sequence of datagrams that share one roster. Each
// datagram is an exact-size heap copy, so a read past its end is a sanitizer report. Every line
// shown must be printable: a server cannot move the operator's cursor or forge a line.
#include <cstddef>
#include <cstdint>
#include <string>

#include "FuzzSupport.h"
#include "zevadmin/Events.h"
#include "zevadmin/Protocol.h"

namespace {

void checkPrintable(const std::string& line) {
    for (char c : line) {
        auto byte = static_cast<unsigned char>(c);
        FUZZ_CHECK(byte >= 0x20 && byte < 0x7F);
    }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzz::quietProcess();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    fuzz::FuzzInput input(data, size);
    zevadmin::Roster roster;
    zevadmin::EventOptions options;
    options.showPings = (input.u8() & 1) != 0;
    while (!input.empty()) {
        fuzz::HeapBytes datagram(input.record(2048));
        zevadmin::LoginInfo info;
        if (zevadmin::decodeLoginReply(datagram.data(), datagram.size(), &info)) {
            roster.reset(info.players);
            for (const std::string& line : zevadmin::formatLogin(info, "fuzz", 2)) {
                checkPrintable(line);
            }
        }
        checkPrintable(zevadmin::formatEvent(datagram.data(), datagram.size(), roster, options));
        for (const std::string& entry :
             zevadmin::banListEntries(datagram.data(), datagram.size())) {
            checkPrintable(entry);
        }
    }
    return 0;
}
