// The pure rules of admin datagrams: reading a login, and the text fields of the commands.
#pragma once

#include <cstddef>
#include <string>

constexpr std::size_t kMaxAdminNickLength = 13;

struct AdminLogin {
    bool wellFormed = false;  // marker "0" and a level of 1 or 2
    int level = 0;
    std::string nick;      // printable characters only, at most 13
    std::string password;  // from the byte after the nick's stop up to a NUL or the end
};

// Reads a login payload (`size` bytes after the command byte): marker, level, nick up to "|"
// or 13 kept characters, then the password.
AdminLogin readAdminLogin(const unsigned char* payload, std::size_t size);

// The text at the start of `payload` up to its first NUL, at most `maxLength` bytes and never
// past `size`.
std::string readText(const unsigned char* payload, std::size_t size, std::size_t maxLength);

// The ban-address command's text: of the first 20 bytes, up to the first NUL, only the digits
// and dots are kept. Empty when fewer than 7 characters are left.
std::string filterBanAddress(const unsigned char* payload, std::size_t size);
