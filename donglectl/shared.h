// What donglectl's verbs share: the output of a run and what ended it, the exit statuses, error
// texts, the words of verdicts, console events. Internal to donglectl.
#pragma once

#include "control/control.h"
#include "donglectl/json.h"

// Exit statuses donglectl gives for its own reasons. Each is the Windows code that says the
// same, except 2 (a usage error). A Windows error code passed through (the device list cannot
// be had, the installer refused a node) can equal one of them: the JSON document's error says
// whose it is.
enum { exitUsage = 2 };
static const DWORD dwNeedsAdministrator = 740; // ERROR_ELEVATION_REQUIRED
static const DWORD dwNeeds64Bit = ERROR_IN_WOW64;
static const DWORD dwNothingSelected = ERROR_NOT_FOUND;
static const DWORD dwRestartNeeded = ERROR_SUCCESS_REBOOT_REQUIRED;
static const DWORD dwOutputLost = 29; // ERROR_WRITE_FAULT: standard output could not be written

// The output of one run: the text formats, or one JSON document (--json), and what ended the
// run where the exit status is donglectl's own rather than a Windows error passed through.
struct CtlOutput {
    bool bJson;
    JsonWriter json;
    const char* ownWord; // donglectl's word for its own status ("usage", ...); NULL: none
    char szMessage[320]; // what it said on standard error for it
    bool bCountExit;     // the exit status is a count (census), not an error
};

// Records the exit status as donglectl's own, under word, with its text, for the JSON document.
void NoteOwnStatus(CtlOutput* pOut, const char* word, const char* text);
// Says "donglectl: <message>" on standard error and notes status as donglectl's own; returns
// status.
int OwnStatus(CtlOutput* pOut, DWORD status, const char* word, const char* message);

// GetLastError(), or ERROR_GEN_FAILURE where a failed call left none.
DWORD LastErrorOrGeneric();
// The system's text for an error, without its line end; for a Setup API code, which has none
// there, donglectl's own; empty for any other code without one.
void SystemText(DWORD dwError, char* szText, size_t cchText);
// The system's text for an error and its code, "Access is denied. (error 0x00000005)", or the
// code alone where the system has no text for it.
void FormatError(DWORD dwError, char* szText, size_t cchText);
// The symbolic name of a Windows error code ("ERROR_ACCESS_DENIED"), or NULL for one it does not
// know.
const char* ErrorName(DWORD dwError);
// Writes "donglectl: <what>: <the error's text>" to standard error and returns the error, as the
// exit status.
int ReportError(const char* what, DWORD dwError);
// Says that the device list cannot be had, and returns the error as the exit status.
int ListFailed(DWORD dwError);

// An error as the JSON documents give it: null for 0; else its code as a signed 32-bit number
// (as %ERRORLEVEL% and $LASTEXITCODE show it), the same in eight hex digits, its name, whose it
// is ("windows", or "donglectl" with its word) and its text.
void JsonError(JsonWriter* pJson, const char* key, DWORD dwError, const char* ownWord,
               const char* ownText);
// A count, or null where it could not be had.
void JsonCount(JsonWriter* pJson, const char* key, bool bKnown, DWORD value);
// A match of the census as the documents name it: its device's instance ID and the identifier
// (pContext: the JsonWriter). A DongleMatchFn.
void JsonMatch(const char* buffer, HDEVINFO hDevInfo, PSP_DEVINFO_DATA pDid, void* pContext);
// Opens the document of a run: the program, its version and the verb (NULL: none could be read).
void BeginDocument(CtlOutput* pOut, const char* verb);
// Ends the run: closes the document (whatever a verb left open) with the exit status and its
// error, then makes sure standard output was written. Output that could not be written (closed,
// full, a broken pipe) is said on standard error and turns a success (0, 3010) into
// dwOutputLost. Returns the exit status.
int EndRun(CtlOutput* pOut, int status);

// Stable words for verdicts and outcomes (the JSON form), and their texts.
const char* VerdictToken(DongleVerdict verdict);
const char* VerdictText(DongleVerdict verdict);
// The next step for a node passed over, one line; NULL where there is none to take.
const char* VerdictNextStep(DongleVerdict verdict);

// Ctrl+C, Ctrl+Break and closing the console: asked to stop (a handler installed by
// WatchConsoleEvents sets it).
void WatchConsoleEvents();
bool StopAsked();
// Notes the exit status of a run stopped by Ctrl+C, Ctrl+Break or a closing console, says on
// standard error that what (where not NULL) was stopped, and returns the status.
int Cancelled(CtlOutput* pOut, const char* what);
// The event a stop asked for signals (NULL where it could not be made).
HANDLE StopEvent();
// Pauses dwMilliseconds, ending early when a stop is asked; true when none is.
bool PauseUnlessStopped(DWORD dwMilliseconds);
// The verb has stopped: a handler holding the process may let it end. Returns status.
int Finished(int status);

// The interface class's text, "{A5DCBF10-6530-11D2-901F-00C04FB951ED}".
void FormatGuid(const GUID* pGuid, char* szText, size_t cchText);

// The text formats of list and the record: standard output, or while TextToFile holds a file,
// that file, each "\n" written as "\r\n" (plain text Notepad opens on every Windows). A line
// longer than Print's buffer (none is) is cut, and for a file the cut is an error TextToFile
// returns.
void PrintText(const char* text, bool bWhole);
template <typename... Args> void Print(const char* format, Args... args) {
    // The longest line list prints is an identifier (cbIdBuffer) beside a key.
    char szLine[1024];
    const int n = snprintf(szLine, sizeof(szLine), format, args...);
    PrintText(n >= 0 ? szLine : "", n >= 0 && (size_t)n < sizeof(szLine));
}
inline void Print(const char* text) {
    PrintText(text, true);
}
// From now on Print writes to hFile (NULL: standard output again). Returns the first error a
// write to the file met since the last call (0: none), after writing what is still buffered.
DWORD TextToFile(HANDLE hFile);
// A function of kernel32 that older Windows versions lack, looked up; NULL where it is missing.
FARPROC Kernel32Proc(const char* name);
// The machine Windows runs on natively ("x86", "x64" or "ARM64"), and whether this process runs
// under WOW64 (a 32-bit process on 64-bit Windows).
const char* WindowsMachine(bool* pbWow64);
// 1: the process's token holds the Administrators group enabled (elevated, where Windows has
// user account control); 0: it does not; -1: that cannot be checked.
int AdministratorRights();
