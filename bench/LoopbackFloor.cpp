#include "bench/LoopbackFloor.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdint>

int ConnectLoopback(int port)
{
    int fd = socket(AF_INET, SOCK_STREAM, 0);
    if (fd < 0)
        return -1;
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons((uint16_t)port);
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    int on = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    if (connect(fd, (sockaddr*)&a, sizeof a) != 0) {
        close(fd);
        return -1;
    }
    return fd;
}

bool ReadExactly(int fd, void* buffer, size_t n)
{
    for (size_t done = 0; done < n;) {
        ssize_t got = recv(fd, (char*)buffer + done, n - done, 0);
        if (got <= 0)
            return false;
        done += (size_t)got;
    }
    return true;
}

bool WriteAll(int fd, const void* data, size_t n)
{
    return send(fd, data, n, MSG_NOSIGNAL) == (ssize_t)n;
}

pid_t StartFloorServer(int* port)
{
    int listener = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    if (listener < 0 || bind(listener, (sockaddr*)&a, sizeof a) != 0 || listen(listener, 1) != 0 ||
        getsockname(listener, (sockaddr*)&a, &len) != 0) {
        if (listener >= 0)
            close(listener);
        return -1;
    }
    *port = ntohs(a.sin_port);
    pid_t child = fork();
    if (child == 0) {
        int fd = accept(listener, nullptr, nullptr);
        int on = 1;
        setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
        uint8_t request[kFloorRequest], answer[kFloorAnswer] = {};
        while (ReadExactly(fd, request, sizeof request) && WriteAll(fd, answer, sizeof answer)) {
        }
        _exit(0);
    }
    close(listener);
    return child;
}
