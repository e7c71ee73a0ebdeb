// donglectl disable, enable and reset: the refusals that come before anything is switched, one
// line per selected node saying what holds after the change, the count, and an exit status that
// tells what holds.
#include "donglectl/switch.h"

#include "donglectl/journal.h"
#include "donglectl/list.h"
#include "donglectl/recovery.h"

// The refusals Windows is known to make, checked before anything is switched. Each returns the
// exit status, or 0 when switching may go ahead.

// Windows on ARM runs x86 and x64 programs emulated, and lets only native ARM64 programs change
// device state; an emulated x64 process is no WOW64 process, so only IsWow64Process2 tells.
static int RefuseOnArm64(CtlOutput* pOut, const char* machine) {
    if (strcmp(machine, "ARM64") != 0) {
        return 0;
    }
    return OwnStatus(pOut, dwNeeds64Bit, "needs-arm64",
                     "on Windows on ARM only a native ARM64 program can switch devices, and "
                     "donglectl is built for x86 and x64. Use Device Manager, or \"pnputil "
                     "/disable-device\" and \"pnputil /enable-device\" (Windows 10 version 2004 "
                     "and later), instead.");
}

// A 32-bit process on 64-bit Windows.
static int RefuseInWow64(CtlOutput* pOut, bool bWow64) {
    if (!bWow64) {
        return 0;
    }
    return OwnStatus(pOut, dwNeeds64Bit, "needs-x64-build",
                     "a 32-bit program cannot switch devices on 64-bit Windows. Run the x64 "
                     "build, x64\\donglectl.exe, instead.");
}

// A process whose token holds no enabled Administrators group: not elevated, where Windows has
// user account control. A check that cannot be made refuses too.
static int RefuseWithoutRights(CtlOutput* pOut) {
    const bool bMember = AdministratorRights() == 1;
    if (bMember) {
        return 0;
    }
    return OwnStatus(pOut, dwNeedsAdministrator, "needs-administrator",
                     "switching devices needs administrator rights. Run donglectl from a command "
                     "prompt opened with \"Run as administrator\".");
}

static const char* OutcomeToken(DongleOutcome outcome) {
    switch (outcome) {
    case doPassedOver:
        return "passed-over";
    case doSwitched:
        return "switched";
    case doAtRestart:
        return "at-restart";
    case doSettingWritten:
        return "setting-written";
    case doRefused:
        return "refused";
    case doAbsentAsAsked:
        return "absent-as-asked";
    case doAbsentNotAsAsked:
        return "absent-not-as-asked";
    }
    return "unknown";
}

// The outcome line's text after the instance ID.
static void OutcomeText(const DongleSwitchReport* pReport, char* szText, size_t cch) {
    const char* state = pReport->bEnable ? "enabled" : "disabled";
    const char* other = pReport->bEnable ? "disabled" : "enabled";
    switch (pReport->outcome) {
    case doSwitched:
        (void)snprintf(szText, cch, "%s", state);
        return;
    case doAtRestart:
        (void)snprintf(szText, cch, "%s at the next restart", state);
        return;
    case doSettingWritten:
        (void)snprintf(szText, cch,
                       "%s from the next restart: the setting is written, the node "
                       "still runs as it ran",
                       state);
        return;
    case doRefused:
        (void)snprintf(szText, cch, "refused (error 0x%08lX)", (unsigned long)pReport->dwError);
        return;
    case doAbsentAsAsked:
        (void)snprintf(szText, cch, "not present: comes back %s", state);
        return;
    case doAbsentNotAsAsked:
        (void)snprintf(szText, cch, "not present: comes back %s (error 0x%08lX)", other,
                       (unsigned long)pReport->dwError);
        return;
    case doPassedOver:
        break;
    }
    (void)snprintf(szText, cch, "%s", VerdictText(pReport->verdict));
}

// One pass (disable or enable) as it goes: what its nodes came to.
struct PassContext {
    CtlOutput* pOut;
    const char* szGuid;
    bool bHoldEvents; // reset's enable pass: runs to its end whatever is asked
    bool bJournal;    // reset's disable pass: records each node before it is switched off
    bool bRecovery;   // the recovery at Windows' next start is set up
    int nSelected;
    int nRestart;    // held only at the next restart
    DWORD dwRefused; // the first refused node's error
    bool bStopped;
    bool bUnrecorded; // a node's record could not be written: nothing more is switched off
};

