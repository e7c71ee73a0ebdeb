// What donglectl's verbs share: the output of a run, the exit statuses, error texts, the words
// of verdicts, console events. Internal to donglectl.
#pragma once

#include "control/control.h"
#include "donglectl/json.h"

// Exit statuses besides 0 and the Windows error codes: a usage error, and the system's own codes
// for what they say. A Windows error code is the exit status wherever one is the cause.
enum { exitUsage = 2 };
static const DWORD dwNeedsAdministrator = 740; // ERROR_ELEVATION_REQUIRED
static const DWORD dwNeeds64Bit = ERROR_IN_WOW64;
static const DWORD dwNothingSelected = ERROR_NOT_FOUND;
static const DWORD dwRestartNeeded = ERROR_SUCCESS_REBOOT_REQUIRED;

// The output of one run: the text formats, or one JSON document (--json).
struct CtlOutput {
    bool bJson;
    JsonWriter json;
};

// GetLastError(), or ERROR_GEN_FAILURE where a failed call left none.
DWORD LastErrorOrGeneric();
// The system's text for an error and its code, "Access is denied. (error 0x00000005)", or the
// code alone where the system has no text for it.
void FormatError(DWORD dwError, char* szText, size_t cchText);
// Writes "donglectl: <what>: <the error's text>" to standard error and returns the error, as the
// exit status.
int ReportError(const char* what, DWORD dwError);
// Says that the device list cannot be had, and returns the error as the exit status.
int ListFailed(DWORD dwError);

// Stable words for verdicts and outcomes (the JSON form), and their texts.
const char* VerdictToken(DongleVerdict verdict);
const char* VerdictText(DongleVerdict verdict);

// Ctrl+C, Ctrl+Break and closing the console: asked to stop (a handler installed by
// WatchConsoleEvents sets it).
void WatchConsoleEvents();
bool StopAsked();
// The verb has stopped: a handler holding the process may let it end. Returns status.
int Finished(int status);

// The interface class's text, "{A5DCBF10-6530-11D2-901F-00C04FB951ED}".
void FormatGuid(const GUID* pGuid, char* szText, size_t cchText);
