// The image FILE of write-firmware / write-loader, checked on the command line the way the
// window's file chooser guarantees it, before any connection.
#pragma once
#include <string>

struct ImageFile {
    std::string localPath;    // absolute, in the file system's own bytes: what gets opened
    std::string displayPath;  // the same as valid UTF-8, for the log lines
};

// False with *reason set (one line, naming the file) when FILE does not exist, is not a
// regular file or cannot be read.
bool ImageFileCheck(const std::string& file, ImageFile* image, std::string* reason);
