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
    if (!ReadIdProperty(hDevInfo, pDid, SPDRP_HARDWAREID, buffer, NULL) || buffer[0] == '\0') {
        return dvNoHardwareIds;
    }
    if (!MatchesIdPrefix(buffer, szDongleId)) {
        return LaterIdMatches(buffer, szDongleId)     ? dvLaterHardwareId
               : MatchesIdPrefix(buffer, szDongleId2) ? dvSecondProduct
                                                      : dvAnotherProduct;
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

// The pause before a disable, and whether to go on with it: the caller's, or a plain pause.
struct PauseHook {
    DonglePauseFn pfnPause;
    const DongleSwitchReport* pReport;
    void* pContext;
};

// Asks the class installer for one state change of one device, pausing (pPause non-NULL) between
// the accepted parameters and the call. Returns 0 when the installer reports the change made,
// else the error of the rejected parameters or of the installer; 0 with *pbStopped set when the
// pause said not to go on, and nothing was asked.
static DWORD ChangeState(HDEVINFO hDevInfo, PSP_DEVINFO_DATA pDid, DWORD dwStateChange,
                         DWORD dwScope, const PauseHook* pPause, bool* pbStopped) {
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
    if (pPause != NULL && pPause->pfnPause == NULL) {
        Sleep(dwDisablePauseMs);
    } else if (pPause != NULL &&
               !pPause->pfnPause(pPause->pReport, dwDisablePauseMs, pPause->pContext)) {
        *pbStopped = true;
        return 0;
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

// CM_Get_HW_Prof_FlagsA, deprecated from Windows 8 on, looked up where the system keeps it
// (cfgmgr32.dll, which the module imports) so that a Windows without it still runs the program;
// NULL where it is missing.
typedef CONFIGRET(WINAPI* GetProfileFlagsFn)(DEVINSTID_A, ULONG, PULONG, ULONG);
static GetProfileFlagsFn ProfileFlagsReader() {
    HMODULE hCfgMgr = GetModuleHandleA("cfgmgr32.dll");
    FARPROC proc = hCfgMgr != NULL ? GetProcAddress(hCfgMgr, "CM_Get_HW_Prof_FlagsA") : NULL;
    return proc != NULL ? (GetProfileFlagsFn)(void (*)(void))proc : NULL;
}

static void ReadBack(HDEVINFO hDevInfo, PSP_DEVINFO_DATA pDid, const char* szInstanceId,
                     NodeReadBack* pState) {
    const GetProfileFlagsFn pfnGetProfileFlags = ProfileFlagsReader();
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
    if (szInstanceId[0] != '\0' && pfnGetProfileFlags != NULL &&
        pfnGetProfileFlags((DEVINSTID_A)szInstanceId, 0, &pState->ulProfileFlags, 0) ==
            CR_SUCCESS) {
        pState->profileDisabled = (pState->ulProfileFlags & CSCONFIGFLAG_DISABLED) != 0;
    }
    pState->crStatus = CM_Get_DevNode_Status_Ex(&status, &problem, pDid->DevInst, 0, NULL);
    pState->bStatusKnown =
        pState->crStatus == CR_SUCCESS && (status & (DN_STARTED | DN_HAS_PROBLEM)) != 0;
    pState->bRunsDisabled =
        pState->bStatusKnown && (status & DN_HAS_PROBLEM) != 0 && problem == CM_PROB_DISABLED;
}

// Where a setting cannot be read back, what holds stands in for it: a node in the tree whose
// status is known and that runs enabled, with no restart pending, has no disable setting in
// force; otherwise the installer's answer for that scope: a change reported made wrote what it
// asked; one that failed, or was not asked, leaves the setting unknown.
static int SettingOrAnswer(int setting, const NodeReadBack* pState, bool bAsked, DWORD dwAnswer,
                           bool bDisable) {
    if (setting != tsUnknown) {
        return setting;
    }
    if (pState->bStatusKnown && !pState->bRunsDisabled && !pState->bNeedsRestart) {
        return tsClear;
    }
    if (!bAsked || dwAnswer != 0) {
        return setting;
    }
    return bDisable ? tsSet : tsClear;
}

// Clears the global disable setting of a dongle node that is not in the tree, through its own
// documented setter (SetupDiSetDeviceRegistryProperty, SPDRP_CONFIGFLAGS). The class installer
// may refuse to change a node without a devnode and write nothing (the documentation does not
// say what it does); the setting is what the node runs by when it comes back. The current
// profile's setting has no such setter but a function reserved for system use
// (CM_Set_HW_Prof_Flags), which is never called: a node that the profile still disables is
// reported as coming back disabled. Only ever used while enabling, and only for a node that the
// judgement positively identified as the dongle's.
static void ClearSettingOfAbsentNode(HDEVINFO hDevInfo, PSP_DEVINFO_DATA pDid,
                                     const NodeReadBack* pState) {
    const DWORD dwFlags = pState->dwConfigFlags & ~(DWORD)CONFIGFLAG_DISABLED;
    (void)SetupDiSetDeviceRegistryPropertyA(hDevInfo, pDid, SPDRP_CONFIGFLAGS,
                                            (const BYTE*)&dwFlags, sizeof(dwFlags));
}

// Switches one selected device and reads back what holds: fills the outcome and the error of
// pReport. A disable whose pause says not to go on asks nothing: the node is left as it was and
// reported passed over.
static void SwitchOne(HDEVINFO hDevInfo, PSP_DEVINFO_DATA pDid, bool bEnable,
                      const PauseHook* pPause, DongleSwitchReport* pReport) {
    DWORD dwGlobal = 0;
    DWORD dwProfile = 0;
    bool bStopped = false;
    NodeReadBack state;

    if (bEnable) {
        dwGlobal = ChangeState(hDevInfo, pDid, DICS_ENABLE, DICS_FLAG_GLOBAL, NULL, &bStopped);
        dwProfile =
            ChangeState(hDevInfo, pDid, DICS_ENABLE, DICS_FLAG_CONFIGSPECIFIC, NULL, &bStopped);
    } else {
        dwGlobal = ChangeState(hDevInfo, pDid, DICS_DISABLE, DICS_FLAG_GLOBAL, pPause, &bStopped);
        if (bStopped) {
            pReport->outcome = doPassedOver;
            return;
        }
    }
    pReport->dwError = dwGlobal != 0 ? dwGlobal : dwProfile;
    ReadBack(hDevInfo, pDid, pReport->szInstanceId, &state);
    if (bEnable && state.crStatus == CR_NO_SUCH_DEVINST && state.globalDisabled == tsSet) {
        ClearSettingOfAbsentNode(hDevInfo, pDid, &state);
        ReadBack(hDevInfo, pDid, pReport->szInstanceId, &state);
    }
    const int global = SettingOrAnswer(state.globalDisabled, &state, true, dwGlobal, !bEnable);
    const int profile =
        SettingOrAnswer(state.profileDisabled, &state, bEnable, dwProfile, !bEnable);
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
    } else if (state.bStatusKnown ? state.bRunsDisabled != bEnable : dwGlobal == 0) {
        // Where the status is unknown, the global change (the one that stops or starts the
        // device) tells whether the node runs as asked.
        pReport->outcome = doSwitched;
    } else {
        pReport->outcome = doSettingWritten;
    }
}

bool DongleNodesEnabled(const char* ids, char* szFirstLeft, size_t cchFirstLeft) {
    SP_DEVINFO_DATA did;
    char szId[cbIdBuffer];
    bool bAll = true;
    // Every device Windows knows of, the ones not present included.
    HDEVINFO hDevInfo = SetupDiGetClassDevsA(NULL, NULL, NULL, DIGCF_ALLCLASSES);
    for (const char* id = ids; *id != '\0' && bAll; id += strlen(id) + 1) {
        bool bEnabled = hDevInfo != INVALID_HANDLE_VALUE;
        bool bFound = false;
        bool bListEnded = false;
        memset(&did, 0, sizeof(did));
        did.cbSize = sizeof(did);
        for (DWORD dwIndex = 0; bEnabled && !bFound; dwIndex++) {
            if (!SetupDiEnumDeviceInfo(hDevInfo, dwIndex, &did)) {
                bListEnded = GetLastError() == ERROR_NO_MORE_ITEMS;
                break;
            }
            bFound = SetupDiGetDeviceInstanceIdA(hDevInfo, &did, szId, sizeof(szId), NULL) &&
                     _stricmp(szId, id) == 0;
            if (bFound) {
                // Without its instance ID, the read leaves the profile's setting alone: a disable
                // pass never writes it.
                NodeReadBack state;
                ReadBack(hDevInfo, &did, "", &state);
                bEnabled =
                    state.globalDisabled == tsClear || (state.globalDisabled == tsUnknown &&
                                                        state.bStatusKnown && !state.bRunsDisabled);
            }
        }
        // A node the whole list does not hold was uninstalled: no setting of it is left. A list
        // that ended early for another reason tells nothing.
        bEnabled = bEnabled && (bFound || bListEnded);
        if (!bEnabled) {
            (void)snprintf(szFirstLeft, cchFirstLeft, "%s", id);
            bAll = false;
        }
    }
    if (hDevInfo != INVALID_HANDLE_VALUE) {
        SetupDiDestroyDeviceInfoList(hDevInfo);
    }
    return bAll;
}

bool DongleOutcomeHolds(DongleOutcome outcome) {
    return outcome == doSwitched || outcome == doAtRestart || outcome == doSettingWritten ||
           outcome == doAbsentAsAsked;
}

int SwitchDongles(GUID interfaceClass, bool bEnable, DongleReportFn pfnReport,
                  DonglePauseFn pfnPause, void* pContext) {
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
        // The detail call need not fill did when it fails: nothing of the interface before may
        // stand in for this one's device.
        memset(&did, 0, sizeof(did));
        did.cbSize = sizeof(did);
        if (!GetInterfaceDevice(hDevInfo, &interfaceData, &did)) {
            report.verdict = dvNoDevice;
        } else {
            if (!SetupDiGetDeviceInstanceIdA(hDevInfo, &did, report.szInstanceId,
                                             sizeof(report.szInstanceId), NULL)) {
                report.szInstanceId[0] = '\0';
            }
            report.verdict = JudgeDongleNode(hDevInfo, &did, bEnable);
            if (report.verdict == dvSelected || report.verdict == dvSelectedByHardwareId) {
                const PauseHook pause = {pfnPause, &report, pContext};
                SwitchOne(hDevInfo, &did, bEnable, &pause, &report);
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
    return SwitchDongles(interfaceClass, false, NULL, NULL, NULL);
}

int EnableDongles(GUID interfaceClass) {
    return SwitchDongles(interfaceClass, true, NULL, NULL, NULL);
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
