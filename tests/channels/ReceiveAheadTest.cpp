// The TCP channel's read-ahead against a channel that makes one receive call per piece: the
// same byte arrivals and the same calls must give the same pieces, results and log lines.
#include <gtest/gtest.h>
#include <linux/sockios.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>
#include <chrono>
#include <functional>
#include <thread>
#include "channels/TalkChannel_TCP.h"
#include "tests/support/RecordingOwner.h"
#include "tests/support/ScriptedPeer.h"

namespace {

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
        if (!ok) ReportError("Receiving error", error);
        return ok;
    }
};

// Arrive: the peer's bytes, taken in by the client's kernel before the next step; Later: written
// shortly after the next read has started waiting; Drain: pieces of 64 until nothing more comes,
// the peer ends or a call fails, then the drain's drop.
struct Step {
    enum Kind { Arrive, Later, PeerEnd, PeerReset, Read, Drain, Shutdown, Close } kind;
    Bytes bytes;
    int size = 0;
};
Step Arrive(Bytes b) { return {Step::Arrive, std::move(b)}; }
Step Read(int size) { return {Step::Read, {}, size}; }
const Step kEnd{Step::PeerEnd, {}}, kReset{Step::PeerReset, {}}, kDrain{Step::Drain, {}, 64};
const Step kShutdown{Step::Shutdown, {}}, kClose{Step::Close, {}};

bool WaitFor(const std::function<bool()>& done)
{
    for (auto until = std::chrono::steady_clock::now() + std::chrono::seconds(10);
         !done() && std::chrono::steady_clock::now() < until;)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    return done();
}

// Everything the peer sent has been acknowledged by the client's kernel.
bool Delivered(int peer)
{
    return WaitFor([peer] {
        int queued = -1;
        return ioctl(peer, SIOCOUTQ, &queued) == 0 && queued == 0;
    });
}

// Runs the steps through one channel and returns what every call gave and logged, in order.
std::vector<std::string> Play(TalkChannel_TCP& ch, RecordingOwner& owner, const std::vector<Step>& steps)
{
    int port = 0, listener = BindLoopback(SOCK_STREAM, &port);
    if (listener == -1 || !ch.Open() || !ch.Connect(("127.0.0.1:" + std::to_string(port)).c_str())) return {"set-up"};
    int peer = accept(listener, nullptr, nullptr);
    close(listener);
    owner.Clear();   // the connect line names the port, which differs between runs
    std::vector<std::string> trace;
    std::thread late;
    for (const Step& s : steps) {
        if (s.kind == Step::Arrive) {
            send(peer, s.bytes.data(), s.bytes.size(), MSG_NOSIGNAL);
            if (!Delivered(peer)) trace.push_back("bytes not delivered");
        } else if (s.kind == Step::Later) {
            late = std::thread([peer, bytes = s.bytes] {
                std::this_thread::sleep_for(std::chrono::milliseconds(50));
                send(peer, bytes.data(), bytes.size(), MSG_NOSIGNAL);
            });
        } else if (s.kind == Step::PeerEnd) {
            shutdown(peer, SHUT_WR);
            if (!Delivered(peer)) trace.push_back("end not delivered");
        } else if (s.kind == Step::PeerReset) {
            linger l{1, 0};
            setsockopt(peer, SOL_SOCKET, SO_LINGER, &l, sizeof l);
            close(peer);
            peer = -1;
            const int client = ch.Socket();
            if (!WaitFor([client] {
                    tcp_info info{};
                    socklen_t len = sizeof info;
                    return getsockopt(client, IPPROTO_TCP, TCP_INFO, &info, &len) == 0 && info.tcpi_state == TCP_CLOSE;
                }))
                trace.push_back("reset not seen");
        } else if (s.kind == Step::Read || s.kind == Step::Drain) {
            for (int i = 0; i < 100; i++) {
                uint8_t buffer[512];
                int got = 0;
                bool end = false;
                bool ok = ch.Receive(buffer, s.size, &got, &end);
                trace.push_back("receive " + std::to_string(s.size) + ": ok " + std::to_string(ok) + " got " +
                                std::to_string(got) + " end " + std::to_string(end) + " [" +
                                HexText(buffer, got > 0 ? (size_t)got : 0) + "]");
                if (late.joinable()) late.join();
                if (s.kind == Step::Read || !ok || end || got == 0) break;
            }
            if (s.kind == Step::Drain) ch.DropReceived();
        } else if (s.kind == Step::Shutdown) {
            bool ok = false;
            std::thread([&] { ok = ch.Shutdown(); }).join();
            trace.push_back("shutdown " + std::to_string(ok));
        } else {
            trace.push_back("close " + std::to_string(ch.Close()));
        }
    }
    if (late.joinable()) late.join();
    ch.Close();
    if (peer != -1) close(peer);
    for (const std::string& line : owner.Styled()) trace.push_back("log " + line);
    return trace;
}

