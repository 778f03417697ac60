// Thin wrappers over the file and directory calls, path building, and a thread-safe text for
// an errno value. Functions returning int give 0 for success and -1 for failure.
#pragma once
#include <dirent.h>
#include <glib.h>

#include <cstddef>
#include <cstdio>

#include "base/SString.h"

// Path separator of every path the program builds.
const char kPathSeparator = G_DIR_SEPARATOR;
// Chunk size of FileCopyStream.
const size_t kFileCopyChunk = 524288;

int FileMkDir(const char* path);
int FileRmDir(const char* path);
int FileUnlink(const char* path);
// Replaces an existing target.
int FileCopy(const char* from, const char* to);
// Copies what remains of from into to.
int FileCopyStream(FILE* from, FILE* to);

DIR* DirOpen(const char* path);
// Null at the end of the listing.
struct dirent* DirRead(DIR* dir);
int DirClose(DIR* dir);
const char* DirEntryName(const struct dirent* entry);

bool IsDirectory(const char* path);
bool IsRegularFile(const char* path);
// True only when opening for reading failed because nothing is there.
bool FileNotExists(const char* path);

// Absolute path with symbolic links resolved; a directory gets a trailing separator. A path
// whose last part does not exist yet is resolved through its parent. Empty on failure.
SString FullPathGet(const char* path);
// Appends each part, one separator before it unless path already ends with one; ends at nullptr.
void PathJoin(SString& path, const char* part, ...) __attribute__((sentinel));
void PathAppendSeparator(SString& path);
int MakeDirs(const char* path);
int CopyRecurs(const char* from, const char* to);
// A symbolic link is removed itself, never followed.
int RemoveRecurs(const char* path);

// Directory of the running executable, with a trailing separator; empty when unknown.
SString ProgramDirectory();
// Between UTF-8 (what the interface shows) and the file-name encoding; empty on failure.
SString PathFromUtf8(const char* utf8);
SString PathToUtf8(const char* path);

// The process-wide lock that serialises error texts; created at start-up, freed at exit.
void ErrnoTextInit();
void ErrnoTextDone();
// The text of errno value number in buffer (at most size bytes); "" without buffer or lock.
const char* ErrnoText(int number, char* buffer, size_t size);
