// Log styles and line modes shared by everything that writes to the user's log.
#pragma once
#include <cstdint>

enum LogStyle {
    LogStylePlain = 0,
    LogStyleTraffic = 1,
    LogStyleAttention = 2,
    LogStyleMonospace = 3,
    LogStyleError = 4,
    LogStyleResultOK = 5,
    LogStyleResultConform = 6,
    LogStyleResultNotConform = 7,
    LogStyleResultError = 8,
    LogStyleResultAborted = 9,
};

// Low byte: the line mode; the two high bits modify it.
enum LogLineMode : uint32_t {
    LogModeLine = 0,    // time prefix, line end
    LogModeOpen = 1,    // time prefix, the line stays open
    LogModeClose = 2,   // no prefix, line end
    LogModeAppend = 3,  // no prefix, no line end
};
const uint32_t kLogModeMask = 0xFFu;
const uint32_t kLogNoTime = 1u << 31;  // the prefix has no time stamp
const uint32_t kLogRaw = 1u << 30;     // the text keeps its line breaks
