#include "operations/OperationRunner.h"

#include <cstdio>
#include <cstring>

#include "base/LogTypes.h"
#include "base/Messages.h"

namespace {
const OperationKindTexts kKindTexts[kOperationKindCount] = {
    {OperationKind::VersionRead, "Version read", "Read firmware version end", "Firmware version read successful"},
    {OperationKind::Reboot, "Send 'reboot' command", "Send 'reboot' command end", "Send 'reboot' command successful"},
    {OperationKind::TestGateway, "Test gateway", "Test gateway end", "Test gateway successful"},
    {OperationKind::ChangePassword, "Change password", "Change password end", "Change password successful"},
    {OperationKind::FirmwareRead, "Firmware read", "Read firmware end", "Firmware read successful"},
    {OperationKind::LoaderRead, "Loader read", "Read loader end", "Loader read successful"},
    {OperationKind::FirmwareWrite, "Firmware write", "Write firmware end", "Firmware write successful"},
    {OperationKind::LoaderWrite, "Loader write", "Write loader end", "Loader write successful"},
    {OperationKind::ReadSettingsGroup, "Read settings", "Read settings end", "Read settings successful"},
    {OperationKind::ReadSettingsAll, "Read settings", "Read settings end", "Read settings successful"},
    {OperationKind::WriteSettingsGroup, "Write settings", "Write settings end", "Write settings successful"},
    {OperationKind::WriteSettingsAll, "Write settings", "Write settings end", "Write settings successful"},
    {OperationKind::FindDevices, "Find devices", "Find devices end", "Find devices successful"},
};
const OperationKindTexts kNoKindTexts = {OperationKind(kOperationKindCount), "", "", ""};

// Texts of the states; null text: the kind's name (Running) or success text (Succeeded).
struct StateEntry {
    AppState state;
    const char* text;
    const char* colour;
};
const StateEntry kStates[] = {
    {AppState::Idle, "Idle", nullptr},
    {AppState::Error, "Error", "red"},
    {AppState::Aborted, "Aborted", "red"},
    {AppState::Succeeded, nullptr, "#008000"},
    {AppState::Unknown, "???", nullptr},
    {AppState::Connecting, "Connect to device", nullptr},
    {AppState::Running, nullptr, nullptr},
};

struct ResultEntry {
    OperationResult result;
    const char* word;
    int style;
};
const ResultEntry kResults[] = {
    {OperationResult::Error, "ERROR", LogStyleResultError},
    {OperationResult::Aborted, "ABORTED", LogStyleResultAborted},
    {OperationResult::OK, "OK", LogStyleResultOK},
};

const int kSecondsPerMinute = 60;

// Messages the runner itself writes.
const char kMsgAbortAttempt[] = "Attempt to abort execution";
const char kMsgDeviceTalk[] = "Device talk...";
const char kMsgElapsed[] = "Elapsed time: ^0";
const char kMsgRebootHint[] = "You need reboot Pelta for applying new firmware/loader (menu \"^0->^1\")";
const char kMsgCantCreateThread[] = "Can't create thread: '^0'";

struct BeginEntry {
    OperationKind kind;
    const char* beginText;
};
const BeginEntry kCommandBegins[] = {
    {OperationKind::VersionRead, "Read firmware version begin"},
    {OperationKind::Reboot, "Send command 'reboot' begin"},
    {OperationKind::TestGateway, "Test gateway begin"},
};

bool IsImageWrite(OperationKind kind)
{
    return kind == OperationKind::FirmwareWrite || kind == OperationKind::LoaderWrite;
}

SString IntText(int64_t value)
{
    char text[32];
    snprintf(text, sizeof text, "%lld", (long long)value);
    return SString(text);
}
}  // namespace

const OperationKindTexts& OperationTexts(OperationKind kind)
{
    int32_t k = (int32_t)kind;
    if (k < 0 || k >= kOperationKindCount)
        return kNoKindTexts;
    return kKindTexts[k];
}

