// The simulated platform's own state and the helpers its API families share. Internal: tests
// use sim.h.
#pragma once

#include "platform/sim/sim.h"

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <set>
#include <unordered_set>

namespace sim {

// The root of the tree: a node with an instance ID and no parent, above every device whose
// parent is not set.
const DEVINST kRootNode = 0x7fff0000;
const char kRootId[] = "HTREE\\ROOT\\0";

struct DevInfoSet {
    bool interfaceList = false;
    GUID interfaceClass{};
    std::vector<size_t> devices;
    std::unordered_set<size_t> members;
    // (device, interface index within the device) for an interface list.
    std::vector<std::pair<size_t, size_t>> interfaces;
    std::map<size_t, SP_PROPCHANGE_PARAMS> params;
    // The Flags of each device's install parameters (SP_DEVINSTALL_PARAMS): the installer sets
    // DI_NEEDRESTART there, and it stays set for the life of the set.
    std::map<size_t, DWORD> installFlags;
};

struct Key {
    std::map<std::string, RegValue> values;
    // Created with REG_OPTION_VOLATILE: gone after a restart.
    bool volatileKey = false;
};

struct OpenKey {
    std::string path;
    REGSAM access;
};

// An access list entry, its SID in Windows' byte layout.
struct Ace {
    BYTE type;
    BYTE flags;
    ACCESS_MASK mask;
    std::string sid;
};
// Who owns a file or folder and who may do what with it.
struct Security {
    std::string owner;
    bool isProtected = false;
    std::vector<Ace> dacl;
};
struct FileNode {
    bool directory = false;
    std::string bytes;
    Security security;
    // Written since the last FlushFileBuffers: a power cut loses the data.
    bool flushed = true;
};
struct OpenFile {
    std::string path;
    DWORD access;
    size_t position = 0;
};
// A service as the Service Control Manager has it at run time; its configuration lives in the
// registry (SYSTEM\CurrentControlSet\Services\<name>), as on Windows.
struct ServiceRuntime {
    int openHandles = 0;
    bool markedForDeletion = false;
    bool running = false;
    DWORD state = SERVICE_STOPPED;
    DWORD exitCode = 0;
};
struct ScHandle {
    std::string service; // empty: the Service Control Manager itself
    DWORD access;
};

struct State {
    std::deque<Device> devices;
    std::map<std::string, Key> keys;
    std::set<std::unique_ptr<DevInfoSet>> sets;
    std::set<std::unique_ptr<OpenKey>> openKeys;
    DWORD deviceListError = 0;
    int deviceListFailures = 0; // how many more lists fail (0: every one)
    DWORD listDetailError = 0;
    LONG keyCreationError = 0;
    bool wow64 = false;
    bool console = false; // standard error is a console, not redirected
    bool arm64 = false;
    DWORD refuseEveryChange = 0;
    std::set<std::string> hiddenProcs;
    AbsentNodeChange absentNodeChange = AbsentNodeChange::Made;
    ChildrenReturn childrenReturn = ChildrenReturn::AtNextList;
    DWORD now = 0;
    struct Plug {
        DWORD at;
        std::string instanceId;
        bool plugged;
        bool silent;     // no notification tells of it
        long atList = 0; // nonzero: at that device list (counting from 1), whatever the time
        std::optional<Property> hardwareIds; // the node's identifiers change to these
    };
    long lists = 0; // device lists taken so far
    std::vector<Plug> plugs;
    std::map<size_t, DWORD> consoleEvents;     // pause number -> event
    std::map<long, DWORD> consoleEventsAtCall; // platform call number -> event
    // The time a close event's handler runs out: the system ends the process then (0: none).
    DWORD endsAt = 0;
    // Platform calls made so far, and the one at which the process is ended (0: none), by a kill
    // or by a power cut (registry writes not flushed are lost).
    long calls = 0;
    long endAtCall = 0;
    bool powerCut = false;
    // Writes to a hive since its last RegFlushKey, to undo at a power cut, by hive ("SYSTEM",
    // "SOFTWARE"): registry keys, and the devices' settings, which Windows keeps in the SYSTEM
    // hive.
    struct Write {
        std::string hive;
        DWORD at; // on the program's clock
        std::function<void()> undo;
    };
    std::vector<Write> unflushed;
    // The registry's lazy flusher has written what changed at least this long ago (0: nothing).
    DWORD lazyFlushMs = 0;
    // The file system, by upper-cased path; open files by handle (kFileHandles + index).
    std::map<std::string, FileNode> files;
    std::vector<std::optional<OpenFile>> openFiles;
    // What the disk can still take; a write beyond it fails with ERROR_DISK_FULL.
    size_t diskFree = SIZE_MAX;
    // Named mutexes: held by this process, by another one, or abandoned by a process that ended
    // holding it; handles (kMutexHandles + index) name one.
    struct Mutex {
        std::string name;
        bool heldHere = false;
        bool heldElsewhere = false;
        bool abandoned = false;
    };
    std::vector<Mutex> mutexes;
    std::vector<std::optional<size_t>> mutexHandles;
    // Who the process runs as.
    Token token = Token::Administrator;
    // The process is the program file at modulePath, started by the Service Control Manager as
    // this service (empty: from a command prompt).
    std::string modulePath;
    std::string service;
    std::map<std::string, ServiceRuntime> services;
    std::vector<std::optional<ScHandle>> scHandles;
    LPHANDLER_FUNCTION serviceHandler = nullptr;
    // Events (CreateEventA): signalled or not.
    std::deque<std::atomic<bool>> eventObjects;
    // Registrations for device-change notifications: a callback (Configuration Manager) or a
    // window; closed ones stay, so that handles are never reused.
    struct Registration {
        PCM_NOTIFY_CALLBACK callback;
        void* context;
        HWND hwnd;
        bool open;
    };
    std::vector<Registration> registrations;
    std::vector<WNDPROC> windows; // by window handle, from 1; NULL once destroyed
    std::deque<MSG> messages;
    bool cmNotifyRefused = false;
    bool windowNotifyRefused = false;
    bool notificationsLost = false;
    bool notificationsDuplicated = false;
    std::vector<BOOL (*)(DWORD)> consoleHandlers;
    // A close, logoff or shutdown event's handlers run on a thread of their own, as on Windows;
    // the process ends when they return. Their pauses last in the program's own time: each waits
    // until the main thread's clock has moved on by as much, or the program's entry has returned.
    std::unique_ptr<std::thread> handlerThread;
    std::mutex clockMutex;
    std::condition_variable clockMoved;
    bool entryReturned = false;
    bool handlerWaiting = false; // the handler thread pauses, or has returned
    bool handlerRunning = false; // a handler thread has not yet returned
    DWORD handlerClock = 0;      // where the handler's last pause ended
    std::atomic<bool> consoleEnded{false};
    std::thread::id mainThread;
    bool windows8 = false;
    bool sidsAllocate = true;
    bool membershipChecks = true;
    // SIDs the process allocated and has not freed: gone with the process.
    std::set<BYTE*> sids;
    UINT codePage = 1252;
    std::vector<Change> changes;
    std::vector<DWORD> sleeps;
    std::vector<std::string> events;
    int badHandles = 0;
    DWORD lastError = 0;
};

// The one state of the platform.
State& St();

std::string Upper(std::string s);
// "ok" for 0, else the code in hexadecimal ("0x57", "0xE0000231"): how the event log writes
// every error code.
std::string ErrorText(DWORD error);
void Event(const std::string& line);
// Sets the last error and answers FALSE.
BOOL Fail(DWORD error);
bool SameGuid(const GUID& a, const GUID& b);
// The open set or key a handle names; nullptr, counted as a bad handle use, when none.
DevInfoSet* FindSet(HDEVINFO h);
OpenKey* FindKey(HKEY h);

// SIDs in Windows' byte layout, and the token's groups: what an access check compares.
std::string SidOf(BYTE authority, const std::vector<DWORD>& rids);
extern const std::string kSystemSid, kAdministratorsSid, kUsersSid, kEveryoneSid,
    kAuthenticatedUsersSid, kCreatorOwnerSid, kAdministratorUserSid, kStandardUserSid;
// The SIDs the token holds enabled (the user's first); a deny-only group is left out, as an
// access check allows nothing through it.
std::vector<std::string> TokenSids();
// Whether the token may do all of desired to a file or folder: its owner may always read and
// change its access list; otherwise the entries in order, a denial of any desired right
// first, until every right is allowed.
bool AccessAllowed(const Security& security, ACCESS_MASK desired);
// A device of an open set, as a did names it.
struct Member {
    DevInfoSet* set;
    size_t index; // in the tree, and its node number
    Device* device;
};
// False, with the last error set, when the handle is not an open set or the did does not belong
// to it.
bool FindMember(HDEVINFO h, PSP_DEVINFO_DATA did, Member* member);

// Calls the installed console handlers, last installed first, until one handles the event; when
// none does, the process ends (ProcessEnded is thrown).
void RaiseConsoleEvent(DWORD ctrlType);
// Throws ProcessEnded when the system has ended the process (a console event, its handler's
// timeout): called at every platform call and clock move, so that it changes nothing more.
void CheckAlive();
// The event an event handle names; nullptr, counted as a bad handle use, for any other.
std::atomic<bool>* EventObject(HANDLE hEvent);
// The start of every platform call the program makes: counts it, and ends the process (throws
// ProcessEnded) where the system has ended it, or where a test asked for it to end.
void Call();
// The program's clock moves on by ms (a pause, a call that takes time): plug steps due take
// effect, a console handler that pauses gets its turn, and the process ends when a close event's
// handler has run out of time.
void Advance(DWORD ms);
// A registry key is about to change: kept for a power cut to undo until RegFlushKey of its hive.
void WillWrite(const std::string& path);
// A device's settings are about to change: kept likewise, in the SYSTEM hive.
void WillWriteDevice(Device& d);
// The hive a key's path lies in.
std::string HiveOf(const std::string& path);
// Administrators' rights: the token holds the Administrators group enabled (SYSTEM, or an
// administrator's full token).
bool Elevated();
// Handles of files and mutexes, apart from the events' small numbers.
const size_t kMutexHandles = 0x10000;
const size_t kFileHandles = 0x20000;
// A power cut: the writes not flushed are lost.
void LoseUnflushed();
// The disk as Windows leaves it, and a folder added to it.
void PlantFileSystem();
void AddFolder(const std::string& path, const Security& security);
// A restart deletes what MoveFileEx was asked to delete then.
void DeletePendingFiles();
// WaitForSingleObject on a mutex's handle.
DWORD WaitForMutex(HANDLE hMutex, DWORD ms);
// Services: a restart deletes the ones marked for deletion; a process that ends closes its
// handles to them.
void DeleteMarkedServices();
void CloseServiceHandles();
// Applies the plug and unplug steps due by now, telling the registrations of each.
void ApplyPlugs();
// The time of the next plug step after now; 0xFFFFFFFF for none.
DWORD NextPlug();
// Tells the registrations that a device's interfaces arrived or went.
void Notify(const Device& d, bool arrived);
// A wait of the program's: until one of the events is signalled (or, with bMessages, a message
// is queued), or ms have passed on its clock, moving to each plug step on the way. Counted with
// the pauses; a console event planted for it is raised halfway through. Returns the index of
// the signalled event, n for a message, or WAIT_TIMEOUT.
DWORD WaitAny(DWORD n, const HANDLE* handles, DWORD ms, bool bMessages);
// In the device tree: plugged in, below a parent that is in the tree and not disabled.
bool InTree(const Device& d);
// Disabled as the node runs: by either setting, or as it ran before a change that waits for a
// restart.
bool Disabled(const Device& d);
// A device's interface (by its place) is present while its driver has enabled it and the device
// is in the tree and not disabled.
bool InterfacePresent(const Device& d, size_t i);
// The device a node names as its parent; nullptr for the root or a parent no device has.
Device* ParentDevice(const Device& d);
// The node number of a device of the tree.
DEVINST NodeOf(const Device& d);
// The device of a node number; nullptr for the root and for a number no device has.
Device* NodeDevice(DEVINST node);

} // namespace sim
