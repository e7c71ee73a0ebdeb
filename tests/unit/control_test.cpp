#include "control/control.h"
#include "donglectl/journal.h"
#include "donglectl/json.h"
#include "census/identity.h"
#include "platform/sim/sim.h"
#include "tests/support/platform_contract.h"
#include "tests/unit/scenario.h"

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <tuple>

// donglectl's entry, as the unit tests build it.
int DongleCtlEntry(int argc, char** argv);

namespace {

const GUID kUsbDevice = {
    0xA5DCBF10, 0x6530, 0x11D2, {0x90, 0x1F, 0x00, 0xC0, 0x4F, 0xB9, 0x51, 0xED}};
const GUID kHid = {0x4D1E55B2, 0xF16F, 0x11CF, {0x88, 0xCB, 0x00, 0x11, 0x11, 0x00, 0x00, 0x30}};

const char kController[] = "PCI\\VEN_8086&DEV_A36D\\3&11583659&0&A0";
const char kHub[] = "USB\\ROOT_HUB30\\4&2A1B3C&0&0";
const char kDongle[] = "USB\\VID_7B2E&PID_2F40\\5&1A2B3C4D&0&2";
const char kDongleMi[] = "USB\\VID_7B2E&PID_2F40&MI_00\\6&3C4D5E&0&0000";

// A successful status query's result with these counts.
std::tuple<DWORD, DWORD, DWORD> Counts(DWORD nFound, DWORD nDisabled) {
    return {ERROR_SUCCESS, nFound, nDisabled};
}

// The scenarios shared with the Wine tests, and the sim-only ones with steps between the
// operations; each on every Windows setting it names.
std::vector<Scenario> ControlScenarios() {
    static const std::map<std::string, sim::AbsentNodeChange> readings = {
        {"made", sim::AbsentNodeChange::Made},
        {"written-failed", sim::AbsentNodeChange::WrittenFailed},
        {"refused", sim::AbsentNodeChange::Refused}};
    std::vector<Scenario> all;
    for (Scenario sc : LoadScenarios("control")) {
        const std::string name = sc.name;
        for (int windows : sc.windows) {
            for (const std::string& reading : sc.readings) {
                sc.windows8 = windows == 8;
                sc.reading = readings.at(reading);
                sc.name = name + "-windows" + std::to_string(windows) +
                          (sc.readings.size() > 1 ? "-" + reading : "");
                all.push_back(sc);
            }
        }
    }
    return all;
}

struct CtlRun {
    int status;
    std::string out;
    std::string err;
};

// Runs donglectl; stdoutFull: its standard output is a full disk (/dev/full).
CtlRun RunDongleCtl(std::vector<std::string> args, bool stdoutFull = false) {
    args.insert(args.begin(), "donglectl");
    std::vector<char*> argv;
    for (std::string& a : args) {
        argv.push_back(a.data());
    }
    argv.push_back(nullptr);
    const int saved = dup(1);
    if (stdoutFull) {
        const int full = open("/dev/full", O_WRONLY);
        dup2(full, 1);
        close(full);
    } else {
        testing::internal::CaptureStdout();
    }
    testing::internal::CaptureStderr();
    int status = -1; // the process was ended by a console event
    try {
        status = DongleCtlEntry((int)args.size(), argv.data());
    } catch (const sim::ProcessEnded&) {
    }
    if (sim::EntryReturned() || status == -1) {
        status = -1;
        sim::ProcessGone();
    }
    fflush(stdout);
    fflush(stderr);
    std::string out;
    if (stdoutFull) {
        clearerr(stdout);
        dup2(saved, 1);
    } else {
        out = testing::internal::GetCapturedStdout();
    }
    close(saved);
    return {status, out, testing::internal::GetCapturedStderr()};
}

// "<program>" <arguments>, the program quoted: the program and the arguments.
std::pair<std::string, std::vector<std::string>> SplitCommand(const std::string& command) {
    std::istringstream line(command.substr(command.find('"', 1) + 1));
    std::vector<std::string> args;
    for (std::string arg; line >> arg;) {
        args.push_back(arg);
    }
    return {command.substr(1, command.find('"', 1) - 1), args};
}

// Who logs on after Windows has started: nobody (a kiosk, a server), a standard user, or an
// administrator, with the filtered token user account control gives the logon or the full one.
enum class Logon { Nobody, StandardUser, FilteredAdministrator, Administrator };

// Windows starts again: the machine restarts, the Service Control Manager starts each auto-start
// service as LocalSystem before anyone logs on, then who logs on. HKLM RunOnce entries run only
// at an administrator's logon (KB 2021405), with the logon's token, each value deleted before
// its command runs, or after it where its name begins with "!".
CtlRun StartWindows(Logon who = Logon::Nobody) {
    sim::Restart();
    CtlRun all = {0, "", ""};
    for (const auto& [name, command] : sim::AutoStartServices()) {
        const auto [program, args] = SplitCommand(command);
        sim::RunAsService(name, program);
        const CtlRun one = RunDongleCtl(args);
        all = {one.status, all.out + one.out, all.err + one.err};
        sim::RunAsService("", "");
    }
    if (who == Logon::FilteredAdministrator || who == Logon::Administrator) {
        const char kRunOnce[] = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\RunOnce";
        sim::RunAsAdministrator(who == Logon::Administrator);
        for (const auto& [name, value] : sim::Values(kRunOnce)) {
            if (name[0] != '!') {
                sim::DeleteValue(kRunOnce, name);
            }
            const CtlRun one = RunDongleCtl(SplitCommand(value.bytes.c_str()).second);
            all = {one.status, all.out + one.out, all.err + one.err};
            sim::DeleteValue(kRunOnce, name);
        }
        sim::RunAsAdministrator(true);
    }
    return all;
}

// Every string a JSON document holds, keys aside.
void CollectStrings(const nlohmann::json& j, std::set<std::string>* strings) {
    if (j.is_string()) {
        strings->insert(j.get<std::string>());
    }
    for (const auto& item : j) {
        if (j.is_structured()) {
            CollectStrings(item, strings);
        }
    }
}

// The output is one JSON document, ended by a newline, that holds each name and each member
// (a dotted path and its JSON value). It is kept as <name>.json in JSON_DOC_DIR, where the test
// json.schema holds every document against the schema.
void ExpectJsonDocument(const std::string& out, const std::string& name,
                        const std::vector<std::string>& names,
                        const std::vector<std::pair<std::string, std::string>>& members) {
    ASSERT_FALSE(out.empty());
    EXPECT_EQ(out.back(), '\n');
    std::ofstream(std::string(JSON_DOC_DIR) + "/" + name + ".json") << out;
    nlohmann::json doc;
    try {
        doc = nlohmann::json::parse(out);
    } catch (const nlohmann::json::exception& e) {
        FAIL() << e.what() << "\n" << out;
    }
    std::set<std::string> strings;
    CollectStrings(doc, &strings);
    for (const std::string& n : names) {
        EXPECT_EQ(strings.count(n), 1u) << n << " not in " << out;
    }
    for (const auto& [path, value] : members) {
        std::string pointer = "/" + path;
        std::replace(pointer.begin(), pointer.end(), '.', '/');
        const nlohmann::json::json_pointer at(pointer);
        EXPECT_TRUE(doc.contains(at) && doc.at(at) == nlohmann::json::parse(value))
            << path << " is not " << value << " in " << out;
    }
}

class ControlScenario : public testing::TestWithParam<Scenario> {};

// A "command" scenario runs donglectl once with its arguments; a "run" scenario runs it once per
// operation (the interface class given to those that take one), with the steps between them.
TEST_P(ControlScenario, PrintsAsDescribed) {
    const Scenario& sc = GetParam();
    PlantScenario(sc);
    CtlRun all = {0, "", ""};
    if (sc.hasCommand) {
        all = RunDongleCtl(sc.command, sc.stdoutFull);
    }
    int nUsage = 0;
    for (const auto& [args, message] : sc.usage) {
        const CtlRun one = RunDongleCtl(args);
        EXPECT_EQ(one.status, 2) << args[0];
        EXPECT_EQ(one.err, "donglectl: " + message + "\nRun \"donglectl --help\" for usage.\n");
        const bool json = std::any_of(args.begin(), args.end(), [](const std::string& a) {
            return _stricmp(a.c_str(), "--json") == 0;
        });
        if (json) {
            ExpectJsonDocument(one.out, sc.name + "-" + std::to_string(nUsage++), {},
                               {{"exit", "2"},
                                {"error.name", "\"usage\""},
                                {"error.text", nlohmann::json(message).dump()}});
        } else {
            EXPECT_EQ(one.out, "") << message;
        }
    }
    size_t nOp = 0;
    for (size_t i = 1; i < sc.run.size(); i++) {
        const std::string& op = sc.run[i];
        const size_t colon = op.find(':');
        if (op == "restart") {
            sim::Restart();
        } else if (op == "start") {
            const CtlRun start = StartWindows();
            all.out += start.out;
            all.err += start.err;
        } else if (colon != std::string::npos) {
            sim::Device* d = sim::FindDevice(op.substr(colon + 1));
            ASSERT_NE(d, nullptr) << op;
            d->present = op.compare(0, colon, "plug") == 0;
        } else if (op == "contract") {
            nOp++;
            GUID interfaceClass;
            ASSERT_TRUE(ReadInterfaceClassGuid(sc.run[0].c_str(), &interfaceClass));
            testing::internal::CaptureStdout();
            PrintPlatformContract(interfaceClass, "USB\\VID_7B2E&PID_2F40&REV_0100");
            fflush(stdout);
            all.out += testing::internal::GetCapturedStdout();
        } else {
            const bool hasClass = _stricmp(op.c_str(), "status") != 0 &&
                                  _stricmp(op.c_str(), "list") != 0 &&
                                  _stricmp(op.c_str(), "check") != 0;
            const CtlRun one = RunDongleCtl(hasClass ? std::vector<std::string>{op, sc.run[0]}
                                                     : std::vector<std::string>{op});
            EXPECT_EQ((DWORD)one.status, sc.exits.at(nOp)) << op << ": " << one.err;
            all.out += one.out;
            all.err += one.err;
            nOp++;
        }
    }
    if (sc.jsonLines) {
        // Event objects, one a line, naming what the scenario names; the run's document last.
        // Each line is kept for json.schema as a document is.
        std::vector<std::string> lines = SplitLines(all.out);
        ASSERT_FALSE(lines.empty());
        for (size_t i = 0; i + 1 < lines.size(); i++) {
            std::ofstream(std::string(JSON_DOC_DIR) + "/" + sc.name + "-event" + std::to_string(i) +
                          ".json")
                << lines[i] << "\n";
        }
        for (const std::string& n : sc.jsonNames) {
            EXPECT_NE(all.out.find(nlohmann::json(n).dump()), std::string::npos) << n;
        }
        ExpectJsonDocument(lines.back() + "\n", sc.name, {}, sc.jsonHas);
    } else if (sc.json) {
        ExpectJsonDocument(all.out, sc.name, sc.jsonNames, sc.jsonHas);
    } else {
        EXPECT_EQ(SplitLines(all.out), sc.expect);
    }
    // A wanted line's "<the system's text>" stands for the text the system gives an error code.
    const std::vector<std::string> err = SplitLines(all.err);
    std::vector<std::string> wanted = sc.stderrLines;
    const std::string kSystemText = "<the system's text>";
    for (size_t i = 0; i < wanted.size() && i < err.size(); i++) {
        const size_t at = wanted[i].find(kSystemText);
        const size_t tail = wanted[i].size() - at - kSystemText.size();
        if (at != std::string::npos && err[i].size() >= at + tail) {
            wanted[i].replace(at, kSystemText.size(), err[i].substr(at, err[i].size() - at - tail));
        }
    }
    EXPECT_EQ(err, wanted);
    EXPECT_EQ((DWORD)all.status, sc.exit);
    // What runs under Wine as well switches nothing there, nor here.
    EXPECT_TRUE(sc.simOnly || sim::Changes().empty());
    EXPECT_EQ(sim::OpenDeviceSets(), 0);
    EXPECT_EQ(sim::OpenSids(), 0);
    EXPECT_EQ(sim::BadHandleUses(), 0);
}

INSTANTIATE_TEST_SUITE_P(Shared, ControlScenario, testing::ValuesIn(ControlScenarios()),
                         ScenarioName);

// What each node's read-back makes of it, outcome and error, by instance ID; the pass's count in
// *pnCount.
std::map<std::string, std::pair<DongleOutcome, DWORD>> Outcomes(bool bEnable, GUID cls,
                                                                int* pnCount = nullptr) {
    std::map<std::string, std::pair<DongleOutcome, DWORD>> outcomes;
    const int n = SwitchDongles(
        cls, bEnable,
        [](const DongleSwitchReport* r, void* ctx) {
            (*(std::map<std::string, std::pair<DongleOutcome, DWORD>>*)ctx)[r->szInstanceId] = {
                r->outcome, r->dwError};
            return true;
        },
        nullptr, &outcomes);
    if (pnCount != nullptr) {
        *pnCount = n;
    }
    return outcomes;
}

// A host controller at the root of the tree with a hub below it: a node on the hub has the
// controller as its grandparent. The controller is node 0, the node a failed parent lookup
// stores, so an ignored failure would select the device.
class Control : public testing::Test {
  protected:
    void SetUp() override {
        sim::Reset();
        sim::AddDevice(kController).hardwareIds = sim::MultiSz({"PCI\\VEN_8086&DEV_A36D"});
        sim::Device& hub = sim::AddDevice(kHub);
        hub.hardwareIds = sim::MultiSz({"USB\\ROOT_HUB30"});
        hub.parent = kController;
    }

