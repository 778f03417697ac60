// multi_bench: pelta-cli writing the largest image into 1, 2, 4 and 8 simulators at once
// (--jobs equal to the count): total time, aggregate records per second and their ratio to one
// unit's rate, beside the loopback floor of the same run.
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "bench/LoopbackFloor.h"
#include "tests/support/SimProcess.h"

namespace {
// Header and 65,535 code records: the largest image the record count describes.
const size_t kImageBytes = 786420;
const double kRecordsPerImage = 65536;
const uint32_t kFloorTrips = 131072;

double Median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v.size() % 2 ? v[v.size() / 2] : (v[v.size() / 2 - 1] + v[v.size() / 2]) / 2;
}

double Seconds(const timeval& t)
{
    return (double)t.tv_sec + (double)t.tv_usec / 1e6;
}

double FloorUsPerTrip()
{
    int port = 0;
    pid_t child = StartFloorServer(&port);
    if (child < 0)
        return -1;
    int fd = ConnectLoopback(port);
    uint8_t request[kFloorRequest] = {}, answer[kFloorAnswer];
    auto t0 = std::chrono::steady_clock::now();
    bool ok = fd >= 0;
    for (uint32_t i = 0; ok && i < kFloorTrips; ++i)
        ok = WriteAll(fd, request, sizeof request) && ReadExactly(fd, answer, sizeof answer);
    double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    if (fd >= 0)
        close(fd);
    int status;
    waitpid(child, &status, 0);
    return ok ? wall * 1e6 / kFloorTrips : -1;
}

std::string Beside(const char* name)
{
    char self[4096];
    ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
    self[n > 0 ? n : 0] = 0;
    std::string path = self;
    return path.substr(0, path.rfind('/') + 1) + name;
}

struct Run {
    double wall = -1;    // seconds, -1: the run failed
    double cliCpu = 0;   // pelta-cli's user + system seconds
};

// One run: count fresh simulators, one pelta-cli writing the image into all of them.
Run RunOnce(int count, const std::string& image, const std::string& dir)
{
    std::vector<std::unique_ptr<SimProcess>> sims;
    std::ofstream list(dir + "/hosts.txt");
    for (int i = 0; i < count; ++i) {
        sims.emplace_back(new SimProcess());
        if (!sims.back()->Start())
            return {};
        list << sims.back()->HostPort() << "\n";
    }
    list.close();
    const std::string cli = Beside("pelta-cli");
    const std::string jobs = std::to_string(count);
    const std::string hosts = dir + "/hosts.txt";
    // The child must not write out a copy of what this process still holds.
    fflush(stdout);
    auto t0 = std::chrono::steady_clock::now();
    pid_t child = fork();
    if (child == 0) {
        if (!freopen("/dev/null", "w", stdout))
            _exit(127);
        execl(cli.c_str(), cli.c_str(), "write-firmware", image.c_str(), "--hosts", hosts.c_str(), "--jobs",
              jobs.c_str(), "--json", (char*)nullptr);
        _exit(127);
    }
    int status = 0;
    rusage usage{};
    wait4(child, &status, 0, &usage);
    Run run;
    run.wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    run.cliCpu = Seconds(usage.ru_utime) + Seconds(usage.ru_stime);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
        run.wall = -1;
    return run;
}
}  // namespace

int main(int argc, char** argv)
{
    int runs = 3;
    std::vector<int> counts = {1, 2, 4, 8};
    for (int i = 1; i + 1 < argc; i += 2)
        if (strcmp(argv[i], "--runs") == 0)
            runs = std::max(1, atoi(argv[i + 1]));
    if (!getenv("PELTA_SIM"))
        setenv("PELTA_SIM", Beside("pelta-sim").c_str(), 1);
    char dirName[] = "/tmp/multi_bench-XXXXXX";
    if (!mkdtemp(dirName))
        return perror("multi_bench: mkdtemp"), 1;
    const std::string dir = dirName;
    const std::string image = dir + "/image.bin";
    {
        std::ofstream out(image, std::ios::binary);
        for (size_t i = 0; i < kImageBytes; ++i)
            out.put((char)(i * 131 + (i >> 9)));
    }
    std::vector<double> floor;
    for (int r = 0; r < runs; ++r)
        floor.push_back(FloorUsPerTrip());
    const double floorUs = Median(floor);
    // Each record is a write and a read-back: two round trips at the floor.
    const double floorRate = 1e6 / (2 * floorUs);
    printf("floor ping-pong: %.2f us per round trip, one unit's image at the floor %.2f s (%.0f records/s)\n",
           floorUs, kRecordsPerImage / floorRate, floorRate);
    printf("%5s %10s %12s %16s %12s %12s %14s\n", "units", "total s", "records/s", "per unit rec/s", "x one unit",
           "x floor", "cli CPU s");
    double oneRate = 0;
    for (int count : counts) {
        std::vector<double> wall, cpu;
        for (int r = 0; r < runs; ++r) {
            Run run = RunOnce(count, image, dir);
            if (run.wall < 0) {
                fprintf(stderr, "multi_bench: a run with %d units failed\n", count);
                return 1;
            }
            wall.push_back(run.wall);
            cpu.push_back(run.cliCpu);
        }
        const double w = Median(wall);
        const double rate = count * kRecordsPerImage / w;
        if (count == 1)
            oneRate = rate;
        printf("%5d %10.2f %12.0f %16.0f %12.2f %12.2f %14.2f\n", count, w, rate, rate / count, rate / oneRate,
               rate / floorRate, Median(cpu));
        fflush(stdout);
    }
    remove(image.c_str());
    remove((dir + "/hosts.txt").c_str());
    rmdir(dir.c_str());
    return 0;
}
