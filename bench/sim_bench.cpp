// The census, one poll of donglectl wait (the census's walk without the record), or the census's
// Setup API calls alone, once over a device list on the simulated platform, for counting
// instructions under callgrind.
//   sim_bench census|poll|baseline DEVICES.tsv     (lines as bench/devices.py prints them)
#include "bench/baseline_calls.h"
#include "census/census.h"
#include "census/identity.h"
#include "platform/sim/sim.h"

#include <fstream>
#include <iostream>
#include <sstream>

// One poll of donglectl wait: the walk and the rule, nothing printed, no record.
static DWORD Poll() {
    DWORD nCount = 0;
    DWORD dwError = 0;
    return WalkPresentDongles(szDongleId, szAssocClassId, szDongleId2, nullptr, nullptr, &nCount,
                              &dwError)
               ? nCount
               : dwError;
}

static std::vector<std::string> Split(const std::string& list) {
    std::vector<std::string> ids;
    std::istringstream in(list);
    for (std::string id; std::getline(in, id, '|');) {
        ids.push_back(id);
    }
    return ids;
}

int main(int argc, char** argv) {
    if (argc != 3) {
        std::cerr << "usage: sim_bench census|poll|baseline DEVICES.tsv\n";
        return 2;
    }
    const std::string mode = argv[1];
    std::ifstream in(argv[2]);
    sim::Reset();
    for (std::string line; std::getline(in, line);) {
        std::istringstream fields(line);
        std::string id, hw, compat;
        std::getline(fields, id, '\t');
        std::getline(fields, hw, '\t');
        std::getline(fields, compat, '\t');
        sim::Device& d = sim::AddDevice(id);
        d.hardwareIds = sim::MultiSz(Split(hw));
        if (!compat.empty()) {
            d.compatibleIds = sim::MultiSz(Split(compat));
        }
    }
    DWORD nPresent = 0;
    const DWORD result =
        mode == "census" ? CountPresentDongles(szDongleId, szAssocClassId, szDongleId2, &nPresent)
        : mode == "poll" ? Poll()
                         : BaselineCalls();
    std::cerr << mode << " " << result << "\n";
    return 0;
}