SString StateText(AppState state, OperationKind kind, const char** colour)
{
    *colour = nullptr;
    for (const StateEntry& e : kStates) {
        if (e.state != state)
            continue;
        *colour = e.colour;
        if (e.text)
            return Tr(e.text);
        const OperationKindTexts& t = OperationTexts(kind);
        return Tr(state == AppState::Running ? t.name : t.successText);
    }
    return SString();
}

SString ResultWord(OperationResult result, int* style)
{
    for (const ResultEntry& e : kResults) {
        if (e.result == result) {
            *style = e.style;
            return Tr(e.word);
        }
    }
    *style = LogStylePlain;
    return SString();
}

SString DurationText(int64_t seconds)
{
    int64_t minutes = seconds / kSecondsPerMinute;
    int64_t rest = seconds % kSecondsPerMinute;
    if (minutes > 0)
        return TrArgs("^0 min ^1 s", IntText(minutes).Text(), IntText(rest).Text());
    if (rest > 0)
        return TrArgs("^0 s", IntText(rest).Text());
    return Tr("lower one second");
}

bool RunnerUiI::OperationBody(OperationKind, MODBUS_TalkInfo&)
{
    return false;
}

OperationRunner::OperationRunner(RunnerUiI* ui, const RunnerOptions& options)
    : ui_(ui), options_(options)
{
}

OperationRunner::~OperationRunner()
{
    FlagsSet(RunFlags::Running, false);
    ChannelLock();
    if (channel_)
        channel_->Shutdown();
    ChannelUnlock();
    if (workerKept_) {
        pthread_join(worker_, nullptr);
        workerKept_ = false;
    }
    ChannelLock();
    ChannelDropLocked();
    ChannelUnlock();
    pthread_mutex_destroy(&channelLock_);
    pthread_mutex_destroy(&stateLock_);
}

// ---------------------------------------------------------------- begin steps

bool OperationRunner::CommandBegin(OperationKind kind)
{
    if (IsBusy())
        return false;
    for (const BeginEntry& e : kCommandBegins) {
        if (e.kind == kind) {
            ThreadCreate(kind, Tr(e.beginText));
            return true;
        }
    }
    return false;
}

void OperationRunner::ImageSet(const SString& fullPath, const std::string& localPath)
{
    imagePath_ = fullPath;
    imageLocalPath_ = localPath;
    const char* slash = strrchr(fullPath.Text(), G_DIR_SEPARATOR);
    imageName_.Assign(slash ? slash + 1 : fullPath.Text());
    transportMask_ = g_random_int();
}

bool OperationRunner::WriteBegin(bool firmware)
{
    if (IsBusy())
        return false;
    const char* msgid = firmware ? "Write firmware from '^0' begin" : "Write loader from '^0' begin";
    ThreadCreate(firmware ? OperationKind::FirmwareWrite : OperationKind::LoaderWrite,
                 TrArgs(msgid, imageName_.Text()));
    return true;
}

bool OperationRunner::ChangePasswordBegin(int32_t newPassword)
{
    if (IsBusy())
        return false;
    newPassword_ = newPassword;
    ThreadCreate(OperationKind::ChangePassword, Tr("Change password begin"));
    return true;
}

// ---------------------------------------------------------------- the worker's life

void* OperationRunner::WorkerEntry(void* self)
{
    static_cast<OperationRunner*>(self)->Talk_th();
    return nullptr;
}

void OperationRunner::WorkerJoin()
{
    if (!workerKept_)
        return;
    ui_->GuiLockRelease();
    pthread_join(worker_, nullptr);
    ui_->GuiLockAcquire();
    workerKept_ = false;
}

