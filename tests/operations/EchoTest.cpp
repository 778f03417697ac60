// A read-back that does not echo the record, from a scripted unit (the simulator always echoes):
// the word count and the words are compared, the unused word slots of the last record are not.
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <map>

#include "base/LogTypes.h"
#include "tests/support/RunnerSim.h"
#include "tests/support/ScriptedPeer.h"

namespace {
// Answers Write File Record with the request and Read File Record with result code 1 and the
// stored record, byte `offset` of (file 3, record) inverted; one connection, one test long.
class ScriptedUnit {
public:
    ScriptedUnit(uint16_t record, int offset) : record_(record), offset_(offset) {}
    ~ScriptedUnit()
    {
        thread_.join();
        close(listener_);
    }
    std::string HostPort() const { return "127.0.0.1:" + std::to_string(port_); }
    std::atomic<int> requests{0};

private:
    bool Read(int fd, uint8_t* out, size_t size)
    {
        pollfd p = {fd, POLLIN, 0};
        for (ssize_t n = 0; size > 0; out += n, size -= (size_t)n)
            if (poll(&p, 1, kOperationTimeoutMs) != 1 || (n = recv(fd, out, size, 0)) <= 0)
                return false;
        return true;
    }
    void Serve()
    {
        pollfd p = {listener_, POLLIN, 0};
        int fd = poll(&p, 1, kOperationTimeoutMs) == 1 ? accept(listener_, nullptr, nullptr) : -1;
        uint8_t q[300];
        while (fd >= 0 && Read(fd, q, 7) && q[5] < 200 && Read(fd, q + 7, q[5] - 1u)) {
            ++requests;
            const uint16_t record = (uint16_t)(q[12] << 8 | q[13]);
            std::vector<uint8_t>& stored = records_[record];
            size_t size = 7u + q[5] - 1u;
            if (q[7] == 21) {  // write: keep the record, echo the request
                stored.assign(q + 16, q + 32);
            } else {  // read: result code 1 and the record
                stored.resize(16);
                stored[0] = 0, stored[1] = 1;
                if (record == record_)
                    stored[(size_t)offset_] ^= 0xFF;
                const uint8_t head[] = {20, 18, 17, 6};
                std::copy(head, head + 4, q + 7);
                std::copy(stored.begin(), stored.end(), q + 11);
                size = 27, q[4] = 0, q[5] = 21;
            }
            if (send(fd, q, size, MSG_NOSIGNAL) != (ssize_t)size)
                break;
        }
        if (fd >= 0)
            close(fd);
    }
    int port_ = 0, listener_ = BindLoopback(SOCK_STREAM, &port_);
    uint16_t record_;
    int offset_;
    std::map<uint16_t, std::vector<uint8_t>> records_;
    std::thread thread_{[this] { Serve(); }};
};

using ReadBackEcho = RunnerSimTest;

TEST_F(ReadBackEcho, CountAndWordsMustMatchUnusedSlotsNeedNot)
{
    // A 16-byte image: record 1 holds three words, record 2 one word and two unused slots.
    const struct {
        const char* what;
        uint16_t record;
        int offset;
        AppState state;
    } cases[] = {
        {"word count of the last record", 2, 3, AppState::Error},
        {"second word of the first record", 1, 9, AppState::Error},
        {"header size field", 0, 7, AppState::Error},
        {"unused slot of the last record", 2, 10, AppState::Succeeded},
    };
    WriteText(scratch_ / "echo.bin", std::string(16, '\x5A'));
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        std::unique_ptr<ScriptedUnit> unit(new ScriptedUnit(c.record, c.offset));
        RunnerStart(unit->HostPort());
        runner_->ImageSet(SString((scratch_ / "echo.bin").c_str()));
        ASSERT_TRUE(runner_->WriteBegin(true));
        EXPECT_EQ(c.state, Finish()) << ui_->Dump();
        const bool failed = c.state == AppState::Error;
        EXPECT_EQ(failed ? LogStyleError : -1, ui_->StyleOf("Read data not equal write one")) << ui_->Dump();
        // The write stops at the record that failed: two requests per record up to it.
        EXPECT_EQ(failed ? 2 * (c.record + 1) : 6, unit->requests.load());
    }
}
}  // namespace
