// The TCP channel's read-ahead against a channel that makes one receive call per piece: the
// same byte arrivals and the same calls must give the same pieces, results and log lines.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <linux/sockios.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>
#include <chrono>
#include <functional>
#include <memory>
#include <thread>
#include "channels/SocketError.h"
#include "channels/TalkChannel_TCP.h"
#include "tests/channels/RecordingOwner.h"
#include "tests/channels/ScriptedPeer.h"

namespace {

using Clock = std::chrono::steady_clock;

// The reading without read-ahead: every Receive is one receive call of at most size bytes.
class OneCallChannel : public TalkChannel_TCP {
public:
    using TalkChannel_TCP::TalkChannel_TCP;
    bool Receive(void* buffer, int size, int* received, bool* end) override
    {
        *received = -1;
        *end = false;
        if (!IsOpened()) {
            ReportError("Receiving error", 0, "Socket not opened");
            return false;
        }
        int result = (int)recv(Socket(), buffer, size > 0 ? (size_t)size : 0, 0);
        int error = result < 0 ? LastError() : 0;
        bool ok = SettleReceive(result, error, end);
        *received = result;
        if (owner_->IsTalkLog()) TrafficLog(buffer, result, false);
        if (!ok) {
            ReportError("Receiving error", error);
            return false;
        }
        return true;
    }
};

struct Step {
    enum Kind { Arrive, ArriveLater, PeerEnd, PeerReset, Read, Drain, Shutdown, Close } kind;
    Bytes bytes;
    int size = 0;
};
Step Arrive(Bytes b) { return {Step::Arrive, std::move(b)}; }
// Written by another thread shortly after the next Read has started waiting.
Step ArriveLater(Bytes b) { return {Step::ArriveLater, std::move(b)}; }
Step PeerEnd() { return {Step::PeerEnd, {}}; }
Step PeerReset() { return {Step::PeerReset, {}}; }
Step Read(int size) { return {Step::Read, {}, size}; }
Step DrainAll() { return {Step::Drain, {}}; }
Step ShutdownFromOtherThread() { return {Step::Shutdown, {}}; }
Step CloseChannel() { return {Step::Close, {}}; }

bool WaitFor(const std::function<bool()>& done, int ms = 5000)
{
    for (auto until = Clock::now() + std::chrono::milliseconds(ms); Clock::now() < until;) {
        if (done()) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return done();
}

// Everything the peer sent has been taken in by the client's kernel (acknowledged).
bool Delivered(int peer)
{
    return WaitFor([peer] {
        int queued = -1;
        return ioctl(peer, SIOCOUTQ, &queued) == 0 && queued == 0;
    });
}

int TcpState(int fd)
{
    tcp_info info{};
    socklen_t len = sizeof info;
    return getsockopt(fd, IPPROTO_TCP, TCP_INFO, &info, &len) == 0 ? info.tcpi_state : -1;
}

// Runs the steps through one channel and returns what every call gave and logged, in order.
std::vector<std::string> Play(TalkChannel_TCP& ch, RecordingOwner& owner, const std::vector<Step>& steps)
{
    std::vector<std::string> trace;
    int listener = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    if (bind(listener, (sockaddr*)&a, sizeof a) != 0 || listen(listener, 1) != 0 ||
        getsockname(listener, (sockaddr*)&a, &len) != 0 || !ch.Open() ||
        !ch.Connect(SString(("127.0.0.1:" + std::to_string(ntohs(a.sin_port))).c_str()))) {
        close(listener);
        return {"set-up failed"};
    }
    int peer = accept(listener, nullptr, nullptr);
    close(listener);
    owner.Clear();  // the connect line names the port, which differs between runs
    const int client = ch.Socket();
    std::thread late;
    for (const Step& s : steps) {
        switch (s.kind) {
        case Step::Arrive:
            send(peer, s.bytes.data(), s.bytes.size(), MSG_NOSIGNAL);
            if (!Delivered(peer)) trace.push_back("bytes not delivered");
            break;
        case Step::ArriveLater:
            late = std::thread([peer, bytes = s.bytes] {
                std::this_thread::sleep_for(std::chrono::milliseconds(50));
                send(peer, bytes.data(), bytes.size(), MSG_NOSIGNAL);
            });
            break;
        case Step::PeerEnd:
            shutdown(peer, SHUT_WR);
            if (!Delivered(peer)) trace.push_back("end not delivered");
            break;
        case Step::PeerReset: {
            linger l{1, 0};
            setsockopt(peer, SOL_SOCKET, SO_LINGER, &l, sizeof l);
            close(peer);
            peer = -1;
            if (!WaitFor([client] { return TcpState(client) == TCP_CLOSE; })) trace.push_back("reset not seen");
            break;
        }
        case Step::Read:
        case Step::Drain: {
            // A drain takes pieces of 64 until nothing more comes, the peer ends or a call fails.
            const int size = s.kind == Step::Read ? s.size : 64;
            for (int i = 0; i < 100; i++) {
                uint8_t buffer[512];
                int got = 0;
                bool end = false;
                bool ok = ch.Receive(buffer, size, &got, &end);
                trace.push_back("receive " + std::to_string(size) + ": ok " + std::to_string(ok) + " got " +
                                std::to_string(got) + " end " + std::to_string(end) + " [" +
                                HexText(buffer, got > 0 ? (size_t)got : 0) + "]");
                if (late.joinable()) late.join();
                if (s.kind == Step::Read || !ok || end || got == 0) break;
            }
            if (s.kind == Step::Drain) ch.DropReceived();
            break;
        }
        case Step::Shutdown: {
            bool ok = false;
            std::thread([&] { ok = ch.Shutdown(); }).join();
            trace.push_back("shutdown " + std::to_string(ok));
            break;
        }
        case Step::Close:
            trace.push_back("close " + std::to_string(ch.Close()));
            break;
        }
    }
    if (late.joinable()) late.join();
    ch.Close();
    if (peer != -1) close(peer);
    for (const std::string& line : owner.Styled()) trace.push_back("log " + line);
    return trace;
}

struct ArrivalCase {
    const char* name;
    std::vector<Step> steps;
    int timeoutMs = 200;
};

// A Read File Record answer: MBAP header, function code and 16 bytes of data.
const Bytes kAnswer = Hex("00 7B 00 00 00 12 01 14 10 11 12 13 14 15 16 17 18 19 1A 1B 1C 1D 1E 1F");
const Bytes kSecond = Hex("00 7C 00 00 00 12 01 14 20 21 22 23 24 25 26 27 28 29 2A 2B 2C 2D 2E 2F");
Bytes Part(const Bytes& b, size_t from, size_t count) { return Bytes(b.begin() + from, b.begin() + from + count); }
Bytes Filled(size_t count)
{
    Bytes b(count);
    for (size_t i = 0; i < count; i++) b[i] = (uint8_t)(i * 7);
    return b;
}

TEST(ReceiveAhead, SamePiecesAsOneReceiveCallPerPiece)
{
    const std::vector<Step> answerPieces = {Read(7), Read(1), Read(16)};
    auto with = [](std::vector<Step> a, const std::vector<Step>& b) {
        a.insert(a.end(), b.begin(), b.end());
        return a;
    };
    const ArrivalCase cases[] = {
        {"one segment", with({Arrive(kAnswer)}, with(answerPieces, {Read(7)}))},
        {"split inside the header",
         {Arrive(Part(kAnswer, 0, 5)), Read(7), Arrive(Part(kAnswer, 5, 19)), Read(2), Read(1), Read(16)}},
        {"byte by byte",
         {Arrive(Part(kAnswer, 0, 1)), Read(7), Arrive(Part(kAnswer, 1, 1)), Read(6), Arrive(Part(kAnswer, 2, 5)),
          Read(5), Read(1), Arrive(Part(kAnswer, 7, 17)), Read(1), Read(16)}},
        {"delayed after a time-out", with({Read(7), Arrive(kAnswer)}, answerPieces)},
        {"arrives while the call waits", with({ArriveLater(kAnswer)}, answerPieces), 5000},
        {"closed mid-answer", {Arrive(Part(kAnswer, 0, 3)), PeerEnd(), Read(7), Read(4), Read(4)}},
        {"closed after the answer", with({Arrive(kAnswer), PeerEnd()}, with(answerPieces, {Read(7), Read(7)}))},
        {"reset mid-answer", {Arrive(Part(kAnswer, 0, 3)), PeerReset(), Read(7), Read(4), Read(4)}},
        {"two answers in one segment",
         with({Arrive(Concat({kAnswer, kSecond}))}, with(answerPieces, with(answerPieces, {Read(7)})))},
        {"answer and the next one's start",
         with({Arrive(Concat({kAnswer, Part(kSecond, 0, 3)}))},
              with(answerPieces, {Read(7), Arrive(Part(kSecond, 3, 21)), Read(4), Read(1), Read(16)}))},
        {"held bytes joined by newer ones",
         with({Arrive(Concat({kAnswer, Part(kSecond, 0, 3)}))},
              with(answerPieces, {Arrive(Part(kSecond, 3, 10)), Read(7), Read(17)}))},
        {"held bytes, then the peer ends",
         with({Arrive(Concat({kAnswer, Part(kSecond, 0, 3)})), PeerEnd()}, with(answerPieces, {Read(7), Read(7)}))},
        {"held bytes, then a reset",
         with({Arrive(Concat({kAnswer, Part(kSecond, 0, 3)}))}, with(answerPieces, {PeerReset(), Read(7), Read(7)}))},
        {"single-byte reads", {Arrive(Part(kAnswer, 0, 4)), Read(1), Read(1), Read(1), Read(1), Read(1)}},
        {"reads longer than the read-ahead",
         {Arrive(Filled(300)), Read(300), Arrive(Filled(300)), Read(7), Read(300), Arrive(Filled(100)), Read(290)}},
        {"drain of garbage, then the next answer",
         with({Arrive(Filled(100)), Read(7), DrainAll(), Arrive(kAnswer)}, answerPieces)},
        {"drain ended by the peer", {Arrive(Filled(150)), PeerEnd(), Read(7), DrainAll(), Read(7)}},
        {"shutdown with bytes held",
         {Arrive(Concat({kAnswer, kSecond})), Read(7), ShutdownFromOtherThread(), Read(1), Read(16), CloseChannel(),
          Read(7)}},
        {"shutdown before anything came", {ShutdownFromOtherThread(), Read(7), CloseChannel()}},
        {"empty and negative sizes", {Arrive(kAnswer), Read(0), Read(-1), Read(7), Read(0), Read(17)}},
    };
    for (const ArrivalCase& c : cases) {
        RecordingOwner plainOwner, aheadOwner;
        plainOwner.talkLog = true;
        aheadOwner.talkLog = true;
        OneCallChannel plain(&plainOwner, "U", c.timeoutMs);
        TalkChannel_TCP ahead(&aheadOwner, "U", c.timeoutMs);
        std::vector<std::string> want = Play(plain, plainOwner, c.steps);
        std::vector<std::string> got = Play(ahead, aheadOwner, c.steps);
        ASSERT_FALSE(want.empty()) << c.name;
        for (size_t i = 0; i < std::max(want.size(), got.size()); i++) {
            EXPECT_EQ(i < got.size() ? got[i] : "(none)", i < want.size() ? want[i] : "(none)")
                << c.name << ", entry " << i;
        }
    }
}

}  // namespace
