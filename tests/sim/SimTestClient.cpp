#include "tests/sim/SimTestClient.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>

namespace {

const uint16_t kRecordsPerFile = 4096;
const size_t kRecordBytes = 16;

int64_t NowMs() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

void Put16(Bytes& b, uint16_t v) {
    b.push_back((uint8_t)(v >> 8));
    b.push_back((uint8_t)v);
}
void Put32(Bytes& b, uint32_t v) {
    Put16(b, (uint16_t)(v >> 16));
    Put16(b, (uint16_t)v);
}
uint16_t Get16(const uint8_t* p) { return (uint16_t)((p[0] << 8) | p[1]); }

// Bitwise CRC-32 (reflected 0xEDB88320, init and final XOR all ones), written here on purpose
// instead of sharing the product's table-driven one.
uint32_t ReferenceCrc32(const Bytes& data) {
    uint32_t crc = 0xFFFFFFFFu;
    for (uint8_t byte : data) {
        crc ^= byte;
        for (int bit = 0; bit < 8; ++bit) crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
    }
    return ~crc;
}

// The image as little-endian words, each XOR mask.
std::vector<uint32_t> MaskedWords(const Bytes& image, uint32_t mask) {
    std::vector<uint32_t> words(image.size() / 4);
    for (size_t i = 0; i < words.size(); ++i)
        words[i] = ((uint32_t)image[4 * i] | (uint32_t)image[4 * i + 1] << 8 | (uint32_t)image[4 * i + 2] << 16 |
                    (uint32_t)image[4 * i + 3] << 24) ^ mask;
    return words;
}

struct Planned {
    uint16_t file, record;
    Bytes registers;    // 16 bytes
    size_t compared;    // bytes from offset 2 that the read-back must echo
};

std::vector<Planned> PlanImage(uint16_t firstFile, const Bytes& image, uint32_t mask, uint16_t password,
                               uint32_t crcXor) {
    std::vector<uint32_t> words = MaskedWords(image, mask);
    Bytes masked;
    for (uint32_t w : words)
        for (int i = 0; i < 4; ++i) masked.push_back((uint8_t)(w >> (8 * i)));
    uint32_t count = (uint32_t)((image.size() + 11) / 12);
    std::vector<Planned> plan;
    Bytes header;
    Put16(header, password);
    Put16(header, (uint16_t)count);
    Put32(header, (uint32_t)image.size());
    Put32(header, ReferenceCrc32(masked) ^ crcXor);
    Put32(header, mask);
    plan.push_back({firstFile, 0, header, 14});
    for (uint32_t k = 1; k <= count; ++k) {
        size_t first = (size_t)(k - 1) * 3;
        size_t n = words.size() - first < 3 ? words.size() - first : 3;
        Bytes r;
        Put16(r, password);
        Put16(r, (uint16_t)n);
        for (size_t i = 0; i < 3; ++i) Put32(r, i < n ? words[first + i] : 0);
        plan.push_back({(uint16_t)(firstFile + k / kRecordsPerFile), (uint16_t)(k % kRecordsPerFile), r, 2 + 4 * n});
    }
    return plan;
}

ImageWriteResult RunPlan(RawClient& client, const std::vector<Planned>& plan, bool write) {
    ImageWriteResult result;
    char where[64];
    for (const Planned& p : plan) {
        snprintf(where, sizeof where, "file %u record %u: ", p.file, p.record);
        if (write) {
            Bytes request = WriteRecordFrame(p.file, p.record, p.registers);
            Bytes answer = client.Transact(request);
            if (answer != request) {
                result.failure = std::string(where) + "write answered " + ToHex(answer);
                return result;
            }
        }
        Bytes data = RecordData(client.Transact(ReadRecordFrame(p.file, p.record, 8)));
        if (data.size() != kRecordBytes) {
            result.failure = std::string(where) + "read-back failed";
            return result;
        }
        result.lastResult = Get16(data.data());
        if (result.lastResult != 1) {
            result.failure = std::string(where) + "result code " + std::to_string(result.lastResult);
            return result;
        }
        if (!std::equal(data.begin() + 2, data.begin() + 2 + p.compared, p.registers.begin() + 2)) {
            result.failure = std::string(where) + "echo differs: " + ToHex(data);
            return result;
        }
    }
    result.records = (uint32_t)plan.size() - 1;
    result.ok = true;
    return result;
}

}  // namespace

Bytes Hex(const char* text) {
    Bytes out;
    unsigned v;
    int used;
    while (sscanf(text, " %2x%n", &v, &used) == 1) {
        out.push_back((uint8_t)v);
        text += used;
    }
    return out;
}

std::string ToHex(const Bytes& bytes) {
    std::string s;
    char b[4];
    for (size_t i = 0; i < bytes.size(); ++i) {
        snprintf(b, sizeof b, i ? " %02X" : "%02X", bytes[i]);
        s += b;
    }
    return s;
}

RawClient::~RawClient() { Close(); }

void RawClient::Close() {
    if (fd_ >= 0) close(fd_);
    fd_ = -1;
}

