// modbus_bench: the Modbus client's cost per transaction beside the loopback floor and
// beside libmodbus, all in one run.
//
// Work: write+read file-record pairs of 8 registers (a 32-byte Write File Record request,
// the size of one firmware record) against pelta-sim on 127.0.0.1, through
//   - the tool's client (TalkChannel_TCP + ModbusWriteFileRecord/ModbusReadFileRecord),
//   - libmodbus raw requests (modbus_send_raw_request + modbus_receive_confirmation),
//   - a raw client (one send, one read of the known answer length per transaction),
// and the floor: a forked server that reads a 32-byte request and writes a 24-byte answer,
// one at a time, TCP_NODELAY. The four take turns in blocks of --block pairs inside each run,
// so drift of the shared machine touches them alike. Wall time and the client thread's CPU
// time per transaction; medians of --runs runs. Prints figures only.
#include <arpa/inet.h>
#include <modbus.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>
#include "base/Messages.h"
#include "bench/LoopbackFloor.h"
#include "channels/TalkChannel_TCP.h"
#include "modbus/Modbus.h"
#include "tests/support/SimProcess.h"

namespace {

const int kDefaultPairs = 10000;
const int kDefaultRuns = 5;
const int kDefaultBlock = 250;   // pairs per turn
const uint16_t kSettingsFile = 10;   // a settings file of the simulator: stores and echoes
const uint16_t kRecordRegisters = 8;
const uint16_t kSimPassword = 1;
const int kRecordSpan = 64;           // records cycled through, so the unit stores real data
const int kMbapLength = 7;            // Modbus TCP header in front of every answer

struct Figures {
    double wallUs;   // per transaction
    double cpuUs;    // client thread CPU per transaction
};

double ThreadCpuSeconds()
{
    timespec t;
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return (double)t.tv_sec + (double)t.tv_nsec / 1e9;
}

// One way of doing the pairs: connect, do some pairs (two transactions each), disconnect.
class Client {
public:
    virtual ~Client() = default;
    virtual bool Begin() = 0;
    virtual bool Pairs(int first, int count) = 0;
    virtual void End() = 0;

