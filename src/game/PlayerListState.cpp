#include <array>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "game/PlayerList.h"
#include "game/VehicleList.h"
#include "net/ByteReader.h"
#include "net/ByteWriter.h"

namespace {

enum class FieldKind : std::uint8_t {
    kSkip,
    kPosition,
    kByte,
    kWord,
    kVehiclePosition,
    kVehicleSecond,
};

// What one tag carries. The constructors below tie each kind to its payload size, so the size
// that decides whether a field fits is always the size its reader consumes.
struct TagField {
    std::uint8_t size = 0;
    FieldKind kind = FieldKind::kSkip;
    std::int32_t GameState::*byteSlot = nullptr;
    std::uint32_t GameState::*wordSlot = nullptr;
};

constexpr TagField skipped(std::uint8_t size) { return {size, FieldKind::kSkip, nullptr, nullptr}; }
constexpr TagField byteIn(std::int32_t GameState::*slot) {
    return {1, FieldKind::kByte, slot, nullptr};
}
constexpr TagField wordIn(std::uint32_t GameState::*slot) {
    return {4, FieldKind::kWord, nullptr, slot};
}
constexpr TagField triple(FieldKind kind) { return {12, kind, nullptr, nullptr}; }

// Indexed by tag byte; tags left out (0 and 17 to 255) default to no payload.
using TagTable = std::array<TagField, 256>;

// Tag numbers the two client types share, used by the on-foot compact form.
constexpr std::uint8_t kPositionTag = 1;
constexpr std::uint8_t kStateByteATag = 2;
constexpr std::uint8_t kStateByteETag = 3;  // GTA:VC only

struct ClientFormat {
    TagTable tags;
    // Names the vehicle position in the driver's compact form.
    std::uint8_t vehiclePositionTag = 0;
    // GTA:VC clients expect stateByteE in the on-foot compact form as well.
    bool relaysStateByteE = false;
};

constexpr ClientFormat makeGta3Format() {
    ClientFormat format{};
    TagTable& t = format.tags;
    t[1] = triple(FieldKind::kPosition);
    t[2] = byteIn(&GameState::stateByteA);
    t[3] = byteIn(&GameState::stateByteB);
    t[4] = byteIn(&GameState::stateByteD);
    t[5] = byteIn(&GameState::stateByteF);
    t[6] = byteIn(&GameState::stateByteC);
    t[7] = wordIn(&GameState::stateWordB);
    t[8] = wordIn(&GameState::stateWordA);
    t[9] = wordIn(&GameState::stateWordC);
    t[10] = wordIn(&GameState::stateWordD);
    t[11] = t[12] = t[13] = skipped(12);
    t[14] = triple(FieldKind::kVehiclePosition);
    t[15] = triple(FieldKind::kVehicleSecond);
    t[16] = skipped(1);
    format.vehiclePositionTag = 14;
    return format;
}

constexpr ClientFormat makeGtaVcFormat() {
    ClientFormat format{};
    TagTable& t = format.tags;
    t[1] = triple(FieldKind::kPosition);
    t[2] = byteIn(&GameState::stateByteA);
    t[3] = byteIn(&GameState::stateByteE);
    t[4] = byteIn(&GameState::stateByteD);
    t[5] = byteIn(&GameState::stateByteB);
    t[6] = byteIn(&GameState::stateByteG);
    t[7] = byteIn(&GameState::stateByteH);
    t[8] = wordIn(&GameState::stateWordA);
    t[9] = wordIn(&GameState::stateWordC);
    t[10] = t[11] = t[12] = skipped(12);
    t[13] = triple(FieldKind::kVehiclePosition);
    t[14] = triple(FieldKind::kVehicleSecond);
    t[15] = t[16] = skipped(1);
    format.vehiclePositionTag = 13;
    format.relaysStateByteE = true;
    return format;
}

constexpr ClientFormat kGta3Format = makeGta3Format();
constexpr ClientFormat kGtaVcFormat = makeGtaVcFormat();

// The compact forms reuse the tag numbers the client parses, so they must agree with the tables.
static_assert(kGta3Format.tags[kPositionTag].kind == FieldKind::kPosition);
static_assert(kGta3Format.tags[kStateByteATag].byteSlot == &GameState::stateByteA);
static_assert(kGtaVcFormat.tags[kPositionTag].kind == FieldKind::kPosition);
static_assert(kGtaVcFormat.tags[kStateByteATag].byteSlot == &GameState::stateByteA);
static_assert(kGtaVcFormat.tags[kStateByteETag].byteSlot == &GameState::stateByteE);
static_assert(kGta3Format.tags[kGta3Format.vehiclePositionTag].kind == FieldKind::kVehiclePosition);
static_assert(kGtaVcFormat.tags[kGtaVcFormat.vehiclePositionTag].kind ==
              FieldKind::kVehiclePosition);

constexpr std::size_t kCompactStateMaxSize = 22;

// Stands in for a driver's vehicle should it ever be missing: relayed and measured as zeros.
constexpr VehicleData kNoVehicle{};

// Copies three 32-bit values bit for bit, so NaN payloads in floats survive.
template <typename T>
void readTriple(ByteReader& reader, T (&out)[3]) {
    static_assert(sizeof(T) == 4);
    std::uint32_t words[3] = {reader.u32(), reader.u32(), reader.u32()};
    if (reader.ok()) std::memcpy(out, words, sizeof(words));
}

template <typename T>
void writeTriple(ByteWriter& writer, const T (&values)[3]) {
    static_assert(sizeof(T) == 4);
    std::uint32_t words[3];
    std::memcpy(words, values, sizeof(words));
    for (std::uint32_t word : words) writer.u32(word);
}

// `vehicle` is where vehicle tags store, or null when they are to be skipped.
void walkTags(ByteReader& reader, const TagTable& tags, GameState& state, VehicleData* vehicle) {
    // A lone last byte is never a tag; a field that does not fit ends the walk (the record was
    // cut short, and the bytes after it cannot be trusted as tags).
    while (reader.ok() && reader.remaining() >= 2) {
        const TagField& field = tags[reader.u8()];
        if (field.size > reader.remaining()) return;
        switch (field.kind) {
            case FieldKind::kSkip:
                reader.skip(field.size);
                break;
            case FieldKind::kPosition:
                readTriple(reader, state.position);
                break;
            case FieldKind::kByte:
                state.*field.byteSlot = reader.i8();
                break;
            case FieldKind::kWord:
                state.*field.wordSlot = reader.u32();
                break;
            case FieldKind::kVehiclePosition:
                if (vehicle != nullptr) {
                    readTriple(reader, vehicle->position);
                } else {
                    reader.skip(field.size);
                }
                break;
            case FieldKind::kVehicleSecond:
                if (vehicle != nullptr) {
                    readTriple(reader, vehicle->secondVector);
                } else {
                    reader.skip(field.size);
                }
                break;
        }
    }
}

VehicleData* findOrAddVehicle(int id) {
    VehicleList* vehicles = VehicleList::getInstance();
    VehicleData* vehicle = vehicles->getVehicleData(id);
    if (vehicle == nullptr) {
        vehicles->addVehicle(id);
        vehicle = vehicles->getVehicleData(id);
    }
    return vehicle;
}

void parseStateRecord(GameState& state, const unsigned char* record, int length,
                      const ClientFormat& format) {
    ByteReader reader(record, static_cast<std::size_t>(length));
    const unsigned selector = reader.u8();
    // A heading cut short reads as 0, and the reader's sticky error then keeps the tag walk from
    // starting inside the heading bytes.
    const std::uint32_t heading = selector <= 100 ? reader.u32() : 0;
    int vehicleNumber = 0;
    if (selector <= 100) {
        state.inVehicle = selector != 0;
        state.isPassenger = false;
        vehicleNumber = static_cast<int>(selector);
    } else if (selector <= 200) {
        state.inVehicle = true;
        state.isPassenger = true;
        vehicleNumber = static_cast<int>(selector) - 100;
    } else {
        state.inVehicle = false;  // isPassenger deliberately keeps its old value
    }

    if (vehicleNumber != 0) {
        // Looked up on every record, not only when the vehicle changes: the list keeps records
        // in place, so this is the same pointer, and it can never be stale.
        state.vehicle = findOrAddVehicle(vehicleNumber);
        // A passenger's record has no heading, yet by the protocol it still zeroes the shared one.
        if (state.vehicle != nullptr) state.vehicle->heading = heading;
    } else {
        state.heading = heading;
        state.vehicle = nullptr;
    }
    state.vehicleId = static_cast<std::uint8_t>(vehicleNumber);

    walkTags(reader, format.tags, state, state.inVehicle ? state.vehicle : nullptr);
}

void storeStateRecord(Player* player, const unsigned char* record, int length,
                      const ClientFormat& format) {
    if (player == nullptr || record == nullptr || length <= 0) return;
    parseStateRecord(player->gameState, record, length, format);
}

std::size_t writeCompactState(const GameState& state, const ClientFormat& format,
                              unsigned char* out) {
    ByteWriter writer(out, kCompactStateMaxSize);
    if (!state.inVehicle) {
        writer.u8(0);
        writer.u32(state.heading);
        writer.u8(kPositionTag);
        writeTriple(writer, state.position);
        writer.u8(kStateByteATag);
        writer.u8(static_cast<std::uint8_t>(state.stateByteA));
        if (format.relaysStateByteE) {
            writer.u8(kStateByteETag);
            writer.u8(static_cast<std::uint8_t>(state.stateByteE));
        }
    } else if (state.isPassenger) {
        writer.u8(static_cast<std::uint8_t>(state.vehicleId + 100));
    } else {
        const VehicleData& vehicle = state.vehicle != nullptr ? *state.vehicle : kNoVehicle;
        writer.u8(state.vehicleId);
        writer.u32(vehicle.heading);
        writer.u8(format.vehiclePositionTag);
        writeTriple(writer, vehicle.position);
    }
    return writer.size();
}

int appendCompactState(const Player* player, const ClientFormat& format, unsigned char* buffer,
                       int* position) {
    if (player == nullptr || buffer == nullptr || position == nullptr) return 0;
    *position += static_cast<int>(writeCompactState(player->gameState, format, buffer + *position));
    return 1;
}

// x and y only: heights never matter for visibility.
const float* groundPoint(const GameState& state) {
    if (!state.inVehicle) return state.position;
    return state.vehicle != nullptr ? state.vehicle->position : kNoVehicle.position;
}

}  // namespace

