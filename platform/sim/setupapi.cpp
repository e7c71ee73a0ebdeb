// The simulated platform: the Setup API (setupapi.h) over the device tree.
#include "platform/sim/state.h"

#include <cstring>

using sim::St;

extern "C" {

HDEVINFO SetupDiGetClassDevsA(const GUID* ClassGuid, PCSTR Enumerator, HWND hwndParent,
                              DWORD Flags) {
    sim::Call();
    (void)hwndParent;
    sim::Event("ClassDevs " + std::to_string(Flags));
    St().lists++;
    // The platform enumerates the devices again: nodes whose parent was enabled since come back
    // into the tree, and plug steps that are due take effect.
    for (sim::Device& d : St().devices) {
        d.awaitsEnumeration = d.awaitsEnumeration > 0 ? d.awaitsEnumeration - 1 : 0;
    }
    sim::ApplyPlugs();
    if (St().deviceListError != 0) {
        const DWORD error = St().deviceListError;
        if (St().deviceListFailures > 0 && --St().deviceListFailures == 0) {
            St().deviceListError = 0;
        }
        sim::Fail(error);
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
                    (!presentOnly || sim::InterfacePresent(d, i))) {
                    set->interfaces.emplace_back(dev, i);
                    listed = true;
                }
            }
            if (listed) {
                set->devices.push_back(dev);
            }
        } else if (!presentOnly || sim::InTree(d)) {
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
    sim::Call();
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
    sim::Call();
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
            DeviceInterfaceData->Flags =
                sim::InterfacePresent(d, entry.second) ? 1 : 0; // SPINT_ACTIVE
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
    sim::Call();
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
    if (St().devices[entry.first].failInterfaceDetail != 0) {
        return sim::Fail(St().devices[entry.first].failInterfaceDetail);
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
    sim::Call();
    sim::Member m;
    if (!sim::FindMember(DeviceInfoSet, DeviceInfoData, &m)) {
        return FALSE;
    }
    sim::Device& d = *m.device;
    sim::Event("Read " + d.instanceId + " " + std::to_string(Property));
    if (Property != SPDRP_HARDWAREID && Property != SPDRP_COMPATIBLEIDS &&
        Property != SPDRP_CONFIGFLAGS) {
        return sim::Fail(ERROR_INVALID_REG_PROPERTY);
    }
    if (PropertyBuffer == nullptr && PropertyBufferSize != 0) {
        return sim::Fail(ERROR_INVALID_USER_BUFFER);
    }
    if (Property == SPDRP_CONFIGFLAGS) {
        // A REG_DWORD: CONFIGFLAG_DISABLED while the global disable setting is written, whether
        // or not the change has taken effect, among the device's other flags.
        if (d.failConfigFlags != 0) {
            return sim::Fail(d.failConfigFlags);
        }
        const DWORD flags = d.otherConfigFlags | (d.disabledGlobal ? CONFIGFLAG_DISABLED : 0);
        if (RequiredSize != nullptr) {
            *RequiredSize = sizeof(flags);
        }
        if (PropertyBufferSize < sizeof(flags)) {
            return sim::Fail(ERROR_INSUFFICIENT_BUFFER);
        }
        if (PropertyRegDataType != nullptr) {
            *PropertyRegDataType = REG_DWORD;
        }
        memcpy(PropertyBuffer, &flags, sizeof(flags));
        return TRUE;
    }
    const bool hardware = Property == SPDRP_HARDWAREID;
    const DWORD injected = hardware ? d.failHardwareIds : d.failCompatibleIds;
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
    sim::Call();
    sim::Member m;
    if (!sim::FindMember(DeviceInfoSet, DeviceInfoData, &m)) {
        return FALSE;
    }
    sim::Device& d = *m.device;
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
        auto injected = d.failParams.find(sim::StateScope(params.StateChange, params.Scope));
        if (injected != d.failParams.end()) {
            error = injected->second;
        }
    }
    sim::Event("Params " + d.instanceId + " " + std::to_string(params.StateChange) + " " +
               std::to_string(params.Scope) + " " + std::to_string(params.HwProfile) + " " +
               sim::ErrorText(error));
    // A rejected set leaves the parameters set before in place ("no parameters were modified").
    if (error != 0) {
        return sim::Fail(error);
    }
    m.set->params[m.index] = params;
    return TRUE;
}

