#include "sim/Unit.h"

#include <cstdio>
#include <cstring>

#include "sim/ByteOrder.h"
#include "sim/MbapFrame.h"

namespace {
const uint16_t kIdentityResultOk = 1;
const size_t kDiscoveryMacAt = 2;
const size_t kDiscoveryIpAt = 12;
const uint16_t kMaxRegistersPerRequest = 125;
const uint16_t kMaxKeyedRegisters = 120;
}  // namespace

Unit::Unit(const UnitIdentity& identity, const uint8_t version[4], uint16_t password)
    : identity_(identity), password_(password) {
    memcpy(version_, version, sizeof version_);
}

void Unit::SetVersion(const uint8_t version[4]) { memcpy(version_, version, sizeof version_); }

uint8_t Unit::ReadRegisters(uint16_t start, uint16_t count, uint8_t* out) const {
    if (count == 0 || count > kMaxRegistersPerRequest) return kExIllegalDataValue;
    if ((uint32_t)start + count > kReadableRegisters) return kExIllegalDataAddress;
    uint8_t registers[kReadableRegisters * 2] = {};
    memcpy(registers + kVersionRegister * 2, version_, sizeof version_);
    memcpy(out, registers + start * 2, (size_t)count * 2);
    return 0;
}

uint8_t Unit::WriteKeyed(uint16_t start, uint16_t count, uint16_t password, const uint8_t* values,
                         UnitChange* change) {
    if (count == 0 || count > kMaxKeyedRegisters) return kExIllegalDataValue;
    for (uint32_t r = start; r < (uint32_t)start + count; ++r)
        if (r != kPasswordRegister && r != kCommandRegister) return kExIllegalDataAddress;
    if (password != password_) return kExIllegalDataValue;
    for (uint16_t i = 0; i < count; ++i) {
        uint16_t value = GetBe16(values + i * 2);
        if (start + i == kPasswordRegister && value > kMaxPassword) return kExIllegalDataValue;
        if (start + i == kCommandRegister && value != kRebootCommand) return kExIllegalDataValue;
    }
    for (uint16_t i = 0; i < count; ++i) {
        uint16_t value = GetBe16(values + i * 2);
        if (start + i == kPasswordRegister) {
            password_ = value;
            change->password = true;
        } else {
            change->reboot = true;
        }
    }
    return 0;
}

uint8_t Unit::ReadIdentity(uint16_t record, uint16_t length, uint32_t localIp, uint8_t* out) const {
    uint8_t bytes[kDiscoveryRegisters * 2] = {};
    uint16_t size;
    if (record == kDiscoveryRecord) {
        size = kDiscoveryRegisters;
        PutBe16(bytes, kIdentityResultOk);
        memcpy(bytes + kDiscoveryMacAt, identity_.mac, sizeof identity_.mac);
        PutBe32(bytes + kDiscoveryIpAt, identity_.configuredIpSet ? identity_.configuredIp : localIp);
    } else if (record == kIdentifierRecord) {
        size = kIdentifierRegisters;
        PutBe16(bytes, kIdentityResultOk);
        memcpy(bytes + 2, identity_.identifier, kIdentifierBytes);
    } else {
        return kExIllegalDataAddress;
    }
    if (length > size) return kExIllegalDataValue;
    memcpy(out, bytes, (size_t)length * 2);
    return 0;
}

const StagedImage* Unit::StreamCovering(uint16_t file, uint16_t record, long* position) const {
    const StagedImage* order[2] = {active_, active_ == &loader_ ? &firmware_ : &loader_};
    if (!active_) order[0] = &firmware_;
    for (const StagedImage* s : order) {
        long p = s->PositionOf(file, record);
        if (s->Covers(p)) {
            *position = p;
            return s;
        }
    }
    return nullptr;
}

StagedImage* Unit::ImageFileStream(uint16_t file) {
    if (file == kFirmwareFile) return &firmware_;
    if (file == kLoaderFile) return &loader_;
    return nullptr;
}

bool Unit::HoldsSettings(uint16_t file, uint16_t record) const {
    if (layout_ && layout_->Names(file, record)) return layout_->Fed(settings_, file, record);
    return settings_.Has(file, record);
}

