// Wrong admin passwords counted per address (dotted text, the port plays no part). The tenth
// wrong password from an address bans it. The list is fed by unauthenticated datagrams whose
// sender may be forged, so it is bounded: when full, the oldest address that is not banned
// makes room.
#pragma once

#include <netinet/in.h>

#include <cstddef>

constexpr std::size_t kWarnListCapacity = 16384;
// What AddToWarnList returns when the address has just been banned.
constexpr int kWarnListBanned = 255;

// Counts one wrong password from `addressText` (the text of `address`). Returns the number of
// this attempt, 1 to 9, or kWarnListBanned after banning the address on its tenth (or the
// attempt's number, above 9, when the ban was suppressed by the limit on automatic bans).
int AddToWarnList(const char* addressText, const sockaddr_in* address);

// Forgets every address; `capacity` bounds the list from then on.
void ResetWarnList(std::size_t capacity = kWarnListCapacity);
std::size_t WarnListSize();