// A Read File Record answer (MBAP header, function code, 16 bytes of data) and the next one.
const Bytes kAnswer = Hex("00 7B 00 00 00 12 01 14 10 11 12 13 14 15 16 17 18 19 1A 1B 1C 1D 1E 1F");
const Bytes kSecond = Hex("00 7C 00 00 00 12 01 14 20 21 22 23 24 25 26 27 28 29 2A 2B 2C 2D 2E 2F");
Bytes Part(const Bytes& b, size_t from, size_t count) { return Bytes(b.begin() + from, b.begin() + from + count); }
Bytes Filled(size_t count)
{
    Bytes b(count);
    for (size_t i = 0; i < count; i++) b[i] = (uint8_t)(i * 7);
    return b;
}
std::vector<Step> With(std::vector<Step> a, const std::vector<Step>& b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

TEST(ReceiveAhead, SamePiecesAsOneReceiveCallPerPiece)
{
    const std::vector<Step> pieces = {Read(7), Read(1), Read(16)};
    const Bytes answerAndStart = Concat({kAnswer, Part(kSecond, 0, 3)});
    const struct { const char* name; std::vector<Step> steps; int timeoutMs; } cases[] = {
        {"one segment", With({Arrive(kAnswer)}, With(pieces, {Read(7)})), 200},
        {"split inside the header",
         {Arrive(Part(kAnswer, 0, 5)), Read(7), Arrive(Part(kAnswer, 5, 19)), Read(2), Read(1), Read(16)}, 200},
        {"byte by byte",
         {Arrive(Part(kAnswer, 0, 1)), Read(7), Arrive(Part(kAnswer, 1, 1)), Read(6), Arrive(Part(kAnswer, 2, 5)),
          Read(5), Read(1), Arrive(Part(kAnswer, 7, 17)), Read(1), Read(16)}, 200},
        {"delayed after a time-out", With({Read(7), Arrive(kAnswer)}, pieces), 200},
        {"arrives while the call waits", With({{Step::Later, kAnswer}}, pieces), 5000},
        {"closed mid-answer", {Arrive(Part(kAnswer, 0, 3)), kEnd, Read(7), Read(4), Read(4)}, 200},
        {"closed after the answer", With({Arrive(kAnswer), kEnd}, With(pieces, {Read(7), Read(7)})), 200},
        {"reset mid-answer", {Arrive(Part(kAnswer, 0, 3)), kReset, Read(7), Read(4), Read(4)}, 200},
        {"two answers in one segment", With({Arrive(Concat({kAnswer, kSecond}))}, With(pieces, With(pieces, {Read(7)}))),
         200},
        {"answer and the next one's start",
         With({Arrive(answerAndStart)}, With(pieces, {Read(7), Arrive(Part(kSecond, 3, 21)), Read(4), Read(1), Read(16)})),
         200},
        {"held bytes joined by newer ones",
         With({Arrive(answerAndStart)}, With(pieces, {Arrive(Part(kSecond, 3, 10)), Read(7), Read(17)})), 200},
        {"held bytes, then the peer ends", With({Arrive(answerAndStart), kEnd}, With(pieces, {Read(7), Read(7)})), 200},
        {"held bytes, then a reset", With({Arrive(answerAndStart)}, With(pieces, {kReset, Read(7), Read(7)})), 200},
        {"single-byte reads", {Arrive(Part(kAnswer, 0, 4)), Read(1), Read(1), Read(1), Read(1), Read(1)}, 200},
        {"reads longer than the read-ahead",
         {Arrive(Filled(300)), Read(300), Arrive(Filled(300)), Read(7), Read(300), Arrive(Filled(100)), Read(290)}, 200},
        {"drain of garbage, then the next answer", With({Arrive(Filled(100)), Read(7), kDrain, Arrive(kAnswer)}, pieces),
         200},
        {"drain ended by the peer", {Arrive(Filled(150)), kEnd, Read(7), kDrain, Read(7)}, 200},
        {"shutdown with bytes held",
         {Arrive(Concat({kAnswer, kSecond})), Read(7), kShutdown, Read(1), Read(16), kClose, Read(7)}, 200},
        {"shutdown before anything came", {kShutdown, Read(7), kClose}, 200},
        {"empty and negative sizes", {Arrive(kAnswer), Read(0), Read(-1), Read(7), Read(0), Read(17)}, 200},
    };
    for (const auto& c : cases) {
        RecordingOwner plainOwner, aheadOwner;
        plainOwner.talkLog = aheadOwner.talkLog = true;
        OneCallChannel plain(&plainOwner, "U", c.timeoutMs);
        TalkChannel_TCP ahead(&aheadOwner, "U", c.timeoutMs);
        std::vector<std::string> want = Play(plain, plainOwner, c.steps), got = Play(ahead, aheadOwner, c.steps);
        for (size_t i = 0; i < std::max(want.size(), got.size()); i++)
            EXPECT_EQ(i < got.size() ? got[i] : "(none)", i < want.size() ? want[i] : "(none)")
                << c.name << ", entry " << i;
    }
}

} // namespace
