#include "tests/operations/ScriptedUnit.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstring>

namespace {
const size_t kMbapBytes = 7;
const size_t kRecordBytes = 16;
const uint8_t kReadFileRecord = 20;
const uint8_t kWriteFileRecord = 21;
const int kPollMs = 100;
// Nothing in these tests runs longer; the server gives up after this.
const int kLifetimeMs = 60000;

uint16_t Be16(const uint8_t* p) { return (uint16_t)((p[0] << 8) | p[1]); }
void PutBe16(uint8_t* p, uint16_t v)
{
    p[0] = (uint8_t)(v >> 8);
    p[1] = (uint8_t)v;
}

// Reads exactly size bytes; false on close, error or stop.
bool ReadExact(int fd, uint8_t* out, size_t size, const std::atomic<bool>& stop)
{
    size_t done = 0;
    while (done < size && !stop.load()) {
        struct pollfd p = {fd, POLLIN, 0};
        if (poll(&p, 1, kPollMs) <= 0)
            continue;
        ssize_t n = recv(fd, out + done, size - done, 0);
        if (n <= 0)
            return false;
        done += (size_t)n;
    }
    return done == size;
}
}  // namespace

ScriptedUnit::ScriptedUnit(uint16_t file, uint16_t record, int offset)
    : file_(file), record_(record), offset_(offset)
{
}

ScriptedUnit::~ScriptedUnit()
{
    stop_ = true;
    if (thread_.joinable())
        thread_.join();
    if (listener_ >= 0)
        close(listener_);
}

bool ScriptedUnit::Start()
{
    listener_ = socket(AF_INET, SOCK_STREAM, 0);
    struct sockaddr_in address = {};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (listener_ < 0 || bind(listener_, (sockaddr*)&address, sizeof address) != 0 ||
        listen(listener_, 4) != 0 || getsockname(listener_, (sockaddr*)&address, &length) != 0)
        return false;
    port_ = ntohs(address.sin_port);
    thread_ = std::thread(&ScriptedUnit::Serve, this);
    return true;
}

std::string ScriptedUnit::HostPort() const
{
    return "127.0.0.1:" + std::to_string(port_);
}

void ScriptedUnit::Serve()
{
    auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(kLifetimeMs);
    while (!stop_.load() && std::chrono::steady_clock::now() < end) {
        struct pollfd p = {listener_, POLLIN, 0};
        if (poll(&p, 1, kPollMs) <= 0)
            continue;
        int fd = accept(listener_, nullptr, nullptr);
        if (fd < 0)
            continue;
        uint8_t frame[300];
        while (!stop_.load() && ReadExact(fd, frame, kMbapBytes, stop_)) {
            size_t rest = Be16(frame + 4) - 1;
            if (rest > sizeof frame - kMbapBytes || !ReadExact(fd, frame + kMbapBytes, rest, stop_))
                break;
            ++requests_;
            if (!Answer(fd, frame, kMbapBytes + rest))
                break;
        }
        close(fd);
    }
}

bool ScriptedUnit::Answer(int fd, const uint8_t* request, size_t size)
{
    uint8_t answer[300];
    memcpy(answer, request, kMbapBytes);
    const uint8_t function = request[kMbapBytes];
    const uint8_t* data = request + kMbapBytes + 1;
    size_t pdu = 0;
    if (function == kWriteFileRecord && size >= kMbapBytes + 1 + 8 + kRecordBytes) {
        uint32_t key = ((uint32_t)Be16(data + 2) << 16) | Be16(data + 4);
        records_[key].assign(data + 8, data + 8 + kRecordBytes);
        pdu = size - kMbapBytes;
        memcpy(answer + kMbapBytes, request + kMbapBytes, pdu);
    } else if (function == kReadFileRecord) {
        uint16_t file = Be16(data + 2);
        uint16_t record = Be16(data + 4);
        std::vector<uint8_t> stored = records_[((uint32_t)file << 16) | record];
        stored.resize(kRecordBytes);
        PutBe16(stored.data(), 1);
        if (file == file_ && record == record_)
            stored[(size_t)offset_] ^= 0xFF;
        uint8_t* out = answer + kMbapBytes;
        out[0] = kReadFileRecord;
        out[1] = (uint8_t)(kRecordBytes + 2);
        out[2] = (uint8_t)(kRecordBytes + 1);
        out[3] = 6;
        memcpy(out + 4, stored.data(), kRecordBytes);
        pdu = 4 + kRecordBytes;
    } else {
        return false;
    }
    PutBe16(answer + 4, (uint16_t)(pdu + 1));
    size_t total = kMbapBytes + pdu;
    return send(fd, answer, total, MSG_NOSIGNAL) == (ssize_t)total;
}