// The pause before a disable: ended by a stop asked for, and then nothing is changed; in reset's
// disable pass, the recovery at Windows' next start is set up and the node recorded before it is
// switched off (either failing switches nothing off: the refusal is that error). A stop asked for
// at any point up to the installer's call prevents the call.
static bool PauseNode(const DongleSwitchReport* pReport, DWORD dwPauseMs, void* pContext) {
    PassContext* pPass = (PassContext*)pContext;
    char szWhat[MAX_PATH + 64];
    if (!PauseUnlessStopped(dwPauseMs)) {
        return false;
    }
    DWORD dwError = 0;
    szWhat[0] = '\0';
    if (pPass->bJournal && !pPass->bRecovery) {
        dwError = SetUpRecovery(szWhat, sizeof(szWhat));
        pPass->bRecovery = dwError == 0;
    }
    if (pPass->bJournal && dwError == 0) {
        (void)snprintf(szWhat, sizeof(szWhat), "the record of the nodes");
        dwError = JournalNode(pPass->szGuid, pReport->szInstanceId);
    }
    if (dwError != 0) {
        char szError[256];
        FormatError(dwError, szError, sizeof(szError));
        (void)fprintf(stderr,
                      "donglectl: reset cannot set up what finishes it if it is interrupted (%s): "
                      "%s\n",
                      szWhat, szError);
        pPass->bUnrecorded = true;
        pPass->dwRefused = pPass->dwRefused != 0 ? pPass->dwRefused : dwError;
        return false;
    }
    return !StopAsked();
}

static bool ReportNode(const DongleSwitchReport* pReport, void* pContext) {
    PassContext* pPass = (PassContext*)pContext;
    const char* id =
        pReport->szInstanceId[0] != '\0' ? pReport->szInstanceId : "(instance ID unreadable)";
    if (pReport->outcome != doPassedOver) {
        char szText[160];
        pPass->nSelected++;
        if (pReport->outcome == doAtRestart || pReport->outcome == doSettingWritten) {
            pPass->nRestart++;
        }
        if (!DongleOutcomeHolds(pReport->outcome) && pPass->dwRefused == 0) {
            char szError[256];
            pPass->dwRefused = pReport->dwError;
            FormatError(pReport->dwError, szError, sizeof(szError));
            (void)fprintf(stderr, "donglectl: %s: %s\n", id, szError);
        }
        OutcomeText(pReport, szText, sizeof(szText));
        if (pPass->pOut->bJson) {
            JsonWriter* pJson = &pPass->pOut->json;
            JsonOpen(pJson, NULL, '{');
            JsonString(pJson, "instance_id", pReport->szInstanceId[0] ? id : NULL, cbIdBuffer);
            JsonString(pJson, "outcome", OutcomeToken(pReport->outcome), 32);
            JsonString(pJson, "text", szText, sizeof(szText));
            JsonBool(pJson, "holds", DongleOutcomeHolds(pReport->outcome));
            JsonString(pJson, "verdict", VerdictToken(pReport->verdict), 32);
            JsonError(pJson, "error", pReport->dwError, NULL, NULL);
            JsonClose(pJson, '}');
        } else {
            printf("%s %s\n", id, szText);
        }
    }
    if ((!pPass->bHoldEvents && StopAsked()) || pPass->bUnrecorded) {
        pPass->bStopped = true;
        return false;
    }
    return true;
}

// Runs one pass; returns its count, or -1 (with the error in *pdwError) when the device list
// cannot be had.
static int RunPass(PassContext* pPass, GUID interfaceClass, bool bEnable, DWORD* pdwError) {
    CtlOutput* pOut = pPass->pOut;
    if (pOut->bJson) {
        JsonOpen(&pOut->json, NULL, '{');
        JsonString(&pOut->json, "pass", bEnable ? "enable" : "disable", 8);
        JsonString(&pOut->json, "interface_class", pPass->szGuid, 40);
        JsonOpen(&pOut->json, "nodes", '[');
    }
    const int n = SwitchDongles(interfaceClass, bEnable, ReportNode, PauseNode, pPass);
    *pdwError = n < 0 ? LastErrorOrGeneric() : 0;
    if (pOut->bJson) {
        JsonClose(&pOut->json, ']');
        JsonCount(&pOut->json, "count", n >= 0, (DWORD)n);
        JsonError(&pOut->json, "error", *pdwError, NULL, NULL);
        JsonBool(&pOut->json, "stopped", pPass->bStopped);
        JsonClose(&pOut->json, '}');
    } else if (n >= 0) {
        printf("%s %d\n", bEnable ? "enabled" : "disabled", n);
    }
    return n;
}

