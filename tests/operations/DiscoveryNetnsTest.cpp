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

// Every interface that can broadcast lies in 10.77.0.0/16, and there is one.
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

std::vector<std::string> Unit(const char* ns, int n, std::vector<std::string> more = {})
{
    const std::string d = std::to_string(n);
    std::vector<std::string> args = {ns, "--mac", "02:00:00:00:00:0" + d, "--id", "Unit" + d, "--version", "1.0.0." + d};
    args.insert(args.end(), more.begin(), more.end());
    return args;
}

std::string Row(const char* address, int n, const char* ip = nullptr, bool details = true)
{
    const std::string d = std::to_string(n);
    return std::string(address) + " " + (ip ? ip : address) + " 02:00:00:00:00:0" + d +
           (details ? " Unit" + d + " 1.0.0." + d : "  ");
}

// Units: the namespace (u1, u2 on segment A, u3 on segment B), then simulator arguments.
const DiscoveryCase kCases[] = {
    {"three units on two segments, one with another configured IP",
     {Unit("u1", 1), Unit("u2", 2, {"--ip", "192.168.5.5"}), Unit("u3", 3)}, AppState::Succeeded,
     {Row("10.77.0.1", 1), Row("10.77.0.2", 2, "192.168.5.5"), Row("10.77.1.1", 3)}, "2/2",
     {"\t\t10.77.0.255", "\t\t10.77.1.255", "Find devices end: OK"}, {}},
    {"a rogue responder and a unit whose TCP side is gone",
     {Unit("u1", 1), Unit("u2", 2, {"--fault-discovery-garbage", "--fault-silence", "all"}), Unit("u3", 3, {"--port", "503"})},
     AppState::Error, {Row("10.77.0.1", 1), Row("10.77.1.1", 3, nullptr, false)}, "1/2",
     {"Receiving error", "Wrong file record return code", "Connection error"}, {}},
};

class DiscoveryNetnsTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (geteuid() != 0 || access(kIp, X_OK) != 0)
            GTEST_SKIP() << "network namespaces need root and iproute2; the broadcast cases are not run";
        SweepStale();
        if (!Script("up", prefix_)) {
            Script("down", prefix_);
            GTEST_SKIP() << "cannot create network namespaces here; the broadcast cases are not run";
        }
        up_ = true;
    }
    void TearDown() override
    {
        units_.clear();
        EXPECT_TRUE(!up_ || Script("down", prefix_));
        EXPECT_NE(0, access(("/run/netns/" + prefix_ + "cli").c_str(), F_OK)) << "namespaces left";
    }

    std::string prefix_ = "pdt" + std::to_string(getpid()) + "-";
    bool up_ = false;
    std::vector<std::unique_ptr<SimProcess>> units_;
};

TEST_F(DiscoveryNetnsTest, EveryUnitOnBothSegments)
{
    for (const DiscoveryCase& c : kCases) {
        SCOPED_TRACE(c.name);
        units_.clear();
        for (const std::vector<std::string>& unit : c.units) {
            std::vector<std::string> args = {"--listen", "0.0.0.0", "--port", "502", "--udp-port", "502"};
            args.insert(args.end(), unit.begin() + 1, unit.end());
            units_.emplace_back(new SimProcess(args));
            units_.back()->SetLauncher({kIp, "netns", "exec", prefix_ + unit[0]});
            std::string error;
            ASSERT_TRUE(units_.back()->Start(&error)) << unit[0] << ": " << error;
        }
        bool entered = false;
        std::thread inside([&] {
            int fd = open(("/run/netns/" + prefix_ + "cli").c_str(), O_RDONLY | O_CLOEXEC);
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
            DiscoveryExpect(c, state, ui);
            EXPECT_EQ(0, ui.Mistakes());
        });
        inside.join();
        EXPECT_TRUE(entered) << "could not enter " << prefix_ << "cli";
    }
}
}  // namespace
