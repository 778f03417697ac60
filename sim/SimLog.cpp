#include "sim/SimLog.h"

#include <unistd.h>

#include <cstdarg>
#include <cstdio>

namespace {
const char kPrefix[] = "pelta-sim: ";

void WriteLine(int fd, const char* format, va_list args) {
    char line[512];
    int head = snprintf(line, sizeof line, "%s", kPrefix);
    int body = vsnprintf(line + head, sizeof line - head - 1, format, args);
    if (body < 0) body = 0;
    size_t size = (size_t)head + ((size_t)body < sizeof line - head - 1 ? (size_t)body : sizeof line - head - 2);
    line[size++] = '\n';
    // A reader that went away must not stop the unit.
    ssize_t written = write(fd, line, size);
    (void)written;
}
}  // namespace

void SimLog(const char* format, ...) {
    va_list args;
    va_start(args, format);
    WriteLine(STDOUT_FILENO, format, args);
    va_end(args);
}

void SimError(const char* format, ...) {
    va_list args;
    va_start(args, format);
    WriteLine(STDERR_FILENO, format, args);
    va_end(args);
}