void OperationRunner::ThreadCreate(OperationKind kind, const SString& beginText)
{
    WorkerJoin();
    pthread_mutex_lock(&stateLock_);
    state_ = AppState::Connecting;
    kind_ = kind;
    pthread_mutex_unlock(&stateLock_);
    ui_->RunStateChanged(false);
    ui_->LogClear(false);
    startTime_ = ui_->LogAdd(beginText, LogModeLine, false, LogStylePlain);
    indentDepth_++;
    FlagsSet(RunFlags::Running, true);

    pthread_attr_t attr;
    pthread_attr_init(&attr);
    pthread_attr_setdetachstate(&attr, PTHREAD_CREATE_JOINABLE);
    int rc = pthread_attr_setstacksize(&attr, options_.workerStackBytes);
    if (rc == 0)
        rc = pthread_create(&worker_, &attr, WorkerEntry, this);
    pthread_attr_destroy(&attr);
    if (rc == 0) {
        workerKept_ = true;
        return;
    }
    char reason[256];
    const char* text = strerror_r(rc, reason, sizeof reason);
    DiagLog("GUIApp::ThreadCreate", TrArgs(kMsgCantCreateThread, text).Text());
    // Leave the busy states so that the controls and quitting work again.
    indentDepth_--;
    StateSet(AppState::Error);
    ui_->RunStateChanged(false);
}

void OperationRunner::Talk_th()
{
    AppState ignored;
    OperationKind kind;
    StateGet(&ignored, &kind);
    MODBUS_TalkInfo talk;
    talk.timeouts = options_.timeouts;
    ui_->ProgressSet(0, 0, true);

    OperationResult result = OperationResult::OK;
    if (kind != OperationKind::FindDevices) {
        result = TalkPhChannelsInit_th() ? OperationResult::OK : OperationResult::Error;
        if (!IsRunning())
            result = OperationResult::Aborted;
    }
    if (result == OperationResult::OK) {
        StateSet(AppState::Running);
        ui_->RunStateChanged(true);
        result = Dispatch(kind, talk);
    }
    // Discovery releases the channels it keeps in the slot itself.
    if (kind != OperationKind::FindDevices) {
        ChannelLock();
        ChannelDropLocked();
        ChannelUnlock();
    }
    if (!IsRunning())
        result = OperationResult::Aborted;
    StateSet(AppState(result));
    indentDepth_--;
    EndReport(kind, result);
    ui_->RunStateChanged(true);
}

OperationResult OperationRunner::Dispatch(OperationKind kind, MODBUS_TalkInfo& talk)
{
    using Body = bool (OperationRunner::*)(const MODBUS_TalkInfo&);
    struct BodyEntry {
        OperationKind kind;
        Body body;
    };
    static const BodyEntry kBodies[] = {
        {OperationKind::VersionRead, &OperationRunner::VersionRead_th},
        {OperationKind::Reboot, &OperationRunner::Reboot_th},
        {OperationKind::TestGateway, &OperationRunner::TestGateway_th},
        {OperationKind::ChangePassword, &OperationRunner::ChangePassword_th},
        {OperationKind::FirmwareWrite, &OperationRunner::FirmwareWrite_th},
        {OperationKind::LoaderWrite, &OperationRunner::LoaderWrite_th},
        {OperationKind::FirmwareRead, &OperationRunner::NoWork_th},
        {OperationKind::LoaderRead, &OperationRunner::NoWork_th},
    };
    // Discovery gets the descriptor as constructed and fills it itself.
    if (kind == OperationKind::FindDevices)
        return DFIND_FindDevices_th(talk) ? OperationResult::OK : OperationResult::Error;
    talk.channel = channel_;
    talk.device = &device_;
    talk.attempts = kModbusSessionAttempts;
    bool ok = false;
    bool found = false;
    for (const BodyEntry& e : kBodies) {
        if (e.kind == kind) {
            ok = (this->*e.body)(talk);
            found = true;
            break;
        }
    }
    if (!found)
        ok = ui_->OperationBody(kind, talk);
    return ok ? OperationResult::OK : OperationResult::Error;
}

void OperationRunner::EndReport(OperationKind kind, OperationResult result)
{
    SString head = Tr(OperationTexts(kind).endText);
    head.Append(": ");
    time_t endTime = ui_->LogAdd(head, LogModeOpen, true, LogStylePlain);

    int style = LogStylePlain;
    const SString word = ResultWord(result, &style);
    ui_->LogAdd(word, LogModeAppend, true, style);

    SString tail(". ");
    tail.Append(TrArgs(kMsgElapsed, DurationText((int64_t)(endTime - startTime_)).Text()));
    tail.Append(".");
    ui_->LogAdd(tail, LogModeClose, true, LogStylePlain);

    if (result == OperationResult::OK && IsImageWrite(kind)) {
        SString hint("\n");
        hint.Append(TrArgs(kMsgRebootHint, Tr("Device").Text(), Tr("Reboot").Text()));
        ui_->LogInsert(hint, LogModeLine, true, LogStyleAttention);
    }
}

