#include "tests/sim/SimTestClient.h"

#include <arpa/inet.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <random>

#include "base/Crc.h"

namespace {

Bytes Be16(std::initializer_list<size_t> words) {
    Bytes b;
    for (size_t w : words) b.insert(b.end(), {(uint8_t)(w >> 8), (uint8_t)w});
    return b;
}

// Sixteen frames in flight at most; each answer must equal its expected one.
std::string Pipeline(SimClient& client, const std::vector<Bytes>& frames, const std::vector<Bytes>& expected) {
    for (size_t i = 0; i < frames.size(); i += 16) {
        size_t end = std::min(frames.size(), i + 16);
        Bytes batch;
        for (size_t k = i; k < end; ++k) batch.insert(batch.end(), frames[k].begin(), frames[k].end());
        if (!client.Send(batch)) return "send failed";
        for (size_t k = i; k < end; ++k) {
            Bytes answer = client.ReceiveFrame();
            if (answer != expected[k]) return "frame " + std::to_string(k) + " answered " + ToHex(answer);
        }
    }
    return "";
}

}  // namespace

std::string ToHex(const Bytes& bytes) {
    return HexText(bytes.data(), bytes.size()).substr(0, bytes.empty() ? 0 : bytes.size() * 3 - 1);
}

bool SimClient::Connect(int port) {
    Close();
    info_.channel = &channel_;
    info_.device = &device_;
    return channel_.Open() && channel_.Connect(("127.0.0.1:" + std::to_string(port)).c_str());
}

void SimClient::Abort() {
    linger now = {1, 0};
    setsockopt(channel_.Socket(), SOL_SOCKET, SO_LINGER, &now, sizeof now);
    Close();
}

Bytes SimClient::Receive(size_t n) {
    Bytes out(n);
    int got = 0;
    bool end = false;
    size_t at = 0;
    while (at < n && channel_.Receive(out.data() + at, (int)(n - at), &got, &end) && got > 0) at += (size_t)got;
    out.resize(at);
    return out;
}

Bytes SimClient::ReceiveFrame() {
    Bytes header = Receive(6);
    if (header.size() < 6) return header;
    return Concat({header, Receive((size_t)(header[4] << 8 | header[5]))});
}

bool SimClient::WaitClosed() {
    uint8_t b;
    int got = 0;
    bool end = false;
    return !channel_.Receive(&b, 1, &got, &end) || end;
}

std::string SimClient::Outcome(ModbusStatus status, const std::string& data) {
    std::string log;
    for (const std::string& line : owner_.Styled()) log += line[0] == '4' ? "; " + line : "";
    owner_.Clear();
    if (status.result == kModbusException) return "exception " + std::to_string(status.exception);
    return status.Ok() && log.empty() ? data : "failed " + std::to_string(status.result) + log;
}

std::string SimClient::Read(uint16_t file, uint16_t record, uint16_t count) {
    Bytes data(count * 2u);
    ModbusStatus status = ModbusReadFileRecord(info_, kFnReadFileRecord, file, record, count, data.data());
    return Outcome(status, ToHex(data));
}
std::string SimClient::Write(uint16_t file, uint16_t record, const Bytes& registers) {
    auto n = (uint16_t)(registers.size() / 2);
    return Outcome(ModbusWriteFileRecord(info_, kFnWriteFileRecord, file, record, n, registers.data()), "ok");
}
std::string SimClient::Keyed(uint16_t reg, uint16_t value, uint16_t password) {
    Bytes data = Be16({value});
    return Outcome(ModbusWriteRegistersKeyed(info_, kFnWriteRegistersKeyed, reg, 1, password, data.data()), "ok");
}

std::vector<Bytes> UdpExchange(int port, const Bytes& request, size_t want, int timeoutMs) {
    std::vector<Bytes> answers;
    int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    timeval tv = {timeoutMs / 1000, timeoutMs % 1000 * 1000};
    setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
    sockaddr_in a = {AF_INET, htons((uint16_t)port), {htonl(INADDR_LOOPBACK)}, {}};
    sendto(fd, request.data(), request.size(), 0, (sockaddr*)&a, sizeof a);
    uint8_t buffer[512];
    for (ssize_t n; answers.size() < want && (n = recv(fd, buffer, sizeof buffer, 0)) >= 0;)
        answers.emplace_back(buffer, buffer + n);   // an empty datagram too
    close(fd);
    return answers;
}

std::string WriteImage(SimClient& client, uint16_t firstFile, const Bytes& image, uint32_t mask, uint16_t password,
                       uint32_t crcXor, bool write) {
    // The image travels as little-endian words, each XOR mask; the CRC covers them so.
    Bytes masked = image;
    for (size_t i = 0; i < masked.size(); ++i) masked[i] ^= (uint8_t)(mask >> (8 * (i % 4)));
    size_t size = image.size(), crc = Crc32(masked.data(), size) ^ crcXor;
    // Every record without its password: the header, then three words a record with their count.
    std::vector<Bytes> records = {Be16({(size + 11) / 12, size >> 16, size, crc >> 16, crc, mask >> 16, mask})};
    for (size_t at = 0; at < size; at += 12) {
        Bytes r = Be16({std::min<size_t>(3, (size - at) / 4)});
        for (size_t w = at; w < at + 12; w += 4)
            r = Concat({r, w < size ? Bytes{masked[w + 3], masked[w + 2], masked[w + 1], masked[w]} : Bytes(4)});
        records.push_back(r);
    }
    // Ten records a frame; the read-back carries result 1 in place of the password.
    std::vector<Bytes> writes, reads, answers;
    for (size_t k = 0; k < records.size(); k += 10) {
        Bytes w, r, a;
        for (size_t i = k; i < std::min(records.size(), k + 10); ++i) {
            Bytes sub = Concat({{6}, Be16({firstFile + i / 4096, i % 4096, 8})});
            w = Concat({w, sub, Be16({password}), records[i]});
            r = Concat({r, sub});
            a = Concat({a, {17, 6, 0, 1}, records[i]});
        }
        writes.push_back(RecordFrame(21, Concat({{(uint8_t)w.size()}, w})));
        reads.push_back(RecordFrame(20, Concat({{(uint8_t)r.size()}, r})));
        answers.push_back(RecordFrame(20, Concat({{(uint8_t)a.size()}, a})));
    }
    std::string failure = write ? Pipeline(client, writes, writes) : "";
    return failure.empty() ? Pipeline(client, reads, answers) : failure;
}

Bytes PatternImage(size_t size, uint32_t seed) {
    std::minstd_rand random(seed + 1);
    Bytes image(size);
    for (uint8_t& b : image) b = (uint8_t)(random() >> 8);
    return image;
}