    // Runs count pairs and adds their wall and thread CPU time to the totals.
    bool TimedPairs(int first, int count)
    {
        double cpu0 = ThreadCpuSeconds();
        auto t0 = std::chrono::steady_clock::now();
        bool ok = Pairs(first, count);
        wall_ += std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
        cpu_ += ThreadCpuSeconds() - cpu0;
        transactions_ += 2 * count;
        return ok;
    }
    Figures TakeFigures()
    {
        Figures f{wall_ * 1e6 / (double)transactions_, cpu_ * 1e6 / (double)transactions_};
        wall_ = cpu_ = 0;
        transactions_ = 0;
        return f;
    }

private:
    double wall_ = 0, cpu_ = 0;
    long transactions_ = 0;
};

class FloorClient : public Client {
public:
    bool Begin() override
    {
        int port = 0;
        child_ = StartFloorServer(&port);
        fd_ = child_ < 0 ? -1 : ConnectLoopback(port);
        return fd_ >= 0;
    }
    bool Pairs(int, int count) override
    {
        uint8_t request[kFloorRequest] = {}, answer[kFloorAnswer];
        for (int i = 0; i < 2 * count; i++) {
            if (send(fd_, request, sizeof request, MSG_NOSIGNAL) != (ssize_t)sizeof request) return false;
            if (!ReadExactly(fd_, answer, sizeof answer)) return false;
        }
        return true;
    }
    void End() override
    {
        if (fd_ >= 0) close(fd_);
        int status;
        if (child_ > 0) waitpid(child_, &status, 0);
        fd_ = child_ = -1;
    }

private:
    int fd_ = -1;
    pid_t child_ = -1;
};

// The owner of a flashing session with the talk log off: nothing is logged on success.
class QuietOwner : public TalkChannelExtI {
public:
    void LogMessage(const SString& message, int style, int) override
    {
        if (style == kStyleError) fprintf(stderr, "  error: %s\n", message.Text());
    }
    SString MessageText(const char* msgid, const char* a0, const char* a1, const char* a2, const char* a3) override
    {
        if (!a0 && !a1 && !a2 && !a3) return SString(msgid);
        SString s(msgid);
        SubstituteArgs(s, a0, a1, a2, a3);
        return s;
    }
    bool IsRunning() override { return true; }
    bool IsTalkLog() override { return false; }
};

void FillRecord(uint8_t* record, int i)
{
    record[0] = 0;
    record[1] = (uint8_t)kSimPassword;
    for (int k = 2; k < kRecordRegisters * 2; k++) record[k] = (uint8_t)(i + k);
}

class PeltaClient : public Client {
public:
    explicit PeltaClient(std::string hostPort) : hostPort_(std::move(hostPort)), channel_(&owner_, "")
    {
        info_.channel = &channel_;
        info_.device = &device_;
        info_.attempts = kModbusSessionAttempts;
    }
    bool Begin() override { return channel_.Open() && channel_.Connect(hostPort_.c_str()); }
    bool Pairs(int first, int count) override
    {
        uint8_t record[kRecordRegisters * 2], back[kRecordRegisters * 2];
        for (int i = first; i < first + count; i++) {
            FillRecord(record, i);
            uint16_t r = (uint16_t)(i % kRecordSpan);
            if (!ModbusWriteFileRecord(info_, kFnWriteFileRecord, kSettingsFile, r, kRecordRegisters, record).Ok() ||
                !ModbusReadFileRecord(info_, kFnReadFileRecord, kSettingsFile, r, kRecordRegisters, back).Ok() ||
                memcmp(record + 2, back + 2, sizeof record - 2) != 0)
                return false;
        }
        return true;
    }
    void End() override { channel_.Close(); }

private:
    std::string hostPort_;
    QuietOwner owner_;
    TalkChannel_TCP channel_;
    DevAddress device_;
    MODBUS_TalkInfo info_;
};

// libmodbus knows no data length for confirmations of functions 0x14 and 0x15: it returns
// after the byte count, so the rest of the frame (byte count bytes) is read from its socket.
bool ReceiveFileRecordAnswer(modbus_t* ctx, uint8_t* answer, int expected)
{
    const int head = kMbapLength + 2;   // MBAP, function, byte count
    if (modbus_receive_confirmation(ctx, answer) != head) return false;
    if (head + answer[head - 1] != expected) return false;
    return ReadExactly(modbus_get_socket(ctx), answer + head, (size_t)answer[head - 1]);
}

// The same frames with the least client work: one send and one read of the known answer
// length per transaction; what it adds over the floor is the simulator's own share.
class RawClient : public Client {
public:
    explicit RawClient(int port) : port_(port) {}
    bool Begin() override
    {
        fd_ = ConnectLoopback(port_);
        return fd_ >= 0;
    }
    bool Pairs(int first, int count) override
    {
        uint8_t write[kMbapLength + 1 + 8 + kRecordRegisters * 2], read[kMbapLength + 1 + 8], answer[64];
        const uint8_t mbap[kMbapLength] = {0, (uint8_t)kModbusTransactionId, 0, 0, 0, (uint8_t)(sizeof write - 6), 0};
        const size_t readAnswer = kMbapLength + 1 + 3 + kRecordRegisters * 2;
        for (int i = first; i < first + count; i++) {
            uint16_t r = (uint16_t)(i % kRecordSpan);
            const uint8_t pdu[9] = {kFnWriteFileRecord, (uint8_t)(kRecordRegisters * 2 + 7), 6, 0,
                                    (uint8_t)kSettingsFile, (uint8_t)(r >> 8), (uint8_t)r, 0, kRecordRegisters};
            memcpy(write, mbap, sizeof mbap);
            memcpy(write + kMbapLength, pdu, sizeof pdu);
            FillRecord(write + kMbapLength + sizeof pdu, i);
            memcpy(read, write, sizeof read);
            read[5] = (uint8_t)(sizeof read - 6);
            read[kMbapLength] = kFnReadFileRecord;
            read[kMbapLength + 1] = 7;
            if (send(fd_, write, sizeof write, MSG_NOSIGNAL) != (ssize_t)sizeof write ||
                !ReadExactly(fd_, answer, sizeof write) || answer[kMbapLength] != kFnWriteFileRecord)
                return false;
            if (send(fd_, read, sizeof read, MSG_NOSIGNAL) != (ssize_t)sizeof read ||
                !ReadExactly(fd_, answer, readAnswer) || answer[kMbapLength] != kFnReadFileRecord)
                return false;
        }
        return true;
    }
    void End() override
    {
        if (fd_ >= 0) close(fd_);
        fd_ = -1;
    }

private:
    int port_;
    int fd_ = -1;
};

class LibmodbusClient : public Client {
public:
    explicit LibmodbusClient(int port) : port_(port) {}
    bool Begin() override
    {
        ctx_ = modbus_new_tcp("127.0.0.1", port_);
        if (!ctx_) return false;
        modbus_set_slave(ctx_, 0);
        return modbus_connect(ctx_) == 0;
    }
    bool Pairs(int first, int count) override
    {
        // Raw requests: unit id, function, then the PDU data; libmodbus adds the MBAP header.
        uint8_t write[2 + 8 + kRecordRegisters * 2], read[2 + 8], answer[MODBUS_TCP_MAX_ADU_LENGTH];
        const int writeAnswer = kMbapLength + (int)sizeof write - 1;
        const int readAnswer = kMbapLength + 1 + 3 + kRecordRegisters * 2;
        for (int i = first; i < first + count; i++) {
            uint16_t r = (uint16_t)(i % kRecordSpan);
            const uint8_t head[10] = {0, kFnWriteFileRecord, (uint8_t)(kRecordRegisters * 2 + 7), 6, 0,
                                      (uint8_t)kSettingsFile, (uint8_t)(r >> 8), (uint8_t)r, 0, kRecordRegisters};
            memcpy(write, head, sizeof head);
            FillRecord(write + 10, i);
            memcpy(read, head, sizeof read);
            read[1] = kFnReadFileRecord;
            read[2] = 7;
            if (modbus_send_raw_request(ctx_, write, sizeof write) < 0 ||
                !ReceiveFileRecordAnswer(ctx_, answer, writeAnswer))
                return false;
            if (modbus_send_raw_request(ctx_, read, sizeof read) < 0 ||
                !ReceiveFileRecordAnswer(ctx_, answer, readAnswer) ||
                memcmp(answer + readAnswer - (kRecordRegisters * 2 - 2), write + 12, kRecordRegisters * 2 - 2) != 0)
                return false;
        }
        return true;
    }
    void End() override
    {
        if (ctx_) {
            modbus_close(ctx_);
            modbus_free(ctx_);
        }
        ctx_ = nullptr;
    }

private:
    int port_;
    modbus_t* ctx_ = nullptr;
};

double Least(const std::vector<double>& v)
{
    return v.empty() ? 0 : *std::min_element(v.begin(), v.end());
}

double Median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[v.size() / 2];
}

} // namespace

