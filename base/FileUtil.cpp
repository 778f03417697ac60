#include "base/FileUtil.h"

#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdarg>
#include <cstring>

namespace {
const size_t kFileCopyBuffer = 65536;
const mode_t kNewDirectoryMode = 0777;

bool EndsWithSeparator(const SString& path)
{
    return path.Length() > 0 && path.Text()[path.Length() - 1] == kPathSeparator;
}

// Retries calls interrupted by a signal; the chunk is written whole or the copy fails.
bool WriteAll(int fd, const char* data, size_t size)
{
    while (size > 0) {
        ssize_t n = write(fd, data, size);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        data += n;
        size -= (size_t)n;
    }
    return true;
}

bool SameFile(int fd, const char* path)
{
    struct stat a, b;
    return fstat(fd, &a) == 0 && stat(path, &b) == 0 && a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

int CopyDescriptors(int in, int out)
{
    char* buffer = (char*)g_try_malloc(kFileCopyBuffer);
    if (!buffer)
        return -1;
    int result = 0;
    for (;;) {
        ssize_t n = read(in, buffer, kFileCopyBuffer);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 || (n > 0 && !WriteAll(out, buffer, (size_t)n)))
            result = -1;
        if (n <= 0)
            break;
    }
    g_free(buffer);
    return result;
}

SString Child(const char* parent, const char* name)
{
    SString path(parent);
    PathJoin(path, name, nullptr);
    return path;
}

bool IsDotEntry(const char* name)
{
    return strcmp(name, ".") == 0 || strcmp(name, "..") == 0;
}

// Resolves a path whose last part does not exist yet through its existing parent.
SString FullPathOfNewEntry(const char* path)
{
    const char* slash = strrchr(path, kPathSeparator);
    const char* name = slash ? slash + 1 : path;
    if (!*name || IsDotEntry(name))
        return SString();
    SString parent = slash ? SString(path, (int32_t)(slash - path)) : SString(".");
    if (parent.IsEmpty())
        parent.Assign("/");
    SString full = FullPathGet(parent.Text());
    if (full.IsEmpty() || !EndsWithSeparator(full) || full.Length() + strlen(name) >= PATH_MAX)
        return SString();
    full.Append(name);
    return full;
}
}  // namespace

int FileMkDir(const char* path)
{
    return path && mkdir(path, kNewDirectoryMode) == 0 ? 0 : -1;
}

int FileRmDir(const char* path)
{
    return path && rmdir(path) == 0 ? 0 : -1;
}

int FileUnlink(const char* path)
{
    return path && unlink(path) == 0 ? 0 : -1;
}

int FileCopy(const char* from, const char* to)
{
    if (!from || !to)
        return -1;
    int in = open(from, O_RDONLY | O_CLOEXEC);
    if (in < 0)
        return -1;
    struct stat st;
    // Truncating the target would destroy the source when both name the same file.
    if (fstat(in, &st) != 0 || !S_ISREG(st.st_mode) || SameFile(in, to)) {
        close(in);
        return -1;
    }
    int out = open(to, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, st.st_mode & 0777);
    if (out < 0) {
        close(in);
        return -1;
    }
    int result = CopyDescriptors(in, out);
    close(in);
    if (close(out) != 0)
        result = -1;
    return result;
}

int FileCopyStream(FILE* from, FILE* to)
{
    if (!from || !to)
        return -1;
    // Each call its own buffer: two units may copy files at the same time.
    std::vector<char> chunk(kFileCopyChunk);
    char* buffer = chunk.data();
    fflush(from);
    fflush(to);
    for (;;) {
        size_t n = fread(buffer, 1, kFileCopyChunk, from);
        if (n > 0 && fwrite(buffer, 1, n, to) != n)
            return -1;
        if (n < kFileCopyChunk)
            break;
    }
    return feof(from) && !ferror(from) ? 0 : -1;
}

DIR* DirOpen(const char* path)
{
    return path ? opendir(path) : nullptr;
}

struct dirent* DirRead(DIR* dir)
{
    return dir ? readdir(dir) : nullptr;
}

int DirClose(DIR* dir)
{
    return dir && closedir(dir) == 0 ? 0 : -1;
}

