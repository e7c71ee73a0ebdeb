// donglectl status and list: what the dongle's nodes are, read-only.
#include "donglectl/list.h"

#include "census/census.h"
#include "donglectl/journal.h"
#include "donglectl/record.h"

// The dongle's vendor, as its nodes' identifiers name it.
static const char szVendorId[] = "VID_7B2E";
// A USB device whose descriptor Windows could not read gets this identifier (the unknown
// device Device Manager shows, USB\VID_0000&PID_0002 and its like) and problem 43
// (CM_PROB_FAILED_POST_START): the classic dongle that "is plugged in" but not found.
static const char szUnknownUsb[] = "USB\\VID_0000&PID_000";
static const ULONG problemFailedPostStart = 43;
// What list and the explanation of a switching verb say where there is no dongle node at all.
static const char szNoNode[] =
    "donglectl: no device names the dongle's vendor VID_7B2E, and the census counts none: the "
    "dongle is not plugged in, or Windows does not list it.\n";
// Where Windows keeps the interface classes that devices have registered interfaces of, one
// subkey per class GUID.
static const char szDeviceClasses[] = "SYSTEM\\CurrentControlSet\\Control\\DeviceClasses";

// One node as list shows it.
struct NodeInfo {
    SP_DEVINFO_DATA did;
    char szInstanceId[cbIdBuffer];
    BOOL bHardware;
    char hardware[cbIdBuffer];
    DWORD cbHardwareTooLong; // the size of a hardware-ID list longer than the buffer; else 0
    BOOL bCompatible;
    char compatible[cbIdBuffer];
    CONFIGRET crStatus;
    ULONG status;
    ULONG problem;
    bool bHint; // an unknown USB device that failed to start: it may be the dongle
};

// True when an identifier of the multi-string in buffer (cbIdBuffer bytes) names the vendor.
static bool NamesVendor(const char* buffer) {
    const size_t cch = sizeof(szVendorId) - 1;
    for (size_t i = 0; i + cch <= cbIdBuffer; i++) {
        if (_mbsnicmp((const unsigned char*)buffer + i, (const unsigned char*)szVendorId, cch) ==
            0) {
            return true;
        }
    }
    return false;
}

// Interfaces of one node: for the one class given, or for every class Windows has interfaces of.
// pfn gets each interface's class and whether it is present (SPINT_ACTIVE).
typedef void (*InterfaceFn)(const GUID* pClass, bool bPresent, void* pContext);

static void ForEachInterfaceOfClass(const char* szInstanceId, const GUID* pClass, InterfaceFn pfn,
                                    void* pContext) {
    SP_DEVICE_INTERFACE_DATA interfaceData;
    SP_DEVINFO_DATA did;
    char szOwner[cbIdBuffer];
    HDEVINFO hDevInfo = SetupDiGetClassDevsA(pClass, NULL, NULL, DIGCF_DEVICEINTERFACE);
    if (hDevInfo == INVALID_HANDLE_VALUE) {
        return;
    }
    memset(&interfaceData, 0, sizeof(interfaceData));
    interfaceData.cbSize = sizeof(interfaceData);
    memset(&did, 0, sizeof(did));
    did.cbSize = sizeof(did);
    for (DWORD i = 0; SetupDiEnumDeviceInterfaces(hDevInfo, NULL, pClass, i, &interfaceData); i++) {
        if ((SetupDiGetDeviceInterfaceDetailA(hDevInfo, &interfaceData, NULL, 0, NULL, &did) ||
             GetLastError() == ERROR_INSUFFICIENT_BUFFER) &&
            SetupDiGetDeviceInstanceIdA(hDevInfo, &did, szOwner, sizeof(szOwner), NULL) &&
            _stricmp(szOwner, szInstanceId) == 0) {
            pfn(pClass, (interfaceData.Flags & SPINT_ACTIVE) != 0, pContext);
        }
    }
    SetupDiDestroyDeviceInfoList(hDevInfo);
}

