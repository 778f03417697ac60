// Scratch files for the recoding tests: a private temporary folder per test.
#pragma once
#include <string>

class TempDir {
public:
    TempDir();
    ~TempDir();
    std::string Path(const char* name) const;
    bool Ok() const { return !dir_.empty(); }

private:
    std::string dir_;
};

bool WriteFileBytes(const std::string& path, const std::string& bytes);
// The whole file, or an empty text with ok false when it cannot be read.
std::string ReadFileBytes(const std::string& path, bool* ok = nullptr);
// Lower-case hex of the bytes, separated by blanks, for readable failures.
std::string Hex(const std::string& bytes);