// The exit status of the passes run: the first refusal's error; a stop asked for; 3010 when some
// node holds only from the next restart; ERROR_NOT_FOUND when no node was selected; else 0.
// Notes the statuses that are donglectl's own.
static int ExitStatus(CtlOutput* pOut, const PassContext* pPasses, int nPasses) {
    int nSelected = 0;
    int nRestart = 0;
    bool bStopped = false;
    for (int i = 0; i < nPasses; i++) {
        if (pPasses[i].dwRefused != 0) {
            return (int)pPasses[i].dwRefused;
        }
        nSelected += pPasses[i].nSelected;
        nRestart += pPasses[i].nRestart;
        bStopped = bStopped || pPasses[i].bStopped;
    }
    if (bStopped) {
        return Cancelled(pOut, "the disabling was"); // never an enable: it takes no pause
    }
    if (nRestart > 0) {
        NoteOwnStatus(pOut, "restart-needed", "some nodes hold only from the next restart");
        return (int)dwRestartNeeded;
    }
    return nSelected == 0 ? (int)dwNothingSelected : 0;
}

// The refusals, then the passes; returns the exit status, the nodes that hold only from the next
// restart in *pnRestart.
static int RunPasses(CtlOutput* pOut, const char* verb, GUID interfaceClass, const char* szGuid,
                     int* pnRestart) {
    bool bWow64 = false;
    const char* machine = WindowsMachine(&bWow64);
    int refusal = RefuseOnArm64(pOut, machine);
    if (refusal == 0) {
        refusal = RefuseInWow64(pOut, bWow64);
    }
    if (refusal == 0) {
        refusal = RefuseWithoutRights(pOut);
    }
    if (refusal != 0) {
        return refusal;
    }
    HANDLE hLock = NULL;
    const DWORD dwLock = TakeSwitchingLock(0, &hLock);
    if (dwLock == ERROR_BUSY) {
        return OwnStatus(pOut, dwLock, "busy",
                         "another disable, enable or reset is running, or Windows is finishing "
                         "an interrupted reset; run this again when it has ended.");
    }
    if (dwLock != 0) {
        return ReportError("the lock of the switching runs cannot be taken", dwLock);
    }
    const bool bDisable = strcmp(verb, "enable") != 0;
    const bool bEnable = strcmp(verb, "disable") != 0;
    PassContext passes[2];
    memset(passes, 0, sizeof(passes));
    int nPasses = 0;
    DWORD dwError = 0;
    WatchConsoleEvents();
    bool bFailed = false;
    if (bDisable) {
        PassContext* pPass = &passes[nPasses++];
        pPass->pOut = pOut;
        pPass->szGuid = szGuid;
        pPass->bJournal = bEnable;
        bFailed = RunPass(pPass, interfaceClass, false, &dwError) < 0;
    }
    // reset enables whatever happened in its disable pass: a stop asked for ends that pass early,
    // never the enabling. A disable pass that could not list the devices disabled nothing. After
    // an enable pass, a reset of the class recorded as interrupted is finished where each node it
    // names reads back enabled.
    bool bUnfinished = false;
    if (bEnable && !bFailed) {
        PassContext* pPass = &passes[nPasses++];
        char szLeft[cbIdBuffer];
        pPass->pOut = pOut;
        pPass->szGuid = szGuid;
        pPass->bHoldEvents = bDisable;
        bFailed = RunPass(pPass, interfaceClass, true, &dwError) < 0;
        bUnfinished = !bFailed && !FinishJournal(szGuid, szLeft, sizeof(szLeft));
        if (bUnfinished) {
            (void)fprintf(stderr, "donglectl: %s does not read back enabled.\n", szLeft);
        }
    }
    ReleaseSwitchingLock(hLock);
    for (int i = 0; i < nPasses; i++) {
        *pnRestart += passes[i].nRestart;
    }
    if (bFailed) {
        return ListFailed(dwError);
    }
    const int status = ExitStatus(pOut, passes, nPasses);
    if (status == (int)dwNothingSelected) {
        ExplainNothingSelected(pOut, interfaceClass, verb);
    }
    // A recorded node left disabled fails the run, whatever the pass counted.
    if (bUnfinished && (status == 0 || status == (int)dwRestartNeeded)) {
        NoteOwnStatus(pOut, "reset-unfinished",
                      "a node of an interrupted reset does not read back enabled");
        return ERROR_GEN_FAILURE;
    }
    return status;
}