static void ForEachInterface(const char* szInstanceId, const GUID* pOnly, InterfaceFn pfn,
                             void* pContext) {
    if (pOnly != NULL) {
        ForEachInterfaceOfClass(szInstanceId, pOnly, pfn, pContext);
        return;
    }
    HKEY hk = NULL;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, szDeviceClasses, 0, KEY_READ, &hk) != ERROR_SUCCESS) {
        return;
    }
    char szClass[64];
    for (DWORD i = 0;; i++) {
        DWORD cch = sizeof(szClass);
        const LONG result = RegEnumKeyExA(hk, i, szClass, &cch, NULL, NULL, NULL, NULL);
        if (result == ERROR_MORE_DATA) {
            continue; // not a GUID
        }
        if (result != ERROR_SUCCESS) {
            break;
        }
        GUID interfaceClass;
        if (ReadInterfaceClassGuid(szClass, &interfaceClass)) {
            ForEachInterfaceOfClass(szInstanceId, &interfaceClass, pfn, pContext);
        }
    }
    RegCloseKey(hk);
}

// What one node exposes of one class: any interface, and any present one.
struct ClassUse {
    bool bAny;
    bool bPresent;
};

static void NoteInterface(const GUID* pClass, bool bPresent, void* pContext) {
    (void)pClass;
    ClassUse* pUse = (ClassUse*)pContext;
    pUse->bAny = true;
    pUse->bPresent = pUse->bPresent || bPresent;
}

// How disable (bEnable false) or enable would judge the node for the class.
static DongleVerdict JudgeForClass(HDEVINFO hDevInfo, NodeInfo* pNode, const GUID* pClass,
                                   bool bEnable) {
    ClassUse use = {false, false};
    ForEachInterface(pNode->szInstanceId, pClass, NoteInterface, &use);
    if (!use.bAny) {
        return dvNoInterfaceOfClass;
    }
    if (!bEnable && !use.bPresent) {
        return dvInterfaceNotPresent;
    }
    return JudgeDongleNode(hDevInfo, &pNode->did, bEnable);
}

typedef void (*NodeFn)(HDEVINFO hDevInfo, NodeInfo* pNode, void* pContext);

// Every node, present or not, whose identifiers or instance ID name the vendor, that the census
// counts, or that is an unknown USB device that failed to start. Returns 0, or the error when the
// device list cannot be had.
static DWORD ForEachListedNode(NodeFn pfn, void* pContext) {
    NodeInfo node;
    memset(&node, 0, sizeof(node));
    node.did.cbSize = sizeof(node.did);

    HDEVINFO hDevInfo = SetupDiGetClassDevsA(NULL, NULL, NULL, DIGCF_ALLCLASSES);
    if (hDevInfo == INVALID_HANDLE_VALUE) {
        return LastErrorOrGeneric();
    }
    for (DWORD dwIndex = 0; SetupDiEnumDeviceInfo(hDevInfo, dwIndex, &node.did); dwIndex++) {
        DWORD cbNeeded = 0;
        node.bHardware =
            ReadIdProperty(hDevInfo, &node.did, SPDRP_HARDWAREID, node.hardware, &cbNeeded);
        node.cbHardwareTooLong =
            !node.bHardware && GetLastError() == ERROR_INSUFFICIENT_BUFFER ? cbNeeded : 0;
        node.bCompatible =
            ReadIdProperty(hDevInfo, &node.did, SPDRP_COMPATIBLEIDS, node.compatible, NULL);
        memset(node.szInstanceId, 0, sizeof(node.szInstanceId));
        if (CM_Get_Device_IDA(node.did.DevInst, node.szInstanceId, sizeof(node.szInstanceId), 0) !=
            CR_SUCCESS) {
            node.szInstanceId[0] = '\0';
        }
        const bool bNamed =
            (node.bHardware && NamesVendor(node.hardware)) ||
            (node.bCompatible && NamesVendor(node.compatible)) ||
            (node.bCompatible && MatchesIdPrefix(node.compatible, szAssocClassId)) ||
            NamesVendor(node.szInstanceId);
        const bool bUnknownUsb = (node.bHardware && MatchesIdPrefix(node.hardware, szUnknownUsb)) ||
                                 MatchesIdPrefix(node.szInstanceId, szUnknownUsb);
        if (!bNamed && !bUnknownUsb) {
            continue;
        }
        node.status = 0;
        node.problem = 0;
        node.crStatus =
            CM_Get_DevNode_Status_Ex(&node.status, &node.problem, node.did.DevInst, 0, NULL);
        node.bHint = !bNamed && node.crStatus == CR_SUCCESS &&
                     (node.status & DN_HAS_PROBLEM) != 0 && node.problem == problemFailedPostStart;
        if (bNamed || node.bHint) {
            pfn(hDevInfo, &node, pContext);
        }
    }
    SetupDiDestroyDeviceInfoList(hDevInfo);
    return 0;
}

