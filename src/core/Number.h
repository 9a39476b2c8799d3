// Decimal text to int with the rules of atoi (leading white space, optional sign, digits up to the
// first non-digit, no digits gives 0), except that an overflowing value is clamped to the int
// range instead of being undefined.
#pragma once

int parseIntClamped(const char* text);

// Decimal text that is a whole integer from `low` to `high` and nothing else (no spaces, no
// trailing characters), for command-line options where a typo must not pass as a number. False,
// leaving `out` alone, otherwise.
bool parseIntInRange(const char* text, long low, long high, int* out);