// Enabling a device brings the nodes below it back into the tree when Windows has enumerated
// them anew, asynchronously: see ReturnChildren.
static void AwaitEnumerationBelow(const sim::Device& parent) {
    const int lists = St().childrenReturn == sim::ChildrenReturn::AtOnce       ? 0
                      : St().childrenReturn == sim::ChildrenReturn::AtNextList ? 1
                                                                               : 2;
    for (sim::Device& d : St().devices) {
        if (sim::ParentDevice(d) == &parent) {
            d.awaitsEnumeration = lists;
        }
    }
}

BOOL SetupDiCallClassInstaller(DI_FUNCTION InstallFunction, HDEVINFO DeviceInfoSet,
                               PSP_DEVINFO_DATA DeviceInfoData) {
    sim::Call();
    sim::Member m;
    if (!sim::FindMember(DeviceInfoSet, DeviceInfoData, &m)) {
        return FALSE;
    }
    sim::Device& d = *m.device;
    auto params = m.set->params.find(m.index);
    if (InstallFunction != DIF_PROPERTYCHANGE || params == m.set->params.end()) {
        sim::Event("Install " + d.instanceId + " without parameters");
        return sim::Fail(ERROR_INVALID_PARAMETER);
    }
    const SP_PROPCHANGE_PARAMS& p = params->second;
    const sim::StateScope change(p.StateChange, p.Scope);
    const bool inTree = sim::InTree(d);
    DWORD error = 0;
    bool writes = false;
    auto injected = d.failInstaller.find(change);
    auto afterWriting = d.failAfterWriting.find(change);
    if (St().wow64 || St().arm64) {
        // SetupDiCallClassInstaller: ERROR_IN_WOW64 for a 32-bit process on 64-bit Windows,
        // whatever its rights; reported as well for emulated processes on Windows on ARM. The
        // program refuses both itself before it asks (IsWow64Process2 exists wherever Windows
        // runs programs emulated on ARM); only a missing IsWow64Process brings it here.
        error = ERROR_IN_WOW64;
    } else if (St().refuseEveryChange != 0) {
        error = St().refuseEveryChange;
    } else if (!sim::Elevated()) {
        // DIF_PROPERTYCHANGE's default handler needs a member of the Administrators group. The
        // program never relies on it: it refuses itself without the group; RefuseEveryChange
        // models an administrator who is denied all the same.
        error = ERROR_ACCESS_DENIED;
    } else if (injected != d.failInstaller.end()) {
        error = injected->second;
    } else if (p.StateChange == DICS_DISABLE && inTree && (d.status & DN_DISABLEABLE) == 0) {
        // A node without DN_DISABLEABLE cannot be disabled: refused with nothing written, or, in
        // ReactOS's order, the setting written and then stopping the device refused.
        error = ERROR_NOT_DISABLEABLE;
        writes = d.disableRefusalWrites;
    } else if (d.madeUnwritten ||
               (!inTree && St().absentNodeChange == sim::AbsentNodeChange::MadeUnwritten)) {
        writes = false; // not documented; see TreatAbsentNodeChange
    } else if (!inTree && St().absentNodeChange != sim::AbsentNodeChange::Made) {
        // Not documented; see TreatAbsentNodeChange.
        error = ERROR_NO_SUCH_DEVINST;
        writes = St().absentNodeChange == sim::AbsentNodeChange::WrittenFailed;
    } else {
        writes = true;
        if (afterWriting != d.failAfterWriting.end()) {
            error = afterWriting->second;
        }
    }
    // A change the installer accepts for the next restart: the call succeeds with DI_NEEDRESTART
    // in the install parameters (SetupDiCallClassInstaller: the caller reads them with
    // SetupDiGetDeviceInstallParams), and the node runs as it did until then.
    const bool deferred = error == 0 && inTree && (d.defersChanges || d.vetoed.count(change) != 0);
    sim::Event("Install " + d.instanceId + " " + std::to_string(p.StateChange) + " " +
               std::to_string(p.Scope) + " " + sim::ErrorText(error) +
               (deferred ? " restart" : "") + (error != 0 && writes ? " written" : ""));
    St().changes.push_back(
        {d.instanceId, p.StateChange, p.Scope, p.HwProfile, error == 0, deferred});
    // Stopping or starting a device takes time (a change that only writes a setting takes some
    // too); the system may end the process meanwhile, after the change.
    if (p.Scope == DICS_FLAG_CONFIGSPECIFIC) {
        d.profileKeyMissing = false;
    }
    sim::Advance(d.installerMs);
    if (!writes) {
        return error == 0 ? TRUE : sim::Fail(error);
    }
    // The setting is written first, then the device is stopped or started (ReactOS's order); a
    // change that fails or waits at that step leaves the node running as it ran.
    const bool wasDisabled = sim::Disabled(d);
    if ((deferred || (error != 0 && inTree)) && !d.runsDisabled) {
        d.runsDisabled = wasDisabled;
    }
    if (deferred) {
        // SP_DEVINSTALL_PARAMS: DI_NEEDRESTART and DI_NEEDREBOOT both ask for a restart; a veto
        // by software holding the device open asks with the second here, so that a program
        // reading only one of them is caught.
        m.set->installFlags[m.index] |=
            d.vetoed.count(change) != 0 ? DI_NEEDREBOOT : DI_NEEDRESTART;
    } else if (error == 0) {
        d.runsDisabled.reset(); // stopped or started anew: it runs by its settings
    }
    // SP_PROPCHANGE_PARAMS: DICS_FLAG_GLOBAL changes the device in every hardware profile,
    // DICS_FLAG_CONFIGSPECIFIC in the current one; the two are separate settings. Whether a
    // configuration-specific enable undoes a global disable is not documented: the stricter
    // reading, only a global enable does.
    sim::WillWriteDevice(d); // in the SYSTEM hive, flushed with it
    (p.Scope == DICS_FLAG_GLOBAL ? d.disabledGlobal : d.disabledConfig) =
        p.StateChange == DICS_DISABLE;
    if (wasDisabled && !sim::Disabled(d)) {
        AwaitEnumerationBelow(d);
    }
    return error == 0 ? TRUE : sim::Fail(error);
}