// The census's verdict on one node: the patterns it is counted by (at most three), or why not.
struct CensusVerdict {
    const char* patterns[3];
    int n;
    bool bCounted;
    const char* token;
    const char* text;
};

static void JudgeForCensus(const NodeInfo* pNode, CensusVerdict* pVerdict) {
    memset(pVerdict, 0, sizeof(*pVerdict));
    if (pNode->bHardware && MatchesIdPrefix(pNode->hardware, szDongleId)) {
        pVerdict->patterns[pVerdict->n++] = szDongleId;
    }
    if (pNode->bHardware && MatchesIdPrefix(pNode->hardware, szDongleId2)) {
        pVerdict->patterns[pVerdict->n++] = szDongleId2;
    }
    if (pNode->bCompatible && MatchesIdPrefix(pNode->compatible, szAssocClassId)) {
        pVerdict->patterns[pVerdict->n++] = szAssocClassId;
    }
    const bool bLater = (pNode->bHardware && (LaterIdMatches(pNode->hardware, szDongleId) ||
                                              LaterIdMatches(pNode->hardware, szDongleId2))) ||
                        (pNode->bCompatible && LaterIdMatches(pNode->compatible, szAssocClassId));
    if (pVerdict->n > 0 && pNode->crStatus == CR_NO_SUCH_DEVINST) {
        pVerdict->token = "not-present";
        pVerdict->text = "not counted: not present";
    } else if (pVerdict->n > 0) {
        pVerdict->bCounted = true;
        pVerdict->token = "counted";
        pVerdict->text = "counted";
    } else if (bLater) {
        pVerdict->token = "later-identifier";
        pVerdict->text = "not counted: only a later identifier names the dongle";
    } else if (pNode->cbHardwareTooLong != 0) {
        pVerdict->token = "identifiers-too-long";
        pVerdict->text =
            "not counted: its hardware-ID list is longer than the 260 bytes the census "
            "reads";
    } else if ((!pNode->bHardware || pNode->hardware[0] == '\0') &&
               (!pNode->bCompatible || pNode->compatible[0] == '\0')) {
        pVerdict->token = "identifiers-unreadable";
        pVerdict->text = "not counted: its identifiers cannot be read, or there are none";
    } else {
        pVerdict->token = "another-product";
        pVerdict->text = "not counted: another product";
    }
}

// The node's state: a stable word, and its text.
// What Device Manager's problem codes (CM_PROB_*) that a USB device can show mean, in a few words.
static const struct {
    ULONG problem;
    const char* meaning;
} problems[] = {
    {1, "not configured: no driver is set up for it"},
    {3, "its driver could not be loaded: low on memory or other resources"},
    {10, "the device could not start"},
    {18, "its driver has to be installed again"},
    {19, "its configuration in the registry is incomplete or damaged"},
    {21, "Windows is removing it"},
    {22, "disabled"},
    {24, "not present, not working, or without all its drivers"},
    {28, "its driver is not installed"},
    {31, "Windows could not load its driver"},
    {43, "Windows stopped it after it reported a problem"},
    {45, "not connected now (Windows remembers it from before)"},
    {47, "prepared for safe removal, and still plugged in"},
    {48, "its driver is blocked from starting"},
    {52, "the signature of its driver cannot be verified"},
};

static const char* ProblemMeaning(ULONG problem) {
    for (size_t i = 0; i < sizeof(problems) / sizeof(problems[0]); i++) {
        if (problems[i].problem == problem) {
            return problems[i].meaning;
        }
    }
    return NULL;
}

