// Scratch folders and file helpers shared with the base tests, and readable bytes for failures.
#pragma once
#include <cstdio>
#include <string>

#include "tests/base/TempDir.h"

// Lower-case hex of the bytes, separated by blanks.
inline std::string Hex(const std::string& bytes)
{
    std::string out;
    char b[4];
    for (unsigned char c : bytes) {
        snprintf(b, sizeof b, out.empty() ? "%02x" : " %02x", c);
        out += b;
    }
    return out;
}
