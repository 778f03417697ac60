// Test owner of a channel: keeps every log line with its style (and mode, when not a plain line),
// translates with the program's own message builders, answers the stop and talk-log polls from flags.
#pragma once
#include <atomic>
#include <mutex>
#include <string>
#include <vector>
#include "base/Messages.h"
#include "channels/TalkChannel.h"

class RecordingOwner : public TalkChannelExtI {
public:
    void LogMessage(const SString& message, int style, int mode) override
    {
        std::lock_guard<std::mutex> lock(mutex_);
        lines_.push_back(std::to_string(style) + (mode ? "/" + std::to_string((uint32_t)mode) : "") + "|" +
                         message.Text());
    }
    SString MessageText(const char* msgid, const char* a0, const char* a1, const char* a2, const char* a3) override
    {
        return !a0 && !a1 && !a2 && !a3 ? Tr(msgid) : TrArgs(msgid, a0, a1, a2, a3);
    }
    // True for stopAfterPolls polls (negative: for ever), then false for good.
    bool IsRunning() override
    {
        int left = stopAfterPolls;
        if (left > 0) stopAfterPolls = left - 1;
        stopped = stopped || left == 0;
        return left != 0;
    }
    bool IsTalkLog() override { return talkLog; }

    // Every line as "<style>[/<mode>]|<text>", the form the tests compare against.
    std::vector<std::string> Styled()
    {
        std::lock_guard<std::mutex> lock(mutex_);
        return lines_;
    }
    void Clear()
    {
        std::lock_guard<std::mutex> lock(mutex_);
        lines_.clear();
    }

    std::atomic<bool> talkLog{false};
    std::atomic<int> stopAfterPolls{-1};
    std::atomic<bool> stopped{false};   // once IsRunning has answered false

private:
    std::mutex mutex_;
    std::vector<std::string> lines_;
};