int main(int argc, char** argv)
{
    int pairs = kDefaultPairs, runs = kDefaultRuns, block = kDefaultBlock;
    for (int i = 1; i + 1 < argc; i++) {
        if (strcmp(argv[i], "--block") == 0) block = std::max(1, atoi(argv[i + 1]));
        if (strcmp(argv[i], "--pairs") == 0) pairs = std::max(1, atoi(argv[i + 1]));
        if (strcmp(argv[i], "--runs") == 0) runs = std::max(1, atoi(argv[i + 1]));
    }
    signal(SIGPIPE, SIG_IGN);
    SimProcess sim;
    std::string error;
    if (!sim.Start(&error)) {
        fprintf(stderr, "modbus_bench: pelta-sim did not start: %s\n%s", error.c_str(), sim.Output().c_str());
        return 1;
    }
    std::vector<double> floorWall, floorCpu, peltaWall, peltaCpu, libWall, libCpu, rawWall, rawCpu;
    std::vector<double> peltaToFloor, libToFloor, cpuToLib, peltaToRaw, rawToFloor;   // per-run ratios
    FloorClient floor;
    PeltaClient pelta(sim.HostPort());
    LibmodbusClient lib(sim.TcpPort());
    RawClient raw(sim.TcpPort());
    Client* clients[] = {&floor, &pelta, &lib, &raw};
    const char* names[] = {"floor", "pelta client", "libmodbus", "raw client"};
    const int kClients = 4;
    for (int run = 0; run < runs; run++) {
        for (int c = 0; c < kClients; c++)
            if (!clients[c]->Begin()) {
                fprintf(stderr, "modbus_bench: the %s could not connect\n", names[c]);
                return 1;
            }
        for (int done = 0; done < pairs; done += block) {
            const int n = std::min(block, pairs - done);
            for (int c = 0; c < kClients; c++)
                if (!clients[c]->TimedPairs(done, n)) {
                    fprintf(stderr, "modbus_bench: run %d failed in the %s part\n", run + 1, names[c]);
                    return 1;
                }
        }
        for (Client* c : clients) c->End();
        Figures f = floor.TakeFigures(), p = pelta.TakeFigures(), l = lib.TakeFigures(), w = raw.TakeFigures();
        rawWall.push_back(w.wallUs), rawCpu.push_back(w.cpuUs);
        peltaToRaw.push_back(p.wallUs / w.wallUs), rawToFloor.push_back(w.wallUs / f.wallUs);
        floorWall.push_back(f.wallUs), floorCpu.push_back(f.cpuUs);
        peltaWall.push_back(p.wallUs), peltaCpu.push_back(p.cpuUs);
        libWall.push_back(l.wallUs), libCpu.push_back(l.cpuUs);
        peltaToFloor.push_back(p.wallUs / f.wallUs), libToFloor.push_back(l.wallUs / f.wallUs);
        cpuToLib.push_back(p.cpuUs / l.cpuUs);
        printf("run %d: floor %.1f us, pelta %.1f us (cpu %.1f), libmodbus %.1f us (cpu %.1f), raw %.1f us\n",
               run + 1, f.wallUs, p.wallUs, p.cpuUs, l.wallUs, l.cpuUs, w.wallUs);
    }
    sim.Stop();
    const double fw = Median(floorWall), lc = Median(libCpu);
    printf("\n%d write+read file-record pairs (%d transactions) per run, medians of %d runs\n", pairs, pairs * 2,
           runs);
    printf("%-28s %12s %10s %14s %12s %12s\n", "client", "us/transact", "x floor", "transact/s", "cpu us/tr",
           "cpu x libm");
    auto row = [&](const char* name, double wall, double cpu) {
        printf("%-28s %12.1f %10.2f %14.0f %12.1f %12.2f\n", name, wall, wall / fw, 1e6 / wall, cpu, cpu / lc);
    };
    row("floor (32/24 B ping-pong)", fw, Median(floorCpu));
    row("pelta client -> pelta-sim", Median(peltaWall), Median(peltaCpu));
    row("libmodbus raw -> pelta-sim", Median(libWall), lc);
    row("raw client -> pelta-sim", Median(rawWall), Median(rawCpu));
    // Other load on a shared machine only ever adds time, so the least figures show the cost
    // with the least interference.
    printf("\nleast of %d runs: floor %.1f us (cpu %.1f), pelta %.1f us (cpu %.1f), libmodbus %.1f us (cpu %.1f), "
           "raw %.1f us (cpu %.1f); pelta / floor %.2f, raw / floor %.2f, pelta cpu / libmodbus cpu %.2f\n",
           runs, Least(floorWall), Least(floorCpu), Least(peltaWall), Least(peltaCpu), Least(libWall), Least(libCpu),
           Least(rawWall), Least(rawCpu), Least(peltaWall) / Least(floorWall), Least(rawWall) / Least(floorWall),
           Least(peltaCpu) / Least(libCpu));
    printf("medians of the per-run ratios: pelta wall / floor %.2f, libmodbus wall / floor %.2f, "
           "raw wall / floor %.2f, pelta wall / raw wall %.2f, pelta client CPU / libmodbus client CPU %.2f\n",
           Median(peltaToFloor), Median(libToFloor), Median(rawToFloor), Median(peltaToRaw), Median(cpuToLib));
    return 0;
}
