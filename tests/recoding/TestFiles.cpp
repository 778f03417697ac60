#include "TestFiles.h"

#include <cstdio>
#include <glib.h>
#include <glib/gstdio.h>

TempDir::TempDir()
{
    GError* error = nullptr;
    gchar* dir = g_dir_make_tmp("recoding-test-XXXXXX", &error);
    if (dir) {
        dir_ = dir;
        g_free(dir);
    }
    g_clear_error(&error);
}

TempDir::~TempDir()
{
    if (dir_.empty())
        return;
    GDir* d = g_dir_open(dir_.c_str(), 0, nullptr);
    if (d) {
        while (const gchar* name = g_dir_read_name(d))
            g_remove(Path(name).c_str());
        g_dir_close(d);
    }
    g_rmdir(dir_.c_str());
}

std::string TempDir::Path(const char* name) const
{
    return dir_ + "/" + name;
}

bool WriteFileBytes(const std::string& path, const std::string& bytes)
{
    return g_file_set_contents(path.c_str(), bytes.data(), (gssize)bytes.size(), nullptr) != FALSE;
}

std::string ReadFileBytes(const std::string& path, bool* ok)
{
    gchar* data = nullptr;
    gsize n = 0;
    bool read = g_file_get_contents(path.c_str(), &data, &n, nullptr) != FALSE;
    if (ok)
        *ok = read;
    std::string result = read ? std::string(data, n) : std::string();
    g_free(data);
    return result;
}

std::string Hex(const std::string& bytes)
{
    std::string out;
    char b[4];
    for (unsigned char c : bytes) {
        snprintf(b, sizeof b, out.empty() ? "%02x" : " %02x", c);
        out += b;
    }
    return out;
}
