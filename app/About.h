// Version record and the About texts that depend on the interface language.
#pragma once
#include <cstdint>
#include <ctime>

#include "base/SString.h"

const int kVersionMajor = 1;
const int kVersionMinor = 3;
const int kVersionPatch = 2;
extern const char kVersionText[];

// Seconds since the epoch when this program was built.
time_t BuildTime();
// Defined by the build of each program (what BuildTime returns).
int64_t PeltaBuildTime();
// The build time as the About dialog shows it (local time).
SString BuildTimeText();

// The maker and contributor lines exist in a Russian and an international form.
struct AboutForm {
    const char* maker;
    const char* contributor;
};
// The Russian form for GTK's language "ru-ru" exactly, the other form for every language else.
const AboutForm& AboutFormFor(const char* language);
