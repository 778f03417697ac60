#include "tests/sim/SimTestClient.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <random>

#include "base/Crc.h"

namespace {

const uint16_t kRecordsPerFile = 4096;
const size_t kRecordsPerFrame = 10;   // 10 x (7 + 16) bytes fill a write request
const size_t kFramesInFlight = 16;

Bytes Be16(std::initializer_list<size_t> words) {
    Bytes b;
    for (size_t w : words) b.insert(b.end(), {(uint8_t)(w >> 8), (uint8_t)w});
    return b;
}
uint16_t Get16(const uint8_t* p) { return (uint16_t)((p[0] << 8) | p[1]); }

sockaddr_in Loopback(int port) { return sockaddr_in{AF_INET, htons((uint16_t)port), {htonl(INADDR_LOOPBACK)}, {}}; }

int Bounded(int fd, int timeoutMs) {
    timeval tv = {timeoutMs / 1000, timeoutMs % 1000 * 1000};
    setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
    return fd;
}

struct Planned {
    uint16_t file, record;
    Bytes registers;   // 16 bytes; the read-back gives them with the result in place of the password
};

std::vector<Planned> PlanImage(uint16_t firstFile, const Bytes& image, uint32_t mask, uint16_t password,
                               uint32_t crcXor) {
    // The image travels as little-endian words, each XOR mask; the CRC covers them so.
    Bytes masked = image;
    for (size_t i = 0; i < masked.size(); ++i) masked[i] ^= (uint8_t)(mask >> (8 * (i % 4)));
    auto word = [&](size_t w) { return Bytes{masked[4 * w + 3], masked[4 * w + 2], masked[4 * w + 1], masked[4 * w]}; };
    size_t words = image.size() / 4, count = (image.size() + 11) / 12;
    size_t crc = Crc32(masked.data(), masked.size()) ^ crcXor;
    Bytes header = Be16({password, count, image.size() >> 16, image.size(), crc >> 16, crc, mask >> 16, mask});
    std::vector<Planned> plan = {{firstFile, 0, header}};
    for (size_t k = 1; k <= count; ++k) {
        size_t first = (k - 1) * 3, n = std::min<size_t>(3, words - first);
        Bytes r = Be16({password, n});
        for (size_t i = 0; i < 3; ++i) r = Concat({r, i < n ? word(first + i) : Bytes(4)});
        plan.push_back({(uint16_t)(firstFile + k / kRecordsPerFile), (uint16_t)(k % kRecordsPerFile), r});
    }
    return plan;
}

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

std::string RunPlan(RawClient& client, const std::vector<Planned>& plan, bool write) {
    std::vector<Bytes> writes, reads;
    for (size_t i = 0; i < plan.size(); i += kRecordsPerFrame) {
        Bytes w, r;
        for (size_t k = i; k < std::min(plan.size(), i + kRecordsPerFrame); ++k) {
            Bytes sub = Concat({{6}, Be16({plan[k].file, plan[k].record, 8})});
            r = Concat({r, sub});
            w = Concat({w, sub, plan[k].registers});
        }
        writes.push_back(FrameOf(21, Concat({{(uint8_t)w.size()}, w})));
        reads.push_back(FrameOf(20, Concat({{(uint8_t)r.size()}, r})));
    }
    auto fail = [&](size_t k, const std::string& what) {
        return "file " + std::to_string(plan[k].file) + " record " + std::to_string(plan[k].record) + ": " + what;
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
        if (Get16(got.data()) != 1) return fail(k, "result code " + std::to_string(Get16(got.data())));
        if (!std::equal(got.begin() + 2, got.end(), plan[k].registers.begin() + 2))
            return fail(k, "echo differs: " + ToHex(got));
    }
    return "";
}

}  // namespace

std::string ToHex(const Bytes& bytes) {
    std::string text = HexText(bytes.data(), bytes.size());
    return text.substr(0, text.empty() ? 0 : text.size() - 1);
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

bool RawClient::Send(const Bytes& bytes) {   // a blocking send returns once all is queued
    return send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL) == (ssize_t)bytes.size();
}

Bytes RawClient::Receive(size_t n, int timeoutMs) {
    Bytes out(n);
    ssize_t got = fd_ < 0 ? -1 : recv(Bounded(fd_, timeoutMs), out.data(), n, MSG_WAITALL);
    out.resize(got > 0 ? (size_t)got : 0);
    return out;
}

Bytes RawClient::ReceiveFrame() {
    Bytes header = Receive(6);
    if (header.size() < 6) return header;
    Bytes rest = Receive(Get16(header.data() + 4));
    header.insert(header.end(), rest.begin(), rest.end());
    return header;
}

bool RawClient::WaitClosed() {
    uint8_t b;
    errno = 0;
    return recv(Bounded(fd_, kIoTimeoutMs), &b, 1, 0) == 0 || errno == ECONNRESET;
}

std::vector<Bytes> UdpExchange(int port, const Bytes& request, size_t want, int timeoutMs) {
    std::vector<Bytes> answers;
    int fd = Bounded(socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0), timeoutMs);
    sockaddr_in a = Loopback(port);
    sendto(fd, request.data(), request.size(), 0, (sockaddr*)&a, sizeof a);
    uint8_t buffer[512];
    for (ssize_t n; answers.size() < want && (n = recv(fd, buffer, sizeof buffer, 0)) >= 0;)
        answers.emplace_back(buffer, buffer + n);   // an empty datagram too
    close(fd);
    return answers;
}

Bytes FrameOf(uint8_t function, const Bytes& data, uint16_t tid) {
    return Concat({Be16({tid, 0, data.size() + 2}), {0, function}, data});
}
Bytes ReadRegistersFrame(uint16_t start, uint16_t count) { return FrameOf(3, Be16({start, count})); }
Bytes WriteKeyedFrame(uint16_t start, uint16_t value, uint16_t password) {
    return FrameOf(100, Concat({Be16({start, 1}), {2}, Be16({password, value})}));
}
Bytes ReadRecordFrame(uint16_t file, uint16_t record, uint16_t length) {
    return FrameOf(20, Concat({{7, 6}, Be16({file, record, length})}));
}
Bytes WriteRecordFrame(uint16_t file, uint16_t record, const Bytes& registers) {
    Bytes head = Concat({{(uint8_t)(registers.size() + 7), 6}, Be16({file, record, registers.size() / 2})});
    return FrameOf(21, Concat({head, registers}));
}

Bytes RecordData(const Bytes& answer) {
    if (answer.size() < 11 || answer[7] != 20) return Bytes();
    return Bytes(answer.begin() + 11, answer.end());
}

uint16_t ResultOf(RawClient& client, uint16_t file, uint16_t record) {
    Bytes data = RecordData(client.Transact(ReadRecordFrame(file, record, 8)));
    return data.size() == 16 ? Get16(data.data()) : 0xFFFF;
}

std::string WriteImage(RawClient& client, uint16_t firstFile, const Bytes& image, uint32_t mask, uint16_t password,
                       uint32_t crcXor, bool write) {
    return RunPlan(client, PlanImage(firstFile, image, mask, password, crcXor), write);
}

Bytes PatternImage(size_t size, uint32_t seed) {
    std::minstd_rand random(seed + 1);
    Bytes image(size);
    for (uint8_t& b : image) b = (uint8_t)(random() >> 8);
    return image;
}
