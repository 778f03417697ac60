// A scripted unit for the one fault the simulator cannot play: a read-back record whose echo
// differs from what was written. It answers Write File Record with the request and Read File
// Record with result code 1 and the stored record, one byte changed where the test says.
#pragma once
#include <atomic>
#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

class ScriptedUnit {
public:
    // The read-back of (file, record) gets byte `offset` inverted.
    ScriptedUnit(uint16_t file, uint16_t record, int offset);
    ~ScriptedUnit();
    bool Start();
    std::string HostPort() const;
    int Requests() const { return requests_.load(); }

private:
    void Serve();
    bool Answer(int fd, const uint8_t* request, size_t size);

    uint16_t file_;
    uint16_t record_;
    int offset_;
    int listener_ = -1;
    int port_ = 0;
    std::atomic<bool> stop_{false};
    std::atomic<int> requests_{0};
    std::thread thread_;
    std::map<uint32_t, std::vector<uint8_t>> records_;
};
