// Settings walks on a real runner: a front end whose operation body reads or writes the
// settings the test picked, a loaded description, and the frames of a scripted unit.
#pragma once
#include <gtest/gtest.h>

#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "operations/OperationRunner.h"
#include "settings/SettingsTalk.h"
#include "tests/support/ScriptedPeer.h"
#include "tests/operations/RecordingUi.h"
#include "tests/operations/SimFixture.h"
#include "tests/settings/SettingsTestSupport.h"
#include "tests/support/SimProcess.h"

class TalkUi : public RecordingUi, public DS_SettingChangedI {
public:
    bool OperationBody(OperationKind kind, MODBUS_TalkInfo& talk) override;
    void SettingChanged(TiXmlElement* element) override;

    OperationRunner* runner = nullptr;
    std::vector<TiXmlElement*> walk;  // the settings the next operation walks
    std::vector<TiXmlElement*> changed;
    std::mutex changedLock;
};

// A "scalar" of group 1 with the same read and write place (byte: 1-based byte mode).
std::string Place(const std::string& name, const std::string& type, int file, int rec, int offset, int count,
                  const std::string& body = "", int byte = 0, const std::string& attrs = "");

// Read File Record request and answer, Write File Record request (its answer is the echo).
Bytes ReadRequest(uint16_t file, uint16_t rec, uint16_t length);
Bytes ReadAnswer(const Bytes& registers);
Bytes WriteRequest(uint16_t file, uint16_t rec, const Bytes& registers);

class TalkTest : public ::testing::Test {
protected:
    void TearDown() override;
    // Loads a description whose one group (gid 1) holds these settings.
    void Load(const std::string& scalars);
    // A runner talking to host with password 1.
    void RunnerStart(const std::string& host);
    void SimStart(std::vector<std::string> args = {});
    // One settings operation on these settings, from its begin to the joined worker.
    AppState Run(OperationKind kind, const std::vector<TiXmlElement*>& walk);
    TiXmlElement* Setting(const std::string& name);

    SettingsFixture model;
    std::unique_ptr<SimProcess> sim_;
    std::unique_ptr<TalkUi> ui_;
    std::unique_ptr<OperationRunner> runner_;
    std::string scratch_;
};
