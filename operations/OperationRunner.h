// The operation runner: one operation at a time on one worker thread, the run state the
// front end shows, the device session around each operation, the begin and end lines, and
// the abort request. GTK-free: a front end (the window, pelta-cli, a test) plugs in through
// RunnerUiI and takes its own display lock where the runner asks it to.
#pragma once
#include <glib.h>
#include <pthread.h>

#include <atomic>
#include <cstdint>
#include <ctime>
#include <functional>
#include <string>

#include "base/QuillList.h"
#include "base/SString.h"
#include "channels/TalkChannel.h"
#include "modbus/Modbus.h"
#include "operations/Discovery.h"

enum class OperationKind : int32_t {
    VersionRead = 0,
    Reboot = 1,
    TestGateway = 2,
    ChangePassword = 3,
    FirmwareRead = 4,
    LoaderRead = 5,
    FirmwareWrite = 6,
    LoaderWrite = 7,
    ReadSettingsGroup = 8,
    ReadSettingsAll = 9,
    WriteSettingsGroup = 10,
    WriteSettingsAll = 11,
    FindDevices = 12,
};
const int32_t kOperationKindCount = 13;

// 4 and above means an operation runs.
enum class AppState : int32_t {
    Idle = 0,
    Error = 1,
    Aborted = 2,
    Succeeded = 3,
    Unknown = 4,
    Connecting = 5,
    Running = 6,
};
const int32_t kAppStateBusyFrom = 4;

struct RunFlags {
    static const uint32_t Running = 1;  // set when a worker starts, cleared by the abort request
    static const uint32_t TalkLog = 2;  // channel traffic goes to the log
    static const uint32_t Quiet = 4;    // discovery keeps plain channel messages out of the log
};

// Same numbers as the states they lead to.
enum class OperationResult : int32_t { Error = 1, Aborted = 2, OK = 3 };

// Untranslated message identifiers of one kind (translate before use).
struct OperationKindTexts {
    OperationKind kind;
    const char* name;         // status text while running
    const char* endText;      // first part of the end line
    const char* successText;  // status text after success
};
// The kind's texts; a kind outside 0..12 gives empty texts.
const OperationKindTexts& OperationTexts(OperationKind kind);

// Translated status text of a state (the kind names Running and Succeeded) and the colour the
// window draws it in with bold markup; colour is null for the plain states.
SString StateText(AppState state, OperationKind kind, const char** colour);

// Translated result word ("OK", "ERROR", "ABORTED") and its log style.
SString ResultWord(OperationResult result, int* style);

// Translated elapsed-time text of a whole number of seconds.
SString DurationText(int64_t seconds);

// The device password as typed: a number with base prefix ("0x" hex, leading "0" octal),
// parsing stops at the first character that does not belong to it; no number gives 0; a
// number beyond 32 bits gives the nearest 32-bit limit.
int32_t DevicePasswordParse(const char* text);

// What a front end provides. takeLock: the caller does not hold the front end's display lock
// (worker thread) and the call must take it; false: the caller already holds it.
class RunnerUiI {
public:
    virtual ~RunnerUiI() = default;
    // Adds one log line (prefix from the runner's IndentDepth); returns its time stamp or 0.
    virtual time_t LogAdd(const SString& text, uint32_t mode, bool takeLock, int style) = 0;
    // Raw insertion without prefix; a line end follows for the Line and Close modes.
    virtual void LogInsert(const SString& text, uint32_t lineMode, bool takeLock, int style) = 0;
    virtual void LogClear(bool takeLock) = 0;
    virtual void ProgressSet(int64_t done, int64_t total, bool takeLock) = 0;
    // Run state or flags changed: update sensitivity, the talk-log item and the state display
    // from what the runner reports now.
    virtual void RunStateChanged(bool takeLock) = 0;
    // Worker thread: the host and password texts as the user typed them (takes the lock itself).
    virtual void SessionInputs(SString& host, SString& password) = 0;
    // Worker thread: the firmware version just read (takes the lock itself).
    virtual void VersionShow(const SString& text) = 0;
    // Let go of / retake the display lock around joining a worker on the GUI thread.
    virtual void GuiLockRelease() = 0;
    virtual void GuiLockAcquire() = 0;
    // Worker thread: bodies that live outside this library (settings read and write). The
    // default refuses.
    virtual bool OperationBody(OperationKind kind, MODBUS_TalkInfo& talk);
    // Worker thread, each taking the lock itself: the list of found units is emptied when a
    // discovery starts, gets a row (unit.row) per answer and the row's identifier and version
    // later. A front end without such a list ignores them.
    virtual void FoundUnitsClear() {}
    virtual void FoundUnitAdd(const DFIND_DevInfo& unit) { (void)unit; }
    virtual void FoundUnitUpdate(const DFIND_DevInfo& unit) { (void)unit; }
};

