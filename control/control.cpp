#include "control/control.h"

#include "census/identity.h"

// Size of the list-detail record in the 32-bit ANSI layout, as the platform checks it.
static_assert(sizeof(void*) != 4 || sizeof(SP_DEVINFO_LIST_DETAIL_DATA_A) == 287,
              "SP_DEVINFO_LIST_DETAIL_DATA_A must keep its 32-bit layout");

// Fixed numbers of the module's contract with the systems it runs on: a selected device's
// grandparent has an instance ID of at least 6 characters, and each disable waits 2000 ms
// before the class installer is called. Callers and installed systems rely on both.
enum { cchMinGrandparentId = 6, dwDisablePauseMs = 2000 };

// A later identifier of a multi-string in buffer (cbIdBuffer bytes, not necessarily
// terminated) that begins with pattern. The pattern is held only against identifiers that leave
// room for it within the buffer.
static bool LaterIdMatches(const char* buffer, const char* pattern) {
    const size_t cchPattern = strlen(pattern);
    size_t i = 0;
    while (i < cbIdBuffer && buffer[i] != '\0') {
        i++;
    }
    for (i++; i + cchPattern <= cbIdBuffer && buffer[i] != '\0'; i++) {
        if (MatchesIdPrefix(buffer + i, pattern)) {
            return true;
        }
        while (i < cbIdBuffer && buffer[i] != '\0') {
            i++;
        }
    }
    return false;
}

DongleVerdict JudgeDongleNode(HDEVINFO hDevInfo, PSP_DEVINFO_DATA pDid, bool bEnable) {
    DEVINST devInstParent = 0;
    ULONG status = 0;
    ULONG problem = 0;
    char buffer[cbIdBuffer];

    memset(buffer, 0, sizeof(buffer));
    if (!ReadIdProperty(hDevInfo, pDid, SPDRP_HARDWAREID, buffer, NULL)) {
        return dvNoHardwareIds;
    }
    if (!MatchesIdPrefix(buffer, szDongleId)) {
        return LaterIdMatches(buffer, szDongleId) ? dvLaterHardwareId : dvAnotherProduct;
    }
    const CONFIGRET crStatus = CM_Get_DevNode_Status_Ex(&status, &problem, pDid->DevInst, 0, NULL);
    if (!bEnable && crStatus != CR_SUCCESS) {
        return crStatus == CR_NO_SUCH_DEVINST ? dvNotInTree : dvNoStatus;
    }
    const bool bByHardwareId = bEnable && crStatus == CR_NO_SUCH_DEVINST;
    if (CM_Get_Parent(&devInstParent, pDid->DevInst, 0) != CR_SUCCESS ||
        CM_Get_Parent(&devInstParent, devInstParent, 0) != CR_SUCCESS) {
        return bByHardwareId ? dvSelectedByHardwareId : dvNoAncestry;
    }
    memset(buffer, 0, cbIdBuffer);
    if (CM_Get_Device_IDA(devInstParent, buffer, cbIdBuffer, 0) != CR_SUCCESS) {
        return bByHardwareId ? dvSelectedByHardwareId : dvNoGrandparentId;
    }
    return memchr(buffer, '\0', cchMinGrandparentId) == NULL ? dvSelected : dvShortGrandparentId;
}

// Fills did with the device of one interface and tells whether that device is to be switched.
static bool IsSwitchableDongle(HDEVINFO hDevInfo, PSP_DEVICE_INTERFACE_DATA pInterfaceData,
                               PSP_DEVINFO_DATA pDid, bool bEnable) {
    // Without a detail buffer the call fails by design; it has filled did only when it fails
    // for want of that buffer.
    if (!SetupDiGetDeviceInterfaceDetailA(hDevInfo, pInterfaceData, NULL, 0, NULL, pDid) &&
        GetLastError() != ERROR_INSUFFICIENT_BUFFER) {
        return false;
    }
    const DongleVerdict verdict = JudgeDongleNode(hDevInfo, pDid, bEnable);
    return verdict == dvSelected || verdict == dvSelectedByHardwareId;
}

// True unless the device's own settings are known to leave it enabled in every hardware profile
// (CONFIGFLAG_DISABLED clear): a setting that cannot be read counts as set.
static bool IsGloballyDisabled(HDEVINFO hDevInfo, PSP_DEVINFO_DATA pDid) {
    DWORD dwConfigFlags = 0;
    if (!SetupDiGetDeviceRegistryPropertyA(hDevInfo, pDid, SPDRP_CONFIGFLAGS, NULL,
                                           (PBYTE)&dwConfigFlags, sizeof(dwConfigFlags), NULL)) {
        return true;
    }
    return (dwConfigFlags & CONFIGFLAG_DISABLED) != 0;
}

// Asks the class installer for one state change of one device, pausing dwPauseMs between the
// accepted parameters and the call. True when the installer reports the change made.
static bool ChangeState(HDEVINFO hDevInfo, PSP_DEVINFO_DATA pDid, DWORD dwStateChange,
                        DWORD dwScope, DWORD dwPauseMs) {
    SP_PROPCHANGE_PARAMS spPropChangeParams;

    memset(&spPropChangeParams, 0, sizeof(spPropChangeParams));
    spPropChangeParams.ClassInstallHeader.cbSize = sizeof(SP_CLASSINSTALL_HEADER);
    spPropChangeParams.ClassInstallHeader.InstallFunction = DIF_PROPERTYCHANGE;
    spPropChangeParams.StateChange = dwStateChange;
    spPropChangeParams.Scope = dwScope;
    spPropChangeParams.HwProfile = 0;
    if (!SetupDiSetClassInstallParamsA(hDevInfo, pDid, &spPropChangeParams.ClassInstallHeader,
                                       sizeof(spPropChangeParams))) {
        return false;
    }
    if (dwPauseMs != 0) {
        Sleep(dwPauseMs);
    }
    return SetupDiCallClassInstaller(DIF_PROPERTYCHANGE, hDevInfo, pDid) != FALSE;
}