const char* DirEntryName(const struct dirent* entry)
{
    return entry ? entry->d_name : nullptr;
}

bool IsDirectory(const char* path)
{
    struct stat st;
    return path && stat(path, &st) == 0 && S_ISDIR(st.st_mode);
}

bool IsRegularFile(const char* path)
{
    struct stat st;
    return path && stat(path, &st) == 0 && S_ISREG(st.st_mode);
}

bool FileNotExists(const char* path)
{
    if (!path || !*path)
        return false;
    FILE* f = fopen(path, "rb");
    if (f) {
        fclose(f);
        return false;
    }
    return errno == ENOENT;
}

SString FullPathGet(const char* path)
{
    if (!path || !*path)
        return SString();
    char resolved[PATH_MAX];
    if (!realpath(path, resolved))
        return errno == ENOENT ? FullPathOfNewEntry(path) : SString();
    SString full(resolved);
    if (IsDirectory(resolved) && !EndsWithSeparator(full)) {
        if (full.Length() + 1 >= PATH_MAX)
            return SString();
        full.Append(kPathSeparator);
    }
    return full;
}

void PathJoin(SString& path, const char* part, ...)
{
    va_list parts;
    va_start(parts, part);
    for (; part; part = va_arg(parts, const char*)) {
        PathAppendSeparator(path);
        path.Append(part);
    }
    va_end(parts);
}

void PathAppendSeparator(SString& path)
{
    if (!EndsWithSeparator(path))
        path.Append(kPathSeparator);
}

int MakeDirs(const char* path)
{
    if (!path || !*path)
        return -1;
    int result = 0;
    for (const char* p = path + 1; *p; ++p) {
        if (*p != kPathSeparator)
            continue;
        SString prefix(path, (int32_t)(p - path));
        if (!IsDirectory(prefix.Text())) {
            result = FileMkDir(prefix.Text());
            if (result != 0)
                return result;
        }
    }
    if (!IsDirectory(path))
        result = FileMkDir(path);
    return result;
}

int CopyRecurs(const char* from, const char* to)
{
    if (!IsDirectory(from))
        return FileCopy(from, to);
    DIR* dir = DirOpen(from);
    if (!dir) {
        perror("CopyRecurs");
        return -1;
    }
    int result = MakeDirs(to);
    if (!IsDirectory(to))
        result = FileMkDir(to);
    for (struct dirent* entry; result == 0 && (entry = DirRead(dir));) {
        const char* name = DirEntryName(entry);
        if (!IsDotEntry(name))
            result = CopyRecurs(Child(from, name).Text(), Child(to, name).Text());
    }
    DirClose(dir);
    return result;
}

int RemoveRecurs(const char* path)
{
    struct stat st;
    if (!path || lstat(path, &st) != 0 || !S_ISDIR(st.st_mode))
        return FileUnlink(path);
    DIR* dir = DirOpen(path);
    if (!dir) {
        perror("RemoveRecurs");
        return -1;
    }
    int result = 0;
    for (struct dirent* entry; result == 0 && (entry = DirRead(dir));) {
        const char* name = DirEntryName(entry);
        if (!IsDotEntry(name))
            result = RemoveRecurs(Child(path, name).Text());
    }
    DirClose(dir);
    return result == 0 ? FileRmDir(path) : result;
}

SString ProgramDirectory()
{
    char exe[PATH_MAX];
    ssize_t n = readlink("/proc/self/exe", exe, sizeof exe - 1);
    if (n <= 0)
        return SString();
    exe[n] = '\0';
    const char* slash = strrchr(exe, kPathSeparator);
    return slash ? SString(exe, (int32_t)(slash - exe + 1)) : SString();
}

SString PathFromUtf8(const char* utf8)
{
    gsize length = 0;
    gchar* path = utf8 ? g_filename_from_utf8(utf8, -1, nullptr, &length, nullptr) : nullptr;
    SString result(path, (int32_t)length);
    g_free(path);
    return result;
}

SString PathToUtf8(const char* path)
{
    gsize length = 0;
    gchar* utf8 = path ? g_filename_to_utf8(path, -1, nullptr, &length, nullptr) : nullptr;
    SString result(utf8, (int32_t)length);
    g_free(utf8);
    return result;
}
