// pelta-cli discover: its options, the units it found and how they are printed when the
// search ends (a table, or one JSON object per unit).
#pragma once
#include <cstdio>
#include <mutex>
#include <string>
#include <vector>

#include "operations/OperationRunner.h"

struct DiscoverRequest {
    std::string broadcast;  // empty: every interface's broadcast address
    int port = kDiscoveryPort;
    bool json = false;
};

// Takes the discover option at argv[*i] (moving *i past its value): 1 when taken, 0 when
// argv[*i] is no discover option, -1 with *error for a bad or missing value.
int DiscoverOptionParse(int argc, char** argv, int* i, DiscoverRequest* request, std::string* error);
// The runner's discovery options for the request; false with *error when ADDR is no IPv4 address.
bool DiscoverOptionsMake(const DiscoverRequest& request, DiscoveryOptions* options, std::string* error);

// The rows the window's list would show, kept as the worker reports them.
class FoundUnits {
public:
    struct Row {
        std::string ipConnect, ip, mac, id, version;
    };
    void Clear();
    void Add(const DFIND_DevInfo& unit);
    void Update(const DFIND_DevInfo& unit);
    std::vector<Row> Rows();
    // A header and one line per unit, columns padded to their widest text.
    void PrintTable(FILE* out);
    // One JSON object per unit and line.
    void PrintJson(FILE* out);

private:
    std::mutex lock_;
    std::vector<Row> rows_;
};

// What the search found, as the table or as JSON lines.
void DiscoverPrint(FoundUnits& units, bool json, FILE* out);
