// The recovery service's run: as LocalSystem, at Windows' start, before anyone logs on. It
// enables every class a reset was interrupted in, reads the recorded nodes back, and removes
// the record and then itself once nothing is left; what it cannot finish stays recorded, and it
// runs again at the next start.
#include "donglectl/service.h"

#include "donglectl/journal.h"
#include "donglectl/recovery.h"

// How long the recovery waits for a switching run that holds the lock (an administrator's,
// started right after logon) before it leaves the work to the next start.
static const DWORD dwLockWaitMs = 10 * 60 * 1000;

static SERVICE_STATUS_HANDLE hServiceStatus = NULL;
static DWORD dwRecoveryResult = 0;

// The service accepts no control: a stop would leave nodes off; Windows ends it at shutdown.
static void WINAPI RecoveryControl(DWORD dwControl) {
    (void)dwControl;
}

static void ReportState(DWORD dwState, DWORD dwExitCode) {
    SERVICE_STATUS status;
    memset(&status, 0, sizeof(status));
    status.dwServiceType = SERVICE_WIN32_OWN_PROCESS;
    status.dwCurrentState = dwState;
    status.dwWin32ExitCode = dwExitCode;
    (void)SetServiceStatus(hServiceStatus, &status);
}

// Enables each recorded class and finishes its record; returns 0 when nothing is left, else the
// first reason something is.
static DWORD RecoverNow(void) {
    char szGuids[1024];
    char szLeft[cbIdBuffer];
    HANDLE hLock = NULL;
    DWORD dwResult = TakeSwitchingLock(dwLockWaitMs, &hLock);
    if (dwResult == 0) {
        dwResult = CheckRecoveryProgram();
    }
    if (dwResult == 0 && RecordedClasses(szGuids, sizeof(szGuids)) == 0) {
        RemoveRecovery(); // a run ended after the record went and before the recovery did
    }
    for (const char* szGuid = szGuids; dwResult == 0 && *szGuid != '\0';
         szGuid += strlen(szGuid) + 1) {
        GUID interfaceClass;
        if (ReadInterfaceClassGuid(szGuid, &interfaceClass) &&
            SwitchDongles(interfaceClass, true, NULL, NULL, NULL) < 0) {
            dwResult = LastErrorOrGeneric();
        }
        if (!FinishJournal(szGuid, szLeft, sizeof(szLeft)) && dwResult == 0) {
            dwResult = ERROR_GEN_FAILURE;
        }
    }
    ReleaseSwitchingLock(hLock);
    return dwResult;
}

static void WINAPI RecoveryMain(DWORD argc, LPSTR* argv) {
    (void)argc;
    (void)argv;
    hServiceStatus = RegisterServiceCtrlHandlerA(szRecoveryService, RecoveryControl);
    if (hServiceStatus == NULL) {
        dwRecoveryResult = LastErrorOrGeneric();
        return;
    }
    ReportState(SERVICE_RUNNING, 0);
    dwRecoveryResult = RecoverNow();
    ReportState(SERVICE_STOPPED, dwRecoveryResult);
}

int Recover(CtlOutput* pOut) {
    SERVICE_TABLE_ENTRYA table[] = {{(LPSTR)szRecoveryService, RecoveryMain}, {NULL, NULL}};
    if (StartServiceCtrlDispatcherA(table)) {
        return (int)dwRecoveryResult;
    }
    const DWORD dwError = LastErrorOrGeneric();
    if (dwError != ERROR_FAILED_SERVICE_CONTROLLER_CONNECT) {
        return ReportError("the recovery service cannot start", dwError);
    }
    return OwnStatus(pOut, dwError, "not-a-service",
                     "'recover' is what Windows runs at its start to finish an interrupted reset "
                     "(the service donglectlRecovery). To finish one now, run \"donglectl enable "
                     "{interface-class-GUID}\" as an administrator.");
}