BOOL SetupDiGetDeviceInstallParamsA(HDEVINFO DeviceInfoSet, PSP_DEVINFO_DATA DeviceInfoData,
                                    PSP_DEVINSTALL_PARAMS_A DeviceInstallParams) {
    sim::Call();
    sim::Member m;
    if (!sim::FindMember(DeviceInfoSet, DeviceInfoData, &m)) {
        return FALSE;
    }
    if (DeviceInstallParams == nullptr ||
        DeviceInstallParams->cbSize != sizeof(SP_DEVINSTALL_PARAMS_A)) {
        return sim::Fail(ERROR_INVALID_USER_BUFFER);
    }
    memset(DeviceInstallParams, 0, sizeof(*DeviceInstallParams));
    DeviceInstallParams->cbSize = sizeof(*DeviceInstallParams);
    DeviceInstallParams->Flags = m.set->installFlags[m.index];
    return TRUE;
}

BOOL SetupDiGetDeviceInstanceIdA(HDEVINFO DeviceInfoSet, PSP_DEVINFO_DATA DeviceInfoData,
                                 PSTR DeviceInstanceId, DWORD DeviceInstanceIdSize,
                                 PDWORD RequiredSize) {
    sim::Call();
    sim::Member m;
    if (!sim::FindMember(DeviceInfoSet, DeviceInfoData, &m)) {
        return FALSE;
    }
    const std::string& id = m.device->instanceId;
    if (RequiredSize != nullptr) {
        *RequiredSize = (DWORD)id.size() + 1;
    }
    if (DeviceInstanceId == nullptr || DeviceInstanceIdSize < id.size() + 1) {
        return sim::Fail(ERROR_INSUFFICIENT_BUFFER);
    }
    memcpy(DeviceInstanceId, id.c_str(), id.size() + 1);
    return TRUE;
}

