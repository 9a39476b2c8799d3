// Decimal text to int with the rules of atoi (leading white space, optional sign, digits up to the
// first non-digit, no digits gives 0), except that an overflowing value is clamped to the int
// range instead of being undefined.
#pragma once

int parseIntClamped(const char* text);
