// A fresh directory under the system temporary folder, removed with everything in it.
#pragma once
#include <glib.h>

#include <string>

#include "base/FileUtil.h"

class TempDir {
public:
    TempDir()
    {
        gchar* dir = g_dir_make_tmp("base-tests-XXXXXX", nullptr);
        path_ = dir ? dir : "";
        g_free(dir);
    }
    ~TempDir() { RemoveRecurs(path_.c_str()); }  // an empty path fails harmlessly
    std::string operator/(const std::string& name) const { return path_ + "/" + name; }
    const std::string& Path() const { return path_; }

private:
    std::string path_;
};

inline bool WriteText(const std::string& path, const std::string& text)
{
    return g_file_set_contents(path.c_str(), text.data(), (gssize)text.size(), nullptr);
}

inline std::string ReadText(const std::string& path)
{
    gchar* data = nullptr;
    gsize size = 0;
    const bool read = g_file_get_contents(path.c_str(), &data, &size, nullptr);
    std::string text = read ? std::string(data, size) : "<unreadable>";
    g_free(data);
    return text;
}