    void TearDown() override {
        EXPECT_EQ(sim::OpenDeviceSets(), 0);
        EXPECT_EQ(sim::BadHandleUses(), 0);
    }

    static sim::Device& AddNode(const std::string& id, const std::string& hardwareId,
                                const std::string& parent = kHub,
                                std::vector<GUID> interfaces = {kUsbDevice}) {
        sim::Device& d = sim::AddDevice(id);
        d.hardwareIds = sim::MultiSz({hardwareId, "USB\\VID_7B2E"});
        d.parent = parent;
        d.interfaces = interfaces;
        return d;
    }

    // The composite dongle: the device on the hub, its interface node below it.
    static void AddCompositeDongle() {
        AddNode(kDongle, "USB\\VID_7B2E&PID_2F40&REV_0100");
        AddNode(kDongleMi, "USB\\VID_7B2E&PID_2F40&REV_0100&MI_00", kDongle);
    }

    static std::vector<std::string> Touched() {
        std::vector<std::string> ids;
        for (const sim::Change& c : sim::Changes()) {
            ids.push_back(c.instanceId);
        }
        return ids;
    }

    // The calls that change state, with the pauses between them.
    static std::vector<std::string> Switching() {
        std::vector<std::string> lines;
        for (const std::string& e : sim::Events()) {
            if (e.rfind("Params", 0) == 0 || e.rfind("Sleep", 0) == 0 ||
                e.rfind("Install", 0) == 0) {
                lines.push_back(e);
            }
        }
        return lines;
    }