uint8_t Unit::ReadRecord(uint16_t file, uint16_t record, uint16_t length, uint32_t localIp, uint8_t* out,
                         long* imagePosition) const {
    *imagePosition = -1;
    if (file == 0 || record > kMaxFileRecordNumber) return kExIllegalDataAddress;
    if (length == 0) return kExIllegalDataValue;
    if (file == kIdentityFile) return ReadIdentity(record, length, localIp, out);
    long position = -1;
    const StagedImage* stream = HoldsSettings(file, record) ? nullptr : StreamCovering(file, record, &position);
    if (stream) {
        if (length > kImageRecordRegisters) return kExIllegalDataValue;
        uint8_t bytes[kImageRecordBytes];
        stream->ReadBack(position, bytes);
        memcpy(out, bytes, (size_t)length * 2);
        *imagePosition = position;
        return 0;
    }
    if (length > kMaxSettingsRegisters) return kExIllegalDataValue;
    // Never written: register 0 is 0, as "Block is empty".
    if (layout_ && layout_->Names(file, record))
        layout_->Read(settings_, file, record, length, out);
    else
        settings_.Read(file, record, length, out);
    return 0;
}

uint8_t Unit::WriteRecord(uint16_t file, uint16_t record, uint16_t length, const uint8_t* data,
                          UnitChange* change) {
    if (file == 0 || file == kIdentityFile || record > kMaxFileRecordNumber) return kExIllegalDataAddress;
    if (length == 0) return kExIllegalDataValue;
    uint16_t keyRegister = GetBe16(data);
    // Only a write shaped like a header (8 registers, bit 15 clear) opens an image stream at
    // record 0 of an image file; anything else there is a settings record, so that a
    // description may place settings in those files too.
    bool headerShaped = length == kImageRecordRegisters && !(keyRegister & kWithoutValuesFlag);
    StagedImage* headerStream = record == 0 && headerShaped ? ImageFileStream(file) : nullptr;

    // A write where the open stream expects its next record is a code record of that stream,
    // even at record 0 of a loader file; a finished stream gives way to a new header there.
    long position = active_ ? active_->PositionOf(file, record) : -1;
    if (active_ && active_->TakesWrite(position) && !(active_->IsComplete() && headerStream)) {
        if (length != kImageRecordRegisters) return kExIllegalDataValue;
        if (keyRegister != password_) return kExIllegalDataValue;
        bool wasComplete = active_->IsComplete();
        if (!active_->WriteCode(position, data)) return kExIllegalDataValue;
        settings_.Erase(file, record);
        change->imageCompleted = !wasComplete && active_->IsComplete();
        return 0;
    }
    if (headerStream) {
        if (keyRegister != password_) return kExIllegalDataValue;
        if (!headerStream->WriteHeader(data)) return kExIllegalDataValue;
        if (settings_.Has(file, record)) {   // it reads back as the image's header from now on
            settings_.Erase(file, record);
            change->settings = true;
        }
        active_ = headerStream;
        change->imageCompleted = headerStream->IsComplete();
        return 0;
    }
    if (length > kMaxSettingsRegisters) return kExIllegalDataValue;
    if ((keyRegister & kPasswordMask) != password_) return kExIllegalDataValue;
    if (!settings_.Write(file, record, data, length)) return kExDeviceFailure;
    change->settings = true;
    return 0;
}

uint8_t Unit::WriteRecordRefusal(uint16_t file, uint16_t record, uint16_t length, const uint8_t* data) const {
    if (file == 0 || file == kIdentityFile || record > kMaxFileRecordNumber) return kExIllegalDataAddress;
    if (length == 0 || length > kMaxSettingsRegisters) return kExIllegalDataValue;
    // Image records want the key exactly, settings records with bit 15 masked: the masked
    // comparison holds for both, so it is the one that can be made before knowing which.
    if ((GetBe16(data) & kPasswordMask) != password_) return kExIllegalDataValue;
    return 0;
}

bool Unit::ReplayImageRecord(StagedImage& stream, long position, const uint8_t* record) {
    if (position == 0) {
        if (!stream.WriteHeader(record)) return false;
        active_ = &stream;
        return true;
    }
    return stream.WriteCode(position, record);
}

std::string Unit::Reboot() {
    std::string applied;
    if (firmware_.IsVerified()) {
        appliedFirmware_ = firmware_.UnmaskedImage();
        version_[3] = (uint8_t)(version_[3] + 1);
        applied += "firmware of " + std::to_string(appliedFirmware_.size()) + " bytes";
        firmware_.Clear();
    }
    if (loader_.IsVerified()) {
        appliedLoader_ = loader_.UnmaskedImage();
        if (!applied.empty()) applied += " and ";
        applied += "loader of " + std::to_string(appliedLoader_.size()) + " bytes";
        loader_.Clear();
    }
    if (active_ && !active_->IsOpen()) active_ = nullptr;
    char versionText[32];
    snprintf(versionText, sizeof versionText, "%u.%u.%u.%u", version_[0], version_[1], version_[2], version_[3]);
    return (applied.empty() ? std::string("no staged image") : "applied " + applied) + ", version " + versionText;
}
