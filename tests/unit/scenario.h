// Scenarios described once as data (tests/scenarios/*.txt, format at the top of census.txt) and
// run both here, on the simulated platform, and under Wine against the real program. The build
// turns each file into JSON with tests/e2e/scenarios.py, the format's one reader; this side
// only reads that JSON.
#pragma once

#include "platform/sim/sim.h"

#include <gtest/gtest.h>

#include <functional>
#include <ostream>
#include <string>
#include <vector>

struct Scenario {
    std::string name;
    UINT codePage = 1252;
    std::string recordBefore = "absent"; // a number, "key" or "absent"
    DWORD deviceListError = 0;
    LONG keyCreationError = 0;
    std::vector<sim::Device> devices;
    std::vector<std::string> expect; // in the scenario's code page
    DWORD result = 0;
    bool restart = false;         // the machine restarts before the record is read
    std::string record;           // a number or "absent"
    std::vector<std::string> run; // device module: the interface class, then the operations
    bool simOnly = false;
    std::vector<int> windows; // the Windows settings it runs on: 7 (before 8), 8
    bool windows8 = false;    // the one it is planted with
    bool hasCommand = false;
    std::vector<std::string> command; // donglectl's arguments, for one run of it
    DWORD exit = 0;
    std::vector<std::string> stderrLines;
    bool wow64 = false;
    bool administrator = true;
    bool arm64 = false;
    DWORD installerRefuses = 0;
    std::vector<std::string> hiddenProcs;
    std::vector<std::string> readings; // how the installer treats a change of an absent node
    sim::AbsentNodeChange reading = sim::AbsentNodeChange::Made; // the one it is planted with
    std::vector<DWORD> exits;                                    // each run operation's exit status
    std::vector<std::pair<DWORD, std::pair<std::string, bool>>> plugs;
    std::vector<std::pair<size_t, DWORD>> consoleEvents;
    bool json = false;                  // stdout is one JSON document naming jsonNames
    std::vector<std::string> jsonNames; // in the scenario's code page
    std::vector<std::pair<std::string, std::string>> jsonHas;            // path, JSON value
    std::vector<std::pair<std::vector<std::string>, std::string>> usage; // arguments, message
    int deviceListFailures = 0; // how many device lists fail (0: every one)
    std::string rightsUnknown;  // what makes the rights check fail: "sid", "membership"
    bool stdoutFull = false;    // the command's standard output is a full disk
    sim::ChildrenReturn childrenReturn = sim::ChildrenReturn::AtNextList;
    std::vector<std::string> notifications; // refused, window, lost, duplicated
    bool jsonLines = false;
    std::vector<bool> silentPlugs;
};

// Reads the JSON form of a scenario file (SCENARIO_JSON_DIR/<set>.json); aborts the test
// program when it cannot.
std::vector<Scenario> LoadScenarios(const std::string& set);

// Builds the scenario's device tree, record and injected failures on a reset platform.
void PlantScenario(const Scenario& sc);

// The record after a run as the scenario writes it: a number or "absent".
std::string RecordText();

// Runs code and returns the lines it printed (each ended by "\n"; an unended last line is marked).
std::vector<std::string> PrintedLines(const std::function<void()>& run);
std::vector<std::string> SplitLines(const std::string& output);

// Test names for scenarios run as parameterized tests.
std::string ScenarioName(const testing::TestParamInfo<Scenario>& info);

// Names a scenario in test output.
inline void PrintTo(const Scenario& sc, std::ostream* os) {
    *os << sc.name;
}
