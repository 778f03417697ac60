// A recording front end that also keeps the list of found units the way the window's list
// shows it, and whether each row appeared before phase two began.
#pragma once
#include <algorithm>
#include <mutex>
#include <string>
#include <vector>

#include "tests/operations/RecordingUi.h"

struct FoundRow {
    std::string ipConnect, ip, mac, id, version;
    bool duringPhaseOne = false;
    bool operator<(const FoundRow& o) const { return ipConnect < o.ipConnect; }
};

class FindUi : public RecordingUi {
public:
    void FoundUnitsClear() override
    {
        std::lock_guard<std::mutex> hold(rowsLock_);
        rows_.clear();
        ++clears;
    }
    void FoundUnitAdd(const DFIND_DevInfo& unit) override
    {
        bool phaseOne = Find("Get extra information") < 0;
        std::lock_guard<std::mutex> hold(rowsLock_);
        if (unit.row != (int)rows_.size())
            ++rowMistakes;
        rows_.push_back({unit.ipConnect.Text(), unit.ip.Text(), unit.mac.Text(), unit.id.Text(),
                         unit.version.Text(), phaseOne});
    }
    void FoundUnitUpdate(const DFIND_DevInfo& unit) override
    {
        std::lock_guard<std::mutex> hold(rowsLock_);
        if (unit.row < 0 || unit.row >= (int)rows_.size()) {
            ++rowMistakes;
            return;
        }
        rows_[(size_t)unit.row].id = unit.id.Text();
        rows_[(size_t)unit.row].version = unit.version.Text();
    }
    // Sorted by IP (connect): answers from several units arrive in any order.
    std::vector<FoundRow> Rows()
    {
        std::lock_guard<std::mutex> hold(rowsLock_);
        std::vector<FoundRow> sorted = rows_;
        std::sort(sorted.begin(), sorted.end());
        return sorted;
    }
    int RowCount()
    {
        std::lock_guard<std::mutex> hold(rowsLock_);
        return (int)rows_.size();
    }

    std::atomic<int> clears{0};
    std::atomic<int> rowMistakes{0};

private:
    std::mutex rowsLock_;
    std::vector<FoundRow> rows_;
};
