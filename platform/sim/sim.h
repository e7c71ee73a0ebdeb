// Test API of the simulated platform: an in-memory device tree and registry behind the Windows
// names of winapi.h. Tests build a tree, inject failures, run the program's code and inspect what
// it asked of the platform.
#pragma once

#include "platform/sim/winapi.h"

#include <deque>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <utility>
#include <vector>

namespace sim {

// A property as a device stores it: its registry type and its bytes in the ANSI code page.
struct Property {
    DWORD type = REG_MULTI_SZ;
    std::string bytes;
};

// A multi-string: each identifier NUL-terminated, the list ended by an empty string.
Property MultiSz(const std::vector<std::string>& ids);
// A single NUL-terminated string stored as REG_SZ.
Property Sz(const std::string& text);
// Bytes exactly as given (no terminator added).
Property Raw(const std::string& bytes, DWORD type = REG_MULTI_SZ);

// A state change (keyed by DICS_* and DICS_FLAG_*).
typedef std::pair<DWORD, DWORD> StateScope;

// A device node. Every injected failure is named fail<what fails> and holds the error (or
// CONFIGRET) that call answers instead of succeeding; 0 (CR_SUCCESS) injects none.
struct Device {
    std::string instanceId;
    // Plugged in. The node is in the device tree (present: listed with DIGCF_PRESENT) while it is
    // plugged in and its parent is in the tree and not disabled: disabling a device removes the
    // nodes below it (a composite device's interface nodes) and enabling it brings them back,
    // each with its own settings. A node that is not present is still listed without that flag.
    bool present = true;
    // The two disable settings a state change writes, kept apart as Windows keeps them: the
    // device's CONFIGFLAG_DISABLED (DICS_FLAG_GLOBAL, every hardware profile) and the current
    // profile's CSCONFIGFLAG_DISABLED (DICS_FLAG_CONFIGSPECIFIC). The node is disabled while
    // either is set. A disabled node's interfaces are not present.
    bool disabledGlobal = false;
    bool disabledConfig = false;
    // The class installer accepts each change for the next restart (DI_NEEDRESTART in the
    // device's install parameters): the settings are written, the node keeps running as it ran
    // until Restart().
    bool defersChanges = false;
    // Changes that software holding the device open vetoes: the installer accepts that one
    // change for the next restart, as for defersChanges.
    std::set<StateScope> vetoed;
    // Changes whose setting is written before the device is stopped or started, and that then
    // fail with this error: the node runs as it ran until a restart.
    std::map<StateScope, DWORD> failAfterWriting;
    // Set by the platform: how a node whose change waits for a restart runs until then.
    std::optional<bool> runsDisabled;
    // Set by the platform: the node's parent was enabled, and the node comes back into the tree
    // only when the platform has enumerated again: after this many more device lists (see
    // ReturnChildren).
    int awaitsEnumeration = 0;
    // The current profile holds no key for the device yet (no configuration-specific change was
    // ever made): CM_Get_HW_Prof_FlagsA answers 0.
    bool profileKeyMissing = false;
    // How long the class installer takes to make a change of this device, stopping or starting
    // it: on the program's clock. Of the order of a second for a composite USB device.
    DWORD installerMs = 1000;
    // A change of this node in the tree is reported made, and nothing is written (a reading the
    // documentation does not rule out, as for a node out of the tree).
    bool madeUnwritten = false;
    // With DN_DISABLEABLE clear: ReactOS's order, the setting is written, then stopping the device
    // fails with ERROR_NOT_DISABLEABLE; false: refused before anything is written.
    bool disableRefusalWrites = false;
    // Bits besides the disable settings that SPDRP_CONFIGFLAGS and CM_Get_HW_Prof_FlagsA read.
    DWORD otherConfigFlags = 0;
    ULONG otherProfileFlags = 0;
    // Nonzero: reading SPDRP_CONFIGFLAGS fails with this error, CM_Get_HW_Prof_FlagsA with this
    // CONFIGRET.
    DWORD failConfigFlags = 0;
    CONFIGRET failProfileFlags = CR_SUCCESS;
    std::optional<Property> hardwareIds;
    std::optional<Property> compatibleIds;
    // Nonzero: reading that property fails with this error code.
    DWORD failHardwareIds = 0;
    DWORD failCompatibleIds = 0;
    // Instance ID of the parent node; empty: the root of the tree.
    std::string parent;
    // Nonzero: CM_Get_Parent of this node fails with it (and, as Wine does, stores node 0).
    CONFIGRET failParent = CR_SUCCESS;
    // Nonzero: CM_Get_Device_IDA of this node fails with it.
    CONFIGRET failInstanceId = CR_SUCCESS;
    // What CM_Get_DevNode_Status_Ex reports while the node is not disabled (a disabled node
    // reports problem CM_PROB_DISABLED), or the CONFIGRET it fails with.
    ULONG status = DN_STARTED | DN_DISABLEABLE;
    ULONG problem = 0;
    CONFIGRET failStatus = CR_SUCCESS;
    // The status read succeeds without writing the status or the problem, as Wine's does.
    bool statusWritesNothing = false;
    // Interface classes the device exposes, one entry per interface.
    std::vector<GUID> interfaces;
    // The interfaces (by their place in interfaces) that its driver has not enabled; the others
    // are present while the device is in the tree and not disabled.
    std::set<size_t> unlinkedInterfaces;
    // Nonzero: SetupDiGetDeviceInterfaceDetailA on its interfaces fails with this error code
    // before filling anything in.
    DWORD failInterfaceDetail = 0;
    // Errors that SetupDiSetClassInstallParamsA and SetupDiCallClassInstaller answer for a given
    // state change; a change that is not listed is accepted and made.
    std::map<StateScope, DWORD> failParams;
    std::map<StateScope, DWORD> failInstaller;
};

// One call of the class installer with DIF_PROPERTYCHANGE, as asked.
struct Change {
    std::string instanceId;
    DWORD stateChange;
    DWORD scope;
    DWORD hwProfile;
    bool made;
    // Accepted for the next restart.
    bool deferred = false;
};

struct RegValue {
    DWORD type;
    std::string bytes;
};

// Milliseconds since the platform started: GetTickCount reads it, Sleep advances it.
DWORD Now();
// At time ms, the device is plugged in (true) or unplugged (false); silent: no notification
// tells of it (one lost on the way, or a device that comes back without any).
void PlugAt(DWORD ms, const std::string& instanceId, bool plugged, bool silent = false);
// The same at the device list numbered list (counting from 1), whatever the time: a device that
// comes or goes between two lists taken at one moment.
void PlugAtList(long list, const std::string& instanceId, bool plugged);
// At time ms the plugged-in device's hardware IDs become ids (a firmware update that
// re-enumerates it under the same instance ID), told as an arrival.
void ChangeHardwareIdsAt(DWORD ms, const std::string& instanceId, const Property& ids);
// How device-change notifications reach the program (the documentation promises delivery, but
// not that every change is told once): refused registrations (Windows before 8 for the
// Configuration Manager's, Wine), every notification lost, or each told twice.
void RefuseNotifications(bool configManager, bool window);
void LoseNotifications(bool lost);
void DuplicateNotifications(bool duplicated);
// The console control event (CTRL_C_EVENT and the like) raised during the pause numbered
// pause (counting from 0): the handlers the program installed are called, last first; when
// none handles it, the process ends (ConsoleEnded).
void RaiseConsoleEventDuringPause(size_t pause, DWORD ctrlType);
// Thrown through the program when a console event ends the process: the tests catch it where
// they call the program's entry.
struct ProcessEnded {};
// The process the system ended is gone, and its handles with it: device sets, keys, handlers.
void ProcessGone();
// The console handlers installed now.
int ConsoleHandlers();
// The program's entry has returned (or was ended): a handler thread still running finishes, and
// is waited for. True when a console event ended that run; the next run starts afresh. Reset
// calls it too.
bool EntryReturned();

// Clears the tree, the registry, injected failures and all records; code page 1252.
void Reset();

// Adds a present, enabled device with no properties. The reference stays valid until Reset.
Device& AddDevice(const std::string& instanceId);
Device* FindDevice(const std::string& instanceId);

// The next SetupDiGetClassDevsA calls answer INVALID_HANDLE_VALUE with this error (0: none):
// every one, or the next times ones.
void FailDeviceList(DWORD error, int times = 0);
// The next SetupDiGetDeviceInfoListDetailA calls fail with this error (0: none).
void FailListDetail(DWORD error);
// The next RegCreateKeyExA calls fail with this error (0: none), as for a process without
// write access to the machine hive.
void FailKeyCreation(LONG error);

// Runs as a 32-bit process on 64-bit Windows: IsWow64Process says so, and the class installer
// answers ERROR_IN_WOW64 to every call, whatever the process's rights.
// Standard error is a console (someone at a command prompt), not redirected to a file or pipe.
void RunInConsole(bool console);
void RunAsWow64(bool wow64);
// Runs emulated on Windows on ARM (IsWow64Process2 names the native machine ARM64, while
// IsWow64Process of an emulated x64 process says no): the installer answers ERROR_IN_WOW64.
void RunOnArm64(bool arm64);
// The class installer refuses every change with this error, whatever the process's width and
// rights (0: it does not): an administrator who is still denied, an ERROR_IN_WOW64 that no
// predictor foretold.
void RefuseEveryChange(DWORD error);
// GetProcAddress does not find this function of kernel32 (an older Windows).
void HideProc(const std::string& name);
// How the class installer treats a state change of a node that is not in the tree (unplugged,
// or below a disabled parent). The documentation does not say: SetupDiChangeState's page lists
// no outcome, and a node without a devnode cannot be started. Each reading is one the program
// must survive:
enum class AbsentNodeChange {
    Made,          // the setting is written and the change reported made (the default)
    WrittenFailed, // the setting is written, then the change fails (ERROR_NO_SUCH_DEVINST)
    Refused,       // the change is refused (ERROR_NO_SUCH_DEVINST) and nothing is written
    MadeUnwritten  // the change is reported made, and nothing is written
};
void TreatAbsentNodeChange(AbsentNodeChange reading);
// When the nodes below a device that was enabled come back into the tree: Windows enumerates
// them anew, asynchronously, and the documentation names no moment. Each reading is one the
// program must survive: within the same pass (at once), at the next device list (the default),
// or only at the one after it.
enum class ChildrenReturn { AtOnce, AtNextList, AfterNextList };
void ReturnChildren(ChildrenReturn reading);
// Ends the process at the platform call numbered call (counting from 1, 0: never): a kill, or a
// power cut that also loses the registry writes not flushed (RegFlushKey). Calls() counts them.
// When the registry's lazy flusher writes a change is not documented ("at regular intervals"):
// never before the cut (the default), or once it is ms old on the program's clock.
void LazyFlushAfter(DWORD ms);
void EndProcessAtCall(long call, bool powerCut);
long Calls();
// Who the process runs as. Administrator: an administrator's full token (elevated, where
// Windows has user account control). FilteredAdministrator: the same user's token under user
// account control before elevation, the Administrators group deny-only. StandardUser: a member
// of Users alone. System: LocalSystem, as services run.
enum class Token { System, Administrator, FilteredAdministrator, StandardUser };
void RunAs(Token token);
// Runs with administrator rights (the default), or without (a filtered token): then the token
// is no member of the Administrators group and the class installer answers ERROR_ACCESS_DENIED
// to every change. sidsAllocate false: AllocateAndInitializeSid fails, so that the rights cannot
// be checked.
// membershipChecks false: CheckTokenMembership fails (its page: GetLastError tells why).
void RunAsAdministrator(bool administrator, bool sidsAllocate = true, bool membershipChecks = true);
// SIDs allocated and not yet freed.
int OpenSids();

// Which Windows the Configuration Manager behaves as where versions differ: the parent of a
// node that is not present cannot be had before Windows 8 (the default); from Windows 8 on it
// is the last parent the node had, or the root of the tree when that one is gone. Before
// Windows 8, kernel32 has no IsWow64Process2 (Windows 10 version 1709) and cfgmgr32 no
// CM_Register_Notification (Windows 8); from Windows 8 on, both are there.
void RunAsWindows8(bool windows8);

// A restart of the machine: volatile keys are gone, changes deferred to it take effect, files
// MoveFileEx was asked to delete at the restart are deleted.
void Restart();
// The program file a process runs from (GetModuleFileNameA): donglectl as an administrator
// unpacked it, with bytes of its own. ProgramFile() holds those bytes.
extern const char kProgramPath[];
std::string ProgramFile();
// The services Windows starts at its start (SERVICE_AUTO_START), by name, each with the
// command line its configuration holds; a start that fails (no such program file, or none that
// runs: empty or not a program) is left out, as the Service Control Manager logs it and goes
// on. No one has logged on yet.
std::vector<std::pair<std::string, std::string>> AutoStartServices();
// The process runs as that service, from that program file (empty: from a command prompt, as
// donglectl at kProgramPath): StartServiceCtrlDispatcherA connects, and runs its ServiceMain.
void RunAsService(const std::string& service, const std::string& path);
// The service's state as it last reported it (SERVICE_STOPPED ... ) and its exit code; whether
// it is installed at all.
bool ServiceInstalled(const std::string& service);
std::pair<DWORD, DWORD> ServiceState(const std::string& service);
// Files and folders (paths upper-cased). The common application data folder is C:\ProgramData,
// with the access list Windows gives it.
bool FileExists(const std::string& path);
std::vector<std::string> FilesUnder(const std::string& folder);
// A file's bytes (empty where there is none); what the disk takes from now on (until Reset).
std::string FileBytes(const std::string& path);
void DiskFree(size_t bytes);
// Another process holds (true) or releases the named mutex.
void HoldMutexElsewhere(const std::string& name, bool held);
// The console control event ctrlType raised when the program makes its platform call numbered
// call (counting from 1): the handlers run before that call does.
void RaiseConsoleEventAtCall(long call, DWORD ctrlType);

// The node is in the device tree (present), and it is disabled (by either setting, or as it
// runs until a restart). False for an unknown instance ID.
bool InTree(const std::string& instanceId);
bool IsDisabled(const std::string& instanceId);

// ANSI code page of the runtime's multibyte functions (932, 936, 949, 950 are double-byte).
void SetCodePage(UINT codePage);

// Device information sets obtained and not yet released; registry keys open.
int OpenDeviceSets();
int OpenKeys();

// Registry under HKEY_LOCAL_MACHINE; paths and names are case-insensitive.
bool KeyExists(const std::string& path);
std::optional<RegValue> QueryValue(const std::string& path, const std::string& name);
void SetValue(const std::string& path, const std::string& name, const RegValue& value);
// A key's values, by name (upper-cased, as the registry compares them).
std::map<std::string, RegValue> Values(const std::string& path);
void DeleteValue(const std::string& path, const std::string& name);

// What the program asked of the platform.
const std::vector<Change>& Changes();
const std::vector<DWORD>& Sleeps();
// One line per noteworthy call, in order: "ClassDevs <flags>", "Read <id> <property>",
// "Sleep <ms>", "Params <id> <state> <scope> <profile> ok|<error>",
// "Install <id> <state> <scope> ok|<error>" (" restart" after "ok" for a deferred change),
// "Status <id> local|remote",
// "SetValue <name> <type> <size>", "CreateKey <PATH>[ volatile]" (the path upper-cased, as the
// registry compares it). Flags and numbers are decimal; every error code is written one way,
// in hexadecimal ("0x57", "0xE0000231").
const std::vector<std::string>& Events();
// Calls that passed a handle the platform never issued (or had released).
int BadHandleUses();

} // namespace sim