// The status of several classes switched in turn: the first failure; else 3010 where one needs
// a restart; "nothing selected" only where no class selected anything.
static int CombinedStatus(int status, int one, bool bFirst) {
    const bool bFailed =
        status != 0 && status != (int)dwRestartNeeded && status != (int)dwNothingSelected;
    if (bFirst || bFailed) {
        return bFirst ? one : status;
    }
    if (one != 0 && one != (int)dwRestartNeeded && one != (int)dwNothingSelected) {
        return one;
    }
    if (status == (int)dwRestartNeeded || one == (int)dwRestartNeeded) {
        return (int)dwRestartNeeded;
    }
    return status == (int)dwNothingSelected && one == (int)dwNothingSelected
               ? (int)dwNothingSelected
               : 0;
}

// Switches each class in turn; a refusal (rights, width, another run) ends it at the first.
static int SwitchClasses(CtlOutput* pOut, const char* verb, const GUID* pClasses, int nClasses) {
    char szGuid[40];
    int nRestart = 0;
    int status = 0;
    if (pOut->bJson) {
        FormatGuid(&pClasses[0], szGuid, sizeof(szGuid));
        JsonString(&pOut->json, "interface_class", szGuid, sizeof(szGuid));
        JsonOpen(&pOut->json, "interface_classes", '[');
        for (int i = 0; i < nClasses; i++) {
            FormatGuid(&pClasses[i], szGuid, sizeof(szGuid));
            JsonString(&pOut->json, NULL, szGuid, sizeof(szGuid));
        }
        JsonClose(&pOut->json, ']');
        JsonOpen(&pOut->json, "passes", '[');
    }
    for (int i = 0; i < nClasses; i++) {
        FormatGuid(&pClasses[i], szGuid, sizeof(szGuid));
        if (nClasses > 1 && !pOut->bJson) {
            printf("%s\n", szGuid);
        }
        const int one = RunPasses(pOut, verb, pClasses[i], szGuid, &nRestart);
        status = CombinedStatus(status, one, i == 0);
        if (pOut->ownWord != NULL && strcmp(pOut->ownWord, "nothing-selected") != 0 &&
            strcmp(pOut->ownWord, "restart-needed") != 0 &&
            strcmp(pOut->ownWord, "reset-unfinished") != 0) {
            break; // refused before anything was switched, or stopped
        }
    }
    // Several classes: the word noted is the combined status's.
    if (nClasses > 1 && status == (int)dwRestartNeeded) {
        NoteOwnStatus(pOut, "restart-needed", "some nodes hold only from the next restart");
    }
    if (pOut->bJson) {
        JsonClose(&pOut->json, ']');
        JsonBool(&pOut->json, "restart_needed", nRestart > 0);
    }
    // What is left to finish after the passes, rather than before them.
    SayPendingResets(pOut);
    if (nRestart > 0) {
        (void)fprintf(stderr,
                      "donglectl: restart Windows to finish: %d node%s hold%s the asked state "
                      "only from the next restart.\n",
                      nRestart, nRestart == 1 ? "" : "s", nRestart == 1 ? "s" : "");
    }
    return status;
}

int Switch(CtlOutput* pOut, const char* verb, GUID interfaceClass) {
    return SwitchClasses(pOut, verb, &interfaceClass, 1);
}

int SwitchDongle(CtlOutput* pOut, const char* verb) {
    enum { nMaxClasses = 16 };
    GUID classes[nMaxClasses];
    char szGuids[1024];
    DWORD dwError = 0;
    int n = DongleInterfaceClasses(classes, nMaxClasses, &dwError);
    if (n < 0) {
        return ListFailed(dwError);
    }
    // What an interrupted reset recorded is enabled too, plugged in or not.
    (void)RecordedClasses(szGuids, sizeof(szGuids));
    for (const char* p = szGuids; strcmp(verb, "disable") != 0 && *p != '\0' && n < nMaxClasses;
         p += strlen(p) + 1) {
        GUID recorded;
        int i = 0;
        if (!ReadInterfaceClassGuid(p, &recorded)) {
            continue;
        }
        while (i < n && memcmp(&classes[i], &recorded, sizeof(GUID)) != 0) {
            i++;
        }
        if (i == n) {
            classes[n++] = recorded;
        }
    }
    if (n == 0) {
        return OwnStatus(pOut, dwNothingSelected, "nothing-selected",
                         "the census counts no dongle node that exposes a device interface: plug "
                         "the dongle in, or give the interface class that \"donglectl list\" "
                         "shows on its nodes.");
    }
    return SwitchClasses(pOut, verb, classes, n);
}
