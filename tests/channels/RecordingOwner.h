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
        if (!a0 && !a1 && !a2 && !a3) return Tr(msgid);
        return TrArgs(msgid, a0, a1, a2, a3);
    }
    // Stays true for stopAfterPolls polls (negative: for ever), then false.
    bool IsRunning() override
    {
        polls_++;
        if (!running) return false;
        int left = stopAfterPolls.load();
        if (left < 0) return true;
        if (left == 0) {
            running = false;
            return false;
        }
        stopAfterPolls--;
        return true;
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
    int Count(const std::string& text)
    {
        int n = 0;
        for (const LoggedLine& l : Lines()) n += l.text == text;
        return n;
    }
    void Clear()
    {
        std::lock_guard<std::mutex> lock(mutex_);
        lines_.clear();
    }
    int Polls() const { return polls_; }

    std::atomic<bool> running{true};
    std::atomic<bool> talkLog{false};
    std::atomic<int> stopAfterPolls{-1};

private:
    std::mutex mutex_;
    std::vector<LoggedLine> lines_;
    std::atomic<int> polls_{0};
};
