// Discovery with real broadcasts, only inside network namespaces this test creates and removes
// (tests/support/netns.sh): the tool's namespace on two segments, each unit in one of its own.
// Before anything is sent the test checks every broadcast interface belongs to the test network.
#include <arpa/inet.h>
#include <dirent.h>
#include <fcntl.h>
#include <sched.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "tests/operations/DiscoveryCase.h"
#include "tests/support/RunnerSim.h"

namespace {
const char kIp[] = "/usr/sbin/ip";

bool Script(const std::string& verb, const std::string& prefix)
{
    const char* source = getenv("PELTA_SOURCE_DIR");
    return system(("bash '" + std::string(source && *source ? source : ".") + "/tests/support/netns.sh' " + verb + " '" +
                   prefix + "' >/dev/null 2>&1").c_str()) == 0;
}

// Namespaces left by an earlier run that was killed: their owner's pid is gone.
void SweepStale()
{
    DIR* dir = opendir("/run/netns");
    for (dirent* e = dir ? readdir(dir) : nullptr; e; e = readdir(dir)) {
        unsigned pid = 0;
        char tail[8] = "";
        if (sscanf(e->d_name, "pdt%u-%7s", &pid, tail) == 2 && !strcmp(tail, "sw") && kill((pid_t)pid, 0) && errno == ESRCH)
            Script("down", "pdt" + std::to_string(pid) + "-");
    }
    if (dir)
        closedir(dir);
}

bool OnlyTestInterfaces(std::string* seen)
{
    int count = 0;
    ifi_entry* list = get_ifi_info(&count);
    bool ok = count > 0;
    for (int i = 0; i < count; ++i) {
        char text[20];
        *seen += std::string(IPv4ToText(list[i].address, text, sizeof text)) + " ";
        ok = ok && (!(list[i].flags & kIfiBroadcast) || (ntohl(list[i].address) & 0xFFFF0000) == 0x0A4D0000);
    }
    free(list);
    return ok;
}

// Each unit's namespace first: u1, u2 on segment A, u3 on segment B; u2 with another configured IP.
const DiscoveryCase kCase = {"three units on two segments",
                             {{"u1", "--mac", "02:00:00:00:00:01", "--id", "Unit1", "--version", "1.0.0.1"},
                              {"u2", "--mac", "02:00:00:00:00:02", "--id", "Unit2", "--version", "1.0.0.2", "--ip",
                               "192.168.5.5"},
                              {"u3", "--mac", "02:00:00:00:00:03", "--id", "Unit3", "--version", "1.0.0.3"}},
                             AppState::Succeeded,
                             {"10.77.0.1 10.77.0.1 02:00:00:00:00:01 Unit1 1.0.0.1",
                              "10.77.0.2 192.168.5.5 02:00:00:00:00:02 Unit2 1.0.0.2",
                              "10.77.1.1 10.77.1.1 02:00:00:00:00:03 Unit3 1.0.0.3"},
                             "2/2", {"\t\t10.77.0.255", "\t\t10.77.1.255", "Find devices end: OK"}, {}};

TEST(DiscoveryNetns, EveryUnitOnBothSegments)
{
    if (geteuid() != 0 || access(kIp, X_OK) != 0)
        GTEST_SKIP() << "network namespaces need root and iproute2; the broadcast cases are not run";
    SweepStale();
    const std::string prefix = "pdt" + std::to_string(getpid()) + "-";
    if (!Script("up", prefix)) {
        Script("down", prefix);
        GTEST_SKIP() << "cannot create network namespaces here; the broadcast cases are not run";
    }
    std::vector<std::unique_ptr<SimProcess>> units;
    for (const std::vector<std::string>& unit : kCase.units) {
        std::vector<std::string> args = {"--listen", "0.0.0.0", "--port", "502", "--udp-port", "502"};
        args.insert(args.end(), unit.begin() + 1, unit.end());
        units.emplace_back(new SimProcess(args));
        units.back()->SetLauncher({kIp, "netns", "exec", prefix + unit[0]});
        std::string error;
        EXPECT_TRUE(units.back()->Start(&error)) << unit[0] << ": " << error;
    }
    bool entered = false;
    std::thread inside([&] {
        int fd = open(("/run/netns/" + prefix + "cli").c_str(), O_RDONLY | O_CLOEXEC);
        entered = fd >= 0 && setns(fd, CLONE_NEWNET) == 0;
        if (fd >= 0)
            close(fd);
        std::string seen;
        if (!entered || !OnlyTestInterfaces(&seen)) {
            ADD_FAILURE() << "refusing to broadcast; interfaces: " << seen;
            return;
        }
        RunnerOptions options = FastOptions();
        options.discovery.receiveTimeoutMs = 1000;
        RecordingUi ui;
        OperationRunner runner(&ui, options);
        ui.Attach(&runner);
        ASSERT_TRUE(runner.FindDevicesBegin());
        ASSERT_TRUE(WaitIdle(runner, kOperationTimeoutMs)) << ui.Dump();
        AppState state;
        runner.StateGet(&state, nullptr);
        DiscoveryExpect(kCase, state, ui);
        EXPECT_EQ(0, ui.Mistakes());
    });
    inside.join();
    EXPECT_TRUE(entered) << "could not enter " << prefix << "cli";
    units.clear();
    EXPECT_TRUE(Script("down", prefix));
    EXPECT_NE(0, access(("/run/netns/" + prefix + "cli").c_str(), F_OK)) << "namespaces left";
}
}  // namespace