static void StateText(const NodeInfo* pNode, const char** pToken, char* szText, size_t cch) {
    if (pNode->crStatus == CR_NO_SUCH_DEVINST) {
        *pToken = "not-present";
        (void)snprintf(szText, cch, "not present");
    } else if (pNode->crStatus != CR_SUCCESS) {
        *pToken = "unreadable";
        (void)snprintf(szText, cch, "status unreadable (0x%lX)", (unsigned long)pNode->crStatus);
    } else if ((pNode->status & DN_HAS_PROBLEM) != 0 && pNode->problem == CM_PROB_DISABLED) {
        *pToken = "disabled";
        (void)snprintf(szText, cch, "disabled (problem %lu)", (unsigned long)pNode->problem);
    } else if ((pNode->status & DN_HAS_PROBLEM) != 0) {
        const char* meaning = ProblemMeaning(pNode->problem);
        *pToken = "problem";
        (void)snprintf(szText, cch, "problem %lu%s%s", (unsigned long)pNode->problem,
                       meaning != NULL ? ": " : "", meaning != NULL ? meaning : "");
    } else {
        const bool bStarted = (pNode->status & DN_STARTED) != 0;
        *pToken = bStarted ? "started" : "not-started";
        (void)snprintf(szText, cch, "%s", bStarted ? "started" : "not started");
    }
}

struct ListContext {
    CtlOutput* pOut;
    const GUID* pClass;
    int nInterfaces; // written for the current node
    int nNodes;      // listed so far
};

// The first identifier of a property read into buffer, or "(none)".
static void PrintFirstId(const char* key, BOOL bRead, const char* buffer) {
    const char* end = (const char*)memchr(buffer, '\0', cbIdBuffer);
    const int cch = end != NULL ? (int)(end - buffer) : (int)cbIdBuffer;
    if (!bRead || cch == 0) {
        Print("  %-14s (none)\n", key);
    } else {
        Print("  %-14s %.*s\n", key, cch, buffer);
    }
}

static void PrintInterface(const GUID* pClass, bool bPresent, void* pContext) {
    ListContext* pList = (ListContext*)pContext;
    char szGuid[40];
    FormatGuid(pClass, szGuid, sizeof(szGuid));
    if (pList->pOut->bJson) {
        JsonOpen(&pList->pOut->json, NULL, '{');
        JsonString(&pList->pOut->json, "class", szGuid, sizeof(szGuid));
        JsonBool(&pList->pOut->json, "present", bPresent);
        JsonClose(&pList->pOut->json, '}');
    } else {
        Print("  %-14s %s %s\n", "interface", szGuid, bPresent ? "present" : "not present");
    }
    pList->nInterfaces++;
}

static void JsonVerdict(JsonWriter* pJson, const char* key, DongleVerdict verdict) {
    JsonOpen(pJson, key, '{');
    JsonString(pJson, "token", VerdictToken(verdict), 64);
    JsonString(pJson, "text", VerdictText(verdict), 128);
    JsonBool(pJson, "selected", verdict == dvSelected || verdict == dvSelectedByHardwareId);
    JsonString(pJson, "next_step", VerdictNextStep(verdict), 128);
    JsonClose(pJson, '}');
}

// What an unknown USB device that failed to start may be, and what to try.
static const char szHint[] =
    "Windows could not read this USB device's descriptor (problem 43): it may be the dongle, "
    "failing to start. Unplug it and plug it into another port, directly or through a powered "
    "hub.";

// How a verb would judge a node for no class in particular: a node that exposes no interface
// can be selected by none.
static DongleVerdict JudgeForAnyClass(HDEVINFO hDevInfo, NodeInfo* pNode, bool bEnable) {
    const DongleVerdict verdict = JudgeDongleNode(hDevInfo, &pNode->did, bEnable);
    ClassUse use = {false, false};
    if (verdict == dvSelected || verdict == dvSelectedByHardwareId) {
        ForEachInterface(pNode->szInstanceId, NULL, NoteInterface, &use);
        return use.bAny ? verdict : dvNoInterface;
    }
    return verdict;
}

