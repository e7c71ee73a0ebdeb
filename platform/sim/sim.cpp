// The simulated platform: the Setup API, Configuration Manager, registry, kernel and runtime
// calls of winapi.h over an in-memory device tree and registry, with the effects the program
// relies on and the failures Windows can answer.
#include "platform/sim/sim.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <set>
#include <unordered_set>

namespace sim {
namespace {

const DEVINST kRootNode = 0x7fff0000;
const char kRootId[] = "HTREE\\ROOT\\0";

struct DevInfoSet {
    bool interfaceList = false;
    GUID interfaceClass{};
    std::vector<size_t> devices;
    std::unordered_set<size_t> members;
    // (device, interface index within the device) for an interface list.
    std::vector<std::pair<size_t, size_t>> interfaces;
    std::map<size_t, SP_PROPCHANGE_PARAMS> params;
};

struct Key {
    std::map<std::string, RegValue> values;
    // Created with REG_OPTION_VOLATILE: gone after a restart.
    bool volatileKey = false;
};

struct OpenKey {
    std::string path;
    REGSAM access;
};

struct State {
    std::deque<Device> devices;
    std::map<std::string, Key> keys;
    std::set<std::unique_ptr<DevInfoSet>> sets;
    std::set<std::unique_ptr<OpenKey>> openKeys;
    DWORD deviceListError = 0;
    DWORD listDetailError = 0;
    LONG keyCreationError = 0;
    bool wow64 = false;
    UINT codePage = 1252;
    std::vector<Change> changes;
    std::vector<DWORD> sleeps;
    std::vector<std::string> events;
    int badHandles = 0;
    DWORD lastError = 0;
};

State& St() {
    static State state;
    return state;
}

std::string Upper(std::string s) {
    for (char& c : s) {
        if (c >= 'a' && c <= 'z') {
            c = (char)(c - 'a' + 'A');
        }
    }
    return s;
}

std::string Hex(DWORD v) {
    char text[16];
    snprintf(text, sizeof(text), "%X", v);
    return text;
}

std::string Result(DWORD error) {
    return error == 0 ? std::string("ok") : Hex(error);
}

void Event(const std::string& line) {
    St().events.push_back(line);
}

BOOL Fail(DWORD error) {
    St().lastError = error;
    return FALSE;
}

bool SameGuid(const GUID& a, const GUID& b) {
    return memcmp(&a, &b, sizeof(GUID)) == 0;
}

DevInfoSet* FindSet(HDEVINFO h) {
    for (const auto& set : St().sets) {
        if (set.get() == h) {
            return set.get();
        }
    }
    St().badHandles++;
    return nullptr;
}

OpenKey* FindKey(HKEY h) {
    for (const auto& key : St().openKeys) {
        if ((HKEY)key.get() == h) {
            return key.get();
        }
    }
    St().badHandles++;
    return nullptr;
}

// The set a handle names and the index in the tree of the device a did names in it. False, with
// the error set, when the handle is not an open set or the did does not belong to it.
bool Member(HDEVINFO h, PSP_DEVINFO_DATA did, DevInfoSet** set, size_t* dev) {
    *set = FindSet(h);
    if (*set == nullptr) {
        St().lastError = ERROR_INVALID_HANDLE;
        return false;
    }
    if (did == nullptr || did->cbSize != sizeof(SP_DEVINFO_DATA)) {
        St().lastError = ERROR_INVALID_USER_BUFFER;
        return false;
    }
    *dev = (size_t)did->DevInst;
    if (did->Reserved != (ULONG_PTR)*set || (*set)->members.count(*dev) == 0) {
        St().lastError = ERROR_INVALID_PARAMETER;
        return false;
    }
    return true;
}

bool InterfacesPresent(const Device& d) {
    return d.present && d.enabled;
}

Device* NodeDevice(DEVINST node) {
    if (node >= St().devices.size()) {
        return nullptr;
    }
    return &St().devices[node];
}

bool IsLeadByte(unsigned char c) {
    switch (St().codePage) {
    case 932:
        return (c >= 0x81 && c <= 0x9f) || (c >= 0xe0 && c <= 0xfc);
    case 936:
    case 949:
    case 950:
        return c >= 0x81 && c <= 0xfe;
    default:
        return false;
    }
}

unsigned int FoldChar(unsigned int c) {
    if (c >= 'A' && c <= 'Z') {
        return c - 'A' + 'a';
    }
    // Full-width Latin capitals of code page 932.
    if (St().codePage == 932 && c >= 0x8260 && c <= 0x8279) {
        return c + 0x21;
    }
    return c;
}

} // namespace

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
    s.devices.clear();
    s.keys.clear();
    s.sets.clear();
    s.openKeys.clear();
    s.deviceListError = 0;
    s.listDetailError = 0;
    s.keyCreationError = 0;
    s.wow64 = false;
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

void FailDeviceList(DWORD error) {
    St().deviceListError = error;
}
void FailListDetail(DWORD error) {
    St().listDetailError = error;
}
void FailKeyCreation(LONG error) {
    St().keyCreationError = error;
}
void RunAsWow64(bool wow64) {
    St().wow64 = wow64;
}
void Restart() {
    State& s = St();
    for (auto it = s.keys.begin(); it != s.keys.end();) {
        it = it->second.volatileKey ? s.keys.erase(it) : std::next(it);
    }
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

using sim::St;

extern "C" {

DWORD GetLastError(void) {
    return St().lastError;
}

void SetLastError(DWORD dwErrCode) {
    St().lastError = dwErrCode;
}

// Recorded, never slept: tests stay fast and can check every pause asked for.
void Sleep(DWORD dwMilliseconds) {
    St().sleeps.push_back(dwMilliseconds);
    sim::Event("Sleep " + std::to_string(dwMilliseconds));
}

HDEVINFO SetupDiGetClassDevsA(const GUID* ClassGuid, PCSTR Enumerator, HWND hwndParent,
                              DWORD Flags) {
    (void)hwndParent;
    sim::Event("ClassDevs " + std::to_string(Flags));
    if (St().deviceListError != 0) {
        sim::Fail(St().deviceListError);
        return INVALID_HANDLE_VALUE;
    }
    if (Enumerator != nullptr ||
        (Flags & ~(DIGCF_DEFAULT | DIGCF_PRESENT | DIGCF_ALLCLASSES | DIGCF_PROFILE |
                   DIGCF_DEVICEINTERFACE)) != 0 ||
        (ClassGuid == nullptr && (Flags & DIGCF_ALLCLASSES) == 0)) {
        sim::Fail(ERROR_INVALID_PARAMETER);
        return INVALID_HANDLE_VALUE;
    }
    auto set = std::make_unique<sim::DevInfoSet>();
    const bool presentOnly = (Flags & DIGCF_PRESENT) != 0;
    for (size_t dev = 0; dev < St().devices.size(); dev++) {
        const sim::Device& d = St().devices[dev];
        if ((Flags & DIGCF_DEVICEINTERFACE) != 0) {
            if (ClassGuid == nullptr) {
                continue;
            }
            bool listed = false;
            for (size_t i = 0; i < d.interfaces.size(); i++) {
                if (sim::SameGuid(d.interfaces[i], *ClassGuid) &&
                    (!presentOnly || sim::InterfacesPresent(d))) {
                    set->interfaces.emplace_back(dev, i);
                    listed = true;
                }
            }
            if (listed) {
                set->devices.push_back(dev);
            }
        } else if (!presentOnly || d.present) {
            // Device setup classes are not modelled: a class GUID without DIGCF_ALLCLASSES
            // lists no device.
            if ((Flags & DIGCF_ALLCLASSES) != 0) {
                set->devices.push_back(dev);
            }
        }
    }
    if ((Flags & DIGCF_DEVICEINTERFACE) != 0 && ClassGuid != nullptr) {
        set->interfaceList = true;
        set->interfaceClass = *ClassGuid;
    }
    set->members.insert(set->devices.begin(), set->devices.end());
    HDEVINFO h = set.get();
    St().sets.insert(std::move(set));
    return h;
}

BOOL SetupDiEnumDeviceInfo(HDEVINFO DeviceInfoSet, DWORD MemberIndex,
                           PSP_DEVINFO_DATA DeviceInfoData) {
    sim::DevInfoSet* set = sim::FindSet(DeviceInfoSet);
    if (set == nullptr) {
        return sim::Fail(ERROR_INVALID_HANDLE);
    }
    if (DeviceInfoData == nullptr || DeviceInfoData->cbSize != sizeof(SP_DEVINFO_DATA)) {
        return sim::Fail(ERROR_INVALID_USER_BUFFER);
    }
    if (MemberIndex >= set->devices.size()) {
        return sim::Fail(ERROR_NO_MORE_ITEMS);
    }
    memset(&DeviceInfoData->ClassGuid, 0, sizeof(GUID));
    DeviceInfoData->DevInst = (DEVINST)set->devices[MemberIndex];
    DeviceInfoData->Reserved = (ULONG_PTR)set;
    return TRUE;
}

BOOL SetupDiEnumDeviceInterfaces(HDEVINFO DeviceInfoSet, PSP_DEVINFO_DATA DeviceInfoData,
                                 const GUID* InterfaceClassGuid, DWORD MemberIndex,
                                 PSP_DEVICE_INTERFACE_DATA DeviceInterfaceData) {
    sim::DevInfoSet* set = sim::FindSet(DeviceInfoSet);
    if (set == nullptr) {
        return sim::Fail(ERROR_INVALID_HANDLE);
    }
    if (DeviceInfoData != nullptr || InterfaceClassGuid == nullptr) {
        return sim::Fail(ERROR_INVALID_PARAMETER);
    }
    if (DeviceInterfaceData == nullptr ||
        DeviceInterfaceData->cbSize != sizeof(SP_DEVICE_INTERFACE_DATA)) {
        return sim::Fail(ERROR_INVALID_USER_BUFFER);
    }
    DWORD n = 0;
    for (size_t k = 0; k < set->interfaces.size(); k++) {
        const auto& entry = set->interfaces[k];
        const sim::Device& d = St().devices[entry.first];
        if (!sim::SameGuid(d.interfaces[entry.second], *InterfaceClassGuid)) {
            continue;
        }
        if (n++ == MemberIndex) {
            DeviceInterfaceData->InterfaceClassGuid = *InterfaceClassGuid;
            DeviceInterfaceData->Flags = sim::InterfacesPresent(d) ? 1 : 0; // SPINT_ACTIVE
            DeviceInterfaceData->Reserved = (ULONG_PTR)k + 1;
            return TRUE;
        }
    }
    return sim::Fail(ERROR_NO_MORE_ITEMS);
}

BOOL SetupDiGetDeviceInterfaceDetailA(HDEVINFO DeviceInfoSet,
                                      PSP_DEVICE_INTERFACE_DATA DeviceInterfaceData,
                                      PSP_DEVICE_INTERFACE_DETAIL_DATA_A DeviceInterfaceDetailData,
                                      DWORD DeviceInterfaceDetailDataSize, PDWORD RequiredSize,
                                      PSP_DEVINFO_DATA DeviceInfoData) {
    sim::DevInfoSet* set = sim::FindSet(DeviceInfoSet);
    if (set == nullptr) {
        return sim::Fail(ERROR_INVALID_HANDLE);
    }
    if (DeviceInterfaceData == nullptr ||
        DeviceInterfaceData->cbSize != sizeof(SP_DEVICE_INTERFACE_DATA) ||
        DeviceInterfaceData->Reserved == 0 ||
        DeviceInterfaceData->Reserved > set->interfaces.size()) {
        return sim::Fail(ERROR_INVALID_PARAMETER);
    }
    if (DeviceInterfaceDetailData == nullptr && DeviceInterfaceDetailDataSize != 0) {
        return sim::Fail(ERROR_INVALID_USER_BUFFER);
    }
    if (DeviceInfoData != nullptr && DeviceInfoData->cbSize != sizeof(SP_DEVINFO_DATA)) {
        return sim::Fail(ERROR_INVALID_USER_BUFFER);
    }
    const auto& entry = set->interfaces[DeviceInterfaceData->Reserved - 1];
    if (St().devices[entry.first].interfaceDetailError != 0) {
        return sim::Fail(St().devices[entry.first].interfaceDetailError);
    }
    const std::string path = "\\\\?\\" + St().devices[entry.first].instanceId;
    const DWORD needed = (DWORD)(sizeof(DWORD) + path.size() + 1);
    if (RequiredSize != nullptr) {
        *RequiredSize = needed;
    }
    // The device is filled in even when no detail buffer is given, as on Windows.
    if (DeviceInfoData != nullptr) {
        memset(&DeviceInfoData->ClassGuid, 0, sizeof(GUID));
        DeviceInfoData->DevInst = (DEVINST)entry.first;
        DeviceInfoData->Reserved = (ULONG_PTR)set;
    }
    if (DeviceInterfaceDetailData == nullptr || DeviceInterfaceDetailDataSize < needed) {
        return sim::Fail(ERROR_INSUFFICIENT_BUFFER);
    }
    if (DeviceInterfaceDetailData->cbSize != sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A)) {
        return sim::Fail(ERROR_INVALID_USER_BUFFER);
    }
    memcpy(DeviceInterfaceDetailData->DevicePath, path.c_str(), path.size() + 1);
    return TRUE;
}

BOOL SetupDiGetDeviceRegistryPropertyA(HDEVINFO DeviceInfoSet, PSP_DEVINFO_DATA DeviceInfoData,
                                       DWORD Property, PDWORD PropertyRegDataType,
                                       PBYTE PropertyBuffer, DWORD PropertyBufferSize,
                                       PDWORD RequiredSize) {
    sim::DevInfoSet* set = nullptr;
    size_t dev = 0;
    if (!sim::Member(DeviceInfoSet, DeviceInfoData, &set, &dev)) {
        return FALSE;
    }
    sim::Device& d = St().devices[dev];
    sim::Event("Read " + d.instanceId + " " + std::to_string(Property));
    if (Property != SPDRP_HARDWAREID && Property != SPDRP_COMPATIBLEIDS) {
        return sim::Fail(ERROR_INVALID_REG_PROPERTY);
    }
    if (PropertyBuffer == nullptr && PropertyBufferSize != 0) {
        return sim::Fail(ERROR_INVALID_USER_BUFFER);
    }
    const bool hardware = Property == SPDRP_HARDWAREID;
    const DWORD injected = hardware ? d.hardwareIdsError : d.compatibleIdsError;
    if (injected != 0) {
        return sim::Fail(injected);
    }
    const std::optional<sim::Property>& value = hardware ? d.hardwareIds : d.compatibleIds;
    if (!value) {
        return sim::Fail(ERROR_INVALID_DATA);
    }
    const DWORD needed = (DWORD)value->bytes.size();
    if (RequiredSize != nullptr) {
        *RequiredSize = needed;
    }
    if (PropertyBufferSize < needed) {
        return sim::Fail(ERROR_INSUFFICIENT_BUFFER);
    }
    if (PropertyRegDataType != nullptr) {
        *PropertyRegDataType = value->type;
    }
    memcpy(PropertyBuffer, value->bytes.data(), needed);
    return TRUE;
}

BOOL SetupDiSetClassInstallParamsA(HDEVINFO DeviceInfoSet, PSP_DEVINFO_DATA DeviceInfoData,
                                   PSP_CLASSINSTALL_HEADER ClassInstallParams,
                                   DWORD ClassInstallParamsSize) {
    sim::DevInfoSet* set = nullptr;
    size_t dev = 0;
    if (!sim::Member(DeviceInfoSet, DeviceInfoData, &set, &dev)) {
        return FALSE;
    }
    sim::Device& d = St().devices[dev];
    if (ClassInstallParams == nullptr ||
        ClassInstallParams->cbSize != sizeof(SP_CLASSINSTALL_HEADER) ||
        ClassInstallParams->InstallFunction != DIF_PROPERTYCHANGE ||
        ClassInstallParamsSize != sizeof(SP_PROPCHANGE_PARAMS)) {
        sim::Event("Params " + d.instanceId + " invalid");
        return sim::Fail(ERROR_INVALID_PARAMETER);
    }
    SP_PROPCHANGE_PARAMS params;
    memcpy(&params, ClassInstallParams, sizeof(params));
    DWORD error = 0;
    if ((params.StateChange != DICS_ENABLE && params.StateChange != DICS_DISABLE) ||
        (params.Scope != DICS_FLAG_GLOBAL && params.Scope != DICS_FLAG_CONFIGSPECIFIC)) {
        error = ERROR_INVALID_FLAGS;
    } else {
        auto injected = d.paramsErrors.find(sim::StateScope(params.StateChange, params.Scope));
        if (injected != d.paramsErrors.end()) {
            error = injected->second;
        }
    }
    sim::Event("Params " + d.instanceId + " " + std::to_string(params.StateChange) + " " +
               std::to_string(params.Scope) + " " + std::to_string(params.HwProfile) + " " +
               sim::Result(error));
    // A rejected set leaves the parameters set before in place ("no parameters were modified").
    if (error != 0) {
        return sim::Fail(error);
    }
    set->params[dev] = params;
    return TRUE;
}

BOOL SetupDiCallClassInstaller(DI_FUNCTION InstallFunction, HDEVINFO DeviceInfoSet,
                               PSP_DEVINFO_DATA DeviceInfoData) {
    sim::DevInfoSet* set = nullptr;
    size_t dev = 0;
    if (!sim::Member(DeviceInfoSet, DeviceInfoData, &set, &dev)) {
        return FALSE;
    }
    sim::Device& d = St().devices[dev];
    auto params = set->params.find(dev);
    if (InstallFunction != DIF_PROPERTYCHANGE || params == set->params.end()) {
        sim::Event("Install " + d.instanceId + " without parameters");
        return sim::Fail(ERROR_INVALID_PARAMETER);
    }
    const SP_PROPCHANGE_PARAMS& p = params->second;
    DWORD error = 0;
    auto injected = d.installerErrors.find(sim::StateScope(p.StateChange, p.Scope));
    if (St().wow64) {
        // A 32-bit process on 64-bit Windows cannot change device state, whatever its rights.
        error = ERROR_IN_WOW64;
    } else if (injected != d.installerErrors.end()) {
        error = injected->second;
    }
    sim::Event("Install " + d.instanceId + " " + std::to_string(p.StateChange) + " " +
               std::to_string(p.Scope) + " " + sim::Result(error));
    St().changes.push_back({d.instanceId, p.StateChange, p.Scope, p.HwProfile, error == 0});
    if (error != 0) {
        return sim::Fail(error);
    }
    if (p.StateChange == DICS_DISABLE) {
        d.enabled = false;
        d.status = (d.status & ~(ULONG)DN_STARTED) | DN_HAS_PROBLEM;
        d.problem = CM_PROB_DISABLED;
    } else {
        d.enabled = true;
        d.status = (d.status & ~(ULONG)DN_HAS_PROBLEM) | DN_STARTED;
        d.problem = 0;
    }
    return TRUE;
}

BOOL SetupDiGetDeviceInfoListDetailA(HDEVINFO DeviceInfoSet,
                                     PSP_DEVINFO_LIST_DETAIL_DATA_A DeviceInfoSetDetailData) {
    sim::DevInfoSet* set = sim::FindSet(DeviceInfoSet);
    if (set == nullptr) {
        return sim::Fail(ERROR_INVALID_HANDLE);
    }
    if (DeviceInfoSetDetailData == nullptr ||
        DeviceInfoSetDetailData->cbSize != sizeof(SP_DEVINFO_LIST_DETAIL_DATA_A)) {
        return sim::Fail(ERROR_INVALID_USER_BUFFER);
    }
    if (St().listDetailError != 0) {
        return sim::Fail(St().listDetailError);
    }
    memset(&DeviceInfoSetDetailData->ClassGuid, 0, sizeof(GUID));
    // A list of the local machine has no machine handle, as on Windows and Wine.
    DeviceInfoSetDetailData->RemoteMachineHandle = nullptr;
    memset(DeviceInfoSetDetailData->RemoteMachineName, 0,
           sizeof(DeviceInfoSetDetailData->RemoteMachineName));
    return TRUE;
}

BOOL SetupDiDestroyDeviceInfoList(HDEVINFO DeviceInfoSet) {
    for (auto it = St().sets.begin(); it != St().sets.end(); ++it) {
        if (it->get() == DeviceInfoSet) {
            St().sets.erase(it);
            return TRUE;
        }
    }
    St().badHandles++;
    return sim::Fail(ERROR_INVALID_HANDLE);
}

CONFIGRET CM_Get_Parent(PDEVINST pdnDevInst, DEVINST dnDevInst, ULONG ulFlags) {
    if (pdnDevInst == nullptr) {
        return CR_INVALID_POINTER;
    }
    // Like Wine, a failed lookup stores node 0, which is a valid node here (the first device).
    *pdnDevInst = 0;
    if (ulFlags != 0) {
        return CR_INVALID_FLAG;
    }
    if (dnDevInst == sim::kRootNode) {
        return CR_NO_SUCH_DEVNODE;
    }
    sim::Device* d = sim::NodeDevice(dnDevInst);
    if (d == nullptr) {
        return CR_INVALID_DEVNODE;
    }
    if (d->parentResult != CR_SUCCESS) {
        return d->parentResult;
    }
    if (d->parent.empty()) {
        *pdnDevInst = sim::kRootNode;
        return CR_SUCCESS;
    }
    for (size_t i = 0; i < St().devices.size(); i++) {
        if (sim::Upper(St().devices[i].instanceId) == sim::Upper(d->parent)) {
            *pdnDevInst = (DEVINST)i;
            return CR_SUCCESS;
        }
    }
    return CR_NO_SUCH_DEVNODE;
}

CONFIGRET CM_Get_Device_IDA(DEVINST dnDevInst, PSTR Buffer, ULONG BufferLen, ULONG ulFlags) {
    if (Buffer == nullptr) {
        return CR_INVALID_POINTER;
    }
    if (ulFlags != 0) {
        return CR_INVALID_FLAG;
    }
    std::string id;
    if (dnDevInst == sim::kRootNode) {
        id = sim::kRootId;
    } else {
        sim::Device* d = sim::NodeDevice(dnDevInst);
        if (d == nullptr) {
            return CR_INVALID_DEVNODE;
        }
        if (d->idResult != CR_SUCCESS) {
            return d->idResult;
        }
        id = d->instanceId;
    }
    if (BufferLen < id.size() + 1) {
        return CR_BUFFER_SMALL;
    }
    memcpy(Buffer, id.c_str(), id.size() + 1);
    return CR_SUCCESS;
}

CONFIGRET CM_Get_DevNode_Status_Ex(PULONG pulStatus, PULONG pulProblemNumber, DEVINST dnDevInst,
                                   ULONG ulFlags, HMACHINE hMachine) {
    if (pulStatus == nullptr || pulProblemNumber == nullptr) {
        return CR_INVALID_POINTER;
    }
    if (ulFlags != 0) {
        return CR_INVALID_FLAG;
    }
    sim::Device* d = sim::NodeDevice(dnDevInst);
    if (d == nullptr) {
        return CR_INVALID_DEVNODE;
    }
    sim::Event("Status " + d->instanceId + (hMachine ? " remote" : " local"));
    // Only the local machine is modelled: any machine handle is one the platform never issued.
    if (hMachine != nullptr) {
        St().badHandles++;
        return CR_INVALID_MACHINENAME;
    }
    if (!d->present) {
        return CR_NO_SUCH_DEVNODE;
    }
    if (d->statusResult != CR_SUCCESS) {
        return d->statusResult;
    }
    if (d->statusWritesNothing) {
        return CR_SUCCESS;
    }
    *pulStatus = d->status;
    *pulProblemNumber = d->problem;
    return CR_SUCCESS;
}

LONG RegCreateKeyExA(HKEY hKey, LPCSTR lpSubKey, DWORD Reserved, LPSTR lpClass, DWORD dwOptions,
                     REGSAM samDesired, LPSECURITY_ATTRIBUTES lpSecurityAttributes, PHKEY phkResult,
                     LPDWORD lpdwDisposition) {
    (void)lpClass;
    (void)lpSecurityAttributes;
    if (hKey != HKEY_LOCAL_MACHINE) {
        St().badHandles++;
        return ERROR_INVALID_HANDLE;
    }
    if (lpSubKey == nullptr || phkResult == nullptr || Reserved != 0 ||
        (dwOptions & ~(DWORD)REG_OPTION_VOLATILE) != 0) {
        return ERROR_INVALID_PARAMETER;
    }
    const std::string path = sim::Upper(lpSubKey);
    // Logged as the registry compares it: letter case is not part of a key's name.
    sim::Event("CreateKey " + path + ((dwOptions & REG_OPTION_VOLATILE) ? " volatile" : ""));
    if (St().keyCreationError != 0) {
        return St().keyCreationError;
    }
    const bool existed = St().keys.count(path) != 0;
    // An existing key keeps the volatility it was created with.
    St().keys[path].volatileKey =
        existed ? St().keys[path].volatileKey : (dwOptions & REG_OPTION_VOLATILE) != 0;
    auto key = std::make_unique<sim::OpenKey>();
    key->path = path;
    key->access = samDesired;
    *phkResult = (HKEY)key.get();
    St().openKeys.insert(std::move(key));
    if (lpdwDisposition != nullptr) {
        *lpdwDisposition = existed ? REG_OPENED_EXISTING_KEY : REG_CREATED_NEW_KEY;
    }
    return ERROR_SUCCESS;
}

LONG RegSetValueExA(HKEY hKey, LPCSTR lpValueName, DWORD Reserved, DWORD dwType, const BYTE* lpData,
                    DWORD cbData) {
    sim::OpenKey* key = sim::FindKey(hKey);
    if (key == nullptr) {
        return ERROR_INVALID_HANDLE;
    }
    if ((key->access & KEY_SET_VALUE) == 0) {
        return ERROR_ACCESS_DENIED;
    }
    if (Reserved != 0 || (lpData == nullptr && cbData != 0)) {
        return ERROR_INVALID_PARAMETER;
    }
    const std::string name = lpValueName ? lpValueName : "";
    sim::Event("SetValue " + name + " " + std::to_string(dwType) + " " + std::to_string(cbData));
    sim::RegValue value{dwType, std::string((const char*)lpData, cbData)};
    St().keys[key->path].values[sim::Upper(name)] = value;
    return ERROR_SUCCESS;
}

LONG RegCloseKey(HKEY hKey) {
    for (auto it = St().openKeys.begin(); it != St().openKeys.end(); ++it) {
        if ((HKEY)it->get() == hKey) {
            St().openKeys.erase(it);
            return ERROR_SUCCESS;
        }
    }
    St().badHandles++;
    return ERROR_INVALID_HANDLE;
}

// The runtime's bounded case-insensitive comparison. Under a double-byte code page a lead byte
// and its trail byte form one character, counted once and folded as a whole; under a single-byte
// code page only A-Z fold, as in the runtime's "C" locale.
int _mbsnicmp(const unsigned char* string1, const unsigned char* string2, size_t count) {
    while (count-- > 0) {
        if (*string1 == 0) {
            return *string2 ? -1 : 0;
        }
        if (*string2 == 0) {
            return 1;
        }
        unsigned int c1 = *string1;
        unsigned int c2 = *string2;
        const bool wide = sim::IsLeadByte(*string1);
        if (wide) {
            c1 = (c1 << 8) | string1[1];
        }
        if (sim::IsLeadByte(*string2)) {
            c2 = (c2 << 8) | string2[1];
        }
        c1 = sim::FoldChar(c1);
        c2 = sim::FoldChar(c2);
        if (c1 != c2) {
            return c1 < c2 ? -1 : 1;
        }
        string1 += wide ? 2 : 1;
        string2 += wide ? 2 : 1;
    }
    return 0;
}

} // extern "C"
