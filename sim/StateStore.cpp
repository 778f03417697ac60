#include "sim/StateStore.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <vector>

#include "sim/SimLog.h"
#include "sim/Unit.h"

namespace {
const char kUnitFile[] = "unit.txt";
const char kSettingsFile[] = "settings.rec";
const char kAppliedFirmwareFile[] = "firmware.bin";
const char kAppliedLoaderFile[] = "loader.bin";
const size_t kMaxStateFile = 4u << 20;   // far above the largest staged image (1 MiB)

struct StreamFile {
    const char* name;
    const char* key;   // value of the "stream" line when this stream is the open one
    StagedImage& (Unit::*stream)();
    std::vector<uint8_t>& (Unit::*applied)();
    const char* appliedName;
};
const StreamFile kStreams[] = {
    {"staged-firmware.rec", "firmware", &Unit::Firmware, &Unit::AppliedFirmware, kAppliedFirmwareFile},
    {"staged-loader.rec", "loader", &Unit::Loader, &Unit::AppliedLoader, kAppliedLoaderFile},
};

// 0: absent, 1: read, -1: unreadable or too large.
int ReadWhole(const std::string& path, std::vector<uint8_t>* bytes) {
    FILE* f = fopen(path.c_str(), "rb");
    if (!f) return errno == ENOENT ? 0 : -1;
    bytes->clear();
    uint8_t chunk[65536];
    size_t n;
    while ((n = fread(chunk, 1, sizeof chunk, f)) > 0) {
        bytes->insert(bytes->end(), chunk, chunk + n);
        if (bytes->size() > kMaxStateFile) break;
    }
    bool ok = !ferror(f) && bytes->size() <= kMaxStateFile;
    fclose(f);
    return ok ? 1 : -1;
}
}  // namespace

bool StateStore::WriteFile(const char* name, const void* data, size_t size) {
    std::string path = Path(name), temporary = path + ".new";
    FILE* f = fopen(temporary.c_str(), "wb");
    bool ok = f && (size == 0 || fwrite(data, 1, size, f) == size);
    if (f && fclose(f) != 0) ok = false;
    if (ok && rename(temporary.c_str(), path.c_str()) != 0) ok = false;
    if (!ok) {
        SimError("cannot save %s: %s", path.c_str(), strerror(errno));
        unlink(temporary.c_str());
    }
    return ok;
}

void StateStore::RemoveFile(const char* name) { unlink(Path(name).c_str()); }

void StateStore::SaveUnit(Unit& unit) {
    const uint8_t* v = unit.Version();
    const char* open = "none";
    for (const StreamFile& s : kStreams)
        if (unit.ActiveStream() == &(unit.*s.stream)()) open = s.key;
    char text[128];
    int n = snprintf(text, sizeof text, "version %u.%u.%u.%u\npassword %u\nstream %s\n", v[0], v[1], v[2], v[3],
                     unit.Password(), open);
    WriteFile(kUnitFile, text, (size_t)n);
    std::vector<uint8_t> settings = unit.Settings().Serialize();
    WriteFile(kSettingsFile, settings.data(), settings.size());
}

void StateStore::SaveStaged(Unit& unit) {
    SaveUnit(unit);
    for (const StreamFile& s : kStreams) {
        StagedImage& stream = (unit.*s.stream)();
        if (!stream.IsOpen()) {
            RemoveFile(s.name);
            continue;
        }
        WriteFile(s.name, stream.Records().data(), (size_t)stream.RecordsWritten() * kImageRecordBytes);
    }
}

void StateStore::SaveAll(Unit& unit) {
    SaveStaged(unit);
    for (const StreamFile& s : kStreams) {
        std::vector<uint8_t>& image = (unit.*s.applied)();
        if (!image.empty() || access(Path(s.appliedName).c_str(), F_OK) == 0)
            WriteFile(s.appliedName, image.data(), image.size());
    }
}

bool StateStore::Load(Unit& unit, std::string* error) {
    if (mkdir(dir_.c_str(), 0755) != 0 && errno != EEXIST) {
        *error = "cannot create state directory " + dir_ + ": " + strerror(errno);
        return false;
    }
    std::vector<uint8_t> bytes;
    std::string openStream = "none";
    int got = ReadWhole(Path(kUnitFile), &bytes);
    if (got > 0) {
        std::string text(bytes.begin(), bytes.end());
        unsigned a, b, c, d, password;
        char stream[16] = "none";
        const char* at = strstr(text.c_str(), "version ");
        if (at && sscanf(at, "version %u.%u.%u.%u", &a, &b, &c, &d) == 4 && a < 256 && b < 256 && c < 256 && d < 256) {
            uint8_t version[4] = {(uint8_t)a, (uint8_t)b, (uint8_t)c, (uint8_t)d};
            unit.SetVersion(version);
        }
        at = strstr(text.c_str(), "password ");
        if (at && sscanf(at, "password %u", &password) == 1 && password <= kMaxPassword)
            unit.SetPassword((uint16_t)password);
        at = strstr(text.c_str(), "stream ");
        if (at && sscanf(at, "stream %15s", stream) == 1) openStream = stream;
    }
    got = ReadWhole(Path(kSettingsFile), &bytes);
    if (got < 0 || (got > 0 && !unit.Settings().Deserialize(bytes))) {
        *error = "unreadable " + Path(kSettingsFile);
        return false;
    }
    // The open stream is replayed last so that it is the open one again.
    for (int pass = 0; pass < 2; ++pass) {
        for (const StreamFile& s : kStreams) {
            if ((openStream == s.key) != (pass == 1)) continue;
            got = ReadWhole(Path(s.name), &bytes);
            if (got == 0) continue;
            StagedImage& stream = (unit.*s.stream)();
            bool ok = got > 0 && bytes.size() % kImageRecordBytes == 0;
            for (size_t k = 0; ok && k < bytes.size() / kImageRecordBytes; ++k)
                ok = unit.ReplayImageRecord(stream, (long)k, &bytes[k * kImageRecordBytes]);
            if (!ok) {
                *error = "unreadable " + Path(s.name);
                return false;
            }
        }
    }
    for (const StreamFile& s : kStreams) {
        got = ReadWhole(Path(s.appliedName), &bytes);
        if (got < 0) {
            *error = "unreadable " + Path(s.appliedName);
            return false;
        }
        if (got > 0) (unit.*s.applied)() = bytes;
    }
    return true;
}