static void ListNode(HDEVINFO hDevInfo, NodeInfo* pNode, void* pContext) {
    ListContext* pList = (ListContext*)pContext;
    const char* stateToken = NULL;
    char szState[128];
    CensusVerdict census;
    StateText(pNode, &stateToken, szState, sizeof(szState));
    JudgeForCensus(pNode, &census);
    const DongleVerdict disable = pList->pClass != NULL
                                      ? JudgeForClass(hDevInfo, pNode, pList->pClass, false)
                                      : JudgeForAnyClass(hDevInfo, pNode, false);
    const DongleVerdict enable = pList->pClass != NULL
                                     ? JudgeForClass(hDevInfo, pNode, pList->pClass, true)
                                     : JudgeForAnyClass(hDevInfo, pNode, true);
    pList->nInterfaces = 0;
    pList->nNodes++;
    if (!pList->pOut->bJson) {
        Print("%s\n",
              pNode->szInstanceId[0] != '\0' ? pNode->szInstanceId : "(instance ID unreadable)");
        if (pNode->cbHardwareTooLong != 0) {
            Print("  %-14s (a list of %lu bytes, longer than the %d bytes the census reads)\n",
                  "hardware-id", (unsigned long)pNode->cbHardwareTooLong, (int)cbIdBuffer);
        } else {
            PrintFirstId("hardware-id", pNode->bHardware, pNode->hardware);
        }
        PrintFirstId("compatible-id", pNode->bCompatible, pNode->compatible);
        ForEachInterface(pNode->szInstanceId, NULL, PrintInterface, pList);
        if (pList->nInterfaces == 0) {
            Print("  %-14s (none)\n", "interface");
        }
        Print("  %-14s %s\n", "state", szState);
        if (pNode->bHint) {
            Print("  %-14s %s\n", "hint", szHint);
        }
        Print("  %-14s %s", "census", census.text);
        for (int i = 0; census.bCounted && i < census.n; i++) {
            Print("%s%s", i == 0 ? ": " : ", ", census.patterns[i]);
        }
        Print("\n  %-14s %s\n", "disable", VerdictText(disable));
        Print("  %-14s %s\n", "enable", VerdictText(enable));
        return;
    }
    JsonWriter* pJson = &pList->pOut->json;
    JsonOpen(pJson, NULL, '{');
    JsonString(pJson, "instance_id", pNode->szInstanceId[0] != '\0' ? pNode->szInstanceId : NULL,
               cbIdBuffer);
    JsonIdList(pJson, "hardware_ids", pNode->bHardware, pNode->hardware);
    JsonCount(pJson, "hardware_ids_bytes", pNode->cbHardwareTooLong != 0, pNode->cbHardwareTooLong);
    JsonIdList(pJson, "compatible_ids", pNode->bCompatible, pNode->compatible);
    JsonOpen(pJson, "interfaces", '[');
    ForEachInterface(pNode->szInstanceId, NULL, PrintInterface, pList);
    JsonClose(pJson, ']');
    JsonOpen(pJson, "state", '{');
    JsonString(pJson, "token", stateToken, 32);
    JsonString(pJson, "text", szState, sizeof(szState));
    JsonNumber(pJson, "result", pNode->crStatus);
    JsonNumber(pJson, "status", pNode->status);
    JsonNumber(pJson, "problem", pNode->problem);
    JsonClose(pJson, '}');
    JsonString(pJson, "hint", pNode->bHint ? szHint : NULL, sizeof(szHint));
    JsonOpen(pJson, "census", '{');
    JsonString(pJson, "token", census.token, 32);
    JsonString(pJson, "text", census.text, 128);
    JsonBool(pJson, "counted", census.bCounted);
    JsonOpen(pJson, "patterns", '[');
    for (int i = 0; i < census.n; i++) {
        JsonString(pJson, NULL, census.patterns[i], 64);
    }
    JsonClose(pJson, ']');
    JsonClose(pJson, '}');
    JsonVerdict(pJson, "disable", disable);
    JsonVerdict(pJson, "enable", enable);
    JsonClose(pJson, '}');
}

static void JsonPatterns(JsonWriter* pJson) {
    JsonOpen(pJson, "patterns", '{');
    JsonString(pJson, "primary", szDongleId, 64);
    JsonString(pJson, "secondary", szDongleId2, 64);
    JsonString(pJson, "association_class", szAssocClassId, 64);
    JsonClose(pJson, '}');
}

// The classes disable, enable and reset take without one: "  switching      {...} {...}", or
// the JSON member.
static void SayDongleClasses(CtlOutput* pOut) {
    GUID classes[16];
    DWORD dwError = 0;
    const int n = DongleInterfaceClasses(classes, 16, &dwError);
    if (pOut->bJson) {
        JsonOpen(&pOut->json, "interface_classes", '[');
    } else if (n > 0) {
        Print("  %-14s", "switching");
    }
    for (int i = 0; i < n; i++) {
        char szGuid[40];
        FormatGuid(&classes[i], szGuid, sizeof(szGuid));
        if (pOut->bJson) {
            JsonString(&pOut->json, NULL, szGuid, sizeof(szGuid));
        } else {
            Print(" %s", szGuid);
        }
    }
    if (pOut->bJson) {
        JsonClose(&pOut->json, ']');
    } else if (n > 0) {
        Print("\n");
    }
}