static int SwitchDongles(GUID interfaceClass, bool bEnable) {
    DWORD dwIndex = 0;
    int changed = 0;
    SP_DEVICE_INTERFACE_DATA interfaceData;
    SP_DEVINFO_DATA did;
    HDEVINFO hDevInfo = INVALID_HANDLE_VALUE;

    memset(&did, 0, sizeof(did));
    did.cbSize = sizeof(did);

    // Interfaces of a disabled device are not present: re-enabling has to ask for all.
    hDevInfo = SetupDiGetClassDevsA(&interfaceClass, NULL, NULL,
                                    bEnable ? DIGCF_DEVICEINTERFACE
                                            : DIGCF_DEVICEINTERFACE | DIGCF_PRESENT);
    if (hDevInfo == INVALID_HANDLE_VALUE) {
        return -1;
    }
    memset(&interfaceData, 0, sizeof(interfaceData));
    interfaceData.cbSize = sizeof(interfaceData);

    for (dwIndex = 0;
         SetupDiEnumDeviceInterfaces(hDevInfo, NULL, &interfaceClass, dwIndex, &interfaceData);
         dwIndex++) {
        if (!IsSwitchableDongle(hDevInfo, &interfaceData, &did, bEnable)) {
            continue;
        }
        if (bEnable) {
            // A node is disabled while either its global or its configuration-specific setting
            // says so. The configuration-specific enable counts, unless the global enable failed
            // and left the node disabled in every profile.
            const bool bGlobal = ChangeState(hDevInfo, &did, DICS_ENABLE, DICS_FLAG_GLOBAL, 0);
            if (ChangeState(hDevInfo, &did, DICS_ENABLE, DICS_FLAG_CONFIGSPECIFIC, 0) &&
                (bGlobal || !IsGloballyDisabled(hDevInfo, &did))) {
                changed++;
            }
        } else if (ChangeState(hDevInfo, &did, DICS_DISABLE, DICS_FLAG_GLOBAL, dwDisablePauseMs)) {
            changed++;
        }
    }

    SetupDiDestroyDeviceInfoList(hDevInfo);
    return changed;
}

bool ReadInterfaceClassGuid(const char* text, GUID* pGuid) {
    enum { cchUuid = 36 };
    char szUuid[cchUuid + 1];
    const size_t cch = strlen(text);
    if (cch == cchUuid + 2 && text[0] == '{' && text[cchUuid + 1] == '}') {
        text++;
    } else if (cch != cchUuid) {
        return false;
    }
    memcpy(szUuid, text, cchUuid);
    szUuid[cchUuid] = '\0';
    return UuidFromStringA((RPC_CSTR)szUuid, pGuid) == RPC_S_OK;
}

int DisableDongles(GUID interfaceClass) {
    return SwitchDongles(interfaceClass, false);
}

int EnableDongles(GUID interfaceClass) {
    return SwitchDongles(interfaceClass, true);
}

DWORD QueryDongleStatus(DWORD* pnFound, DWORD* pnDisabled) {
    DWORD dwIndex = 0;
    DWORD nFound = 0;
    DWORD nDisabled = 0;
    SP_DEVINFO_DATA did;
    char buffer[cbIdBuffer];
    DWORD nSize = 0; // the size a read needs: asked for, as always, and never consulted
    SP_DEVINFO_LIST_DETAIL_DATA_A devInfoListDetail;
    ULONG status = 0;
    ULONG problem = 0;
    HDEVINFO hDevInfo = INVALID_HANDLE_VALUE;

    memset(&did, 0, sizeof(did));
    did.cbSize = sizeof(did);
    memset(buffer, 0, sizeof(buffer));
    memset(&devInfoListDetail, 0, sizeof(devInfoListDetail));

    hDevInfo = SetupDiGetClassDevsA(NULL, NULL, NULL, DIGCF_PRESENT | DIGCF_ALLCLASSES);
    if (hDevInfo == INVALID_HANDLE_VALUE) {
        return GetLastError();
    }

    for (dwIndex = 0; SetupDiEnumDeviceInfo(hDevInfo, dwIndex, &did); dwIndex++) {
        if (!ReadIdProperty(hDevInfo, &did, SPDRP_HARDWAREID, buffer, &nSize) ||
            !MatchesIdPrefix(buffer, szDongleId)) {
            continue;
        }
        status = 0;
        problem = 0;
        devInfoListDetail.cbSize = sizeof(devInfoListDetail);
        if (!SetupDiGetDeviceInfoListDetailA(hDevInfo, &devInfoListDetail)) {
            continue;
        }
        if (CM_Get_DevNode_Status_Ex(&status, &problem, did.DevInst, 0,
                                     devInfoListDetail.RemoteMachineHandle) != CR_SUCCESS) {
            continue;
        }
        nFound++;
        if ((status & DN_HAS_PROBLEM) != 0 && problem == CM_PROB_DISABLED) {
            nDisabled++;
        }
    }

    SetupDiDestroyDeviceInfoList(hDevInfo);
    *pnFound = nFound;
    *pnDisabled = nDisabled;
    return ERROR_SUCCESS;
}
