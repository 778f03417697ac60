// The simulated unit's state and its side of every request: registers, the password-keyed
// register write, and file records (identity, firmware and loader images, settings).
// Callers hold Mutex() around every call; request handlers run on several threads.
#pragma once
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "sim/SettingsLayout.h"
#include "sim/SettingsRecords.h"
#include "sim/StagedImage.h"

const uint16_t kDefaultPassword = 1;
const uint16_t kMaxPassword = 32767;

// Holding registers (function 3) and keyed registers (function 100).
const uint16_t kReadableRegisters = 16;
const uint16_t kVersionRegister = 2;     // 2 registers: the four version bytes
const uint16_t kPasswordRegister = 2;    // keyed write: the new password
const uint16_t kCommandRegister = 14;    // keyed write: 1 reboots
const uint16_t kRebootCommand = 1;

// File 1: record 0 answers discovery (8 registers), record 1 holds the identifier (4 registers).
const uint16_t kIdentityFile = 1;
const uint16_t kDiscoveryRecord = 0;
const uint16_t kDiscoveryRegisters = 8;
const uint16_t kIdentifierRecord = 1;
const uint16_t kIdentifierRegisters = 4;
const size_t kIdentifierBytes = 6;
const uint16_t kMaxFileRecordNumber = 9999;   // Modbus Application Protocol V1.1b3, 6.14

struct UnitIdentity {
    uint8_t mac[6];
    uint32_t configuredIp;     // host order; used when configuredIpSet
    bool configuredIpSet;
    uint8_t identifier[kIdentifierBytes];   // WINDOWS-1251, zero-padded
};

// What a request changed, so the caller can persist it or act on it.
struct UnitChange {
    bool password = false;
    bool settings = false;
    bool imageCompleted = false;
    bool reboot = false;
};

class Unit {
public:
    Unit(const UnitIdentity& identity, const uint8_t version[4], uint16_t password);

    std::mutex& Mutex() { return mutex_; }

    // Each returns 0 or the Modbus exception code to answer with.
    uint8_t ReadRegisters(uint16_t start, uint16_t count, uint8_t* out) const;
    uint8_t WriteKeyed(uint16_t start, uint16_t count, uint16_t password, const uint8_t* values,
                       UnitChange* change);
    // localIp: the address the request arrived at (host order), reported when no IP is configured.
    // *imagePosition is set to the stream position when an image record was read, else -1.
    uint8_t ReadRecord(uint16_t file, uint16_t record, uint16_t length, uint32_t localIp, uint8_t* out,
                       long* imagePosition) const;
    uint8_t WriteRecord(uint16_t file, uint16_t record, uint16_t length, const uint8_t* data,
                        UnitChange* change);
    // The refusal a record write gets whatever the records before it in the same request did
    // (address, length, password); 0 when it may go on to WriteRecord.
    uint8_t WriteRecordRefusal(uint16_t file, uint16_t record, uint16_t length, const uint8_t* data) const;

    // Applies every complete, verified staged image; a firmware raises the version's last number.
    // Returns a line for the log.
    std::string Reboot();

    // State kept across restarts.
    const uint8_t* Version() const { return version_; }
    void SetVersion(const uint8_t version[4]);
    uint16_t Password() const { return password_; }
    void SetPassword(uint16_t password) { password_ = password; }
    StagedImage& Firmware() { return firmware_; }
    StagedImage& Loader() { return loader_; }
    SettingsRecords& Settings() { return settings_; }
    // Reads of the records a description names follow it; other records read back as written.
    void SetLayout(std::unique_ptr<SettingsLayout> layout) { layout_ = std::move(layout); }
    std::vector<uint8_t>& AppliedFirmware() { return appliedFirmware_; }
    std::vector<uint8_t>& AppliedLoader() { return appliedLoader_; }
    // Feeds a record as written back into a stream without a password check (state loading).
    bool ReplayImageRecord(StagedImage& stream, long position, const uint8_t* record);
    const UnitIdentity& Identity() const { return identity_; }
    const StagedImage* ActiveStream() const { return active_; }

private:
    uint8_t ReadIdentity(uint16_t record, uint16_t length, uint32_t localIp, uint8_t* out) const;
    const StagedImage* StreamCovering(uint16_t file, uint16_t record, long* position) const;
    StagedImage* ImageFileStream(uint16_t file);
    bool HoldsSettings(uint16_t file, uint16_t record) const;

    mutable std::mutex mutex_;
    UnitIdentity identity_;
    uint8_t version_[4];
    uint16_t password_;
    StagedImage firmware_{kFirmwareFile};
    StagedImage loader_{kLoaderFile};
    StagedImage* active_ = nullptr;   // the stream the last header opened
    SettingsRecords settings_;
    std::unique_ptr<SettingsLayout> layout_;
    std::vector<uint8_t> appliedFirmware_;
    std::vector<uint8_t> appliedLoader_;
};