    // The status query's result, found and disabled; checked by the caller, so that a failure
    // points at the test.
    static std::tuple<DWORD, DWORD, DWORD> Status() {
        DWORD nFound = 99;
        DWORD nDisabled = 99;
        const DWORD dwResult = QueryDongleStatus(&nFound, &nDisabled);
        return {dwResult, nFound, nDisabled};
    }
};

// Selection

TEST_F(Control, SwitchesOnlyPrimaryPatternNodesOfTheInterfaceClass) {
    AddNode(kDongle, "USB\\VID_7B2E&PID_2F40&REV_0100");
    AddNode("USB\\VID_7B2E&PID_0B74\\5&1&0&1", "USB\\VID_7B2E&PID_0B74&REV_0100");
    sim::Device& cls = AddNode("USB\\VID_1234&PID_0001\\5&2&0&1", "USB\\VID_1234&PID_0001");
    cls.compatibleIds = sim::MultiSz({"USB\\Class_EF&SubClass_03&Prot_01"});
    AddNode("USB\\VID_7B2E&PID_2F40\\5&3&0&1", "USB\\VID_7B2E&PID_2F40", kHub, {kHid});
    EXPECT_EQ(DisableDongles(kUsbDevice), 1);
    EXPECT_EQ(Touched(), std::vector<std::string>{kDongle});
}

TEST_F(Control, GrandparentNeedsAnInstanceIdOfSixCharacters) {
    for (const char* grandparent : {"A\\B\\C", "A\\B\\CD"}) {
        sim::AddDevice(grandparent);
        AddNode(std::string(grandparent) + "-HUB", "USB\\ROOT_HUB", grandparent);
        AddNode(std::string("USB\\VID_7B2E&PID_2F40\\") + grandparent + "-DONGLE",
                "USB\\VID_7B2E&PID_2F40", std::string(grandparent) + "-HUB");
    }
    EXPECT_EQ(DisableDongles(kUsbDevice), 1);
    EXPECT_EQ(Touched(), std::vector<std::string>{"USB\\VID_7B2E&PID_2F40\\A\\B\\CD-DONGLE"});
}

TEST_F(Control, DeviceWithoutReadableHardwareIdsIsNeverSwitched) {
    AddNode("USB\\VID_7B2E&PID_2F40\\5&1&0&1", "USB\\VID_7B2E&PID_2F40").failHardwareIds =
        ERROR_NOT_ENOUGH_MEMORY;
    AddNode("USB\\VID_7B2E&PID_2F40\\5&2&0&1", "USB\\VID_7B2E&PID_2F40").hardwareIds.reset();
    EXPECT_EQ(DisableDongles(kUsbDevice), 0);
    EXPECT_EQ(EnableDongles(kUsbDevice), 0);
    EXPECT_TRUE(sim::Changes().empty());
}

TEST_F(Control, FailedParentOrInstanceIdLookupPassesTheDeviceOver) {
    AddNode("USB\\VID_7B2E&PID_2F40\\NOPARENT", "USB\\VID_7B2E&PID_2F40").failParent =
        CR_NO_SUCH_DEVNODE;
    sim::AddDevice("USB\\HUB\\NOGRANDPARENT").failParent = CR_FAILURE;
    AddNode("USB\\VID_7B2E&PID_2F40\\NOGRANDPARENT", "USB\\VID_7B2E&PID_2F40",
            "USB\\HUB\\NOGRANDPARENT");
    sim::AddDevice("PCI\\NOID\\0").failInstanceId = CR_FAILURE;
    AddNode("USB\\HUB\\NOID", "USB\\HUB", "PCI\\NOID\\0");
    AddNode("USB\\VID_7B2E&PID_2F40\\NOID", "USB\\VID_7B2E&PID_2F40", "USB\\HUB\\NOID");
    EXPECT_EQ(DisableDongles(kUsbDevice), 0);
    EXPECT_EQ(EnableDongles(kUsbDevice), 0);
    EXPECT_TRUE(sim::Changes().empty());
}

// A failed interface-detail call leaves did as the previous interface left it, also where it
// fails for want of a buffer without filling it in: that device must not be switched a second
// time in this one's name.
TEST_F(Control, InterfaceWhoseDeviceCannotBeHadIsPassedOver) {
    AddNode(kDongle, "USB\\VID_7B2E&PID_2F40");
    AddNode("USB\\VID_7B2E&PID_2F40\\NODETAIL", "USB\\VID_7B2E&PID_2F40").failInterfaceDetail =
        ERROR_NOT_ENOUGH_MEMORY;
    AddNode("USB\\VID_7B2E&PID_2F40\\UNFILLED", "USB\\VID_7B2E&PID_2F40").failInterfaceDetail =
        ERROR_INSUFFICIENT_BUFFER;
    EXPECT_EQ(DisableDongles(kUsbDevice), 1);
    EXPECT_EQ(Touched(), std::vector<std::string>{kDongle});
}

// The read-back: a status read that wrote no bits is no status (the global change's answer then
// tells how the node runs, not a failed configuration-specific change whose flag reads clear);
// problem 22 without DN_HAS_PROBLEM is no disabled node; a profile
// setting in force keeps a disable holding when the global change fails; a node whose status read
// fails for another reason than its absence is no unplugged one; a refusal of the
// configuration-specific enable is reported with its own error.
TEST_F(Control, ReadBackJudgesWhatHolds) {
    AddNode("USB\\VID_7B2E&PID_2F40\\NOBITS", "USB\\VID_7B2E&PID_2F40").statusWritesNothing = true;
    sim::Device& pending = AddNode("USB\\VID_7B2E&PID_2F40\\PENDING", "USB\\VID_7B2E&PID_2F40");
    pending.disabledConfig = true;
    pending.runsDisabled = false; // until the restart it waits for
    pending.failInstaller[{DICS_DISABLE, DICS_FLAG_GLOBAL}] = ERROR_INVALID_CLASS_INSTALLER;
    sim::Device& written = AddNode("USB\\VID_7B2E&PID_2F40\\WRITTEN", "USB\\VID_7B2E&PID_2F40");
    written.statusWritesNothing = true;
    written.failAfterWriting[{DICS_DISABLE, DICS_FLAG_GLOBAL}] = ERROR_INVALID_CLASS_INSTALLER;
    sim::Device& deferred = AddNode("USB\\VID_7B2E&PID_2F40\\DEFERRED", "USB\\VID_7B2E&PID_2F40");
    deferred.defersChanges = true;
    deferred.failConfigFlags = ERROR_INVALID_DATA;
    sim::Device& unwritten = AddNode("USB\\VID_7B2E&PID_2F40\\UNWRITTEN", "USB\\VID_7B2E&PID_2F40");
    unwritten.statusWritesNothing = true;
    unwritten.madeUnwritten = true;
    auto disable = Outcomes(false, kUsbDevice);
    EXPECT_EQ(disable["USB\\VID_7B2E&PID_2F40\\NOBITS"].first, doSwitched);
    EXPECT_EQ(disable["USB\\VID_7B2E&PID_2F40\\PENDING"].first, doSettingWritten);
    EXPECT_EQ(disable["USB\\VID_7B2E&PID_2F40\\WRITTEN"].first, doSettingWritten);
    EXPECT_EQ(disable["USB\\VID_7B2E&PID_2F40\\DEFERRED"].first, doAtRestart);
    EXPECT_EQ(disable["USB\\VID_7B2E&PID_2F40\\UNWRITTEN"].first, doRefused);

    AddNode("USB\\VID_7B2E&PID_2F40\\P22", "USB\\VID_7B2E&PID_2F40", kHub, {kHid}).problem =
        CM_PROB_DISABLED;
    sim::Device& failing =
        AddNode("USB\\VID_7B2E&PID_2F40\\FAILING", "USB\\VID_7B2E&PID_2F40", kHub, {kHid});
    failing.failStatus = CR_FAILURE;
    failing.failParent = CR_NO_SUCH_DEVNODE;
    sim::Device& config =
        AddNode("USB\\VID_7B2E&PID_2F40\\CONFIG", "USB\\VID_7B2E&PID_2F40", kHub, {kHid});
    config.disabledConfig = true;
    config.failInstaller[{DICS_ENABLE, DICS_FLAG_CONFIGSPECIFIC}] = ERROR_INVALID_CLASS_INSTALLER;
    sim::Device& unknown =
        AddNode("USB\\VID_7B2E&PID_2F40\\UNKNOWN", "USB\\VID_7B2E&PID_2F40", kHub, {kHid});
    unknown.statusWritesNothing = true;
    unknown.failInstaller[{DICS_ENABLE, DICS_FLAG_CONFIGSPECIFIC}] = ERROR_INVALID_CLASS_INSTALLER;
    sim::Device& unread =
        AddNode("USB\\VID_7B2E&PID_2F40\\UNREAD", "USB\\VID_7B2E&PID_2F40", kHub, {kHid});
    unread.disabledGlobal = true;
    unread.failStatus = CR_FAILURE;
    unread.failInstaller[{DICS_ENABLE, DICS_FLAG_GLOBAL}] = ERROR_INVALID_CLASS_INSTALLER;
    auto enable = Outcomes(true, kHid);
    EXPECT_EQ(enable["USB\\VID_7B2E&PID_2F40\\UNREAD"],
              std::make_pair(doRefused, (DWORD)ERROR_INVALID_CLASS_INSTALLER));
    EXPECT_EQ(std::count_if(sim::Events().begin(), sim::Events().end(),
                            [](const std::string& e) { return e.rfind("SetConfigFlags", 0) == 0; }),
              0);
    EXPECT_EQ(enable["USB\\VID_7B2E&PID_2F40\\UNKNOWN"].first, doSwitched);
    EXPECT_EQ(enable["USB\\VID_7B2E&PID_2F40\\P22"].first, doSwitched);
    EXPECT_EQ(enable["USB\\VID_7B2E&PID_2F40\\FAILING"].first, doPassedOver);
    EXPECT_EQ(enable["USB\\VID_7B2E&PID_2F40\\CONFIG"],
              std::make_pair(doRefused, (DWORD)ERROR_INVALID_CLASS_INSTALLER));
}

// State changes

TEST_F(Control, DisablePausesBeforeEachClassInstallerCall) {
    const std::string d = kDongle;
    const std::string d2 = "USB\\VID_7B2E&PID_2F40\\5&1A2B3C4D&0&3";
    AddNode(d, "USB\\VID_7B2E&PID_2F40&REV_0100");
    AddNode(d2, "USB\\VID_7B2E&PID_2F40&REV_0100");
    EXPECT_EQ(DisableDongles(kUsbDevice), 2);
    const std::vector<std::string> expected = {
        "Params " + d + " 2 1 0 ok",  "Sleep 2000", "Install " + d + " 2 1 ok",
        "Params " + d2 + " 2 1 0 ok", "Sleep 2000", "Install " + d2 + " 2 1 ok",
    };
    EXPECT_EQ(Switching(), expected);
    EXPECT_TRUE(sim::IsDisabled(kDongle));
}

TEST_F(Control, DisableCountsOncePerInterface) {
    AddNode(kDongle, "USB\\VID_7B2E&PID_2F40", kHub, {kUsbDevice, kHid, kUsbDevice});
    EXPECT_EQ(DisableDongles(kUsbDevice), 2);
    EXPECT_EQ(Touched(), (std::vector<std::string>{kDongle, kDongle}));
}

TEST_F(Control, DisableCountsOnlyWhatTheInstallerChanged) {
    AddNode("USB\\VID_7B2E&PID_2F40\\REFUSES", "USB\\VID_7B2E&PID_2F40")
        .failInstaller[{DICS_DISABLE, DICS_FLAG_GLOBAL}] = ERROR_NOT_DISABLEABLE;
    AddNode("USB\\VID_7B2E&PID_2F40\\REJECTS", "USB\\VID_7B2E&PID_2F40")
        .failParams[{DICS_DISABLE, DICS_FLAG_GLOBAL}] = ERROR_INVALID_PARAMETER;
    EXPECT_EQ(DisableDongles(kUsbDevice), 0);
    const std::vector<std::string> expected = {
        "Params USB\\VID_7B2E&PID_2F40\\REFUSES 2 1 0 ok",
        "Sleep 2000",
        "Install USB\\VID_7B2E&PID_2F40\\REFUSES 2 1 0xE0000231",
        "Params USB\\VID_7B2E&PID_2F40\\REJECTS 2 1 0 0x57",
    };
    EXPECT_EQ(Switching(), expected);
}

TEST_F(Control, EnableAsksGlobalThenConfigSpecificWithoutPause) {
    AddNode(kDongle, "USB\\VID_7B2E&PID_2F40");
    EXPECT_EQ(EnableDongles(kUsbDevice), 1);
    const std::string d = kDongle;
    const std::vector<std::string> expected = {
        "Params " + d + " 1 1 0 ok",
        "Install " + d + " 1 1 ok",
        "Params " + d + " 1 2 0 ok",
        "Install " + d + " 1 2 ok",
    };
    EXPECT_EQ(Switching(), expected);
    EXPECT_TRUE(sim::Sleeps().empty());
}

// The count says what holds, read back, not what the installer answered: a node that no failed
// change leaves disabled counts; one whose profile setting stays set does not.
TEST_F(Control, EnableCountsWhatHolds) {
    AddNode("USB\\VID_7B2E&PID_2F40\\GLOBALFAILS", "USB\\VID_7B2E&PID_2F40")
        .failInstaller[{DICS_ENABLE, DICS_FLAG_GLOBAL}] = ERROR_INVALID_CLASS_INSTALLER;
    AddNode("USB\\VID_7B2E&PID_2F40\\GLOBALREJECTED", "USB\\VID_7B2E&PID_2F40")
        .failParams[{DICS_ENABLE, DICS_FLAG_GLOBAL}] = ERROR_INVALID_PARAMETER;
    sim::Device& configFails =
        AddNode("USB\\VID_7B2E&PID_2F40\\CONFIGFAILS", "USB\\VID_7B2E&PID_2F40");
    configFails.failInstaller[{DICS_ENABLE, DICS_FLAG_CONFIGSPECIFIC}] =
        ERROR_INVALID_CLASS_INSTALLER;
    configFails.disabledConfig = true;
    sim::Device& configRejected =
        AddNode("USB\\VID_7B2E&PID_2F40\\CONFIGREJECTED", "USB\\VID_7B2E&PID_2F40");
    configRejected.failParams[{DICS_ENABLE, DICS_FLAG_CONFIGSPECIFIC}] = ERROR_INVALID_PARAMETER;
    configRejected.disabledConfig = true;
    EXPECT_EQ(EnableDongles(kUsbDevice), 2);
    EXPECT_EQ(sim::Changes().size(), 6u);
    EXPECT_FALSE(sim::IsDisabled("USB\\VID_7B2E&PID_2F40\\GLOBALFAILS"));
    EXPECT_TRUE(sim::IsDisabled("USB\\VID_7B2E&PID_2F40\\CONFIGFAILS"));
}

// A disabled dongle that is not in the tree, under each reading of how the installer treats
// it. Its global setting is cleared in every case, its other flags kept; where the installer
// writes nothing, through the setting's own setter, and only then. The profile's setting has no
// documented setter: where the installer writes nothing, that node comes back disabled, and is
// not counted, with an error even where the installer reported the change made.
TEST_F(Control, AbsentNodeComesBackEnabledUnderEveryReading) {
    const std::string profile = "USB\\VID_7B2E&PID_2F40\\PROFILE";
    for (sim::AbsentNodeChange reading :
         {sim::AbsentNodeChange::Made, sim::AbsentNodeChange::WrittenFailed,
          sim::AbsentNodeChange::Refused, sim::AbsentNodeChange::MadeUnwritten}) {
        SetUp();
        sim::TreatAbsentNodeChange(reading);
        sim::Device& d = AddNode(kDongle, "USB\\VID_7B2E&PID_2F40");
        d.present = false;
        d.disabledGlobal = true;
        d.otherConfigFlags = 0x40;
        sim::Device& p = AddNode(profile, "USB\\VID_7B2E&PID_2F40");
        p.present = false;
        p.disabledConfig = true;
        const bool refused = reading == sim::AbsentNodeChange::Refused ||
                             reading == sim::AbsentNodeChange::MadeUnwritten;
        int n = 0;
        const auto outcomes = Outcomes(true, kUsbDevice, &n);
        EXPECT_EQ(outcomes.at(profile).first, refused ? doAbsentNotAsAsked : doAbsentAsAsked);
        EXPECT_EQ(n, refused ? 1 : 2);
        // A change reported made that does not hold still failed: never error 0.
        EXPECT_TRUE(!refused || outcomes.at(profile).second != 0);
        EXPECT_FALSE(sim::IsDisabled(kDongle));
        EXPECT_EQ(sim::IsDisabled(profile), refused);
        EXPECT_EQ(d.otherConfigFlags, 0x40u);
        const auto& events = sim::Events();
        const bool set =
            std::find(events.begin(), events.end(),
                      "SetConfigFlags " + std::string(kDongle) + " 64") != events.end();
        EXPECT_EQ(set, refused);
        // The global setting is written only where it is set.
        EXPECT_TRUE(std::none_of(events.begin(), events.end(), [&](const std::string& e) {
            return e.rfind("SetConfigFlags " + profile, 0) == 0;
        }));
    }
}

// A setting that cannot be read back: where the node's status is known and it runs enabled,
// that holds; where the status is unknown (a read that writes nothing), the installer's answer
// for the scope counts, and a failed enable of a node never disabled is not counted, as nothing
// confirms it.
TEST_F(Control, UnreadableSettingCountsByTheStatusThenTheAnswer) {
    for (bool known : {false, true}) {
        const std::string suffix = known ? "-KNOWN" : "";
        sim::Device& global =
            AddNode("USB\\VID_7B2E&PID_2F40\\GLOBAL" + suffix, "USB\\VID_7B2E&PID_2F40");
        global.failConfigFlags = ERROR_INVALID_DATA;
        global.failInstaller[{DICS_ENABLE, DICS_FLAG_GLOBAL}] = ERROR_INVALID_CLASS_INSTALLER;
        global.statusWritesNothing = !known;
        sim::Device& profile =
            AddNode("USB\\VID_7B2E&PID_2F40\\PROFILE" + suffix, "USB\\VID_7B2E&PID_2F40");
        profile.failProfileFlags = CR_CALL_NOT_IMPLEMENTED;
        profile.failInstaller[{DICS_ENABLE, DICS_FLAG_CONFIGSPECIFIC}] =
            ERROR_INVALID_CLASS_INSTALLER;
        profile.statusWritesNothing = !known;
    }
    AddNode("USB\\VID_7B2E&PID_2F40\\READABLE", "USB\\VID_7B2E&PID_2F40")
        .failInstaller[{DICS_ENABLE, DICS_FLAG_GLOBAL}] = ERROR_INVALID_CLASS_INSTALLER;
    sim::Device& made = AddNode("USB\\VID_7B2E&PID_2F40\\MADE", "USB\\VID_7B2E&PID_2F40");
    made.failConfigFlags = ERROR_INVALID_DATA;
    made.statusWritesNothing = true;
    EXPECT_EQ(EnableDongles(kUsbDevice), 4);
}

// Present and not-present interfaces

TEST_F(Control, DisableSeesPresentInterfacesAndEnableSeesAll) {
    AddNode("USB\\VID_7B2E&PID_2F40\\ON", "USB\\VID_7B2E&PID_2F40");
    AddNode("USB\\VID_7B2E&PID_2F40\\OFF", "USB\\VID_7B2E&PID_2F40").disabledGlobal = true;
    AddNode("USB\\VID_7B2E&PID_2F40\\GONE", "USB\\VID_7B2E&PID_2F40").present = false;
    EXPECT_EQ(DisableDongles(kUsbDevice), 1);
    EXPECT_EQ(Touched(), std::vector<std::string>{"USB\\VID_7B2E&PID_2F40\\ON"});
    EXPECT_EQ(EnableDongles(kUsbDevice), 3);
    EXPECT_EQ(sim::Events().at(0), "ClassDevs 18");
}

// Status query

TEST_F(Control, StatusCountsDisabledOnlyWithProblemBitAndProblem22) {
    auto add = [](const char* id, ULONG status, ULONG problem) {
        sim::Device& d = AddNode(id, "USB\\VID_7B2E&PID_2F40");
        d.status = status;
        d.problem = problem;
    };
    add("USB\\VID_7B2E&PID_2F40\\BIT-ONLY", DN_HAS_PROBLEM, 21);
    add("USB\\VID_7B2E&PID_2F40\\22-ONLY", DN_STARTED, CM_PROB_DISABLED);
    add("USB\\VID_7B2E&PID_2F40\\BOTH", DN_HAS_PROBLEM, CM_PROB_DISABLED);
    EXPECT_EQ(Status(), Counts(3, 1));
}

TEST_F(Control, StatusPassesOverNodesWhoseReadsFail) {
    AddNode("USB\\VID_7B2E&PID_2F40\\OK", "USB\\VID_7B2E&PID_2F40");
    AddNode("USB\\VID_7B2E&PID_2F40\\NOSTATUS", "USB\\VID_7B2E&PID_2F40").failStatus = CR_FAILURE;
    AddNode("USB\\VID_7B2E&PID_2F40\\NOIDS", "USB\\VID_7B2E&PID_2F40").failHardwareIds =
        ERROR_INVALID_DATA;
    AddNode("USB\\VID_7B2E&PID_2F40\\GONE", "USB\\VID_7B2E&PID_2F40").present = false;
    EXPECT_EQ(Status(), Counts(1, 0));
    const auto& events = sim::Events();
    EXPECT_NE(std::find(events.begin(), events.end(), "Status USB\\VID_7B2E&PID_2F40\\OK local"),
              events.end());
    // Only present devices are listed: a node that is not present is never even read.
    EXPECT_EQ(std::find(events.begin(), events.end(), "Read USB\\VID_7B2E&PID_2F40\\GONE 1"),
              events.end());
    sim::FailListDetail(ERROR_INVALID_USER_BUFFER);
    EXPECT_EQ(Status(), Counts(0, 0));
}

// Wine's status read succeeds without writing the status or the problem: each node is judged
// on its own read, never on the node before it.
TEST_F(Control, StatusIsResetBeforeEachRead) {
    sim::Device& off = AddNode("USB\\VID_7B2E&PID_2F40\\OFF", "USB\\VID_7B2E&PID_2F40");
    off.status = DN_HAS_PROBLEM;
    off.problem = CM_PROB_DISABLED;
    AddNode("USB\\VID_7B2E&PID_2F40\\SILENT", "USB\\VID_7B2E&PID_2F40").statusWritesNothing = true;
    EXPECT_EQ(Status(), Counts(2, 1));
}

// A 32-bit process on 64-bit Windows: the class installer refuses every change. Disabling still
// pauses before each call and reports nothing changed; the status query is unaffected.
TEST_F(Control, InWow64NothingIsSwitched) {
    AddCompositeDongle();
    sim::RunAsWow64(true);
    EXPECT_EQ(DisableDongles(kUsbDevice), 0);
    EXPECT_EQ(sim::Sleeps(), (std::vector<DWORD>{2000, 2000}));
    // Refused, the nodes stay enabled as they were: the count says so.
    EXPECT_EQ(EnableDongles(kUsbDevice), 2);
    EXPECT_EQ(sim::Changes().size(), 6u);
    for (const sim::Change& c : sim::Changes()) {
        EXPECT_FALSE(c.made);
    }
    EXPECT_EQ(Status(), Counts(2, 0));
}

// The composite dongle on a hub, as the recovery tests plant it, under one reading of a change
// to a node out of the tree.
void PlantCompositeDongle(sim::AbsentNodeChange reading) {
    sim::Reset();
    sim::TreatAbsentNodeChange(reading);
    sim::AddDevice(kController);
    sim::AddDevice(kHub).parent = kController;
    for (const char* id : {kDongle, kDongleMi}) {
        sim::Device& d = sim::AddDevice(id);
        d.hardwareIds = sim::MultiSz({"USB\\VID_7B2E&PID_2F40&REV_0100"});
        d.parent = id == kDongle ? kHub : kDongle;
        d.interfaces = {kUsbDevice};
    }
}

const std::vector<std::string> kReset = {"reset", "{A5DCBF10-6530-11D2-901F-00C04FB951ED}"};
const char kRecoveryFolder[] = "C:\\ProgramData\\donglectl-recovery";

// A reset of the composite dongle ended by a kill right after the dongle's node was disabled.
void ResetEndedAfterTheFirstDisable() {
    for (long call = 1;; call++) {
        PlantCompositeDongle(sim::AbsentNodeChange::Made);
        sim::EndProcessAtCall(call, false);
        ASSERT_EQ(RunDongleCtl(kReset).status, -1);
        if (sim::IsDisabled(kDongle)) {
            return;
        }
    }
}

// reset ended at every platform call it makes, by a kill or by a power cut, on a composite
// dongle under each reading of a change to a node out of the tree: when Windows starts again,
// whoever logs on after it (nobody, a standard user, an administrator under user account control
// or with full rights), both nodes are enabled, no reset is pending and the recovery service is
// gone. The recovery itself ended at any of its calls runs again at the next start.
TEST(DongleCtl, ResetEndedAnywhereLeavesTheDongleEnabledAfterTheNextStart) {
    auto expectRecovered = [](const std::string& where) {
        EXPECT_FALSE(sim::IsDisabled(kDongle)) << where;
        EXPECT_FALSE(sim::IsDisabled(kDongleMi)) << where;
        EXPECT_EQ(RunDongleCtl({"status"}).err, "") << where;
        EXPECT_FALSE(sim::ServiceInstalled("donglectlRecovery")) << where;
    };
    for (sim::AbsentNodeChange reading :
         {sim::AbsentNodeChange::Made, sim::AbsentNodeChange::WrittenFailed,
          sim::AbsentNodeChange::Refused, sim::AbsentNodeChange::MadeUnwritten}) {
        PlantCompositeDongle(reading);
        EXPECT_EQ(RunDongleCtl(kReset).status, 0);
        // Finished, it leaves nothing: the service and, at the next restart, the copy.
        EXPECT_FALSE(sim::ServiceInstalled("donglectlRecovery"));
        sim::Restart();
        EXPECT_FALSE(sim::FileExists(kRecoveryFolder));
        const long calls = sim::Calls();
        for (long call = 1; call <= calls; call++) {
            // A kill; a power cut before the lazy flusher wrote anything, or after it wrote
            // what was 1 s or 3.5 s old (an installer call takes 1 s here).
            for (DWORD cut : {0u, 1u, 1000u, 3500u}) {
                for (Logon who : {Logon::Nobody, Logon::StandardUser, Logon::FilteredAdministrator,
                                  Logon::Administrator}) {
                    const std::string where = std::to_string(call) + " cut " + std::to_string(cut) +
                                              ", logon " + std::to_string((int)who);
                    PlantCompositeDongle(reading);
                    sim::EndProcessAtCall(call, cut != 0);
                    sim::LazyFlushAfter(cut > 1 ? cut : 0);
                    EXPECT_EQ(RunDongleCtl(kReset).status, -1) << where;
                    StartWindows(who);
                    expectRecovered(where);
                }
            }
        }
    }
    // A reset ended after its first disable; the recovery ended in turn at each of its calls by
    // a power cut: the next start finishes it.
    ResetEndedAfterTheFirstDisable();
    const long before = sim::Calls();
    EXPECT_EQ(StartWindows().status, 0);
    expectRecovered("uninterrupted recovery");
    const long recoveryCalls = sim::Calls() - before;
    for (long call = 1; call <= recoveryCalls; call++) {
        ResetEndedAfterTheFirstDisable();
        sim::EndProcessAtCall(sim::Calls() + call, true);
        StartWindows();
        StartWindows();
        expectRecovered("recovery cut at " + std::to_string(call));
    }
}

// Ctrl+C at any platform call of reset: the installer disables nothing after that call, and the
// enable pass leaves every node enabled (before the handler is installed, Ctrl+C ends the process
// with nothing switched).
TEST(DongleCtl, CtrlCAtAnyCallOfResetStopsEveryLaterDisable) {
    PlantCompositeDongle(sim::AbsentNodeChange::Made);
    EXPECT_EQ(RunDongleCtl(kReset).status, 0);
    const long calls = sim::Calls();
    for (long call = 1; call <= calls; call++) {
        PlantCompositeDongle(sim::AbsentNodeChange::Made);
        sim::RaiseConsoleEventAtCall(call, CTRL_C_EVENT);
        RunDongleCtl(kReset);
        const auto& events = sim::Events();
        const auto pressed = std::find(events.begin(), events.end(), "ConsoleEvent 0");
        ASSERT_NE(pressed, events.end()) << call;
        // The call the key was pressed at may be the installer's own.
        const bool atInstall = pressed + 1 != events.end() && pressed[1].rfind("Install ", 0) == 0;
        for (auto e = pressed + (atInstall ? 2 : 1); e != events.end(); ++e) {
            EXPECT_NE(e->rfind("Install ", 0) == 0 && e->find(" 2 1 ") != std::string::npos, true)
                << call << ": " << *e;
        }
        EXPECT_FALSE(sim::IsDisabled(kDongle)) << call;
        EXPECT_FALSE(sim::IsDisabled(kDongleMi)) << call;
    }
}

// What runs at Windows' start is out of a standard user's reach: the copy, its folder, the
// service and the record. A folder of that name that a standard user made first (they own it),
// or that others may write, is refused, and then nothing is switched off.
TEST(DongleCtl, AStandardUserCannotChangeWhatRunsAtStart) {
    ResetEndedAfterTheFirstDisable();
    const std::string program = std::string(kRecoveryFolder) + "\\donglectl.exe";
    ASSERT_TRUE(sim::FileExists(program));
    sim::RunAs(sim::Token::StandardUser);
    EXPECT_EQ(CreateFileA(program.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                          FILE_ATTRIBUTE_NORMAL, nullptr),
              INVALID_HANDLE_VALUE);
    EXPECT_FALSE(DeleteFileA(program.c_str()));
    EXPECT_FALSE(MoveFileExA(kRecoveryFolder, "C:\\ProgramData\\moved", 0));
    EXPECT_EQ(CreateFileA((std::string(kRecoveryFolder) + "\\version.dll").c_str(), GENERIC_WRITE,
                          0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr),
              INVALID_HANDLE_VALUE);
    SC_HANDLE hScm = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT);
    EXPECT_EQ(OpenServiceA(hScm, "donglectlRecovery", SERVICE_CHANGE_CONFIG), nullptr);
    CloseServiceHandle(hScm);
    HKEY hk = nullptr;
    EXPECT_NE(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\donglectl\\Recovery", 0,
                            KEY_SET_VALUE | KEY_WOW64_64KEY, &hk),
              ERROR_SUCCESS);
    sim::ProcessGone();
    sim::RunAs(sim::Token::Administrator);

    PlantCompositeDongle(sim::AbsentNodeChange::Made);
    sim::RunAs(sim::Token::StandardUser);
    ASSERT_TRUE(CreateDirectoryA(kRecoveryFolder, nullptr));
    sim::RunAs(sim::Token::Administrator);
    const CtlRun refused = RunDongleCtl(kReset);
    EXPECT_EQ(refused.status, (int)ERROR_INVALID_OWNER);
    EXPECT_NE(refused.err.find("the folder C:\\ProgramData\\donglectl-recovery"), std::string::npos)
        << refused.err;
    for (const sim::Change& c : sim::Changes()) {
        EXPECT_NE(c.stateChange, (DWORD)DICS_DISABLE);
    }
    // Made by an administrator by hand, it inherits ProgramData's list, where users may write.
    PlantCompositeDongle(sim::AbsentNodeChange::Made);
    ASSERT_TRUE(CreateDirectoryA(kRecoveryFolder, nullptr));
    EXPECT_EQ(RunDongleCtl(kReset).status, (int)ERROR_INVALID_ACL);
}

