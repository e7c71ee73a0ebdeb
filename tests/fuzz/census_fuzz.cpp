// Fuzz target: the input bytes become a whole device tree on the simulated platform (devices of
// any identifier bytes, absent or failing properties, plugged in or not, disabled by either
// setting, interfaces, parents, statuses, class-installer answers, vetoes, failures after the
// setting is written, unreadable settings, changes deferred to a restart, Windows before 8 or
// from 8 on, each reading of a change to a node that is not in the tree), then the census, the
// status query and both control operations run on it. The census and the status query are held
// against a plain model; each switching outcome against what the platform holds right after it.
#include "census/census.h"
#include "census/identity.h"
#include "control/control.h"
#include "platform/sim/sim.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

namespace {

const GUID kClassA = {0xA5DCBF10, 0x6530, 0x11D2, {0x90, 0x1F, 0x00, 0xC0, 0x4F, 0xB9, 0x51, 0xED}};
const GUID kClassB = {0x4D1E55B2, 0xF16F, 0x11CF, {0x88, 0xCB, 0x00, 0x11, 0x11, 0x00, 0x00, 0x30}};
// The model's own copies of the dongle's patterns, written out: a changed constant in the
// program is then a difference the checks see.
const char kPrimary[] = "USB\\VID_7B2E&PID_2F40";
const char kSecondary[] = "USB\\VID_7B2E&PID_0B74";
const char kAssocClass[] = "USB\\CLASS_EF&SUBCLASS_03&PROT_01";

const sim::StateScope kChanges[] = {{DICS_DISABLE, DICS_FLAG_GLOBAL},
                                    {DICS_ENABLE, DICS_FLAG_GLOBAL},
                                    {DICS_ENABLE, DICS_FLAG_CONFIGSPECIFIC}};

#define CHECK(cond, what)                                                                          \
    do {                                                                                           \
        if (!(cond)) {                                                                             \
            fprintf(stderr, "property violated: %s (%s)\n", what, #cond);                          \
            abort();                                                                               \
        }                                                                                          \
    } while (0)

std::string Capture(const std::function<void()>& run) {
    char* data = nullptr;
    size_t size = 0;
    FILE* mem = open_memstream(&data, &size);
    FILE* saved = stdout;
    stdout = mem;
    run();
    fflush(mem);
    stdout = saved;
    fclose(mem);
    std::string out(data, size);
    free(data);
    return out;
}

// An identifier list: raw bytes, or one of the patterns (letter case scrambled) followed by
// arbitrary bytes, so that matches are common.
std::string IdBytes(FuzzedDataProvider& in) {
    static const char* const patterns[] = {kPrimary, kSecondary, kAssocClass};
    const int kind = in.ConsumeIntegralInRange(0, 3);
    std::string bytes;
    if (kind > 0) {
        bytes = patterns[kind - 1];
        const uint32_t flips = in.ConsumeIntegral<uint32_t>();
        for (size_t i = 0; i < bytes.size() && i < 32; i++) {
            if ((flips >> i) & 1) {
                bytes[i] = (char)((bytes[i] >= 'a' && bytes[i] <= 'z')   ? bytes[i] - 32
                                  : (bytes[i] >= 'A' && bytes[i] <= 'Z') ? bytes[i] + 32
                                                                         : bytes[i]);
            }
        }
    }
    return bytes + in.ConsumeRandomLengthString(300);
}

std::optional<sim::Property> PropertyOf(FuzzedDataProvider& in) {
    if (!in.ConsumeBool()) {
        return std::nullopt;
    }
    return sim::Raw(IdBytes(in), in.ConsumeBool() ? REG_MULTI_SZ : REG_SZ);
}

// The first identifier a successful read leaves in the 260-byte buffer, or nullopt when the
// read fails.
std::optional<std::string> FirstId(const std::optional<sim::Property>& p, DWORD error) {
    if (!p || error != 0 || p->bytes.size() > cbIdBuffer) {
        return std::nullopt;
    }
    return p->bytes.substr(0, p->bytes.find('\0'));
}

bool Prefix(const std::optional<std::string>& id, const char* pattern) {
    if (!id || id->size() < strlen(pattern)) {
        return false;
    }
    for (size_t i = 0; pattern[i] != '\0'; i++) {
        char a = (*id)[i];
        char b = pattern[i];
        a = (a >= 'A' && a <= 'Z') ? (char)(a + 32) : a;
        b = (b >= 'A' && b <= 'Z') ? (char)(b + 32) : b;
        if (a != b) {
            return false;
        }
    }
    return true;
}

// The model's own reading of the tree's rules. The node a device names as its parent: its
// index, or -1 when it names none or one no device has.
long NamedParent(const std::vector<sim::Device>& tree, size_t node) {
    for (size_t i = 0; i < tree.size() && !tree[node].parent.empty(); i++) {
        if (strcasecmp(tree[i].instanceId.c_str(), tree[node].parent.c_str()) == 0) {
            return (long)i;
        }
    }
    return -1;
}

// Disabled by either setting, or as it runs until a restart.
bool IsOff(const sim::Device& d) {
    return d.runsDisabled ? *d.runsDisabled : d.disabledGlobal || d.disabledConfig;
}

// In the device tree: plugged in, below parents that are in it and not disabled. Parents always
// come earlier in a fuzzed tree, so the walk ends.
bool Present(const std::vector<sim::Device>& tree, size_t node) {
    for (long n = (long)node; n != -1; n = NamedParent(tree, (size_t)n)) {
        if (!tree[(size_t)n].present || (n != (long)node && IsOff(tree[(size_t)n]))) {
            return false;
        }
    }
    return true;
}

DWORD ErrorOf(FuzzedDataProvider& in) {
    static const DWORD errors[] = {ERROR_INVALID_DATA, ERROR_NOT_ENOUGH_MEMORY,
                                   ERROR_INVALID_PARAMETER, ERROR_ACCESS_DENIED};
    return in.ConsumeIntegralInRange(0, 7) == 0 ? in.PickValueInArray(errors) : 0;
}

CONFIGRET ResultOf(FuzzedDataProvider& in) {
    return in.ConsumeIntegralInRange(0, 7) == 0 ? CR_NO_SUCH_DEVNODE : CR_SUCCESS;
}

std::vector<sim::Device> BuildTree(FuzzedDataProvider& in) {
    std::vector<sim::Device> tree;
    const int n = in.ConsumeIntegralInRange(0, 24);
    for (int i = 0; i < n; i++) {
        sim::Device d;
        std::string name = in.ConsumeRandomLengthString(12);
        name.erase(std::remove(name.begin(), name.end(), '\0'), name.end());
        d.instanceId = "DEV\\" + std::to_string(i) + "\\" + name;
        d.present = in.ConsumeIntegralInRange(0, 7) != 0;
        d.disabledGlobal = in.ConsumeIntegralInRange(0, 7) == 0;
        d.disabledConfig = in.ConsumeIntegralInRange(0, 7) == 0;
        d.defersChanges = in.ConsumeIntegralInRange(0, 7) == 0;
        d.hardwareIds = PropertyOf(in);
        d.compatibleIds = PropertyOf(in);
        d.failHardwareIds = ErrorOf(in);
        d.failCompatibleIds = ErrorOf(in);
        const int parent = in.ConsumeIntegralInRange(-1, i - 1);
        if (parent >= 0) {
            d.parent = tree[(size_t)parent].instanceId;
        }
        d.failParent = ResultOf(in);
        d.failInstanceId = ResultOf(in);
        d.failStatus = ResultOf(in);
        d.status = (in.ConsumeBool() ? DN_HAS_PROBLEM : DN_STARTED) | DN_DISABLEABLE;
        // As Wine's: the read succeeds and writes neither the status nor the problem.
        d.statusWritesNothing = in.ConsumeIntegralInRange(0, 7) == 0;
        d.problem = in.ConsumeIntegralInRange<ULONG>(20, 23);
        for (int k = in.ConsumeIntegralInRange(0, 3); k > 0; k--) {
            d.interfaces.push_back(in.ConsumeBool() ? kClassA : kClassB);
        }
        d.failInterfaceDetail = ErrorOf(in);
        for (const sim::StateScope& change : kChanges) {
            if (DWORD e = ErrorOf(in)) {
                d.failParams[change] = e;
            }
            if (DWORD e = ErrorOf(in)) {
                d.failInstaller[change] = e;
            }
            if (DWORD e = ErrorOf(in)) {
                d.failAfterWriting[change] = e;
            }
            if (in.ConsumeIntegralInRange(0, 7) == 0) {
                d.vetoed.insert(change);
            }
        }
        if (in.ConsumeIntegralInRange(0, 7) == 0) {
            d.status &= ~(ULONG)DN_DISABLEABLE;
        }
        d.otherConfigFlags = in.ConsumeBool() ? 0 : 0x40;
        d.otherProfileFlags = in.ConsumeBool() ? 0 : 0x4;
        d.failConfigFlags = ErrorOf(in);
        d.failProfileFlags = ResultOf(in);
        tree.push_back(d);
    }
    return tree;
}

void Plant(const std::vector<sim::Device>& tree, UINT codePage) {
    sim::Reset();
    sim::SetCodePage(codePage);
    for (const sim::Device& d : tree) {
        sim::AddDevice(d.instanceId) = d;
    }
}

void CheckReleased(const char* what) {
    CHECK(sim::OpenDeviceSets() == 0, what);
    CHECK(sim::OpenKeys() == 0, what);
    CHECK(sim::BadHandleUses() == 0, what);
}

void CheckCensus(const std::vector<sim::Device>& tree, DWORD listError, LONG keyError) {
    sim::FailDeviceList(listError);
    sim::FailKeyCreation(keyError);
    sim::SetValue(szRecordKey, szRecordValue, {REG_DWORD, std::string(4, '\x7f')});
    DWORD nPresent = 12345;
    DWORD result = 0;
    const std::string out = Capture(
        [&] { result = CountPresentDongles(szDongleId, szAssocClassId, szDongleId2, &nPresent); });
    CheckReleased("census releases everything");
    if (listError != 0) {
        CHECK(result == listError && out.empty() && nPresent == 12345, "no list, no census");
        CHECK(sim::QueryValue(szRecordKey, szRecordValue)->bytes == std::string(4, '\x7f'),
              "no list, record untouched");
        return;
    }
    std::string expected;
    DWORD count = 0;
    for (size_t i = 0; i < tree.size(); i++) {
        const sim::Device& d = tree[i];
        if (!Present(tree, i)) {
            continue;
        }
        const auto hw = FirstId(d.hardwareIds, d.failHardwareIds);
        const auto compat = FirstId(d.compatibleIds, d.failCompatibleIds);
        for (const char* pattern : {kPrimary, kSecondary}) {
            if (Prefix(hw, pattern)) {
                expected += *hw + "\n";
                count++;
            }
        }
        if (Prefix(compat, kAssocClass)) {
            expected += *compat + "\n";
            count++;
        }
    }
    CHECK(out == expected, "lines are exactly the matches, in order");
    CHECK(result == count && nPresent == count, "count equals the lines printed");
    for (size_t start = 0, nl; (nl = out.find('\n', start)) != std::string::npos; start = nl + 1) {
        CHECK(nl - start <= cbIdBuffer, "a line fits the buffer");
    }
    const auto record = sim::QueryValue(szRecordKey, szRecordValue);
    if (keyError == 0) {
        CHECK(record->type == REG_DWORD && record->bytes.size() == 4, "record is a DWORD");
        DWORD data;
        memcpy(&data, record->bytes.data(), 4);
        CHECK(data == count, "record equals the count");
    } else {
        CHECK(record->bytes == std::string(4, '\x7f'), "unwritable record untouched");
    }
}

void CheckStatus(const std::vector<sim::Device>& tree, DWORD detailError) {
    sim::FailListDetail(detailError);
    DWORD nFound = 99;
    DWORD nDisabled = 99;
    CHECK(QueryDongleStatus(&nFound, &nDisabled) == ERROR_SUCCESS, "status query succeeds");
    CheckReleased("status query releases its set");
    DWORD found = 0;
    DWORD disabled = 0;
    for (size_t i = 0; i < tree.size(); i++) {
        const sim::Device& d = tree[i];
        if (Present(tree, i) && detailError == 0 && d.failStatus == CR_SUCCESS &&
            Prefix(FirstId(d.hardwareIds, d.failHardwareIds), kPrimary)) {
            found++;
            disabled +=
                !d.statusWritesNothing &&
                (IsOff(d) || ((d.status & DN_HAS_PROBLEM) != 0 && d.problem == CM_PROB_DISABLED));
        }
    }
    CHECK(nFound == found && nDisabled == disabled, "status counts");
    sim::FailListDetail(0);
}

// The settings as the platform holds them, and whether they say the asked state.
bool SettingsSay(const sim::Device& d, bool enable) {
    const bool off = d.disabledGlobal || d.disabledConfig;
    return enable ? !off : off;
}

struct SwitchCheck {
    int holding;
    sim::AbsentNodeChange reading;
};

// Each reported outcome, held against what the platform holds right after the node was handled:
// the program never claims a state that does not hold, and where it could read the settings back
// it never claims a failure that did not happen.
bool CheckReport(const DongleSwitchReport* r, void* context) {
    SwitchCheck* check = (SwitchCheck*)context;
    if (r->outcome == doPassedOver) {
        return true;
    }
    const sim::Device* d = sim::FindDevice(r->szInstanceId);
    CHECK(d != nullptr, "a selected node is named");
    CHECK(Prefix(FirstId(d->hardwareIds, d->failHardwareIds), kPrimary),
          "only dongle nodes are selected");
    const bool says = SettingsSay(*d, r->bEnable);
    // As the status read reports it: a node in the tree whose read fails with CR_NO_SUCH_DEVINST
    // cannot be told from one that is not.
    const bool inTree = sim::InTree(d->instanceId) && d->failStatus != CR_NO_SUCH_DEVINST;
    const bool readable = d->failConfigFlags == 0 && d->failProfileFlags == CR_SUCCESS;
    switch (r->outcome) {
    case doSwitched:
        // As the status read reports it: a planted problem 22 reads as disabled.
        CHECK(inTree && says &&
                  (d->failStatus != CR_SUCCESS || d->statusWritesNothing ||
                   (sim::IsDisabled(d->instanceId) ||
                    ((d->status & DN_HAS_PROBLEM) != 0 && d->problem == CM_PROB_DISABLED)) ==
                       !r->bEnable),
              "switched: runs as asked");
        break;
    case doAtRestart:
    case doSettingWritten:
        CHECK(inTree && says, "held from the next restart: the settings say so");
        break;
    case doAbsentAsAsked:
        // An installer that reports a change made and writes nothing, for a node whose settings
        // cannot be read, leaves nothing to read back but its answer: that alone goes unchecked.
        CHECK(!inTree &&
                  (says || (!readable && check->reading == sim::AbsentNodeChange::MadeUnwritten)),
              "comes back as asked: the settings say so");
        break;
    case doRefused:
    case doAbsentNotAsAsked:
        CHECK(inTree == (r->outcome == doRefused), "refused nodes are in the tree");
        CHECK(!readable || !says, "a refusal that the settings read back confirm");
        CHECK(r->dwError != 0, "a refusal names its error");
        break;
    case doPassedOver:
        break;
    }
    check->holding += DongleOutcomeHolds(r->outcome) ? 1 : 0;
    return true;
}

// Runs one operation on the tree as planted and holds its reports against the platform.
void CheckSwitch(bool enable, bool wow64, bool windows8, sim::AbsentNodeChange reading) {
    sim::RunAsWow64(wow64);
    sim::RunAsWindows8(windows8);
    sim::TreatAbsentNodeChange(reading);
    SwitchCheck check = {0, reading};
    const int result = SwitchDongles(kClassA, enable, CheckReport, NULL, &check);
    CheckReleased("switching releases its set");
    CHECK(result == check.holding, "the count is the outcomes that hold");
    size_t disables = 0;
    for (const sim::Change& c : sim::Changes()) {
        const sim::Device* d = sim::FindDevice(c.instanceId);
        CHECK(Prefix(FirstId(d->hardwareIds, d->failHardwareIds), kPrimary),
              "only dongle nodes are switched");
        CHECK(c.hwProfile == 0 && c.stateChange == (enable ? DICS_ENABLE : DICS_DISABLE),
              "state change as asked");
        disables += c.stateChange == DICS_DISABLE;
    }
    for (const std::string& e : sim::Events()) {
        CHECK(enable || (e.rfind("SetConfigFlags", 0) != 0 && e.rfind("SetProfileFlags", 0) != 0),
              "disabling never writes a setting itself");
    }
    if (!enable) {
        CHECK(sim::Sleeps().size() == disables, "a pause before each disable");
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzedDataProvider in(data, size);
    const UINT codePage = in.ConsumeBool() ? 932 : 1252;
    const DWORD listError = in.ConsumeIntegralInRange(0, 15) == 0 ? ERROR_ACCESS_DENIED : 0;
    const LONG keyError = in.ConsumeIntegralInRange(0, 7) == 0 ? ERROR_ACCESS_DENIED : 0;
    const DWORD detailError = in.ConsumeIntegralInRange(0, 15) == 0 ? ERROR_INVALID_DATA : 0;
    const bool wow64 = in.ConsumeIntegralInRange(0, 15) == 0;
    const bool windows8 = in.ConsumeBool();
    const std::vector<sim::Device> tree = BuildTree(in);

    Plant(tree, codePage);
    CheckCensus(tree, listError, keyError);

    Plant(tree, codePage);
    CheckStatus(tree, detailError);

    // Disabling changes the tree (a disabled device's interfaces are no longer present), so
    // each operation starts from the tree as built.
    const sim::AbsentNodeChange reading = (sim::AbsentNodeChange)in.ConsumeIntegralInRange(0, 3);
    Plant(tree, codePage);
    CheckSwitch(false, wow64, windows8, reading);
    Plant(tree, codePage);
    CheckSwitch(true, wow64, windows8, reading);
    return 0;
}
