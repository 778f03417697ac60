// pelta-sim: a simulated Pelta unit for tests, demos and training without hardware.
#include <memory>
#include <string>

#include "sim/Faults.h"
#include "sim/Server.h"
#include "sim/SettingsLayout.h"
#include "sim/SettingsSeed.h"
#include "sim/SimDescription.h"
#include "sim/SimLog.h"
#include "sim/SimOptions.h"
#include "sim/StateStore.h"
#include "sim/Unit.h"

namespace {
const int kExitUsage = 2;

// The description the unit's settings reads follow, and the values it starts with.
bool SetUpSettings(const SimConfig& config, Unit& unit, StateStore* store, std::string* error) {
    std::lock_guard<std::mutex> lock(unit.Mutex());
    if (!config.descriptionPath.empty()) {
        SimDescription description;
        if (!LoadDescription(config.descriptionPath, &description, error)) {
            *error = "bad description " + *error;
            return false;
        }
        for (const std::string& line : description.skipped) SimLog("description: setting %s, skipped", line.c_str());
        auto layout = std::make_unique<SettingsLayout>(description);
        SimLog("description %s: %zu settings read from %zu records", config.descriptionPath.c_str(),
               description.settings.size(), layout->ReadRecords());
        unit.SetLayout(std::move(layout));
    }
    if (!config.settingsValuesPath.empty()) {
        size_t seeded = 0;
        std::vector<std::string> skipped;
        if (!SeedUnit(unit, config.settingsValuesPath, &seeded, &skipped, error)) {
            *error = "bad settings values " + *error;
            return false;
        }
        for (const std::string& line : skipped) SimLog("settings values: %s, skipped", line.c_str());
        SimLog("settings values %s: %zu records stored", config.settingsValuesPath.c_str(), seeded);
        if (store && seeded) store->SaveUnit(unit);
    }
    return true;
}
}  // namespace

int main(int argc, char** argv) {
    SimConfig config;
    std::string error;
    switch (ParseOptions(argc, argv, &config, &error)) {
    case ParseResult::kHelp:
        PrintUsage(stdout);
        return 0;
    case ParseResult::kError:
        SimError("%s (see pelta-sim --help)", error.c_str());
        return kExitUsage;
    case ParseResult::kRun:
        break;
    }
    Unit unit(config.identity, config.version, config.password);
    std::unique_ptr<StateStore> store;
    if (!config.stateDir.empty()) {
        store = std::make_unique<StateStore>(config.stateDir);
        if (!store->Load(unit, &error)) {
            SimError("%s", error.c_str());
            return kExitUsage;
        }
    }
    if (!SetUpSettings(config, unit, store.get(), &error)) {
        SimError("%s", error.c_str());
        return kExitUsage;
    }
    Faults faults(config.faults);
    Server server(config, unit, faults, store.get());
    if (!server.Open(&error)) {
        SimError("%s", error.c_str());
        return kExitUsage;
    }
    return server.Run();
}
