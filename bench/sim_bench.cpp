// sim_bench: how fast pelta-sim answers a flashing client, beside the loopback floor.
//
// Floor: a plain forked server that reads a 32-byte request and writes a 24-byte answer, one
// at a time over loopback with TCP_NODELAY. Simulator: a raw client writes the largest image
// (header + 65,535 code records) with Write File Record and reads each record back with
// Read File Record, i.e. 131,072 transactions. Both servers are child processes; their CPU
// time comes from wait4() after they exit. Prints medians over --runs runs; no assertions.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "base/Crc.h"
#include "bench/LoopbackFloor.h"

namespace {

const uint32_t kDefaultRecords = 65535;
const int kDefaultRuns = 5;
const int kStartTimeoutMs = 10000;
const uint16_t kFirmwareFile = 3;
const uint32_t kRecordsPerFile = 4096;

struct Figures {
    double wallUsPerTransaction;
    double serverCpuUsPerTransaction;
    double clientCpuUsPerTransaction;
    double serverUserUsPerTransaction;   // the user-space part of the server's CPU
};

double Seconds(const timeval& t) { return (double)t.tv_sec + (double)t.tv_usec / 1e6; }
double CpuSeconds(const rusage& r) { return Seconds(r.ru_utime) + Seconds(r.ru_stime); }

double SelfCpu() {
    rusage r;
    getrusage(RUSAGE_SELF, &r);
    return CpuSeconds(r);
}

// The floor: one forked child serving one connection.
bool RunFloor(uint32_t transactions, Figures* out) {
    int port = 0;
    pid_t child = StartFloorServer(&port);
    if (child < 0) return false;
    int fd = ConnectLoopback(port);
    uint8_t request[kFloorRequest] = {}, answer[kFloorAnswer];
    double cpu0 = SelfCpu();
    auto t0 = std::chrono::steady_clock::now();
    bool ok = fd >= 0;
    for (uint32_t i = 0; ok && i < transactions; ++i)
        ok = WriteAll(fd, request, sizeof request) && ReadExactly(fd, answer, sizeof answer);
    double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    double clientCpu = SelfCpu() - cpu0;
    if (fd >= 0) close(fd);
    int status;
    rusage usage;
    wait4(child, &status, 0, &usage);
    *out = {wall * 1e6 / transactions, CpuSeconds(usage) * 1e6 / transactions, clientCpu * 1e6 / transactions,
            Seconds(usage.ru_utime) * 1e6 / transactions};
    return ok;
}

std::string SimPath() {
    char self[4096];
    ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
    if (n <= 0) return "pelta-sim";
    self[n] = 0;
    std::string path = self;
    return path.substr(0, path.rfind('/') + 1) + "pelta-sim";
}

// Starts pelta-sim on loopback; returns its pid and TCP port, or -1.
pid_t StartSim(int* port) {
    int fds[2];
    if (pipe(fds) != 0) return -1;
    std::string path = SimPath();
    pid_t child = fork();
    if (child == 0) {
        dup2(fds[1], STDOUT_FILENO);
        close(fds[0]);
        execl(path.c_str(), path.c_str(), "--listen", "127.0.0.1", "--port", "0", "--udp-port", "0",
              (char*)nullptr);
        _exit(127);
    }
    close(fds[1]);
    std::string text;
    pollfd p = {fds[0], POLLIN, 0};
    while (text.find('\n') == std::string::npos && poll(&p, 1, kStartTimeoutMs) > 0) {
        char buffer[256];
        ssize_t got = read(fds[0], buffer, sizeof buffer);
        if (got <= 0) break;
        text.append(buffer, (size_t)got);
    }
    close(fds[0]);   // the simulator only prints again on stop; its writes then just fail
    unsigned a, b, c, d, tcp;
    if (sscanf(text.c_str(), "pelta-sim: listening tcp %u.%u.%u.%u:%u", &a, &b, &c, &d, &tcp) != 5) {
        kill(child, SIGKILL);
        waitpid(child, nullptr, 0);
        return -1;
    }
    *port = (int)tcp;
    return child;
}

void Put16(uint8_t* p, uint32_t v) {
    p[0] = (uint8_t)(v >> 8);
    p[1] = (uint8_t)v;
}
void Put32(uint8_t* p, uint32_t v) {
    Put16(p, v >> 16);
    Put16(p + 2, v);
}

// One Write File Record of 8 registers (32 bytes) and its Read File Record (16 bytes).
struct RecordFrames {
    uint8_t write[32];
    uint8_t read[16];
};

void BuildFrames(RecordFrames* f, uint16_t file, uint16_t record, const uint8_t registers[16]) {
    const uint8_t writeHead[] = {0, 123, 0, 0, 0, 26, 0, 21, 23, 6};
    memcpy(f->write, writeHead, sizeof writeHead);
    Put16(f->write + 10, file);
    Put16(f->write + 12, record);
    Put16(f->write + 14, 8);
    memcpy(f->write + 16, registers, 16);
    const uint8_t readHead[] = {0, 123, 0, 0, 0, 10, 0, 20, 7, 6};
    memcpy(f->read, readHead, sizeof readHead);
    memcpy(f->read + 10, f->write + 10, 6);
}

// Writes and reads back header + records code records; every answer is checked.
bool RunSim(uint32_t records, Figures* out) {
    int port = 0;
    pid_t sim = StartSim(&port);
    if (sim < 0) return false;
    int fd = ConnectLoopback(port);
    const uint32_t size = records * 12, mask = 0x5A5AA5A5u, password = 1;
    std::vector<uint8_t> masked(size);
    for (uint32_t i = 0; i < size; ++i) masked[i] = (uint8_t)(i * 7 + 3);
    uint8_t registers[16] = {};
    Put16(registers, password);
    Put16(registers + 2, records);
    Put32(registers + 4, size);
    Put32(registers + 8, Crc32(masked.data(), masked.size()));
    Put32(registers + 12, mask);
    RecordFrames frames;
    uint8_t writeAnswer[32], readAnswer[27];
    bool ok = fd >= 0;
    double cpu0 = SelfCpu();
    auto t0 = std::chrono::steady_clock::now();
    for (uint32_t k = 0; ok && k <= records; ++k) {
        if (k > 0) {
            Put16(registers + 2, 3);
            for (int w = 0; w < 3; ++w) {
                const uint8_t* le = &masked[(size_t)((k - 1) * 3 + w) * 4];
                Put32(registers + 4 + 4 * w, (uint32_t)le[0] | le[1] << 8 | le[2] << 16 | (uint32_t)le[3] << 24);
            }
        }
        BuildFrames(&frames, (uint16_t)(kFirmwareFile + k / kRecordsPerFile), (uint16_t)(k % kRecordsPerFile),
                    registers);
        ok = WriteAll(fd, frames.write, sizeof frames.write) && ReadExactly(fd, writeAnswer, sizeof writeAnswer) &&
             memcmp(writeAnswer, frames.write, sizeof writeAnswer) == 0 &&
             WriteAll(fd, frames.read, sizeof frames.read) && ReadExactly(fd, readAnswer, sizeof readAnswer) &&
             readAnswer[11] == 0 && readAnswer[12] == 1;
    }
    double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    double clientCpu = SelfCpu() - cpu0;
    if (fd >= 0) close(fd);
    kill(sim, SIGTERM);
    int status;
    rusage usage;
    wait4(sim, &status, 0, &usage);
    uint32_t transactions = 2 * (records + 1);
    *out = {wall * 1e6 / transactions, CpuSeconds(usage) * 1e6 / transactions, clientCpu * 1e6 / transactions,
            Seconds(usage.ru_utime) * 1e6 / transactions};
    if (!ok) fprintf(stderr, "sim_bench: a simulator answer was wrong or missing\n");
    return ok;
}

double Median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v.size() % 2 ? v[v.size() / 2] : (v[v.size() / 2 - 1] + v[v.size() / 2]) / 2;
}

