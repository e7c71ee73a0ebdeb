// The simulated platform's test API (sim.h): building trees, injecting failures, reading back
// what the program asked.
#include "platform/sim/state.h"

namespace sim {

Property MultiSz(const std::vector<std::string>& ids) {
    Property p;
    for (const std::string& id : ids) {
        p.bytes += id;
        p.bytes += '\0';
    }
    p.bytes += '\0';
    return p;
}

Property Sz(const std::string& text) {
    Property p;
    p.type = REG_SZ;
    p.bytes = text + '\0';
    return p;
}

Property Raw(const std::string& bytes, DWORD type) {
    Property p;
    p.type = type;
    p.bytes = bytes;
    return p;
}

void Reset() {
    State& s = St();
    EntryReturned();
    s.mainThread = std::this_thread::get_id();
    s.devices.clear();
    s.keys.clear();
    s.sets.clear();
    s.openKeys.clear();
    s.deviceListError = 0;
    s.listDetailError = 0;
    s.keyCreationError = 0;
    s.wow64 = false;
    s.console = false;
    s.arm64 = false;
    s.refuseEveryChange = 0;
    s.hiddenProcs.clear();
    s.absentNodeChange = AbsentNodeChange::Made;
    s.childrenReturn = ChildrenReturn::AtNextList;
    s.endsAt = 0;
    s.calls = 0;
    s.endAtCall = 0;
    s.powerCut = false;
    s.unflushed.clear();
    s.lazyFlushMs = 0;
    s.eventObjects.clear();
    s.registrations.clear();
    s.windows.clear();
    s.messages.clear();
    s.cmNotifyRefused = s.windowNotifyRefused = false;
    s.notificationsLost = s.notificationsDuplicated = false;
    s.handlerRunning = false;
    s.deviceListFailures = 0;
    s.now = 0;
    s.plugs.clear();
    s.lists = 0;
    s.consoleEvents.clear();
    s.consoleHandlers.clear();
    s.windows8 = false;
    s.token = Token::Administrator;
    s.modulePath.clear();
    s.service.clear();
    s.services.clear();
    s.scHandles.clear();
    s.serviceHandler = nullptr;
    s.openFiles.clear();
    s.diskFree = SIZE_MAX;
    s.mutexes.clear();
    s.mutexHandles.clear();
    s.consoleEventsAtCall.clear();
    PlantFileSystem();
    // Keys every Windows has: the SYSTEM hive's control set, and RunOnce.
    s.keys["SYSTEM\\CURRENTCONTROLSET\\CONTROL"];
    s.keys["SOFTWARE\\MICROSOFT\\WINDOWS\\CURRENTVERSION\\RUNONCE"];
    s.sidsAllocate = true;
    s.membershipChecks = true;
    for (BYTE* sid : s.sids) {
        delete[] sid;
    }
    s.sids.clear();
    s.codePage = 1252;
    s.changes.clear();
    s.sleeps.clear();
    s.events.clear();
    s.badHandles = 0;
    s.lastError = 0;
}

Device& AddDevice(const std::string& instanceId) {
    St().devices.emplace_back();
    St().devices.back().instanceId = instanceId;
    return St().devices.back();
}

Device* FindDevice(const std::string& instanceId) {
    for (Device& d : St().devices) {
        if (Upper(d.instanceId) == Upper(instanceId)) {
            return &d;
        }
    }
    return nullptr;
}

void FailDeviceList(DWORD error, int times) {
    St().deviceListError = error;
    St().deviceListFailures = times;
}
void FailListDetail(DWORD error) {
    St().listDetailError = error;
}
void FailKeyCreation(LONG error) {
    St().keyCreationError = error;
}
void RunInConsole(bool console) {
    St().console = console;
}
void RunAsWow64(bool wow64) {
    St().wow64 = wow64;
}
void RunOnArm64(bool arm64) {
    St().arm64 = arm64;
}
void RefuseEveryChange(DWORD error) {
    St().refuseEveryChange = error;
}
void HideProc(const std::string& name) {
    St().hiddenProcs.insert(name);
}
void TreatAbsentNodeChange(AbsentNodeChange reading) {
    St().absentNodeChange = reading;
}
void ReturnChildren(ChildrenReturn reading) {
    St().childrenReturn = reading;
}
void EndProcessAtCall(long call, bool powerCut) {
    St().endAtCall = call;
    St().powerCut = powerCut;
}
long Calls() {
    return St().calls;
}
DWORD Now() {
    return St().now;
}
void PlugAt(DWORD ms, const std::string& instanceId, bool plugged, bool silent) {
    St().plugs.push_back({ms, instanceId, plugged, silent, 0, std::nullopt});
}
void PlugAtList(long list, const std::string& instanceId, bool plugged) {
    St().plugs.push_back({0xFFFFFFFF, instanceId, plugged, false, list, std::nullopt});
}
void ChangeHardwareIdsAt(DWORD ms, const std::string& instanceId, const Property& ids) {
    St().plugs.push_back({ms, instanceId, true, false, 0, ids});
}
void RefuseNotifications(bool configManager, bool window) {
    St().cmNotifyRefused = configManager;
    St().windowNotifyRefused = window;
}
void LoseNotifications(bool lost) {
    St().notificationsLost = lost;
}
void DuplicateNotifications(bool duplicated) {
    St().notificationsDuplicated = duplicated;
}
void RaiseConsoleEventDuringPause(size_t pause, DWORD ctrlType) {
    St().consoleEvents[pause] = ctrlType;
}
void ProcessGone() {
    // A mutex the process held is abandoned; its handles close.
    for (State::Mutex& m : St().mutexes) {
        m.abandoned = m.abandoned || m.heldHere;
        m.heldHere = false;
    }
    St().mutexHandles.clear();
    St().openFiles.clear();
    for (BYTE* sid : St().sids) {
        delete[] sid;
    }
    St().sids.clear();
    CloseServiceHandles();
    if (!St().service.empty()) {
        St().services[Upper(St().service)].running = false;
    }
    St().registrations.clear();
    St().windows.clear();
    St().messages.clear();
    St().sets.clear();
    St().openKeys.clear();
    St().consoleHandlers.clear();
}
int ConsoleHandlers() {
    return (int)St().consoleHandlers.size();
}
bool EntryReturned() {
    State& s = St();
    {
        std::lock_guard<std::mutex> lock(s.clockMutex);
        s.entryReturned = true;
    }
    s.clockMoved.notify_all();
    if (s.handlerThread) {
        s.handlerThread->join();
        s.handlerThread.reset();
    }
    s.entryReturned = false;
    s.handlerRunning = false;
    s.endsAt = 0;
    s.endAtCall = 0;
    return s.consoleEnded.exchange(false);
}
void RunAsAdministrator(bool administrator, bool sidsAllocate, bool membershipChecks) {
    St().membershipChecks = membershipChecks;
    St().token = administrator ? Token::Administrator : Token::FilteredAdministrator;
    St().sidsAllocate = sidsAllocate;
}
void RunAs(Token token) {
    St().token = token;
}
const char kProgramPath[] = "C:\\Tools\\donglectl\\donglectl.exe";
std::string ProgramFile() {
    std::string bytes = "MZ donglectl as built";
    for (size_t i = 0; bytes.size() < 10000; i++) {
        bytes += (char)(i * 7 + 3);
    }
    return bytes;
}
void LazyFlushAfter(DWORD ms) {
    St().lazyFlushMs = ms;
}
void RaiseConsoleEventAtCall(long call, DWORD ctrlType) {
    St().consoleEventsAtCall[call] = ctrlType;
}
int OpenSids() {
    return (int)St().sids.size();
}
void RunAsWindows8(bool windows8) {
    St().windows8 = windows8;
}
std::map<std::string, RegValue> Values(const std::string& path) {
    auto key = St().keys.find(Upper(path));
    return key != St().keys.end() ? key->second.values : std::map<std::string, RegValue>();
}
void DeleteValue(const std::string& path, const std::string& name) {
    auto key = St().keys.find(Upper(path));
    if (key != St().keys.end()) {
        key->second.values.erase(Upper(name));
    }
}
void Restart() {
    State& s = St();
    DeletePendingFiles();
    DeleteMarkedServices();
    s.service.clear();
    s.modulePath.clear();
    for (State::Mutex& m : s.mutexes) {
        m.abandoned = m.heldHere = m.heldElsewhere = false;
    }
    for (auto it = s.keys.begin(); it != s.keys.end();) {
        it = it->second.volatileKey ? s.keys.erase(it) : std::next(it);
    }
    for (Device& d : s.devices) {
        d.runsDisabled.reset();
        d.awaitsEnumeration = 0;
    }
}
bool InTree(const std::string& instanceId) {
    const Device* d = FindDevice(instanceId);
    return d != nullptr && InTree(*d);
}
bool IsDisabled(const std::string& instanceId) {
    const Device* d = FindDevice(instanceId);
    return d != nullptr && Disabled(*d);
}
void SetCodePage(UINT codePage) {
    St().codePage = codePage;
}
int OpenDeviceSets() {
    return (int)St().sets.size();
}
int OpenKeys() {
    return (int)St().openKeys.size();
}

bool KeyExists(const std::string& path) {
    return St().keys.count(Upper(path)) != 0;
}

std::optional<RegValue> QueryValue(const std::string& path, const std::string& name) {
    auto key = St().keys.find(Upper(path));
    if (key == St().keys.end()) {
        return std::nullopt;
    }
    auto value = key->second.values.find(Upper(name));
    if (value == key->second.values.end()) {
        return std::nullopt;
    }
    return value->second;
}

void SetValue(const std::string& path, const std::string& name, const RegValue& value) {
    St().keys[Upper(path)].values[Upper(name)] = value;
}

const std::vector<Change>& Changes() {
    return St().changes;
}
const std::vector<DWORD>& Sleeps() {
    return St().sleeps;
}
const std::vector<std::string>& Events() {
    return St().events;
}
int BadHandleUses() {
    return St().badHandles;
}

} // namespace sim
