// Test owner of a channel: keeps every log line with its style and mode, translates with the
// program's own message builders and answers the stop and talk-log polls from flags.
#pragma once
#include <atomic>
#include <mutex>
#include <string>
#include <vector>
#include "base/Messages.h"
#include "channels/TalkChannel.h"

struct LoggedLine {
    std::string text;
    int style;
    int mode;
};

class RecordingOwner : public TalkChannelExtI {
public:
    void LogMessage(const SString& message, int style, int mode) override
    {
        std::lock_guard<std::mutex> lock(mutex_);
        lines_.push_back({message.Text(), style, mode});
    }
    SString MessageText(const char* msgid, const char* a0, const char* a1, const char* a2,
                        const char* a3) override
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

    std::vector<LoggedLine> Lines()
    {
        std::lock_guard<std::mutex> lock(mutex_);
        return lines_;
    }
    // Every line as "<style>|<text>", the form the tests compare against.
    std::vector<std::string> Styled()
    {
        std::vector<std::string> out;
        for (const LoggedLine& l : Lines()) out.push_back(std::to_string(l.style) + "|" + l.text);
        return out;
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
    std::vector<LoggedLine> lines_;
};