bool OperationRunner::NoWork_th(const MODBUS_TalkInfo&)
{
    return true;
}

bool OperationRunner::FirmwareWrite_th(const MODBUS_TalkInfo& talk)
{
    return WriteToDevFW_th(true, talk);
}

bool OperationRunner::LoaderWrite_th(const MODBUS_TalkInfo& talk)
{
    return WriteToDevFW_th(false, talk);
}

// ---------------------------------------------------------------- abort

void OperationRunner::TalkStop()
{
    ui_->LogAdd(Tr(kMsgAbortAttempt), LogModeLine, false, LogStyleError);
    WorkerStop(false);
    ui_->RunStateChanged(false);
}

void OperationRunner::WorkerStop(bool wait)
{
    FlagsSet(RunFlags::Running, false);
    // The worker may wait for the display lock while it holds the channel lock, so the GUI
    // thread only tries it unless it is about to wait for the worker anyway.
    bool locked = true;
    if (wait)
        ChannelLock();
    else
        locked = ChannelTryLock();
    if (locked) {
        if (channel_)
            channel_->Shutdown();
        ChannelUnlock();
    }
    if (wait)
        WorkerJoin();
}

// ---------------------------------------------------------------- state

void OperationRunner::StateSet(AppState state)
{
    pthread_mutex_lock(&stateLock_);
    state_ = state;
    pthread_mutex_unlock(&stateLock_);
}

void OperationRunner::StateGet(AppState* state, OperationKind* kind)
{
    pthread_mutex_lock(&stateLock_);
    if (state)
        *state = state_;
    if (kind)
        *kind = kind_;
    pthread_mutex_unlock(&stateLock_);
}

uint32_t OperationRunner::Flags()
{
    pthread_mutex_lock(&stateLock_);
    uint32_t flags = flags_;
    pthread_mutex_unlock(&stateLock_);
    return flags;
}

void OperationRunner::FlagsSet(uint32_t mask, bool on)
{
    pthread_mutex_lock(&stateLock_);
    flags_ = on ? (flags_ | mask) : (flags_ & ~mask);
    pthread_mutex_unlock(&stateLock_);
}

bool OperationRunner::IsBusy()
{
    AppState state;
    StateGet(&state, nullptr);
    return (int32_t)state >= kAppStateBusyFrom;
}

// ---------------------------------------------------------------- owner interface

void OperationRunner::LogMessage(const SString& message, int style, int mode)
{
    uint32_t flags = Flags();
    if (!(flags & RunFlags::Running))
        return;
    if (style == LogStylePlain && !(flags & RunFlags::TalkLog) && (flags & RunFlags::Quiet))
        return;
    ui_->LogAdd(message, (uint32_t)mode, true, style);
}

SString OperationRunner::MessageText(const char* msgid, const char* a0, const char* a1,
                                     const char* a2, const char* a3)
{
    if (!a0 && !a1 && !a2 && !a3)
        return Tr(msgid);
    return TrArgs(msgid, a0, a1, a2, a3);
}

bool OperationRunner::IsRunning()
{
    return (Flags() & RunFlags::Running) != 0;
}

bool OperationRunner::IsTalkLog()
{
    return (Flags() & RunFlags::TalkLog) != 0;
}

void OperationRunner::DeviceTalkNote()
{
    if (!IsTalkLog())
        ui_->LogAdd(Tr(kMsgDeviceTalk), LogModeLine, true, LogStylePlain);
}

void OperationRunner::LogLine(const SString& text, int style)
{
    ui_->LogAdd(text, LogModeLine, true, style);
}

void OperationRunner::LogError(const char* msgid, const char* a0, const char* a1)
{
    LogLine(MessageText(msgid, a0, a1), LogStyleError);
}
