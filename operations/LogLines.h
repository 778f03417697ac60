// The text side of a log line, shared by every front end: line breaks removed from a message
// and the time-and-indentation prefix.
#pragma once
#include <cstdint>
#include <ctime>

#include "base/SString.h"

// Two blanks after the time stamp and two per indentation level.
const int kLogIndentBlanks = 2;

// Unless the mode has the Raw bit: trailing CR/LF go, then every CR LF pair, then every lone
// CR and LF, nothing taking their place.
SString LogTextClean(const SString& text, uint32_t mode);
// "%H:%M:%S" of stamp in local time and two blanks (nothing with stamp 0), then the indentation.
SString LogPrefix(time_t stamp, int depth);
// True for the line modes after which a line end follows (Line and Close).
bool LogModeEndsLine(uint32_t mode);
// True for the line modes that start with a prefix (Line and Open).
bool LogModeHasPrefix(uint32_t mode);