// Writes the device's ConfigFlags, the setting a global state change writes: a node that is not
// in the tree runs by it when it comes back. Writing a device's settings needs administrator
// rights.
BOOL SetupDiSetDeviceRegistryPropertyA(HDEVINFO DeviceInfoSet, PSP_DEVINFO_DATA DeviceInfoData,
                                       DWORD Property, const BYTE* PropertyBuffer,
                                       DWORD PropertyBufferSize) {
    sim::Call();
    sim::Member m;
    if (!sim::FindMember(DeviceInfoSet, DeviceInfoData, &m)) {
        return FALSE;
    }
    sim::Device& d = *m.device;
    if (Property != SPDRP_CONFIGFLAGS) {
        return sim::Fail(ERROR_INVALID_REG_PROPERTY);
    }
    if (PropertyBuffer == nullptr || PropertyBufferSize != sizeof(DWORD)) {
        return sim::Fail(ERROR_INVALID_PARAMETER);
    }
    if (!sim::Elevated()) {
        return sim::Fail(ERROR_ACCESS_DENIED); // never reached: the program refuses first
    }
    DWORD flags;
    memcpy(&flags, PropertyBuffer, sizeof(flags));
    sim::Event("SetConfigFlags " + d.instanceId + " " + std::to_string(flags));
    // Only a node out of the tree is written to here; a node in the tree runs as it ran until the
    // platform starts it anew.
    if (sim::InTree(d) && !d.runsDisabled) {
        d.runsDisabled = sim::Disabled(d);
    }
    // The device's settings are kept in the SYSTEM hive, flushed with it.
    sim::WillWriteDevice(d);
    d.disabledGlobal = (flags & CONFIGFLAG_DISABLED) != 0;
    d.otherConfigFlags = flags & ~(DWORD)CONFIGFLAG_DISABLED;
    return TRUE;
}

// Device setup classes, as the class Device Manager shows a device under: the ones the tests
// name.
BOOL SetupDiClassNameFromGuidA(const GUID* ClassGuid, PSTR ClassName, DWORD ClassNameSize,
                               PDWORD RequiredSize) {
    sim::Call();
    static const struct {
        GUID guid;
        const char* name;
    } classes[] = {
        {{0x36FC9E60, 0xC465, 0x11CF, {0x80, 0x56, 0x44, 0x45, 0x53, 0x54, 0x00, 0x00}}, "USB"},
        {{0x745A17A0, 0x74D3, 0x11D0, {0xB6, 0xFE, 0x00, 0xA0, 0xC9, 0x0F, 0x57, 0xDA}},
         "HIDClass"},
    };
    if (ClassGuid == nullptr) {
        return sim::Fail(ERROR_INVALID_PARAMETER);
    }
    for (const auto& c : classes) {
        if (sim::SameGuid(c.guid, *ClassGuid)) {
            const size_t size = strlen(c.name) + 1;
            if (RequiredSize != nullptr) {
                *RequiredSize = (DWORD)size;
            }
            if (ClassName == nullptr || ClassNameSize < size) {
                return sim::Fail(ERROR_INSUFFICIENT_BUFFER);
            }
            memcpy(ClassName, c.name, size);
            return TRUE;
        }
    }
    return sim::Fail(ERROR_INVALID_CLASS);
}

BOOL SetupDiGetDeviceInfoListDetailA(HDEVINFO DeviceInfoSet,
                                     PSP_DEVINFO_LIST_DETAIL_DATA_A DeviceInfoSetDetailData) {
    sim::Call();
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
    sim::Call();
    for (auto it = St().sets.begin(); it != St().sets.end(); ++it) {
        if (it->get() == DeviceInfoSet) {
            St().sets.erase(it);
            return TRUE;
        }
    }
    St().badHandles++;
    return sim::Fail(ERROR_INVALID_HANDLE);
}

} // extern "C"