int List(CtlOutput* pOut, const GUID* pInterfaceClass) {
    ListContext list = {pOut, pInterfaceClass, 0, 0};
    RecordState record;
    DWORD nCensus = 0;
    DWORD dwCensusError = 0;
    ReadRecord(&record);
    const bool bCounted = WalkPresentDongles(szDongleId, szAssocClassId, szDongleId2, NULL, NULL,
                                             &nCensus, &dwCensusError);
    if (pOut->bJson) {
        char szGuid[40];
        if (pInterfaceClass != NULL) {
            FormatGuid(pInterfaceClass, szGuid, sizeof(szGuid));
        }
        JsonString(&pOut->json, "interface_class", pInterfaceClass != NULL ? szGuid : NULL, 40);
        JsonPatterns(&pOut->json);
        JsonRecord(&pOut->json, "record", &record);
        JsonCount(&pOut->json, "census_count", bCounted, nCensus);
        JsonBool(&pOut->json, "stale", RecordStale(&record, bCounted, nCensus));
        SayDongleClasses(pOut);
        JsonOpen(&pOut->json, "nodes", '[');
    } else {
        PrintRecord(&record, bCounted, nCensus, dwCensusError);
        SayDongleClasses(pOut);
    }
    const DWORD dwError = ForEachListedNode(ListNode, &list);
    if (pOut->bJson) {
        JsonClose(&pOut->json, ']');
    }
    if (dwError != 0) {
        return ListFailed(dwError);
    }
    if (list.nNodes == 0) {
        (void)fputs(szNoNode, stderr);
    }
    return 0;
}

static const char szTooLongNextStep[] =
    "its hardware-ID list is longer than the 260 bytes donglectl and the census read, so "
    "neither can tell it is the dongle: send \"donglectl report\" to the dongle's supplier";

struct ExplainContext {
    GUID interfaceClass;
    bool bEnable;
    int nNodes;
};

static void ExplainNode(HDEVINFO hDevInfo, NodeInfo* pNode, void* pContext) {
    ExplainContext* pExplain = (ExplainContext*)pContext;
    const DongleVerdict verdict =
        JudgeForClass(hDevInfo, pNode, &pExplain->interfaceClass, pExplain->bEnable);
    // No unplugging helps a list longer than the buffer: the device gives it so.
    const char* next = pNode->cbHardwareTooLong != 0 && verdict == dvNoHardwareIds
                           ? szTooLongNextStep
                           : VerdictNextStep(verdict);
    (void)fprintf(stderr, "donglectl: %s %s%s%s\n",
                  pNode->szInstanceId[0] != '\0' ? pNode->szInstanceId : "(instance ID unreadable)",
                  VerdictText(verdict), next != NULL ? "; " : "", next != NULL ? next : "");
    pExplain->nNodes++;
}

void ExplainNothingSelected(CtlOutput* pOut, GUID interfaceClass, const char* verb) {
    ExplainContext explain = {interfaceClass, strcmp(verb, "enable") == 0, 0};
    char szGuid[40];
    char szSetupClass[64];
    char szText[96];
    FormatGuid(&interfaceClass, szGuid, sizeof(szGuid));
    (void)snprintf(szText, sizeof(szText), "no dongle node to %s for %s", verb, szGuid);
    NoteOwnStatus(pOut, "nothing-selected", szText);
    (void)fprintf(stderr, "donglectl: %s:\n", szText);
    (void)ForEachListedNode(ExplainNode, &explain);
    if (explain.nNodes == 0) {
        (void)fputs(szNoNode, stderr);
    }
    if (SetupDiClassNameFromGuidA(&interfaceClass, szSetupClass, sizeof(szSetupClass), NULL)) {
        (void)fprintf(stderr,
                      "donglectl: %s is the device setup class \"%s\" (the class Device Manager "
                      "shows), not an interface class. Run \"donglectl list\" to see the interface "
                      "classes of the dongle's nodes.\n",
                      szGuid, szSetupClass);
    }
}

