#include "control/control.h"

#include "census/identity.h"

// Size of the list-detail record in the 32-bit ANSI layout, as the platform checks it.
static_assert(sizeof(void*) != 4 || sizeof(SP_DEVINFO_LIST_DETAIL_DATA_A) == 287,
              "SP_DEVINFO_LIST_DETAIL_DATA_A must keep its 32-bit layout");

// Fixed numbers of the module's contract with the systems it runs on: a selected device's
// grandparent has an instance ID of at least 6 characters, and each disable waits 2000 ms
// before the class installer is called. Callers and installed systems rely on both.
enum { cchMinGrandparentId = 6, dwDisablePauseMs = 2000 };

// An error to report: the one given, or ERROR_GEN_FAILURE where a failure came with none.
static DWORD ErrorOrGeneric(DWORD dwError) {
    return dwError != 0 ? dwError : (DWORD)ERROR_GEN_FAILURE;
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

// Fills did with the device of one interface; false when the device cannot be had.
static bool GetInterfaceDevice(HDEVINFO hDevInfo, PSP_DEVICE_INTERFACE_DATA pInterfaceData,
                               PSP_DEVINFO_DATA pDid) {
    // Without a detail buffer the call fails by design; it has filled did only when it fails
    // for want of that buffer.
    return SetupDiGetDeviceInterfaceDetailA(hDevInfo, pInterfaceData, NULL, 0, NULL, pDid) ||
           GetLastError() == ERROR_INSUFFICIENT_BUFFER;
}

// Asks the class installer for one state change of one device, pausing dwPauseMs between the
// accepted parameters and the call. Returns 0 when the installer reports the change made, else
// the error of the rejected parameters or of the installer.
static DWORD ChangeState(HDEVINFO hDevInfo, PSP_DEVINFO_DATA pDid, DWORD dwStateChange,
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
        return ErrorOrGeneric(GetLastError());
    }
    if (dwPauseMs != 0) {
        Sleep(dwPauseMs);
    }
    if (!SetupDiCallClassInstaller(DIF_PROPERTYCHANGE, hDevInfo, pDid)) {
        return ErrorOrGeneric(GetLastError());
    }
    return 0;
}

// A disable setting as read back: set, clear, or unknown (it cannot be read).
enum { tsClear = 0, tsSet = 1, tsUnknown = -1 };

// What holds of one device after its state changes, read back from the platform rather than
// taken from the installer's answers.
struct NodeReadBack {
    CONFIGRET crStatus;   // the status read: CR_NO_SUCH_DEVINST when not in the tree
    bool bStatusKnown;    // the read gave a status: started, or a problem (Wine's writes none)
    bool bRunsDisabled;   // as the node runs now (problem CM_PROB_DISABLED), when known
    bool bNeedsRestart;   // the installer asked for a restart (DI_NEEDRESTART, DI_NEEDREBOOT)
    int globalDisabled;   // CONFIGFLAG_DISABLED of SPDRP_CONFIGFLAGS
    int profileDisabled;  // CSCONFIGFLAG_DISABLED of the current hardware profile
    DWORD dwConfigFlags;  // SPDRP_CONFIGFLAGS as read, when read
    ULONG ulProfileFlags; // the profile's flags as read, when read
};

static void ReadBack(HDEVINFO hDevInfo, PSP_DEVINFO_DATA pDid, const char* szInstanceId,
                     NodeReadBack* pState) {
    SP_DEVINSTALL_PARAMS_A installParams;
    ULONG status = 0;
    ULONG problem = 0;

    memset(pState, 0, sizeof(*pState));
    memset(&installParams, 0, sizeof(installParams));
    installParams.cbSize = sizeof(installParams);
    pState->bNeedsRestart = SetupDiGetDeviceInstallParamsA(hDevInfo, pDid, &installParams) &&
                            (installParams.Flags & (DI_NEEDRESTART | DI_NEEDREBOOT)) != 0;
    pState->globalDisabled = tsUnknown;
    if (SetupDiGetDeviceRegistryPropertyA(hDevInfo, pDid, SPDRP_CONFIGFLAGS, NULL,
                                          (PBYTE)&pState->dwConfigFlags,
                                          sizeof(pState->dwConfigFlags), NULL)) {
        pState->globalDisabled = (pState->dwConfigFlags & CONFIGFLAG_DISABLED) != 0;
    }
    pState->profileDisabled = tsUnknown;
    if (szInstanceId[0] != '\0' &&
        CM_Get_HW_Prof_FlagsA((DEVINSTID_A)szInstanceId, 0, &pState->ulProfileFlags, 0) ==
            CR_SUCCESS) {
        pState->profileDisabled = (pState->ulProfileFlags & CSCONFIGFLAG_DISABLED) != 0;
    }
    pState->crStatus = CM_Get_DevNode_Status_Ex(&status, &problem, pDid->DevInst, 0, NULL);
    pState->bStatusKnown =
        pState->crStatus == CR_SUCCESS && (status & (DN_STARTED | DN_HAS_PROBLEM)) != 0;
    pState->bRunsDisabled =
        pState->bStatusKnown && (status & DN_HAS_PROBLEM) != 0 && problem == CM_PROB_DISABLED;
}

// Where a setting cannot be read back, the installer's answer for that scope stands in for it:
// a change reported made wrote what it asked; one that failed, or was not asked, leaves the
// setting unknown.
static int SettingOrAnswer(int setting, bool bAsked, DWORD dwAnswer, bool bDisable) {
    if (setting != tsUnknown || !bAsked || dwAnswer != 0) {
        return setting;
    }
    return bDisable ? tsSet : tsClear;
}

