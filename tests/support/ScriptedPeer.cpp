#include "tests/support/ScriptedPeer.h"
#include <algorithm>
#include <arpa/inet.h>
#include <cstdlib>
#include <poll.h>
#include <unistd.h>

namespace {
const int kSliceMs = 50;          // how often the peer thread looks at the stop flag
const int kAcceptWaitMs = 20000;  // a client that never connects or sends fails the script
const int kTailWaitMs = 30000;    // how long the peer keeps a finished connection open
} // namespace

std::string HexText(const uint8_t* data, size_t size)
{
    std::string out;
    for (size_t i = 0; i < size; i++) out += {"0123456789ABCDEF"[data[i] >> 4], "0123456789ABCDEF"[data[i] & 15], ' '};
    return out;
}

Bytes Hex(const char* text)
{
    Bytes out;
    for (char* end; *text; text = end) {
        unsigned long v = strtoul(text, &end, 16);
        if (end == text) end++;
        else out.push_back((uint8_t)v);
    }
    return out;
}

Bytes Concat(std::initializer_list<Bytes> parts)
{
    Bytes out;
    for (const Bytes& p : parts) out.insert(out.end(), p.begin(), p.end());
    return out;
}

int BindLoopback(int type, int* port, const char* address)
{
    int fd = socket(AF_INET, type, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = inet_addr(address);
    a.sin_port = htons((uint16_t)*port);
    socklen_t len = sizeof a;
    if (fd == -1 || bind(fd, (sockaddr*)&a, sizeof a) != 0 || (type == SOCK_STREAM && listen(fd, 4) != 0) ||
        getsockname(fd, (sockaddr*)&a, &len) != 0) {
        if (fd != -1) close(fd);
        return -1;
    }
    *port = ntohs(a.sin_port);
    return fd;
}

ScriptedPeer::~ScriptedPeer()
{
    stop_ = true;
    if (thread_.joinable()) thread_.join();
    if (listener_ != -1) close(listener_);
}

bool ScriptedPeer::Start()
{
    listener_ = BindLoopback(SOCK_STREAM, &port_);
    if (listener_ != -1) thread_ = std::thread([this] { Run(); });
    return listener_ != -1;
}

std::vector<std::string> ScriptedPeer::Problems()
{
    std::lock_guard<std::mutex> lock(mutex_);
    return problems_;
}

void ScriptedPeer::Problem(const std::string& text)
{
    std::lock_guard<std::mutex> lock(mutex_);
    problems_.push_back(text);
}

bool ScriptedPeer::Readable(int fd, int timeoutMs)
{
    pollfd p{fd, POLLIN, 0};
    for (int waited = 0; waited < timeoutMs && !stop_; waited += kSliceMs)
        if (poll(&p, 1, kSliceMs) > 0) return true;
    return false;
}

void ScriptedPeer::RunScript(int fd, size_t index)
{
    const std::string where = "connection " + std::to_string(index) + ": ";
    for (const PeerStep& step : scripts_[index]) {
        const std::string want = HexText(step.bytes.data(), step.bytes.size());
        if (step.kind == PeerStep::Expect) {
            Bytes got(step.bytes.size());
            size_t done = 0;
            for (ssize_t n = 1; done < got.size() && n > 0 && Readable(fd, kAcceptWaitMs); done += (size_t)n)
                n = std::max<ssize_t>(0, recv(fd, got.data() + done, got.size() - done, 0));
            if (done < got.size()) return Problem(where + "missing request " + want), (void)close(fd);
            if (got != step.bytes)
                Problem(where + "request " + HexText(got.data(), got.size()) + "!= expected " + want);
        } else if (step.kind == PeerStep::Send) {
            if (send(fd, step.bytes.data(), step.bytes.size(), MSG_NOSIGNAL) != (ssize_t)step.bytes.size())
                Problem(where + "send failed");
        } else if (step.kind == PeerStep::Delay) {
            // Against the clock: sleeps overshoot on a loaded machine, and a late answer must not drift.
            auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(step.ms);
            WaitUntil([&] { return stop_ || std::chrono::steady_clock::now() >= until; }, step.ms + 1000);
        } else {
            linger l{1, 0};
            if (step.kind == PeerStep::Reset) setsockopt(fd, SOL_SOCKET, SO_LINGER, &l, sizeof l);
            return (void)close(fd);
        }
    }
    // Script over: anything more the client sends is unexpected; wait for the client to go.
    uint8_t extra[4096];
    for (ssize_t n, reported = 0; Readable(fd, kTailWaitMs) && (n = recv(fd, extra, sizeof extra, 0)) > 0;
         reported = 1)
        if (!reported) Problem(where + "unexpected bytes " + HexText(extra, std::min<size_t>((size_t)n, 64)));
    close(fd);
}

void ScriptedPeer::Run()
{
    for (size_t i = 0; i < scripts_.size() && !stop_; i++) {
        if (!Readable(listener_, kAcceptWaitMs)) {
            if (!stop_) Problem("connection " + std::to_string(i) + " never came");
            break;
        }
        int fd = accept(listener_, nullptr, nullptr);
        if (fd != -1) RunScript(fd, i);
    }
    done_ = true;
}