// A recovery whose program is not the one recorded (another build put in its place by an
// administrator) refuses and keeps the record; one whose program is gone cannot start. Either
// way the next run says that nothing is set up to finish the reset at the start.
TEST(DongleCtl, ARecoveryWhoseProgramIsNotTheOneRecordedRefuses) {
    const std::string program = std::string(kRecoveryFolder) + "\\donglectl.exe";
    for (bool missing : {false, true}) {
        ResetEndedAfterTheFirstDisable();
        if (missing) {
            ASSERT_TRUE(MoveFileExA(program.c_str(), "C:\\ProgramData\\elsewhere.exe", 0));
        } else {
            HANDLE h = CreateFileA(program.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                   FILE_ATTRIBUTE_NORMAL, nullptr);
            DWORD written = 0;
            ASSERT_TRUE(WriteFile(h, "MZ another build", 16, &written, nullptr));
            CloseHandle(h);
        }
        StartWindows();
        EXPECT_EQ(sim::ServiceState("donglectlRecovery").second,
                  missing ? 0u : (DWORD)ERROR_FILE_INVALID);
        EXPECT_TRUE(sim::IsDisabled(kDongle)) << missing;
        EXPECT_NE(RunDongleCtl({"status"}).err.find("Nothing is set up to finish it"),
                  std::string::npos)
            << missing;
    }
}