// Clears the disable settings of a dongle node that is not in the tree, through their own
// setters. The class installer may refuse to change a node without a devnode and write nothing
// (the documentation does not say what it does); the settings are what the node runs by when it
// comes back, so clearing them is the documented way to the same end. Only ever used while
// enabling, and only for a node that the judgement positively identified as the dongle's.
static void ClearSettingsOfAbsentNode(HDEVINFO hDevInfo, PSP_DEVINFO_DATA pDid,
                                      const char* szInstanceId, const NodeReadBack* pState) {
    if (pState->globalDisabled == tsSet) {
        const DWORD dwFlags = pState->dwConfigFlags & ~(DWORD)CONFIGFLAG_DISABLED;
        (void)SetupDiSetDeviceRegistryPropertyA(hDevInfo, pDid, SPDRP_CONFIGFLAGS,
                                                (const BYTE*)&dwFlags, sizeof(dwFlags));
    }
    if (pState->profileDisabled == tsSet) {
        (void)CM_Set_HW_Prof_FlagsA((DEVINSTID_A)szInstanceId, 0,
                                    pState->ulProfileFlags & ~(ULONG)CSCONFIGFLAG_DISABLED, 0);
    }
}

// Switches one selected device and reads back what holds: fills the outcome and the error of
// pReport.
static void SwitchOne(HDEVINFO hDevInfo, PSP_DEVINFO_DATA pDid, bool bEnable,
                      DongleSwitchReport* pReport) {
    DWORD dwGlobal = 0;
    DWORD dwProfile = 0;
    NodeReadBack state;

    if (bEnable) {
        dwGlobal = ChangeState(hDevInfo, pDid, DICS_ENABLE, DICS_FLAG_GLOBAL, 0);
        dwProfile = ChangeState(hDevInfo, pDid, DICS_ENABLE, DICS_FLAG_CONFIGSPECIFIC, 0);
    } else {
        dwGlobal = ChangeState(hDevInfo, pDid, DICS_DISABLE, DICS_FLAG_GLOBAL, dwDisablePauseMs);
    }
    pReport->dwError = dwGlobal != 0 ? dwGlobal : dwProfile;
    ReadBack(hDevInfo, pDid, pReport->szInstanceId, &state);
    if (bEnable && state.crStatus == CR_NO_SUCH_DEVINST &&
        (state.globalDisabled == tsSet || state.profileDisabled == tsSet)) {
        ClearSettingsOfAbsentNode(hDevInfo, pDid, pReport->szInstanceId, &state);
        ReadBack(hDevInfo, pDid, pReport->szInstanceId, &state);
    }
    const int global = SettingOrAnswer(state.globalDisabled, true, dwGlobal, !bEnable);
    const int profile = SettingOrAnswer(state.profileDisabled, bEnable, dwProfile, !bEnable);
    const bool bHolds =
        bEnable ? global == tsClear && profile == tsClear : global == tsSet || profile == tsSet;
    const bool bAbsent = state.crStatus == CR_NO_SUCH_DEVINST;
    if (!bHolds) {
        pReport->outcome = bAbsent ? doAbsentNotAsAsked : doRefused;
        // An installer that answered success although its change does not hold still failed.
        pReport->dwError = ErrorOrGeneric(pReport->dwError);
    } else if (bAbsent) {
        pReport->outcome = doAbsentAsAsked;
    } else if (state.bNeedsRestart) {
        pReport->outcome = doAtRestart;
    } else if (state.bStatusKnown ? state.bRunsDisabled != bEnable : pReport->dwError == 0) {
        pReport->outcome = doSwitched;
    } else {
        pReport->outcome = doSettingWritten;
    }
}

bool DongleOutcomeHolds(DongleOutcome outcome) {
    return outcome == doSwitched || outcome == doAtRestart || outcome == doSettingWritten ||
           outcome == doAbsentAsAsked;
}

int SwitchDongles(GUID interfaceClass, bool bEnable, DongleReportFn pfnReport, void* pContext) {
    DWORD dwIndex = 0;
    int changed = 0;
    SP_DEVICE_INTERFACE_DATA interfaceData;
    SP_DEVINFO_DATA did;
    DongleSwitchReport report;
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
        memset(&report, 0, sizeof(report));
        report.bEnable = bEnable;
        report.outcome = doPassedOver;
        if (!GetInterfaceDevice(hDevInfo, &interfaceData, &did)) {
            report.verdict = dvNoDevice;
        } else {
            if (!SetupDiGetDeviceInstanceIdA(hDevInfo, &did, report.szInstanceId,
                                             sizeof(report.szInstanceId), NULL)) {
                report.szInstanceId[0] = '\0';
            }
            report.verdict = JudgeDongleNode(hDevInfo, &did, bEnable);
            if (report.verdict == dvSelected || report.verdict == dvSelectedByHardwareId) {
                SwitchOne(hDevInfo, &did, bEnable, &report);
                changed += DongleOutcomeHolds(report.outcome) ? 1 : 0;
            }
        }
        if (pfnReport != NULL && !pfnReport(&report, pContext)) {
            break;
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
    return SwitchDongles(interfaceClass, false, NULL, NULL);
}

int EnableDongles(GUID interfaceClass) {
    return SwitchDongles(interfaceClass, true, NULL, NULL);
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
