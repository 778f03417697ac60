// Discovery with real broadcasts, only inside network namespaces this test creates and removes
// (tests/support/netns.sh): the tool's namespace has one interface on each of two segments, each
// simulated unit has a namespace of its own. The runner's worker is started from a thread that
// has entered the tool's namespace, so its sockets live there; before anything is sent the
// test checks that every broadcast interface it sees belongs to the test network.
#include <arpa/inet.h>
#include <dirent.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sched.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "tests/operations/FindUi.h"
#include "tests/operations/SimFixture.h"

namespace {
const uint32_t kTestNet = 0x0A4D0000;  // 10.77.0.0/16, the only network the namespaces have
const uint32_t kTestMask = 0xFFFF0000;
const char kPrefixStem[] = "pdt";
const int kFastReceiveMs = 1000;

std::string NetnsScript()
{
    const char* source = getenv("PELTA_SOURCE_DIR");
    return std::string(source && *source ? source : ".") + "/tests/support/netns.sh";
}

std::string IpTool()
{
    for (const char* path : {"/usr/sbin/ip", "/sbin/ip", "/usr/bin/ip", "/bin/ip"})
        if (access(path, X_OK) == 0)
            return path;
    return std::string();
}

bool Script(const std::string& verb, const std::string& prefix)
{
    std::string command = "bash '" + NetnsScript() + "' " + verb + " '" + prefix + "' >/dev/null 2>&1";
    return system(command.c_str()) == 0;
}

// Namespaces left behind by an earlier run that was killed: their owner's pid is gone.
void SweepStale()
{
    DIR* dir = opendir("/run/netns");
    if (!dir)
        return;
    std::vector<std::string> stale;
    for (dirent* e = readdir(dir); e; e = readdir(dir)) {
        unsigned pid = 0;
        char tail[8] = "";
        if (sscanf(e->d_name, "pdt%u-%7s", &pid, tail) == 2 && std::string(tail) == "sw" &&
            kill((pid_t)pid, 0) != 0 && errno == ESRCH)
            stale.push_back(std::string(kPrefixStem) + std::to_string(pid) + "-");
    }
    closedir(dir);
    for (const std::string& prefix : stale)
        Script("down", prefix);
}

// True when every interface that can broadcast lies in the test network, and there is one.
bool OnlyTestInterfaces(std::string* seen)
{
    int count = 0;
    ifi_entry* list = get_ifi_info(&count);
    bool any = false, ok = true;
    for (int i = 0; i < count; ++i) {
        if (!(list[i].flags & kIfiBroadcast))
            continue;
        char text[20];
        *seen += std::string(IPv4ToText(list[i].address, text, sizeof text)) + " ";
        any = true;
        if ((ntohl(list[i].address) & kTestMask) != kTestNet)
            ok = false;
    }
    free(list);
    return any && ok;
}

struct UnitSpec {
    const char* ns;  // u1, u2 (segment A) or u3 (segment B)
    std::vector<std::string> args;
};

struct NsCase {
    const char* name;
    std::vector<UnitSpec> units;
    AppState end;
    std::vector<FoundRow> rows;  // by IP (connect)
    int64_t done, total;
    std::vector<std::string> present;
};

std::vector<std::string> Unit(int n, std::vector<std::string> more = {})
{
    const std::string d = std::to_string(n);
    std::vector<std::string> args = {"--mac", "02:00:00:00:00:0" + d, "--id", "Unit" + d, "--version", "1.0.0." + d};
    args.insert(args.end(), more.begin(), more.end());
    return args;
}

FoundRow Filled(const char* address, int n, const char* ip = nullptr)
{
    const std::string d = std::to_string(n);
    return {address, ip ? ip : address, "02:00:00:00:00:0" + d, "Unit" + d, "1.0.0." + d};
}

FoundRow Bare(const char* address, int n)
{
    return {address, address, "02:00:00:00:00:0" + std::to_string(n), "", ""};
}

const NsCase kCases[] = {
    {"three units on two segments, one with another configured IP",
     {{"u1", Unit(1)}, {"u2", Unit(2, {"--ip", "192.168.5.5"})}, {"u3", Unit(3)}}, AppState::Succeeded,
     {Filled("10.77.0.1", 1), Filled("10.77.0.2", 2, "192.168.5.5"), Filled("10.77.1.1", 3)}, 2, 2,
     {"\t\t10.77.0.255", "\t\t10.77.1.255", "Find devices end: OK"}},
    {"no unit", {}, AppState::Succeeded, {}, 1, 0, {"\t\t10.77.0.255", "\t\t10.77.1.255"}},
    {"two answers from one address",
     {{"u1", Unit(1, {"--fault-discovery-duplicate"})}, {"u2", Unit(2)}}, AppState::Error,
     {Bare("10.77.0.1", 1), Bare("10.77.0.1", 1), Bare("10.77.0.2", 2)}, 1, 2,
     {"Received some responses with one IP address"}},
    {"a unit whose TCP side is gone", {{"u1", Unit(1)}, {"u2", Unit(2)}, {"u3", Unit(3, {"--port", "503"})}},
     AppState::Error, {Filled("10.77.0.1", 1), Filled("10.77.0.2", 2), Bare("10.77.1.1", 3)}, 1, 2,
     {"Connection error"}},
    {"a rogue responder among the units",
     {{"u1", Unit(1)}, {"u2", Unit(2, {"--fault-discovery-garbage", "--fault-silence", "all"})}, {"u3", Unit(3)}},
     AppState::Succeeded, {Filled("10.77.0.1", 1), Filled("10.77.1.1", 3)}, 2, 2,
     {"Receiving error", "Wrong file record return code"}},
};

class DiscoveryNetnsTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (geteuid() != 0)
            GTEST_SKIP() << "network namespaces need root; the broadcast cases are not run";
        if (IpTool().empty())
            GTEST_SKIP() << "no ip tool (iproute2); the broadcast cases are not run";
        SweepStale();
        prefix_ = std::string(kPrefixStem) + std::to_string(getpid()) + "-";
        if (!Script("up", prefix_)) {
            Script("down", prefix_);
            GTEST_SKIP() << "cannot create network namespaces here; the broadcast cases are not run";
        }
        up_ = true;
    }
    void TearDown() override
    {
        units_.clear();
        if (up_) {
            EXPECT_TRUE(Script("down", prefix_));
        }
        EXPECT_FALSE(access(("/run/netns/" + prefix_ + "cli").c_str(), F_OK) == 0) << "namespaces left";
    }
    void UnitsStart(const std::vector<UnitSpec>& specs)
    {
        units_.clear();
        for (const UnitSpec& spec : specs) {
            std::vector<std::string> args = {"--listen", "0.0.0.0", "--port", "502", "--udp-port", "502"};
            args.insert(args.end(), spec.args.begin(), spec.args.end());
            units_.emplace_back(new SimProcess(args));
            units_.back()->SetLauncher({IpTool(), "netns", "exec", prefix_ + spec.ns});
            std::string error;
            ASSERT_TRUE(units_.back()->Start(&error)) << spec.ns << ": " << error;
        }
    }
    // Runs body on a thread inside the tool's namespace; false when it could not enter it.
    template <typename Body>
    bool InToolNamespace(Body body)
    {
        bool entered = false;
        std::thread inside([&] {
            int fd = open(("/run/netns/" + prefix_ + "cli").c_str(), O_RDONLY | O_CLOEXEC);
            if (fd < 0)
                return;
            entered = setns(fd, CLONE_NEWNET) == 0;
            close(fd);
            if (entered)
                body();
        });
        inside.join();
        return entered;
    }

    std::string prefix_;
    bool up_ = false;
    std::vector<std::unique_ptr<SimProcess>> units_;
};

