// A channel without a socket: Send only counts, Receive hands out a loaded answer in pieces
// whose sizes a callback picks, then either end of stream or one time-out and end of stream.
#pragma once
#include <algorithm>
#include <cstring>
#include <functional>
#include <vector>
#include "channels/TalkChannel.h"

class MemoryChannel : public TalkChannel {
public:
    // pieceSize: the most bytes the next Receive may deliver (at least 1 is used).
    MemoryChannel(TalkChannelExtI* owner, std::function<size_t()> pieceSize)
        : TalkChannel(owner, ""), pieceSize_(std::move(pieceSize))
    {
    }
    void Load(const uint8_t* answer, size_t size, bool timeoutAtEnd)
    {
        answer_.assign(answer, answer + size);
        at_ = 0;
        timeoutAtEnd_ = timeoutAtEnd;
    }
    bool Open() override { return true; }
    bool Close() override { return true; }
    bool Shutdown() override { return true; }
    bool IsOpened() override { return true; }
    void ReportError(const char*, int, const char*, const char*) override {}
    bool Send(const void* data, int size) override
    {
        if (!data || size > largestSend) largestSend = data ? size : -1;
        sends++;
        return true;
    }
    bool Receive(void* buffer, int size, int* received, bool* end) override
    {
        *received = 0;
        *end = false;
        if (size <= 0) badReceives++;
        if (at_ >= answer_.size()) {
            *end = !timeoutAtEnd_;
            timeoutAtEnd_ = false;
            return true;
        }
        size_t n = std::min({(size_t)std::max(size, 0), answer_.size() - at_, std::max<size_t>(1, pieceSize_())});
        memcpy(buffer, answer_.data() + at_, n);
        at_ += n;
        *received = (int)n;
        return true;
    }

    int sends = 0;
    int largestSend = 0;    // -1 after a send without data
    int badReceives = 0;    // receives asked for no room at all

private:
    std::function<size_t()> pieceSize_;
    std::vector<uint8_t> answer_;
    size_t at_ = 0;
    bool timeoutAtEnd_ = false;
};
