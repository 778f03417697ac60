#include "tests/channels/ScriptedPeer.h"
#include <arpa/inet.h>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {
const int kSliceMs = 50;          // how often the peer thread looks at the stop flag
const int kAcceptWaitMs = 20000;  // a client that never connects fails the script
const int kTailWaitMs = 30000;    // how long the peer keeps a finished connection open
} // namespace

std::string HexText(const uint8_t* data, size_t size)
{
    std::string out;
    char b[4];
    for (size_t i = 0; i < size; i++) {
        snprintf(b, sizeof b, "%02X ", data[i]);
        out += b;
    }
    return out;
}

Bytes Hex(const char* text)
{
    Bytes out;
    while (*text) {
        char* end;
        unsigned long v = strtoul(text, &end, 16);
        if (end == text) {
            text++;
            continue;
        }
        out.push_back((uint8_t)v);
        text = end;
    }
    return out;
}

Bytes Concat(std::initializer_list<Bytes> parts)
{
    Bytes out;
    for (const Bytes& p : parts) out.insert(out.end(), p.begin(), p.end());
    return out;
}

ScriptedPeer::ScriptedPeer(std::vector<Script> connections) : scripts_(std::move(connections)) {}

ScriptedPeer::~ScriptedPeer()
{
    stop_ = true;
    if (thread_.joinable()) thread_.join();
    if (listener_ != -1) close(listener_);
}

bool ScriptedPeer::Start()
{
    listener_ = socket(AF_INET, SOCK_STREAM, 0);
    if (listener_ == -1) return false;
    sockaddr_in a;
    memset(&a, 0, sizeof a);
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    if (bind(listener_, (sockaddr*)&a, sizeof a) != 0 || listen(listener_, 4) != 0 ||
        getsockname(listener_, (sockaddr*)&a, &len) != 0)
        return false;
    port_ = ntohs(a.sin_port);
    thread_ = std::thread([this] { Run(); });
    return true;
}

bool ScriptedPeer::Finish(int timeoutMs)
{
    for (int waited = 0; !done_ && waited < timeoutMs; waited += 10)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    return done_;
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

bool ScriptedPeer::ReadExact(int fd, uint8_t* buffer, size_t size, int timeoutMs)
{
    size_t done = 0;
    for (int waited = 0; done < size && waited < timeoutMs && !stop_;) {
        pollfd p{fd, POLLIN, 0};
        int r = poll(&p, 1, kSliceMs);
        if (r == 0) {
            waited += kSliceMs;
            continue;
        }
        ssize_t n = recv(fd, buffer + done, size - done, 0);
        if (n <= 0) return false;
        done += (size_t)n;
    }
    return done == size;
}

void ScriptedPeer::RunScript(int fd, size_t index)
{
    const std::string where = "connection " + std::to_string(index) + ": ";
    for (const PeerStep& step : scripts_[index]) {
        switch (step.kind) {
        case PeerStep::Expect: {
            Bytes got(step.bytes.size());
            if (!ReadExact(fd, got.data(), got.size(), kAcceptWaitMs)) {
                Problem(where + "missing request " + HexText(step.bytes.data(), step.bytes.size()));
                close(fd);
                return;
            }
            if (got != step.bytes)
                Problem(where + "request " + HexText(got.data(), got.size()) + "!= expected " +
                        HexText(step.bytes.data(), step.bytes.size()));
            break;
        }
        case PeerStep::Send:
            if (send(fd, step.bytes.data(), step.bytes.size(), MSG_NOSIGNAL) != (ssize_t)step.bytes.size())
                Problem(where + "send failed");
            break;
        case PeerStep::Delay:
            for (int waited = 0; waited < step.ms && !stop_; waited += 10)
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
            break;
        case PeerStep::Close:
            close(fd);
            return;
        case PeerStep::Reset: {
            linger l{1, 0};
            setsockopt(fd, SOL_SOCKET, SO_LINGER, &l, sizeof l);
            close(fd);
            return;
        }
        }
    }
    // Script over: anything more the client sends is unexpected (the first piece is kept);
    // wait for the client to go away.
    bool reported = false;
    for (int waited = 0; waited < kTailWaitMs && !stop_;) {
        pollfd p{fd, POLLIN, 0};
        if (poll(&p, 1, kSliceMs) == 0) {
            waited += kSliceMs;
            continue;
        }
        uint8_t extra[4096];
        ssize_t n = recv(fd, extra, sizeof extra, 0);
        if (n <= 0) break;
        if (!reported) Problem(where + "unexpected bytes " + HexText(extra, std::min((size_t)n, (size_t)64)));
        reported = true;
    }
    close(fd);
}

void ScriptedPeer::Run()
{
    for (size_t i = 0; i < scripts_.size() && !stop_; i++) {
        int fd = -1;
        for (int waited = 0; fd == -1 && waited < kAcceptWaitMs && !stop_;) {
            pollfd p{listener_, POLLIN, 0};
            if (poll(&p, 1, kSliceMs) == 0) {
                waited += kSliceMs;
                continue;
            }
            fd = accept(listener_, nullptr, nullptr);
        }
        if (fd == -1) {
            if (!stop_) Problem("connection " + std::to_string(i) + " never came");
            break;
        }
        accepted_++;
        RunScript(fd, i);
    }
    done_ = true;
}