// A reset recorded as interrupted, and an enable that switches nothing (the node now hangs where
// the grandparent test passes it over): the node still reads back disabled, so the record stays
// and the run says so.
TEST(DongleCtl, ARecordStaysUntilItsNodesReadBackEnabled) {
    PlantCompositeDongle(sim::AbsentNodeChange::Made);
    sim::FindDevice(kDongle)->disabledGlobal = true;
    sim::FindDevice(kDongle)->parent = "";
    const char kRecord[] = "SOFTWARE\\donglectl\\InterruptedResets";
    sim::SetValue(kRecord, kReset[1], {REG_MULTI_SZ, std::string(kDongle) + '\0' + '\0'});
    const CtlRun run = RunDongleCtl({"enable", kReset[1]});
    EXPECT_EQ(run.status, (int)ERROR_GEN_FAILURE);
    EXPECT_NE(run.err.find(std::string(kDongle) + " does not read back enabled."),
              std::string::npos)
        << run.err;
    EXPECT_NE(run.err.find("a reset of " + kReset[1] + " was interrupted"), std::string::npos);
    EXPECT_TRUE(sim::QueryValue(kRecord, kReset[1]).has_value());
    // The 32-bit build on 64-bit Windows reads the record in the 64-bit view too.
    sim::RunAsWow64(true);
    EXPECT_NE(RunDongleCtl({"status"}).err.find("was interrupted"), std::string::npos);
}