bool RawClient::Connect(int port) {
    Close();
    fd_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a = {};
    a.sin_family = AF_INET;
    a.sin_port = htons((uint16_t)port);
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    int on = 1;
    setsockopt(fd_, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    if (connect(fd_, (sockaddr*)&a, sizeof a) != 0) {
        Close();
        return false;
    }
    return true;
}

bool RawClient::Send(const Bytes& bytes) {
    size_t done = 0;
    while (done < bytes.size()) {
        ssize_t n = send(fd_, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        done += (size_t)n;
    }
    return true;
}

Bytes RawClient::Receive(size_t n, int timeoutMs) {
    Bytes out(n);
    size_t done = 0;
    int64_t deadline = NowMs() + timeoutMs;
    while (done < n && fd_ >= 0) {
        int64_t left = deadline - NowMs();
        pollfd p = {fd_, POLLIN, 0};
        if (left <= 0 || poll(&p, 1, (int)left) <= 0) break;
        ssize_t got = recv(fd_, out.data() + done, n - done, 0);
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) break;
        done += (size_t)got;
    }
    out.resize(done);
    return out;
}

Bytes RawClient::ReceiveFrame(int timeoutMs) {
    Bytes header = Receive(6, timeoutMs);
    if (header.size() < 6) return header;
    Bytes rest = Receive(Get16(header.data() + 4), timeoutMs);
    header.insert(header.end(), rest.begin(), rest.end());
    return header;
}

bool RawClient::WaitClosed(int timeoutMs) {
    pollfd p = {fd_, POLLIN, 0};
    if (poll(&p, 1, timeoutMs) <= 0) return false;
    uint8_t b;
    return recv(fd_, &b, 1, 0) <= 0;
}

std::vector<Bytes> UdpExchange(int port, const Bytes& request, int timeoutMs) {
    std::vector<Bytes> answers;
    int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_in a = {};
    a.sin_family = AF_INET;
    a.sin_port = htons((uint16_t)port);
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    sendto(fd, request.data(), request.size(), 0, (sockaddr*)&a, sizeof a);
    int64_t deadline = NowMs() + timeoutMs;
    for (int i = 0; i < 16; ++i) {
        int64_t left = deadline - NowMs();
        pollfd p = {fd, POLLIN, 0};
        if (left <= 0 || poll(&p, 1, (int)left) <= 0) break;
        uint8_t buffer[512];
        ssize_t n = recv(fd, buffer, sizeof buffer, 0);
        if (n > 0) answers.emplace_back(buffer, buffer + n);
    }
    close(fd);
    return answers;
}

Bytes FrameOf(uint8_t function, const Bytes& data, uint16_t tid) {
    Bytes f;
    Put16(f, tid);
    Put16(f, 0);
    Put16(f, (uint16_t)(data.size() + 2));
    f.push_back(0);
    f.push_back(function);
    f.insert(f.end(), data.begin(), data.end());
    return f;
}

Bytes ReadRegistersFrame(uint16_t start, uint16_t count) {
    Bytes d;
    Put16(d, start);
    Put16(d, count);
    return FrameOf(3, d);
}

Bytes WriteKeyedFrame(uint16_t start, uint16_t value, uint16_t password) {
    Bytes d;
    Put16(d, start);
    Put16(d, 1);
    d.push_back(2);
    Put16(d, password);
    Put16(d, value);
    return FrameOf(100, d);
}

Bytes ReadRecordFrame(uint16_t file, uint16_t record, uint16_t length) {
    Bytes d = {7, 6};
    Put16(d, file);
    Put16(d, record);
    Put16(d, length);
    return FrameOf(20, d);
}

Bytes WriteRecordFrame(uint16_t file, uint16_t record, const Bytes& registers) {
    Bytes d = {(uint8_t)(registers.size() + 7), 6};
    Put16(d, file);
    Put16(d, record);
    Put16(d, (uint16_t)(registers.size() / 2));
    d.insert(d.end(), registers.begin(), registers.end());
    return FrameOf(21, d);
}

Bytes RecordData(const Bytes& answer) {
    if (answer.size() < 11 || answer[7] != 20) return Bytes();
    return Bytes(answer.begin() + 11, answer.end());
}

ImageWriteResult WriteImage(RawClient& client, uint16_t firstFile, const Bytes& image, uint32_t mask,
                            uint16_t password, uint32_t crcXor) {
    return RunPlan(client, PlanImage(firstFile, image, mask, password, crcXor), true);
}

ImageWriteResult VerifyImage(RawClient& client, uint16_t firstFile, const Bytes& image, uint32_t mask) {
    return RunPlan(client, PlanImage(firstFile, image, mask, kSimPassword, 0), false);
}

uint32_t TestCrc32(const Bytes& data) { return ReferenceCrc32(data); }

Bytes PatternImage(size_t size, uint32_t seed) {
    Bytes image(size);
    uint32_t x = seed ? seed : 1;
    for (size_t i = 0; i < size; ++i) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        image[i] = (uint8_t)x;
    }
    return image;
}
