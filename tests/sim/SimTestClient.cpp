#include "tests/sim/SimTestClient.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>

namespace {

const uint16_t kRecordsPerFile = 4096;
const size_t kRecordsPerFrame = 10;   // 10 x (7 + 16) bytes fill a write request
const size_t kFramesInFlight = 16;

int64_t NowMs() {
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

Bytes Be16(std::initializer_list<size_t> words) {
    Bytes b;
    for (size_t w : words) b.insert(b.end(), {(uint8_t)(w >> 8), (uint8_t)w});
    return b;
}
Bytes operator+(Bytes a, const Bytes& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}
uint16_t Get16(const uint8_t* p) { return (uint16_t)((p[0] << 8) | p[1]); }

sockaddr_in Loopback(int port) {
    sockaddr_in a = {};
    a.sin_family = AF_INET;
    a.sin_port = htons((uint16_t)port);
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return a;
}

// Bitwise CRC-32 (reflected 0xEDB88320), written here on purpose instead of sharing the product's.
uint32_t ReferenceCrc32(const Bytes& data) {
    uint32_t crc = 0xFFFFFFFFu;
    for (uint8_t byte : data) {
        crc ^= byte;
        for (int bit = 0; bit < 8; ++bit) crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
    }
    return ~crc;
}

struct Planned {
    uint16_t file, record;
    Bytes registers;   // 16 bytes; the read-back gives them with the result in place of the password
};

std::vector<Planned> PlanImage(uint16_t firstFile, const Bytes& image, uint32_t mask, uint16_t password,
                               uint32_t crcXor) {
    // The image travels as little-endian words, each XOR mask; the CRC covers them so.
    std::vector<uint32_t> words(image.size() / 4);
    Bytes masked;
    for (size_t i = 0; i < words.size(); ++i) {
        words[i] = ((uint32_t)image[4 * i] | (uint32_t)image[4 * i + 1] << 8 | (uint32_t)image[4 * i + 2] << 16 |
                    (uint32_t)image[4 * i + 3] << 24) ^ mask;
        for (int b = 0; b < 4; ++b) masked.push_back((uint8_t)(words[i] >> (8 * b)));
    }
    size_t count = (image.size() + 11) / 12, crc = ReferenceCrc32(masked) ^ crcXor;
    Bytes header = Be16({password, count, image.size() >> 16, image.size(), crc >> 16, crc, mask >> 16, mask});
    std::vector<Planned> plan = {{firstFile, 0, header}};
    for (size_t k = 1; k <= count; ++k) {
        size_t first = (k - 1) * 3, n = std::min<size_t>(3, words.size() - first);
        Bytes r = Be16({password, n});
        for (size_t i = 0; i < 3; ++i) r = r + Be16({i < n ? words[first + i] >> 16 : 0, i < n ? words[first + i] : 0});
        plan.push_back({(uint16_t)(firstFile + k / kRecordsPerFile), (uint16_t)(k % kRecordsPerFile), r});
    }
    return plan;
}

// Sends the frames a window at a time and returns their answers in order.
std::vector<Bytes> Pipeline(RawClient& client, const std::vector<Bytes>& frames) {
    std::vector<Bytes> answers;
    for (size_t i = 0; i < frames.size(); i += kFramesInFlight) {
        size_t end = std::min(frames.size(), i + kFramesInFlight);
        Bytes batch;
        for (size_t k = i; k < end; ++k) batch.insert(batch.end(), frames[k].begin(), frames[k].end());
        if (!client.Send(batch)) break;
        for (size_t k = i; k < end; ++k) answers.push_back(client.ReceiveFrame());
    }
    answers.resize(frames.size());
    return answers;
}

ImageWriteResult RunPlan(RawClient& client, const std::vector<Planned>& plan, bool write) {
    std::vector<Bytes> writes, reads;
    for (size_t i = 0; i < plan.size(); i += kRecordsPerFrame) {
        Bytes w, r;
        for (size_t k = i; k < std::min(plan.size(), i + kRecordsPerFrame); ++k) {
            Bytes sub = Bytes{6} + Be16({plan[k].file, plan[k].record, 8});
            r = r + sub;
            w = w + sub + plan[k].registers;
        }
        writes.push_back(FrameOf(21, Bytes{(uint8_t)w.size()} + w));
        reads.push_back(FrameOf(20, Bytes{(uint8_t)r.size()} + r));
    }
    ImageWriteResult result;
    auto fail = [&](size_t k, const std::string& what) {
        result.failure = "file " + std::to_string(plan[k].file) + " record " + std::to_string(plan[k].record) +
                         ": " + what;
        return result;
    };
    std::vector<Bytes> answers = write ? Pipeline(client, writes) : writes;
    for (size_t f = 0; f < writes.size(); ++f)
        if (answers[f] != writes[f]) return fail(f * kRecordsPerFrame, "write answered " + ToHex(answers[f]));
    answers = Pipeline(client, reads);
    for (size_t k = 0; k < plan.size(); ++k) {
        const Bytes& a = answers[k / kRecordsPerFrame];
        size_t at = 9 + (k % kRecordsPerFrame) * 18 + 2;   // MBAP, function, length; sub-response head
        if (a.size() < at + 16 || a[7] != 20) return fail(k, "read-back failed: " + ToHex(a));
        Bytes got(a.begin() + at, a.begin() + at + 16);
        result.lastResult = Get16(got.data());
        if (result.lastResult != 1) return fail(k, "result code " + std::to_string(result.lastResult));
        if (!std::equal(got.begin() + 2, got.end(), plan[k].registers.begin() + 2))
            return fail(k, "echo differs: " + ToHex(got));
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

void RawClient::Close() {
    if (fd_ >= 0) close(fd_);
    fd_ = -1;
}

void RawClient::Abort() {
    linger now = {1, 0};
    setsockopt(fd_, SOL_SOCKET, SO_LINGER, &now, sizeof now);
    Close();
}

bool RawClient::Connect(int port) {
    Close();
    fd_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a = Loopback(port);
    int on = 1;
    setsockopt(fd_, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    if (connect(fd_, (sockaddr*)&a, sizeof a) == 0) return true;
    Close();
    return false;
}

bool RawClient::Send(const Bytes& bytes) {
    for (size_t done = 0; done < bytes.size();) {
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

std::vector<Bytes> UdpExchange(int port, const Bytes& request, size_t want, int timeoutMs) {
    std::vector<Bytes> answers;
    int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_in a = Loopback(port);
    sendto(fd, request.data(), request.size(), 0, (sockaddr*)&a, sizeof a);
    int64_t deadline = NowMs() + timeoutMs;
    while (answers.size() < want) {
        int64_t left = deadline - NowMs();
        pollfd p = {fd, POLLIN, 0};
        if (left <= 0 || poll(&p, 1, (int)left) <= 0) break;
        uint8_t buffer[512];
        ssize_t n = recv(fd, buffer, sizeof buffer, 0);
        if (n >= 0) answers.emplace_back(buffer, buffer + n);   // an empty datagram too
    }
    close(fd);
    return answers;
}

Bytes FrameOf(uint8_t function, const Bytes& data, uint16_t tid) {
    return Be16({tid, 0, data.size() + 2}) + Bytes{0, function} + data;
}
Bytes ReadRegistersFrame(uint16_t start, uint16_t count) { return FrameOf(3, Be16({start, count})); }
Bytes WriteKeyedFrame(uint16_t start, uint16_t value, uint16_t password) {
    return FrameOf(100, Be16({start, 1}) + Bytes{2} + Be16({password, value}));
}
Bytes ReadRecordFrame(uint16_t file, uint16_t record, uint16_t length) {
    return FrameOf(20, Bytes{7, 6} + Be16({file, record, length}));
}
Bytes WriteRecordFrame(uint16_t file, uint16_t record, const Bytes& registers) {
    return FrameOf(21, Bytes{(uint8_t)(registers.size() + 7), 6} + Be16({file, record, registers.size() / 2}) + registers);
}

Bytes RecordData(const Bytes& answer) {
    if (answer.size() < 11 || answer[7] != 20) return Bytes();
    return Bytes(answer.begin() + 11, answer.end());
}

uint16_t ResultOf(RawClient& client, uint16_t file, uint16_t record) {
    Bytes data = RecordData(client.Transact(ReadRecordFrame(file, record, 8)));
    return data.size() == 16 ? Get16(data.data()) : 0xFFFF;
}

ImageWriteResult WriteImage(RawClient& client, uint16_t firstFile, const Bytes& image, uint32_t mask,
                            uint16_t password, uint32_t crcXor) {
    return RunPlan(client, PlanImage(firstFile, image, mask, password, crcXor), true);
}

ImageWriteResult VerifyImage(RawClient& client, uint16_t firstFile, const Bytes& image, uint32_t mask) {
    return RunPlan(client, PlanImage(firstFile, image, mask, kSimPassword, 0), false);
}

Bytes PatternImage(size_t size, uint32_t seed) {
    Bytes image(size);
    uint32_t x = seed ? seed : 1;
    for (uint8_t& b : image) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        b = (uint8_t)x;
    }
    return image;
}