void PlayerList::storeGTA3PlayerData(int id, const unsigned char* record, int length) {
    storeStateRecord(find(id), record, length, kGta3Format);
}

void PlayerList::storeGTAVCPlayerData(int id, const unsigned char* record, int length) {
    storeStateRecord(find(id), record, length, kGtaVcFormat);
}

int PlayerList::getGTA3PlayerGameDataPacketTiny(int id, unsigned char* buffer,
                                                int* position) const {
    return appendCompactState(find(id), kGta3Format, buffer, position);
}

int PlayerList::getGTAVCPlayerGameDataPacketTiny(int id, unsigned char* buffer,
                                                 int* position) const {
    return appendCompactState(find(id), kGtaVcFormat, buffer, position);
}

bool PlayerList::isPlayerVisible(int idA, int idB) const {
    const Player* a = find(idA);
    const Player* b = find(idB);
    if (a == nullptr || b == nullptr) return true;
    const float* pointA = groundPoint(a->gameState);
    const float* pointB = groundPoint(b->gameState);
    const float dx = pointA[0] - pointB[0];
    const float dy = pointA[1] - pointB[1];
    // Separate statements so no compiler fuses them into one rounding (FMA contraction): the
    // boundary cases depend on every step being rounded to single precision.
    const float dxSquared = dx * dx;
    const float dySquared = dy * dy;
    const float sum = dxSquared + dySquared;
    const float distance = std::sqrt(sum);
    // Written as "not out of range" so a NaN distance counts as visible.
    return !(static_cast<double>(distance) >= 300.0);
}

void PlayerList::storePlayerSkin(int id, int skin) {
    if (Player* player = find(id)) player->gameState.skin = skin;
}

int PlayerList::getPlayerSkin(int id) const {
    const Player* player = find(id);
    return player != nullptr ? player->gameState.skin : 0;
}
