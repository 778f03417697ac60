// Keeps the unit's changeable state in a directory so that it survives a restart:
//   unit.txt                 "version A.B.C.D", "password N", "stream firmware|loader|none"
//   settings.rec             settings records as written (see SettingsRecords::Serialize)
//   staged-firmware.rec      records of the staged firmware as written, 16 bytes each,
//   staged-loader.rec        header first (absent when nothing is staged)
//   firmware.bin, loader.bin the images applied by the last reboots, unmasked
// Every file is replaced atomically (written beside, then renamed).
#pragma once
#include <string>

class Unit;

class StateStore {
public:
    explicit StateStore(std::string directory) : dir_(std::move(directory)) {}
    // Creates the directory when missing; a missing file keeps the unit's start-up value.
    bool Load(Unit& unit, std::string* error);
    // The caller holds the unit's lock for each of these.
    void SaveUnit(Unit& unit);      // unit.txt and settings.rec
    void SaveStaged(Unit& unit);    // unit.txt and both staged streams
    void SaveAll(Unit& unit);       // everything, applied images included

private:
    std::string Path(const char* name) const { return dir_ + "/" + name; }
    bool WriteFile(const char* name, const void* data, size_t size);
    void RemoveFile(const char* name);

    std::string dir_;
};
