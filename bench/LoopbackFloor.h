// The baseline every benchmark prints its figures beside: a plain server on loopback that
// answers 24 bytes to every 32-byte request, one at a time, TCP_NODELAY on both ends.
#pragma once
#include <sys/types.h>
#include <cstddef>

const size_t kFloorRequest = 32;
const size_t kFloorAnswer = 24;

// A TCP_NODELAY connection to 127.0.0.1:port, or -1.
int ConnectLoopback(int port);
bool ReadExactly(int fd, void* buffer, size_t n);
bool WriteAll(int fd, const void* data, size_t n);
// Forks the floor server on a free loopback port; it serves one connection until the client
// closes it. Returns the child's pid (-1 on failure); the caller reaps it.
pid_t StartFloorServer(int* port);
