// One-line messages of the simulator, each written with a single write() so that lines from
// several connection threads never interleave. Every line starts with "pelta-sim: ".
#pragma once

// Progress and request lines on standard output.
void SimLog(const char* format, ...) __attribute__((format(printf, 1, 2)));
// Failures on standard error.
void SimError(const char* format, ...) __attribute__((format(printf, 1, 2)));
