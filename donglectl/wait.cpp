// donglectl wait: polls the census's rule, read-only, until the dongle is there (or gone).
#include "donglectl/wait.h"

#include "census/census.h"

// One device list per poll, at this interval: each poll costs what one census costs.
static const DWORD dwPollMs = 500;

// Polls until the state is reached; returns the exit status, the count of the last poll that
// could be made in *pnCount (false in *pbCounted when none could).
static int Poll(CtlOutput* pOut, bool bPresent, DWORD dwTimeoutMs, DWORD* pnCount,
                bool* pbCounted) {
    const DWORD dwStart = GetTickCount();
    DWORD dwError = 0;
    for (;;) {
        if (!WalkPresentDongles(szDongleId, szAssocClassId, szDongleId2, NULL, NULL, pnCount,
                                &dwError)) {
            return ListFailed(dwError);
        }
        *pbCounted = true;
        if (bPresent && *pnCount > 0) {
            // The lines are those of a census made now; the dongle may have gone since the count.
            if (!WalkPresentDongles(szDongleId, szAssocClassId, szDongleId2,
                                    pOut->bJson ? JsonMatch : PrintDongleMatch,
                                    pOut->bJson ? &pOut->json : NULL, pnCount, &dwError)) {
                return ListFailed(dwError);
            }
            if (*pnCount > 0) {
                return 0;
            }
        } else if (!bPresent && *pnCount == 0) {
            return 0;
        }
        const DWORD dwElapsed = GetTickCount() - dwStart;
        if (dwTimeoutMs != INFINITE && dwElapsed >= dwTimeoutMs) {
            char szMessage[80];
            (void)snprintf(szMessage, sizeof(szMessage), "the dongle is still %s after %lu s",
                           bPresent ? "absent" : "present", (unsigned long)(dwTimeoutMs / 1000));
            return OwnStatus(pOut, ERROR_TIMEOUT, "timeout", szMessage);
        }
        const DWORD dwLeft = dwTimeoutMs == INFINITE ? dwPollMs : dwTimeoutMs - dwElapsed;
        Sleep(dwLeft < dwPollMs ? dwLeft : dwPollMs);
        if (StopAsked()) {
            NoteOwnStatus(pOut, "cancelled", "stopped by Ctrl+C, Ctrl+Break or a closing console");
            return (int)ERROR_CANCELLED;
        }
    }
}

int Wait(CtlOutput* pOut, bool bPresent, DWORD dwTimeoutMs) {
    DWORD nCount = 0;
    bool bCounted = false;
    WatchConsoleEvents();
    if (pOut->bJson) {
        JsonString(&pOut->json, "state", bPresent ? "present" : "absent", 8);
        JsonCount(&pOut->json, "timeout", dwTimeoutMs != INFINITE, dwTimeoutMs / 1000);
        JsonOpen(&pOut->json, "matches", '[');
    }
    const int status = Poll(pOut, bPresent, dwTimeoutMs, &nCount, &bCounted);
    if (pOut->bJson) {
        JsonClose(&pOut->json, ']');
        JsonCount(&pOut->json, "count", bCounted, nCount);
    }
    return status;
}
