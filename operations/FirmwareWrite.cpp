// Writing a firmware or loader image into the unit, one step per function: read the image,
// mask it, build each record, write it, read it back, compare, report progress.
#include <glib.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "base/Crc.h"
#include "base/LogTypes.h"
#include "base/Messages.h"
#include "operations/FirmwareRecords.h"
#include "operations/OperationRunner.h"

namespace {
const char kWhere[] = "WriteToDevFW_th";

struct ResultCodeText {
    uint16_t code;
    const char* text;
};
const ResultCodeText kResultCodeTexts[] = {
    {0, "Block is empty"},
    {2, "CRC error"},
};
const char kUnknownResultCode[] = "Unknown return code";
// A progress bar shows no finer steps than this; more updates only make the window wait for
// its lock once per record.
const uint32_t kProgressSteps = 1000;

// The whole image in memory, owned.
struct Image {
    uint8_t* data = nullptr;
    uint32_t size = 0;
    ~Image() { free(data); }
};

SString UnsignedText(unsigned long value)
{
    char text[24];
    snprintf(text, sizeof text, "%lu", value);
    return SString(text);
}

// Reads until size bytes are in or the file ends; a read cut by a signal is retried.
size_t ReadFully(FILE* file, uint8_t* buffer, size_t size)
{
    size_t done = 0;
    while (done < size) {
        size_t got = fread(buffer + done, 1, size - done, file);
        done += got;
        if (got > 0)
            continue;
        if (ferror(file) && errno == EINTR) {
            clearerr(file);
            continue;
        }
        break;
    }
    return done;
}
}  // namespace

bool OperationRunner::RecordResultCheck(uint32_t code)
{
    if (code == kRecordAccepted)
        return true;
    const char* text = kUnknownResultCode;
    for (const ResultCodeText& e : kResultCodeTexts)
        if (e.code == code)
            text = e.text;
    LogError("Read record result not ok: ^0 - '^1'", UnsignedText(code).Text(), Tr(text).Text());
    return false;
}

namespace {
// Opens, sizes, allocates and reads the image file; logs the failure line. The size checks
// come before the allocation, so that a huge file is refused, not swallowed.
bool ImageRead(OperationRunner& runner, const SString& path, const std::string& localPath, Image* image)
{
    gchar* converted = localPath.empty() ? g_filename_from_utf8(path.Text(), -1, nullptr, nullptr, nullptr)
                                         : g_strdup(localPath.c_str());
    FILE* file = converted ? fopen(converted, "rb") : nullptr;
    g_free(converted);
    if (!file) {
        runner.LogError("Can't open file");
        return false;
    }
    struct stat status;
    if (fstat(fileno(file), &status) != 0) {
        runner.LogError("Can't get file size");
        fclose(file);
        return false;
    }
    size_t size = (size_t)status.st_size;
    if (size % kWordBytes != 0) {
        runner.LogError("Wrong file size (size must be multiple 4)");
        fclose(file);
        return false;
    }
    // The header's record count cannot describe more; nothing has been sent yet.
    if (size > kMaxImageBytes) {
        runner.LogError("Image too big: ^0 bytes (at most ^1 bytes)", UnsignedText(size).Text(),
                        UnsignedText(kMaxImageBytes).Text());
        fclose(file);
        return false;
    }
    if (size > 0) {
        image->data = (uint8_t*)malloc(size);
        if (!image->data) {
            DiagNoMem(kWhere);
            fclose(file);
            return false;
        }
    }
    bool complete = ReadFully(file, image->data, size) == size;
    fclose(file);
    if (!complete) {
        runner.LogError("Can't read file");
        return false;
    }
    image->size = (uint32_t)size;
    return true;
}

// Writes one record and reads it back; false when either request failed (already logged).
bool RecordExchange(const MODBUS_TalkInfo& talk, uint16_t file, uint16_t record,
                    const uint8_t written[kRecordBytes], uint8_t readBack[kRecordBytes])
{
    if (!ModbusWriteFileRecord(talk, kFnWriteFileRecord, file, record, kRecordRegisters, written).Ok())
        return false;
    return ModbusReadFileRecord(talk, kFnReadFileRecord, file, record, kRecordRegisters, readBack).Ok();
}

void TalkLogRecordLine(OperationRunner& runner, const char* msgid, uint16_t file, uint16_t record)
{
    if (runner.IsTalkLog())
        runner.LogLine(TrArgs(msgid, UnsignedText(file).Text(), UnsignedText(record).Text()),
                       LogStylePlain);
}

// Writes, reads back and verifies one record: the result code, then echoBytes from offset 2.
bool RecordWriteVerify(OperationRunner& runner, const MODBUS_TalkInfo& talk, uint16_t file,
                              uint16_t record, const uint8_t written[kRecordBytes], size_t echoBytes)
{
    uint8_t readBack[kRecordBytes];
    if (!RecordExchange(talk, file, record, written, readBack))
        return false;
    if (!runner.RecordResultCheck(RecordResultCode(readBack)))
        return false;
    if (memcmp(readBack + kRecordHeadBytes, written + kRecordHeadBytes, echoBytes) != 0) {
        runner.LogError("Read data not equal write one");
        return false;
    }
    return true;
}
}  // namespace

bool OperationRunner::WriteToDevFW_th(bool firmware, const MODBUS_TalkInfo& talk)
{
    Image image;
    if (!ImageRead(*this, imagePath_, imageLocalPath_, &image))
        return false;
    ImageMask(image.data, image.size, transportMask_);
    const uint32_t crc = Crc32(image.data, image.size);
    DeviceTalkNote();

    const uint32_t records = CodeRecordCount(image.size);
    const uint16_t firstFile = TargetFile(firmware);
    const uint16_t password = DevicePasswordWire();

    uint8_t record[kRecordBytes];
    FirmwareHeaderBuild(record, password, (uint16_t)records, image.size, crc, transportMask_);
    TalkLogRecordLine(*this, "Write and check header (record ^0:^1)", firstFile, kHeaderRecordNumber);
    if (!RecordWriteVerify(*this, talk, firstFile, kHeaderRecordNumber, record,
                           kRecordBytes - kRecordHeadBytes))
        return false;

    uint16_t file = firstFile;
    uint16_t number = kHeaderRecordNumber + 1;
    const uint32_t totalWords = image.size / kWordBytes;
    for (uint32_t k = 1; k <= records; ++k) {
        TalkLogRecordLine(*this, "Write and check code (record ^0:^1)", file, number);
        const uint32_t firstWord = (k - 1) * kWordsPerRecord;
        const uint32_t count = MIN(kWordsPerRecord, totalWords - firstWord);
        CodeRecordBuild(record, password, image.data + firstWord * kWordBytes, count);
        if (!RecordWriteVerify(*this, talk, file, number, record, CodeRecordEchoBytes(count)))
            return false;
        RecordAdvance(&file, &number);
        if (k == records || (uint64_t)k * kProgressSteps / records != (uint64_t)(k - 1) * kProgressSteps / records)
            ui_->ProgressSet(k, records, true);
    }
    return true;
}
