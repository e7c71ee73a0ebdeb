#include "census/census.h"
#include "census/identity.h"
#include "platform/sim/sim.h"
#include "tests/unit/scenario.h"

#include <gtest/gtest.h>

#include <algorithm>

// The program's entry (census/main.cpp, renamed for the test build).
int DongleCensusEntry();

namespace {

struct CensusRun {
    DWORD result;
    DWORD nPresent;
    std::vector<std::string> lines;
};

// Runs the census directly and captures what it prints.
CensusRun RunCensus(DWORD nPresentBefore) {
    CensusRun r{0, nPresentBefore, {}};
    r.lines = PrintedLines([&] {
        r.result = CountPresentDongles(szDongleId, szAssocClassId, szDongleId2, &r.nPresent);
    });
    return r;
}

// The scenarios shared with the Wine tests, run through the program's entry: its exit status is
// the census result, or the error code when there is no device list.
class CensusScenario : public testing::TestWithParam<Scenario> {};

TEST_P(CensusScenario, PrintsExitsAndRecordsAsDescribed) {
    const Scenario& sc = GetParam();
    PlantScenario(sc);
    int status = 0;
    EXPECT_EQ(PrintedLines([&] { status = DongleCensusEntry(); }), sc.expect);
    EXPECT_EQ((DWORD)status, sc.result);
    EXPECT_EQ(sim::OpenDeviceSets(), 0);
    EXPECT_EQ(sim::OpenKeys(), 0);
    EXPECT_EQ(sim::BadHandleUses(), 0);
    if (sc.restart) {
        sim::Restart();
    }
    EXPECT_EQ(RecordText(), sc.record);
}

INSTANTIATE_TEST_SUITE_P(Shared, CensusScenario, testing::ValuesIn(LoadScenarios("census")),
                         ScenarioName);
INSTANTIATE_TEST_SUITE_P(BadInput, CensusScenario, testing::ValuesIn(LoadScenarios("bad-input")),
                         ScenarioName);

// The census stores the count it returns; without a device list it leaves the count as it was.
TEST(Census, StoresItsCountOnlyWhenItHasOne) {
    sim::Reset();
    sim::AddDevice("USB\\VID_7B2E&PID_0B74\\1").hardwareIds =
        sim::MultiSz({"USB\\VID_7B2E&PID_0B74"});
    CensusRun r = RunCensus(42);
    EXPECT_EQ(r.result, 1u);
    EXPECT_EQ(r.nPresent, 1u);
    sim::FailDeviceList(ERROR_ACCESS_DENIED);
    r = RunCensus(42);
    EXPECT_EQ(r.result, (DWORD)ERROR_ACCESS_DENIED);
    EXPECT_EQ(r.nPresent, 42u);
}

// Each read starts from a cleared buffer: a read that returns fewer bytes than the last cannot
// leave an earlier device's identifier in front of the pattern test.
TEST(Census, ShortReadNeverSeesAnEarlierIdentifier) {
    sim::Reset();
    sim::Device& first = sim::AddDevice("USB\\VID_1111&PID_0001\\1");
    first.hardwareIds = sim::MultiSz({"USB\\VID_1111&PID_0001"});
    first.compatibleIds = sim::MultiSz({"USB\\VID_7B2E&PID_2F40&MI_00"});
    sim::AddDevice("USB\\VID_2222&PID_0002\\2").hardwareIds = sim::Raw("");
    sim::Device& third = sim::AddDevice("USB\\VID_3333&PID_0003\\3");
    third.hardwareIds = sim::MultiSz({"USB\\CLASS_EF&SUBCLASS_03&PROT_01"});
    third.compatibleIds = sim::Raw("USB");
    const CensusRun r = RunCensus(0);
    EXPECT_EQ(r.result, 0u);
    EXPECT_TRUE(r.lines.empty());
}

} // namespace