TEST_F(DiscoveryNetnsTest, EveryUnitOnBothSegments)
{
    for (const NsCase& c : kCases) {
        SCOPED_TRACE(c.name);
        UnitsStart(c.units);
        if (HasFatalFailure())
            return;
        bool entered = InToolNamespace([&] {
            std::string seen;
            ASSERT_TRUE(OnlyTestInterfaces(&seen)) << "refusing to broadcast; interfaces: " << seen;
            RunnerOptions options = FastOptions();
            options.discovery.receiveTimeoutMs = kFastReceiveMs;
            FindUi ui;
            OperationRunner runner(&ui, options);
            ui.Attach(&runner);
            ASSERT_TRUE(runner.FindDevicesBegin());
            ASSERT_TRUE(WaitIdle(runner, kOperationTimeoutMs)) << ui.Dump();
            AppState state;
            runner.StateGet(&state, nullptr);
            EXPECT_EQ(c.end, state) << ui.Dump();
            std::vector<FoundRow> rows = ui.Rows();
            ASSERT_EQ(c.rows.size(), rows.size()) << ui.Dump();
            for (size_t i = 0; i < rows.size(); ++i) {
                SCOPED_TRACE(rows[i].ipConnect);
                EXPECT_EQ(c.rows[i].ipConnect, rows[i].ipConnect);
                EXPECT_EQ(c.rows[i].ip, rows[i].ip);
                EXPECT_EQ(c.rows[i].mac, rows[i].mac);
                EXPECT_EQ(c.rows[i].id, rows[i].id);
                EXPECT_EQ(c.rows[i].version, rows[i].version);
                EXPECT_TRUE(rows[i].duringPhaseOne);
            }
            int64_t done = -1, total = -1;
            int calls = 0;
            ui.Progress(&done, &total, &calls);
            EXPECT_EQ(c.done, done);
            EXPECT_EQ(c.total, total);
            for (const std::string& line : c.present)
                EXPECT_GE(ui.Find(line), 0) << line << "\n" << ui.Dump();
            EXPECT_EQ(0, ui.LockMistakes());
        });
        EXPECT_TRUE(entered) << "could not enter " << prefix_ << "cli";
        units_.clear();
    }
}
}  // namespace
