#include "cli/ImageFile.h"

#include <fcntl.h>
#include <glib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace {
std::string Quoted(const std::string& file)
{
    gchar* shown = g_filename_display_name(file.c_str());
    std::string text = std::string("'") + shown + "'";
    g_free(shown);
    return text;
}
}  // namespace

bool ImageFileCheck(const std::string& file, ImageFile* image, std::string* reason)
{
    // Non-blocking, so that a FIFO given by mistake is refused instead of waited on.
    int fd = open(file.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        *reason = Quoted(file) + ": " + g_strerror(errno);
        return false;
    }
    struct stat status;
    bool regular = fstat(fd, &status) == 0 && S_ISREG(status.st_mode);
    close(fd);
    if (!regular) {
        *reason = Quoted(file) + ": not a regular file";
        return false;
    }
    char* real = realpath(file.c_str(), nullptr);
    image->localPath = real ? real : file;
    free(real);
    gchar* shown = g_filename_display_name(image->localPath.c_str());
    image->displayPath = shown;
    g_free(shown);
    return true;
}
