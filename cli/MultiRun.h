// pelta-cli on many units: each unit its own runner, at most --jobs of them at a time, a
// progress line per running unit on a terminal, the table (or JSON) at the end. Ctrl-C is the
// stop button of every running unit and starts no new one.
#pragma once
#include "cli/CliArgs.h"
#include "cli/ImageFile.h"

// Runs request on every host; wakeRead: the pipe a signal writes stopByte to (and the units
// their state changes); wakeWrite its other end. Returns the exit code: 0 all units OK, 1 any
// failed, 3 aborted.
int MultiRun(const CliRequest& request, const ImageFile& image, int wakeRead, int wakeWrite, char stopByte);
