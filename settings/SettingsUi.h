// What the settings model needs from its front end: the window shows message boxes and keeps
// its tree and table in step; pelta-cli prints the texts; a test records them.
#pragma once
#include <vector>

#include "base/SString.h"

class SettingsUiI {
public:
    virtual ~SettingsUiI() = default;
    // A warning box with one button (already translated text); returns once it is answered.
    virtual void MsgBox(const SString& text) = 0;
    // The group tree was rebuilt or emptied: refill the tree store from DeviceSettings::Groups()
    // and expand it.
    virtual void GroupsRebuilt() {}
    // Select the tree row at this path of child indexes (empty: no row), with the tree's cursor
    // handler blocked.
    virtual void GroupSelect(const std::vector<int>& path) { (void)path; }
    // The list of shown settings is about to change (or the settings to go): drop the widgets
    // of DeviceSettings::Shown().
    virtual void ShownDropping() {}
    // The list of shown settings was rebuilt: build the widgets of DeviceSettings::Shown().
    virtual void GroupShown() {}
};