// The classes found so far, each once.
struct ClassSet {
    GUID* pClasses;
    int nMax;
    int n;
};

static void NoteClass(const GUID* pClass, bool bPresent, void* pContext) {
    (void)bPresent;
    ClassSet* pSet = (ClassSet*)pContext;
    int i = 0;
    while (i < pSet->n && memcmp(&pSet->pClasses[i], pClass, sizeof(GUID)) != 0) {
        i++;
    }
    if (i == pSet->n && pSet->n < pSet->nMax) {
        pSet->pClasses[pSet->n++] = *pClass;
    }
}

static void NoteClassesOfMatch(const char* buffer, HDEVINFO hDevInfo, PSP_DEVINFO_DATA pDid,
                               void* pContext) {
    char szInstanceId[cbIdBuffer];
    (void)buffer;
    if (SetupDiGetDeviceInstanceIdA(hDevInfo, pDid, szInstanceId, sizeof(szInstanceId), NULL)) {
        ForEachInterface(szInstanceId, NULL, NoteClass, pContext);
    }
}

int DongleInterfaceClasses(GUID* pClasses, int nMax, DWORD* pdwError) {
    ClassSet set = {pClasses, nMax, 0};
    DWORD nCount = 0;
    if (!WalkPresentDongles(szDongleId, szAssocClassId, szDongleId2, NoteClassesOfMatch, &set,
                            &nCount, pdwError)) {
        return -1;
    }
    return set.n;
}

// status counts the first product's nodes, the census its matches: where the two differ, says
// so on standard error, the line scripts read left as it is.
static void SayCensusDiffers(DWORD nFound, bool bCounted, DWORD nCensus) {
    if (bCounted && nCensus != nFound) {
        (void)fprintf(stderr,
                      "donglectl: the census counts %lu (the lines, exit status and record of "
                      "donglecensus.exe), where status counts %lu nodes of the dongle's first "
                      "product: run \"donglectl check\" for one verdict, \"donglectl list\" for "
                      "each node.\n",
                      (unsigned long)nCensus, (unsigned long)nFound);
    }
}

int Status(CtlOutput* pOut) {
    DWORD nFound = 0;
    DWORD nDisabled = 0;
    DWORD nCensus = 0;
    DWORD dwError = QueryDongleStatus(&nFound, &nDisabled);
    if (!pOut->bJson) {
        if (dwError != ERROR_SUCCESS) {
            return ListFailed(dwError);
        }
        Print("found %lu disabled %lu\n", (unsigned long)nFound, (unsigned long)nDisabled);
        DWORD dwCensusError = 0;
        const bool bCounted = WalkPresentDongles(szDongleId, szAssocClassId, szDongleId2, NULL,
                                                 NULL, &nCensus, &dwCensusError);
        SayCensusDiffers(nFound, bCounted, nCensus);
        return 0;
    }
    // Every member is written whatever fails: null where it could not be had.
    JsonWriter* pJson = &pOut->json;
    const bool bQueried = dwError == ERROR_SUCCESS;
    JsonCount(pJson, "found", bQueried, nFound);
    JsonCount(pJson, "disabled", bQueried, nDisabled);
    JsonPatterns(pJson);
    JsonOpen(pJson, "census", '{');
    JsonOpen(pJson, "matches", '[');
    const bool bWalked = bQueried && WalkPresentDongles(szDongleId, szAssocClassId, szDongleId2,
                                                        JsonMatch, pJson, &nCensus, &dwError);
    JsonClose(pJson, ']');
    JsonCount(pJson, "count", bWalked, nCensus);
    JsonClose(pJson, '}');
    RecordState record;
    ReadRecord(&record);
    JsonRecord(pJson, "record", &record);
    JsonBool(pJson, "stale", RecordStale(&record, bWalked, nCensus));
    SayCensusDiffers(nFound, bWalked, nCensus);
    return bWalked ? 0 : ListFailed(dwError);
}

