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
    const std::pair<const char*, int> styles[] = {{"Device founded on address", LogStyleResultOK},
                                                  {"Received some responses with one IP", LogStyleError}};
    for (const auto& s : styles)
        EXPECT_TRUE(ui.Find(s.first) < 0 || ui.StyleOf(s.first) == s.second) << s.first;
}
