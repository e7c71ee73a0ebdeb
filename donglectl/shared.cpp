// What donglectl's verbs share: error texts, GUID text, the words of verdicts, console events.
#include "donglectl/shared.h"

DWORD LastErrorOrGeneric() {
    const DWORD dwError = GetLastError();
    return dwError != 0 ? dwError : (DWORD)ERROR_GEN_FAILURE;
}

void FormatError(DWORD dwError, char* szText, size_t cchText) {
    char szMessage[200];
    DWORD cch = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, NULL,
                               dwError, 0, szMessage, sizeof(szMessage), NULL);
    while (cch > 0 && (szMessage[cch - 1] == '\r' || szMessage[cch - 1] == '\n')) {
        cch--;
    }
    szMessage[cch] = '\0';
    (void)snprintf(szText, cchText, "%s%s(error 0x%08lX)", szMessage, cch > 0 ? " " : "",
                   (unsigned long)dwError);
}

int ReportError(const char* what, DWORD dwError) {
    char szError[256];
    FormatError(dwError, szError, sizeof(szError));
    (void)fprintf(stderr, "donglectl: %s: %s\n", what, szError);
    return (int)dwError;
}

int ListFailed(DWORD dwError) {
    return ReportError("the device list cannot be had", dwError);
}

void FormatGuid(const GUID* pGuid, char* szText, size_t cchText) {
    (void)snprintf(szText, cchText, "{%08lX-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}",
                   (unsigned long)pGuid->Data1, pGuid->Data2, pGuid->Data3, pGuid->Data4[0],
                   pGuid->Data4[1], pGuid->Data4[2], pGuid->Data4[3], pGuid->Data4[4],
                   pGuid->Data4[5], pGuid->Data4[6], pGuid->Data4[7]);
}

static const struct {
    DongleVerdict verdict;
    const char* token;
    const char* text;
} verdicts[] = {
    {dvSelected, "selected", "selected"},
    {dvSelectedByHardwareId, "selected-by-hardware-id",
     "selected: not present, known by its first hardware ID"},
    {dvNoDevice, "no-device", "passed over: the interface's device cannot be had"},
    {dvNoHardwareIds, "no-hardware-ids", "passed over: the hardware IDs cannot be read"},
    {dvAnotherProduct, "another-product", "passed over: another product"},
    {dvLaterHardwareId, "later-hardware-id",
     "passed over: only a later hardware ID names the dongle"},
    {dvNotInTree, "not-present", "passed over: not present"},
    {dvNoStatus, "no-status", "passed over: the status cannot be read"},
    {dvNoAncestry, "no-ancestry", "passed over: the parent or grandparent cannot be had"},
    {dvNoGrandparentId, "no-grandparent-id",
     "passed over: the grandparent's instance ID cannot be read"},
    {dvShortGrandparentId, "short-grandparent-id",
     "passed over: the grandparent's instance ID is shorter than 6 characters"},
    {dvNoInterfaceOfClass, "no-interface-of-class",
     "passed over: it exposes no interface of the class"},
    {dvInterfaceNotPresent, "interface-not-present",
     "passed over: its interface of the class is not present"},
};

// The entry of the table for a verdict; the last one for a verdict it lacks.
static size_t VerdictEntry(DongleVerdict verdict) {
    const size_t n = sizeof(verdicts) / sizeof(verdicts[0]);
    size_t i = 0;
    while (i + 1 < n && verdicts[i].verdict != verdict) {
        i++;
    }
    return i;
}

const char* VerdictToken(DongleVerdict verdict) {
    return verdicts[VerdictEntry(verdict)].token;
}

const char* VerdictText(DongleVerdict verdict) {
    return verdicts[VerdictEntry(verdict)].text;
}

// Asked to stop by the console. Set by the handler, which Windows runs on a thread of its own.
static volatile LONG lStopAsked = 0;

// Ctrl+C, Ctrl+Break, closing the console, logging off, shutting down: asks the verb to stop
// between two nodes (or polls). Closing, logging off and shutting down end the process once
// the handler returns, so the handler holds it until the verb has stopped cleanly, within the
// time Windows allows.
static BOOL WINAPI OnConsoleEvent(DWORD ctrlType) {
    InterlockedExchange(&lStopAsked, 1);
    if (ctrlType == CTRL_C_EVENT || ctrlType == CTRL_BREAK_EVENT) {
        return TRUE;
    }
    for (int i = 0; i < 40 && InterlockedCompareExchange(&lStopAsked, 1, 1) != 2; i++) {
        Sleep(100);
    }
    return TRUE;
}

void WatchConsoleEvents() {
    (void)InterlockedExchange(&lStopAsked, 0);
    (void)SetConsoleCtrlHandler(OnConsoleEvent, TRUE);
}

bool StopAsked() {
    return InterlockedCompareExchange(&lStopAsked, 0, 0) != 0;
}

// The verb has stopped: a handler holding the process may let it end.
int Finished(int status) {
    (void)InterlockedCompareExchange(&lStopAsked, 2, 1);
    return status;
}
