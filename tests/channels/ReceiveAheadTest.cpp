// The TCP channel's read-ahead against a channel that makes one receive call per piece: the
// same byte arrivals and the same calls must give the same pieces, results and log lines.
#include <gtest/gtest.h>
#include <linux/sockios.h>
#include <poll.h>
#include <sstream>
#include <sys/ioctl.h>
#include <unistd.h>
#include "channels/TalkChannel_TCP.h"
#include "tests/support/RecordingOwner.h"
#include "tests/support/ScriptedPeer.h"

namespace {

// The reading without read-ahead on an open channel: every Receive is one receive call of at most
// size bytes.
struct OneCallChannel : TalkChannel_TCP {
    using TalkChannel_TCP::TalkChannel_TCP;
    bool Receive(void* buffer, int size, int* received, bool* end) override
    {
        int result = (int)recv(Socket(), buffer, size > 0 ? (size_t)size : 0, 0);
        int error = result < 0 ? LastError() : 0;
        bool ok = SettleReceive(result, error, end);
        *received = result;
        if (owner_->IsTalkLog()) TrafficLog(buffer, result, false);
        if (!ok) ReportError("Receiving error", error);
        return ok;
    }
};

// The bytes of an arrival: a Read File Record answer A (MBAP header, function code, 16 bytes of
// data), the next one B, or F: 300 bytes of anything; "A3-24" is A from byte 3 to byte 24.
Bytes Source(const std::string& token)
{
    static const Bytes a = Hex("00 7B 00 00 00 12 01 14 10 11 12 13 14 15 16 17 18 19 1A 1B 1C 1D 1E 1F");
    static const Bytes b = Hex("00 7C 00 00 00 12 01 14 20 21 22 23 24 25 26 27 28 29 2A 2B 2C 2D 2E 2F");
    Bytes f(300);
    for (size_t i = 0; i < f.size(); i++) f[i] = (uint8_t)(i * 7);
    const Bytes& all = token[0] == 'A' ? a : token[0] == 'B' ? b : f;
    return Bytes(all.begin() + std::stoi(token.substr(1)), all.begin() + std::stoi(token.substr(token.find('-') + 1)));
}

// Runs the steps through one channel and returns what every call gave and logged, in order.
// Steps: rN a receive of N bytes; A, B, F bytes that arrive (their taking in by the client's
// kernel acknowledged); e the peer ends, x it resets.
std::vector<std::string> Play(TalkChannel_TCP& ch, RecordingOwner& owner, const std::string& steps)
{
    int port = 0, listener = BindLoopback(SOCK_STREAM, &port);
    if (listener == -1 || !ch.Open() || !ch.Connect(("127.0.0.1:" + std::to_string(port)).c_str())) return {"set-up"};
    int peer = accept(listener, nullptr, nullptr), client = ch.Socket();
    close(listener);
    owner.Clear();   // the connect line names the port, which differs between runs
    std::vector<std::string> trace;
    auto delivered = [&peer] {
        return WaitUntil([&] { int q = -1; return ioctl(peer, SIOCOUTQ, &q) == 0 && q == 0; }, 10000);
    };
    std::istringstream in(steps);
    for (std::string s; in >> s;) {
        if (s[0] == 'A' || s[0] == 'B' || s[0] == 'F' || s == "e") {
            Bytes bytes = s == "e" ? Bytes() : Source(s);
            s == "e" ? shutdown(peer, SHUT_WR) : (int)send(peer, bytes.data(), bytes.size(), MSG_NOSIGNAL);
            if (!delivered()) trace.push_back("not delivered");
        } else if (s == "x") {
            linger l{1, 0};
            setsockopt(peer, SOL_SOCKET, SO_LINGER, &l, sizeof l);
            close(peer);
            peer = -1;
            auto reset = [client] { pollfd p{client, 0, 0}; return poll(&p, 1, 0) == 1 && (p.revents & POLLERR); };
            if (!WaitUntil(reset, 10000)) trace.push_back("reset not seen");
        } else {
            uint8_t buffer[512];
            int got = 0;
            bool end = false, ok = ch.Receive(buffer, std::stoi(s.substr(1)), &got, &end);
            trace.push_back(s + ": ok " + std::to_string(ok) + " got " + std::to_string(got) + " end " +
                            std::to_string(end) + " [" + HexText(buffer, got > 0 ? (size_t)got : 0) + "]");
        }
    }
    ch.Close();
    if (peer != -1) close(peer);
    for (const std::string& line : owner.Styled()) trace.push_back("log " + line);
    return trace;
}

TEST(ReceiveAhead, SamePiecesAsOneReceiveCallPerPiece)
{
    const char* cases[][2] = {
        {"one segment", "A0-24 r7 r1 r16 r7"},
        {"byte by byte", "A0-1 r7 A1-2 r6 A2-7 r5 r1 A7-24 r1 r16"},
        {"delayed after a time-out", "r7 A0-24 r7 r1 r16"},
        {"closed mid-answer", "A0-3 e r7 r4 r4"},
        {"reset mid-answer", "A0-3 x r7 r4 r4"},
        {"answer and the next one's start", "A0-24 B0-3 r7 r1 r16 r7 B3-24 r4 r1 r16"},
        {"held bytes joined by newer ones", "A0-24 B0-3 r7 r1 r16 B3-13 r7 r17"},
        {"held bytes, then the peer ends", "A0-24 B0-3 e r7 r1 r16 r7 r7"},
        {"held bytes, then a reset", "A0-24 B0-3 r7 r1 r16 x r7 r7"},
        {"reads longer than the read-ahead", "F0-300 r300 F0-300 r7 r300 F0-100 r290"},
        {"garbage read in pieces of 64, then the next answer", "F0-100 r7 r64 r64 A0-24 r7 r1 r16"},
        {"garbage read in pieces, then the peer ends", "F0-150 e r7 r64 r64 r64 r7"},
        {"empty and negative sizes", "A0-24 r0 r-1 r7 r0 r17"},
    };
    for (const auto& c : cases) {
        RecordingOwner plainOwner, aheadOwner;
        plainOwner.talkLog = aheadOwner.talkLog = true;
        OneCallChannel plain(&plainOwner, "U", 200);   // the socket time-out ends a receive that finds nothing
        TalkChannel_TCP ahead(&aheadOwner, "U", 200);
        std::vector<std::string> want = Play(plain, plainOwner, c[1]);
        EXPECT_GT(want.size(), 1u) << c[0];
        EXPECT_EQ(Play(ahead, aheadOwner, c[1]), want) << c[0];
    }
}

} // namespace
