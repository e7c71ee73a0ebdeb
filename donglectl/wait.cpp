// donglectl wait: the census's rule, read-only, taken again whenever Windows tells of a device
// change (and at least every 10 s), until the dongle is there (or gone).
#include "donglectl/wait.h"

#include "census/census.h"
#include "donglectl/notify.h"

// Takes the census until the state is reached; returns the exit status, the count of the last
// census that could be taken in *pnCount (false in *pbCounted when none could).
static int Poll(CtlOutput* pOut, DeviceChanges* pChanges, bool bPresent, DWORD dwTimeoutMs,
                DWORD* pnCount, bool* pbCounted) {
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
        // The census is taken again on a change, at the safety interval, and at the timeout.
        if (!AwaitNextCensus(pChanges, dwStart, dwTimeoutMs)) {
            return Cancelled(pOut, bPresent ? "the wait for the dongle was"
                                            : "the wait for the dongle to go was");
        }
    }
}

int Wait(CtlOutput* pOut, bool bPresent, DWORD dwTimeoutMs) {
    DWORD nCount = 0;
    bool bCounted = false;
    DeviceChanges changes;
    WatchConsoleEvents();
    WatchDeviceChanges(&changes);
    // Someone at a command prompt, with no timeout: what is waited for, and how to stop.
    DWORD dwMode = 0;
    if (dwTimeoutMs == INFINITE && !pOut->bJson &&
        GetConsoleMode(GetStdHandle(STD_ERROR_HANDLE), &dwMode)) {
        (void)fprintf(stderr,
                      "donglectl: waiting until the dongle is %s, with no timeout (--timeout "
                      "SECONDS gives up); Ctrl+C stops\n",
                      bPresent ? "plugged in" : "unplugged");
    }
    if (pOut->bJson) {
        JsonString(&pOut->json, "state", bPresent ? "present" : "absent", 8);
        JsonCount(&pOut->json, "timeout", dwTimeoutMs != INFINITE, dwTimeoutMs / 1000);
        JsonString(&pOut->json, "mode", changes.mode, 16);
        JsonOpen(&pOut->json, "matches", '[');
    }
    const int status = Poll(pOut, &changes, bPresent, dwTimeoutMs, &nCount, &bCounted);
    StopWatchingDeviceChanges(&changes);
    if (pOut->bJson) {
        JsonClose(&pOut->json, ']');
        JsonCount(&pOut->json, "count", bCounted, nCount);
    }
    return status;
}
