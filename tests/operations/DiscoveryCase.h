// What one discovery run must show, checked alike on loopback and in network namespaces.
#pragma once
#include <gtest/gtest.h>

#include "base/LogTypes.h"
#include "tests/support/RecordingUi.h"

struct DiscoveryCase {
    const char* name;
    std::vector<std::vector<std::string>> units;  // simulator arguments of each unit
    AppState end;
    std::vector<std::string> rows;  // as RecordingUi::Rows() lists them
    const char* progress;
    std::vector<std::string> present, absent;
    bool talkLog = false;
};

inline void DiscoveryExpect(const DiscoveryCase& c, AppState end, RecordingUi& ui)
{
    EXPECT_EQ(c.end, end) << ui.Dump();
    EXPECT_EQ(c.rows, ui.Rows());
    EXPECT_EQ(c.progress, ui.ProgressText());
    EXPECT_EQ("", ui.Missing(c.present, c.absent));
    EXPECT_EQ(1, ui.clears.load());
    const int found = ui.StyleOf("Device founded on address"), twice = ui.StyleOf("Received some responses");
    EXPECT_TRUE((found < 0 || found == LogStyleResultOK) && (twice < 0 || twice == LogStyleError)) << found << twice;
}