void Print(const char* name, const std::vector<Figures>& runs) {
    std::vector<double> wall, server, client, user;
    for (const Figures& f : runs) {
        wall.push_back(f.wallUsPerTransaction);
        server.push_back(f.serverCpuUsPerTransaction);
        client.push_back(f.clientCpuUsPerTransaction);
        user.push_back(f.serverUserUsPerTransaction);
    }
    double w = Median(wall);
    printf("%-30s %6.2f us/transaction %7.0f transactions/s  server CPU %5.2f us (user %4.2f)  client CPU %5.2f us\n",
           name, w, 1e6 / w, Median(server), Median(user), Median(client));
}

}  // namespace

int main(int argc, char** argv) {
    int runs = kDefaultRuns;
    uint32_t records = kDefaultRecords;
    for (int i = 1; i + 1 < argc; i += 2) {
        if (strcmp(argv[i], "--runs") == 0) runs = std::max(1, atoi(argv[i + 1]));
        if (strcmp(argv[i], "--records") == 0) records = (uint32_t)std::min(65535, std::max(1, atoi(argv[i + 1])));
    }
    signal(SIGPIPE, SIG_IGN);
    uint32_t transactions = 2 * (records + 1);
    printf("sim_bench: %d runs of %u transactions each (image of %u bytes), medians\n", runs, transactions,
           records * 12);
    std::vector<Figures> floor, sim;
    for (int r = 0; r < runs; ++r) {
        Figures f;
        if (!RunFloor(transactions, &f)) return fprintf(stderr, "sim_bench: floor run failed\n"), 1;
        floor.push_back(f);
        if (!RunSim(records, &f)) return fprintf(stderr, "sim_bench: simulator run failed\n"), 1;
        sim.push_back(f);
    }
    Print("floor ping-pong 32/24 bytes", floor);
    Print("pelta-sim fc21+fc20 pairs", sim);
    std::vector<double> rate, cpu;
    for (int r = 0; r < runs; ++r) {
        rate.push_back(floor[r].wallUsPerTransaction / sim[r].wallUsPerTransaction);
        cpu.push_back(sim[r].serverCpuUsPerTransaction / floor[r].serverCpuUsPerTransaction);
    }
    printf("simulator rate / floor rate: %.2f   simulator server CPU / floor server CPU: %.2f\n", Median(rate),
           Median(cpu));
    return 0;
}