// report's file is whole or not there: list's whole output in it with Windows' line ends, a
// file of that name replaced only once the new one is complete, and where it cannot be written
// (a folder of that name, a disk that fills) nothing left and nothing replaced.
TEST(DongleCtl, AReportIsWrittenWholeOrNotAtAll) {
    PlantCompositeDongle(sim::AbsentNodeChange::Made);
    const std::string path = "C:\\Tools\\report.txt";
    std::string list;
    for (char c : RunDongleCtl({"list"}).out) {
        list += c == '\n' ? "\r\n" : std::string(1, c);
    }
    for (int i = 0; i < 2; i++) {
        const CtlRun run = RunDongleCtl({"report", path});
        EXPECT_EQ(run.status, 0) << run.err;
        EXPECT_EQ(run.out, "report written to " + path + "\n");
    }
    const std::string text = sim::FileBytes(path);
    EXPECT_EQ(text.rfind("donglectl report, 2026-01-01T00:00:0", 0), 0u) << text;
    EXPECT_NE(text.find("\r\n  windows        6.1 build 7601 Service Pack 1, x64\r\n"),
              std::string::npos)
        << text;
    EXPECT_EQ(text.substr(text.size() - std::min(text.size(), list.size())), list);
    const std::vector<std::string> before = sim::FilesUnder("C:\\Tools");
    const std::pair<std::string, DWORD> refused[] = {{"C:\\Tools\\donglectl", ERROR_ACCESS_DENIED},
                                                     {path, ERROR_DISK_FULL}};
    for (const auto& [target, error] : refused) {
        sim::DiskFree(error == ERROR_DISK_FULL ? text.size() / 2 : SIZE_MAX);
        const CtlRun run = RunDongleCtl({"report", target});
        EXPECT_EQ(run.status, (int)error) << target;
        EXPECT_EQ(run.out, "");
        EXPECT_EQ(run.err.rfind("donglectl: the report cannot be written to " + target + ": ", 0),
                  0u)
            << run.err;
    }
    EXPECT_EQ(sim::FilesUnder("C:\\Tools"), before);
    EXPECT_EQ(sim::FileBytes(path), text);
}