struct RunnerOptions {
    // Copied into every session descriptor; tests shorten them.
    ModbusTimeouts timeouts;
    // Creates the session channel with this owner; null: a TCP channel with an empty name
    // and the standard socket time-outs.
    std::function<TalkChannel*(TalkChannelExtI* owner)> channelFactory;
    size_t workerStackBytes = 512 * 1024;
    // Where discovery sends its request and which port phase two connects to.
    DiscoveryOptions discovery;
};

class OperationRunner : public TalkChannelExtI {
public:
    explicit OperationRunner(RunnerUiI* ui, const RunnerOptions& options = RunnerOptions());
    // The owner calls WorkerStop(true) first while its front end still works; the destructor
    // only joins a worker left over, without touching the front end, and drops the channel.
    ~OperationRunner() override;

    OperationRunner(const OperationRunner&) = delete;
    OperationRunner& operator=(const OperationRunner&) = delete;

    // --- Begin steps (GUI thread, display lock held). Each does nothing and returns false
    // while an operation runs.
    // VersionRead, Reboot or TestGateway with its begin text.
    bool CommandBegin(OperationKind kind);
    // Image chosen for the next write: full UTF-8 path; keeps the file-name part and draws a
    // new transport mask. localPath: the same file in the file system's own bytes, opened as
    // it is (a name that is not valid UTF-8 cannot go through fullPath); empty: converted
    // from fullPath.
    void ImageSet(const SString& fullPath, const std::string& localPath = std::string());
    bool WriteBegin(bool firmware);
    bool ChangePasswordBegin(int32_t newPassword);
    bool FindDevicesBegin();
    // Where the next discovery asks (GUI thread, while no operation runs).
    void DiscoveryOptionsSet(const DiscoveryOptions& discovery) { options_.discovery = discovery; }

    // --- Runner (names kept from the window's members that delegate here).
    // GUI thread, display lock held; does not check the busy state.
    void ThreadCreate(OperationKind kind, const SString& beginText);
    // The worker body.
    void Talk_th();
    // The abort request (GUI thread, display lock held).
    void TalkStop();
    // Clears Running and shuts the session channel down; with wait also joins the worker
    // (the display lock is let go while joining).
    void WorkerStop(bool wait);
    // Joins a finished worker, if one is kept (display lock let go while joining).
    void WorkerJoin();

    // --- Session (worker thread).
    bool TalkPhChannelsInit_th();
    bool TalkPhChannelsClose();
    // "Device talk..." when the talk log is off, so that the user sees activity.
    void DeviceTalkNote();

    // --- Bodies (worker thread), each true on success.
    bool VersionRead_th(const MODBUS_TalkInfo& talk);
    bool Reboot_th(const MODBUS_TalkInfo& talk);
    bool TestGateway_th(const MODBUS_TalkInfo& talk);
    bool ChangePassword_th(const MODBUS_TalkInfo& talk);
    bool WriteToDevFW_th(bool firmware, const MODBUS_TalkInfo& talk);
    // True for result code 1; otherwise logs the failure line.
    bool RecordResultCheck(uint32_t code);
    // Discovery: phase one, then phase two; fills the descriptor itself.
    bool DFIND_FindDevices_th(MODBUS_TalkInfo& talk);
    // Phase one on an open broadcast channel: one record per answer until the receive
    // time-out or the stop request. True when two answers came from one address.
    bool DFIND_Collect(MODBUS_TalkInfo& talk, TalkChannel_UDPBroadcast& channel,
                       Quill::List<DFIND_DevInfo>& units);