// A present node that names the dongle's vendor, or an unknown USB device that failed to start,
// that the census's rule does not count.
static void CountNotCounted(HDEVINFO hDevInfo, NodeInfo* pNode, void* pContext) {
    (void)hDevInfo;
    const bool bCounted =
        (pNode->bHardware && (MatchesIdPrefix(pNode->hardware, szDongleId) ||
                              MatchesIdPrefix(pNode->hardware, szDongleId2))) ||
        (pNode->bCompatible && MatchesIdPrefix(pNode->compatible, szAssocClassId));
    if (pNode->crStatus == CR_SUCCESS && !bCounted) {
        (*(DWORD*)pContext)++;
    }
}

// check's verdicts: the exit status, the word, and what it means and what to do, given the
// count it names (%lu) and "is" or "are" for it (%s), each where it uses them.
enum { vSees, vStale, vNotPluggedIn, vNotCounted, vDisabled, vResetPending };
static const struct {
    DWORD status;
    const char* word;
    const char* format;
} checkVerdicts[] = {
    {0, "sees-the-dongle",
     "the licensed software sees the dongle: the census counts %lu, and its record says so"},
    {10, "stale",
     "the dongle is plugged in (the census counts %lu), but its record is stale: run \"donglectl "
     "census\" as an administrator"},
    {11, "not-plugged-in",
     "the dongle is not plugged in, or Windows does not see it: plug it in, then run \"donglectl "
     "check\" again"},
    {12, "not-counted",
     "a node of the dongle is present, but the census does not count it: run \"donglectl list\" "
     "to see why"},
    {13, "disabled",
     "the dongle is plugged in, but %lu of its nodes %s disabled: run \"donglectl enable\" as an "
     "administrator"},
    {14, "reset-pending",
     "an interrupted reset may have left the dongle off: run \"donglectl enable\" as an "
     "administrator"},
};

int JudgeCheck(CheckVerdict* pCheck) {
    DWORD nDisabled = 0;
    DWORD nNotCounted = 0;
    char szGuids[1024];
    memset(pCheck, 0, sizeof(*pCheck));
    DWORD dwError = QueryDongleStatus(&pCheck->nFound, &nDisabled);
    pCheck->nDisabled = nDisabled;
    if (dwError == ERROR_SUCCESS && !WalkPresentDongles(szDongleId, szAssocClassId, szDongleId2,
                                                        NULL, NULL, &pCheck->nCensus, &dwError)) {
        dwError = dwError != 0 ? dwError : (DWORD)ERROR_GEN_FAILURE;
    }
    if (dwError == ERROR_SUCCESS) {
        dwError = ForEachListedNode(CountNotCounted, &nNotCounted);
    }
    if (dwError != ERROR_SUCCESS) {
        return (int)dwError;
    }
    ReadRecord(&pCheck->record);
    const DWORD nCensus = pCheck->nCensus;
    // The most pressing first: an interrupted reset, then what the census counts.
    const bool bPending = RecordedClasses(szGuids, sizeof(szGuids)) > 0;
    size_t v = vResetPending;
    if (!bPending && nCensus == 0) {
        v = nNotCounted > 0 ? vNotCounted : vNotPluggedIn;
    } else if (!bPending) {
        v = nDisabled > 0                                 ? vDisabled
            : RecordStale(&pCheck->record, true, nCensus) ? vStale
                                                          : vSees;
    }
    const DWORD n = v == vDisabled ? nDisabled : nCensus;
    (void)snprintf(pCheck->szText, sizeof(pCheck->szText), checkVerdicts[v].format,
                   (unsigned long)n, n == 1 ? "is" : "are");
    pCheck->word = checkVerdicts[v].word;
    pCheck->status = checkVerdicts[v].status;
    return 0;
}

int Check(CtlOutput* pOut) {
    CheckVerdict check;
    const int error = JudgeCheck(&check);
    if (error != 0) {
        return ListFailed((DWORD)error);
    }
    if (pOut->bJson) {
        JsonString(&pOut->json, "verdict", check.word, 32);
        JsonString(&pOut->json, "text", check.szText, sizeof(check.szText));
        JsonCount(&pOut->json, "census_count", true, check.nCensus);
        JsonCount(&pOut->json, "found", true, check.nFound);
        JsonCount(&pOut->json, "disabled", true, check.nDisabled);
        JsonRecord(&pOut->json, "record", &check.record);
    } else {
        printf("%s: %s\n", check.word, check.szText);
    }
    if (check.status != 0) {
        NoteOwnStatus(pOut, check.word, check.szText);
    }
    return (int)check.status;
}