// watch follows the first 32 matches, and says so where the census counts more.
TEST(DongleCtl, WatchSaysWhenItFollowsFewerMatchesThanThereAre) {
    sim::Reset();
    for (int i = 0; i < 40; i++) {
        sim::AddDevice(std::string(kDongle) + std::to_string(i)).hardwareIds =
            sim::MultiSz({"USB\\VID_7B2E&PID_2F40&REV_0100"});
    }
    const CtlRun run = RunDongleCtl({"watch", "--timeout", "1", "--json"});
    EXPECT_EQ(run.err, "donglectl: the census counts 40 matches; watch follows the first 32 it "
                       "finds, and says nothing of the others\n");
    const nlohmann::json doc = nlohmann::json::parse(SplitLines(run.out).back());
    EXPECT_EQ(doc["count"], 40);
    EXPECT_EQ(doc["followed"], 32);
}

// One switching run at a time on the machine: while another holds the lock, reset refuses at
// once and switches nothing.
TEST(DongleCtl, ASecondSwitchingRunRefusesWhileOneRuns) {
    PlantCompositeDongle(sim::AbsentNodeChange::Made);
    sim::HoldMutexElsewhere("Global\\donglectl-switching", true);
    const CtlRun run = RunDongleCtl(kReset);
    EXPECT_EQ(run.status, (int)ERROR_BUSY);
    EXPECT_NE(run.err.find("another disable, enable or reset is running"), std::string::npos);
    EXPECT_TRUE(sim::Changes().empty());
}

// wait by each way Windows tells of changes: idle for ten minutes, then the dongle plugged in.
// The device lists it takes while nothing happens, and how long after the arrival it answers.
struct WaitFigures {
    long idleLists;
    DWORD answeredAfter;
};
WaitFigures WaitForPluggedDongle(bool configManager, bool window, bool lost) {
    sim::Reset();
    sim::RunAsWindows8(configManager); // CM_Register_Notification exists from Windows 8 on
    sim::RefuseNotifications(!configManager, !window);
    sim::LoseNotifications(lost);
    sim::Device& d = sim::AddDevice(kDongle);
    d.hardwareIds = sim::MultiSz({"USB\\VID_7B2E&PID_2F40&REV_0100"});
    d.interfaces = {kUsbDevice};
    d.present = false;
    const DWORD plug = 603333; // off the grid of every interval
    sim::PlugAt(plug, kDongle, true);
    const CtlRun run = RunDongleCtl({"wait", "--timeout", "900"});
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.out, "USB\\VID_7B2E&PID_2F40&REV_0100\n");
    long lists = 0;
    for (const std::string& e : sim::Events()) {
        lists += e.rfind("ClassDevs", 0) == 0 ? 1 : 0;
    }
    return {lists - 2, sim::Now() - plug}; // less the census that found it and its lines
}

TEST(DongleCtl, WaitListsDevicesWhenWindowsTellsOfAChange) {
    for (bool window : {false, true}) {
        const WaitFigures told = WaitForPluggedDongle(!window, window, false);
        EXPECT_LE(told.idleLists, 61) << window;       // ten minutes at 10 s, and the first
        EXPECT_LE(told.answeredAfter, 200u) << window; // one census after the burst settled
    }
    const WaitFigures lost = WaitForPluggedDongle(true, true, true);
    EXPECT_LE(lost.answeredAfter, 10000u); // the next census at the safety interval
    EXPECT_GT(lost.answeredAfter, 200u);   // and not before: nothing told of the arrival
    // Where nothing registers, the poll of every 0.5 s.
    EXPECT_LE(WaitForPluggedDongle(false, false, false).answeredAfter, 500u);
}

// Ctrl+C during a wait that Windows' notifications serve ends it at once, not at the next
// safety census.
TEST(DongleCtl, CtrlCEndsAWaitAtOnce) {
    sim::Reset();
    sim::RunAsWindows8(true);
    sim::RaiseConsoleEventDuringPause(0, CTRL_C_EVENT);
    sim::RunInConsole(true); // someone at a command prompt is told what is waited for
    const CtlRun run = RunDongleCtl({"wait"});
    EXPECT_EQ(run.status, (int)ERROR_CANCELLED);
    EXPECT_EQ(SplitLines(run.err).at(0),
              "donglectl: waiting until the dongle is plugged in, with no timeout (--timeout "
              "SECONDS gives up); Ctrl+C stops");
    EXPECT_LT(sim::Now(), 10000u);
}

