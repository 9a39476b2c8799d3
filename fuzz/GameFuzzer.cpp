// The game port's dispatcher (processCommand) over sequences of datagrams, against a session with
// three joined players and a logged-in admin plus, for both client types.
//
// Input: one setup byte, then records. Setup bits 0-1 pick the map (3 GTA3 Portland, 1 GTA:VC
// Deathmatch, 2 GTA:VC Stunt, 5 GTA3 Staunton Island); bit 2 Testmode, bit 3 StatLogging, bit 4
// a join password, bit 5 a message of the day, bit 6 DebugOutput, bit 7 random weather and bans
// on chat flood. A record starts with a control byte. With bit 6 set it is one second of the
// periodic tasks (SessionFixture::tick) and nothing follows. Otherwise a 16-bit little-endian
// length and the datagram follow (at most 1024 bytes); bits 0-2 pick the sender (0-2 the joined
// players, 3-6 newcomerAddress(0-3), 7 the admin's address) and bit 7 marks the datagram as an
// envelope to open first, as the main loop does.
#include <cstddef>
#include <cstdint>

#include "FuzzSupport.h"
#include "SessionFixture.h"
#include "net/Envelope.h"

namespace {

constexpr int kMaps[4] = {3, 1, 2, 5};

sockaddr_in sender(int index) {
    if (index < 3) return fuzz::playerAddress(index);
    if (index < 7) return fuzz::newcomerAddress(index - 3);
    return fuzz::adminAddress(0);
}

fuzz::SessionOptions optionsFor(std::uint8_t setup) {
    fuzz::SessionOptions options;
    options.map = kMaps[setup & 3];
    options.testmode = (setup & 0x04) != 0;
    options.statLogging = (setup & 0x08) != 0;
    options.passwordRequired = (setup & 0x10) != 0;
    options.motdFile = (setup & 0x20) != 0;
    options.debugOutput = (setup & 0x40) != 0;
    options.randomWeather = (setup & 0x80) != 0;
    options.banOnChatFlood = (setup & 0x80) != 0;
    return options;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
    fuzz::SessionFixture::setUpProcess(*argc, *argv);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    fuzz::FuzzInput input(data, size);
    fuzz::SessionFixture fixture(optionsFor(input.u8()));
    fixture.joinPlayers(3);
    fixture.loginAdmin(2, "Watcher");
    while (!input.empty() && !fixture.session().killServer()) {
        std::uint8_t control = input.u8();
        if ((control & 0x40) != 0) {
            fixture.tick(control);
            continue;
        }
        fixture.deliverGame(sender(control & 7), input.record(kMaxDatagramSize),
                            (control & 0x80) != 0);
    }
    return 0;
}