    // --- State access, each under the state lock.
    void StateGet(AppState* state, OperationKind* kind);
    uint32_t Flags();
    void FlagsSet(uint32_t mask, bool on);
    bool IsBusy();
    int IndentDepth() const { return indentDepth_.load(); }
    time_t StartTime() const { return startTime_; }

    // --- TalkChannelExtI.
    void LogMessage(const SString& message, int style, int mode) override;
    SString MessageText(const char* msgid, const char* a0 = nullptr, const char* a1 = nullptr,
                        const char* a2 = nullptr, const char* a3 = nullptr) override;
    bool IsRunning() override;
    bool IsTalkLog() override;

    // --- Values of the session and of the operations.
    const DevAddress& Device() const { return device_; }
    int32_t DevicePassword() const { return devicePassword_; }
    // What reaches the unit: the low 16 bits.
    uint16_t DevicePasswordWire() const { return (uint16_t)(devicePassword_ & 0xFFFF); }
    const SString& ImagePath() const { return imagePath_; }
    const std::string& ImageLocalPath() const { return imageLocalPath_; }
    const SString& ImageName() const { return imageName_; }
    uint32_t TransportMask() const { return transportMask_; }
    int32_t NewPassword() const { return newPassword_; }
    RunnerUiI* Ui() const { return ui_; }
    const RunnerOptions& Options() const { return options_; }

    // --- The channel slot, for discovery, which keeps its own channels there.
    void ChannelLock() { pthread_mutex_lock(&channelLock_); }
    bool ChannelTryLock() { return pthread_mutex_trylock(&channelLock_) == 0; }
    void ChannelUnlock() { pthread_mutex_unlock(&channelLock_); }
    // Caller holds the channel lock.
    TalkChannel* ChannelLocked() const { return channel_; }
    void ChannelPutLocked(TalkChannel* channel) { channel_ = channel; }

    // Log helpers for the bodies (worker thread: take the display lock).
    void LogLine(const SString& text, int style);
    void LogError(const char* msgid, const char* a0 = nullptr, const char* a1 = nullptr);

private:
    static void* WorkerEntry(void* self);
    void StateSet(AppState state);
    // Closes and deletes the slot's channel; caller holds the channel lock.
    bool ChannelDropLocked();
    OperationResult Dispatch(OperationKind kind, MODBUS_TalkInfo& talk);
    void EndReport(OperationKind kind, OperationResult result);
    bool FirmwareWrite_th(const MODBUS_TalkInfo& talk);
    bool LoaderWrite_th(const MODBUS_TalkInfo& talk);
    // FirmwareRead and LoaderRead: no control starts them; they do no work.
    bool NoWork_th(const MODBUS_TalkInfo& talk);
    // A new session channel (the factory's, else TCP); caller holds the channel lock.
    TalkChannel* SessionChannelMake();
    // Discovery's steps.
    TalkChannel_UDPBroadcast* DFIND_BroadcastOpen();
    bool DFIND_Details(MODBUS_TalkInfo& talk, DevAddress& address, DFIND_DevInfo& unit);
    bool DFIND_Identify(Quill::List<DFIND_DevInfo>& units, DevAddress& address, MODBUS_TalkInfo& talk);

    RunnerUiI* ui_;
    RunnerOptions options_;

    // Plain pthread mutexes rather than GMutex: the thread checker cannot see GLib's futexes.
    pthread_mutex_t stateLock_ = PTHREAD_MUTEX_INITIALIZER;
    AppState state_ = AppState::Idle;
    OperationKind kind_ = OperationKind::VersionRead;
    uint32_t flags_ = 0;

    pthread_mutex_t channelLock_ = PTHREAD_MUTEX_INITIALIZER;
    TalkChannel* channel_ = nullptr;

    pthread_t worker_{};
    bool workerKept_ = false;

    time_t startTime_ = 0;
    std::atomic<int> indentDepth_{0};

    DevAddress device_;
    int32_t devicePassword_ = -1;
    SString imagePath_;
    SString imageName_;
    std::string imageLocalPath_;
    uint32_t transportMask_ = 0;
    int32_t newPassword_ = 0;
};