// A dongle that goes between the count and the lines of a census is not reported present with
// no lines: wait goes on waiting. A match whose identifier changes under the same instance ID is
// told as gone and arrived.
TEST(DongleCtl, WaitAndWatchFollowTheDongleBetweenTwoLists) {
    sim::Reset();
    sim::Device& d = sim::AddDevice(kDongle);
    d.hardwareIds = sim::MultiSz({"USB\\VID_7B2E&PID_2F40&REV_0100"});
    d.interfaces = {kUsbDevice};
    sim::PlugAtList(2, kDongle, false);
    EXPECT_EQ(RunDongleCtl({"wait", "--timeout", "1"}).status, (int)ERROR_TIMEOUT);
    d.present = true;
    sim::ChangeHardwareIdsAt(sim::Now() + 1000, kDongle,
                             sim::MultiSz({"USB\\VID_7B2E&PID_2F40&REV_0200"}));
    const std::string out = RunDongleCtl({"watch", "--timeout", "3"}).out;
    EXPECT_NE(out.find("removed " + std::string(kDongle) + " USB\\VID_7B2E&PID_2F40&REV_0100"),
              std::string::npos)
        << out;
    EXPECT_NE(out.find("arrived " + std::string(kDongle) + " USB\\VID_7B2E&PID_2F40&REV_0200"),
              std::string::npos)
        << out;
}

// The record names each node once, in the order recorded; a record that is no REG_DWORD, however
// long, is said to be one.
TEST(DongleCtl, RecordsSayWhatTheyHold) {
    sim::Reset();
    for (const char* id : {"A", "B", "A"}) {
        ASSERT_EQ(JournalNode(kReset[1].c_str(), id), 0u);
    }
    EXPECT_EQ(sim::QueryValue("SOFTWARE\\donglectl\\InterruptedResets", kReset[1])->bytes,
              std::string("A\0B\0\0", 5));
    sim::SetValue("SYSTEM\\CurrentControlSet\\Services\\Tavrel", "DonglePlugedIn",
                  {REG_SZ, std::string("12345", 6)});
    EXPECT_NE(RunDongleCtl({"list"}).out.find("not a REG_DWORD (type 1)"), std::string::npos);
}

// A dash that a word processor or an East Asian keyboard wrote for "--" gets the option it was
// meant to be, in the code page's own bytes; options may come before the verb.
TEST(DongleCtl, ReadsWhatWasMeant) {
    sim::Reset();
    for (const auto& [codePage, arg] : {std::pair<UINT, std::string>{1252, "\x97json"},
                                        {1252, "-\x96json"},
                                        {932, "\x81\x7Cjson"}}) {
        sim::SetCodePage(codePage);
        const CtlRun run = RunDongleCtl({"status", arg});
        EXPECT_EQ(run.status, 2);
        EXPECT_EQ(SplitLines(run.err).at(0),
                  "donglectl: an option begins with a typographic dash, as word processors "
                  "write '--'; did you mean '--json'?")
            << arg;
    }
    sim::SetCodePage(1252);
    EXPECT_EQ(RunDongleCtl({"--timeout", "0", "wait", "absent"}).status, 0);
}

// GUID text as Windows writes it, either case, braces optional; nothing else.
TEST(DongleCtl, ReadsOnlyWholeGuids) {
    sim::Reset();
    GUID guid;
    for (const char* good :
         {"{A5DCBF10-6530-11D2-901F-00C04FB951ED}", "a5dcbf10-6530-11d2-901f-00c04fb951ed"}) {
        EXPECT_TRUE(ReadInterfaceClassGuid(good, &guid)) << good;
        EXPECT_EQ(memcmp(&guid, &kUsbDevice, sizeof(GUID)), 0) << good;
    }
    for (const char* bad :
         {"{A5DCBF10-6530-11D2-901F-00C04FB951ED", "A5DCBF10-6530-11D2-901F-00C04FB951ED}",
          "(A5DCBF10-6530-11D2-901F-00C04FB951ED)", "{A5DCBF10-6530-11D2-901F-00C04FB951E}",
          "{A5DCBF10-6530-11D2-901F-00C04FB951ED0}", "{A5DCBF10_6530_11D2_901F_00C04FB951ED}",
          "A5DCBF10-6530-11D2-901F-00C04FB951EDX", "{A5DCBF10-6530-11D2-901F-00C04FB951ED)", "",
          "{}"}) {
        EXPECT_FALSE(ReadInterfaceClassGuid(bad, &guid)) << bad;
    }
}

// donglectl's help: the same text for each of its spellings, in any case and any position, on
// standard output; a verb's own help wherever a spelling of help meets a verb; a usage error for
// a word that is no verb.
TEST(DongleCtl, HelpForEachSpelling) {
    const CtlRun help = RunDongleCtl({"help"});
    EXPECT_EQ(help.status, 0);
    EXPECT_EQ(help.out.rfind("donglectl 2.3.0: ", 0), 0u) << help.out;
    EXPECT_EQ(help.err, "");
    for (const std::vector<std::string>& again : {std::vector<std::string>{"--help"},
                                                  {"-h"},
                                                  {"/?"},
                                                  {"-?"},
                                                  {"/h"},
                                                  {"/help"},
                                                  {"HELP"},
                                                  {"help", "help"},
                                                  {"--HELP", "/?"}}) {
        const CtlRun one = RunDongleCtl(again);
        EXPECT_EQ(one.out, help.out) << again[0];
        EXPECT_EQ(one.status, 0) << again[0];
    }
    const CtlRun verb = RunDongleCtl({"help", "DISABLE"});
    EXPECT_EQ(verb.status, 0);
    EXPECT_EQ(verb.out.rfind("usage: donglectl disable ", 0), 0u) << verb.out;
    for (const std::vector<std::string>& again :
         {std::vector<std::string>{"disable", "/?"},
          {"--help", "disable"},
          {"disable", "-H"},
          {"disable", "{A5DCBF10-6530-11D2-901F-00C04FB951ED}", "/?"}}) {
        EXPECT_EQ(RunDongleCtl(again).out, verb.out) << again[0] << " " << again[1];
    }
    // The version answers to the spellings other tools use.
    for (const char* spelling : {"version", "-V", "/version", "-version"}) {
        EXPECT_EQ(RunDongleCtl({spelling}).out, "donglectl 2.3.0\n") << spelling;
    }
    // Every help fits a console of 80 columns.
    for (const char* topic : {"help", "status", "check", "list", "census", "disable", "enable",
                              "reset", "wait", "watch", "recover"}) {
        std::istringstream text(RunDongleCtl({"help", topic}).out);
        for (std::string line; std::getline(text, line);) {
            EXPECT_LE(line.size(), 79u) << topic << ": " << line;
        }
    }
    const CtlRun bad = RunDongleCtl({"help", "a", "b"});
    EXPECT_EQ(bad.status, 2);
    EXPECT_EQ(bad.out, "");
}

// JSON text: quotes, backslashes and control characters escaped, so that any identifier bytes
// make a valid document.
TEST(DongleCtl, JsonEscapesEveryByteOutsidePrintableAscii) {
    sim::Reset();
    testing::internal::CaptureStdout();
    JsonWriter json;
    JsonStart(&json);
    JsonString(&json, "id", "a\"b\\c\x01\x7f\xc4\x81", 9);
    JsonFinish(&json);
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "{\"id\":\"a\\\"b\\\\c\\u0001\\u007f\\u00c4\\ufffd\"}\n");
}

// Failure results

TEST_F(Control, NoDeviceListIsReportedAndTouchesNothing) {
    AddCompositeDongle();
    sim::FailDeviceList(ERROR_NOT_ENOUGH_MEMORY);
    EXPECT_EQ(DisableDongles(kUsbDevice), -1);
    EXPECT_EQ(EnableDongles(kUsbDevice), -1);
    DWORD nFound = 7;
    DWORD nDisabled = 8;
    EXPECT_EQ(QueryDongleStatus(&nFound, &nDisabled), (DWORD)ERROR_NOT_ENOUGH_MEMORY);
    EXPECT_EQ(nFound, 7u);
    EXPECT_EQ(nDisabled, 8u);
    EXPECT_TRUE(sim::Changes().empty());
}

} // namespace
