// The admin port's dispatcher (processAdminCommand) over sequences of datagrams, after a valid
// login, against a session with two joined players. "motd.txt" and the ban file live in the
// scratch folder, on a memory file system where the ban list's fsync is free, so bans need not
// be kept rare.
//
// Input: one setup byte, then records. Setup bit 0 enables admin plus, bit 1 remote shutdown,
// bit 2 random weather; bit 3 leaves ServerPassword without a value; bit 4 makes "motd.txt"
// exist; bit 5 keeps chat out of the log; bit 6 logs the fixture's admin in at level 2 (with
// admin plus); bit 7 plays a GTA:VC map instead of GTA3. A record is a control byte, a 16-bit
// little-endian length and the datagram (at most 1024 bytes). Control bits 0-1 pick the sender
// (adminAddress 0-3; 0 is logged in); bits 2-4 move the clock on by that many seconds first
// (the remote-shutdown window); with bit 7 set the datagram goes to the game port instead, plain,
// from player 0 or 1 or newcomerAddress(2) or (3) by bits 0-1.
#include <cstddef>
#include <cstdint>

#include "FuzzSupport.h"
#include "SessionFixture.h"
#include "core/Clock.h"
#include "net/Envelope.h"

namespace {

fuzz::SessionOptions optionsFor(std::uint8_t setup) {
    fuzz::SessionOptions options;
    options.adminPlus = (setup & 0x01) != 0;
    options.allowShutdown = (setup & 0x02) != 0;
    options.randomWeather = (setup & 0x04) != 0;
    options.serverPasswordKey = (setup & 0x08) == 0;
    options.motdFile = (setup & 0x10) != 0;
    options.chatToLog = (setup & 0x20) == 0;
    options.map = (setup & 0x80) != 0 ? 2 : 3;
    return options;
}

sockaddr_in gameSender(int index) {
    return index < 2 ? fuzz::playerAddress(index) : fuzz::newcomerAddress(index);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
    fuzz::SessionFixture::setUpProcess(*argc, *argv);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    fuzz::FuzzInput input(data, size);
    std::uint8_t setup = input.u8();
    fuzz::SessionOptions options = optionsFor(setup);
    fuzz::SessionFixture fixture(options);
    fixture.joinPlayers(2);
    bool plus = options.adminPlus && (setup & 0x40) != 0;
    fixture.loginAdmin(plus ? 2 : 1, "Boss");
    while (!input.empty() && !fixture.session().killServer()) {
        std::uint8_t control = input.u8();
        std::vector<std::uint8_t> datagram = input.record(kMaxDatagramSize);
        Clock::advanceMillis(1000 * ((control >> 2) & 7));
        if ((control & 0x80) != 0) {
            fixture.deliverGame(gameSender(control & 3), datagram, false);
        } else {
            fixture.deliverAdmin(fuzz::adminAddress(control & 3), datagram);
        }
    }
    return 0;
}
