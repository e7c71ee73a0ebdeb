// Host declarations of the Windows names the program uses: the Setup API, the Configuration
// Manager, the registry, the kernel and the runtime's multibyte comparison. They carry the same
// names, values and (except for pointer-sized members) the same sizes as on 32-bit Windows, and
// are implemented by the simulated platform in sim.cpp.
#pragma once

#include <stdarg.h>
#include <stddef.h>
#include <stdint.h>

typedef uint32_t DWORD;
typedef int32_t LONG;
typedef uint32_t ULONG;
typedef uint32_t UINT;
typedef int BOOL;
typedef uint8_t BYTE;
typedef char CHAR;
typedef uint16_t WORD;
typedef uintptr_t ULONG_PTR;
typedef intptr_t LONG_PTR;
typedef void* HANDLE;
typedef void* PVOID;
typedef DWORD* PDWORD;
typedef DWORD* LPDWORD;
typedef ULONG* PULONG;
typedef BYTE* PBYTE;
typedef BYTE* LPBYTE;
typedef const BYTE* LPCBYTE;
typedef char* PSTR;
typedef char* LPSTR;
typedef const char* PCSTR;
typedef const char* LPCSTR;

struct HWND__;
typedef HWND__* HWND;
struct HKEY__;
typedef HKEY__* HKEY;
typedef HKEY* PHKEY;
typedef DWORD ACCESS_MASK;
typedef ACCESS_MASK REGSAM;

typedef struct _SECURITY_ATTRIBUTES {
    DWORD nLength;
    PVOID lpSecurityDescriptor;
    BOOL bInheritHandle;
} SECURITY_ATTRIBUTES, *LPSECURITY_ATTRIBUTES;

typedef struct _GUID {
    uint32_t Data1;
    uint16_t Data2;
    uint16_t Data3;
    uint8_t Data4[8];
} GUID;
typedef const GUID* LPCGUID;

typedef BOOL* PBOOL;
typedef void* PSID;
typedef void* HMODULE;
typedef intptr_t (*FARPROC)(void);
typedef uint16_t USHORT;
typedef uint16_t WCHAR;
#define CP_ACP 0
#define MB_ERR_INVALID_CHARS 0x00000008
typedef BOOL (*PHANDLER_ROUTINE)(DWORD CtrlType);
#define WINAPI
#define CALLBACK

#define TRUE 1
#define FALSE 0
#define MAX_PATH 260
#define INVALID_HANDLE_VALUE ((HANDLE)(LONG_PTR)-1)
#define INFINITE 0xFFFFFFFF

// Error codes (winerror.h)
#define ERROR_SUCCESS 0L
#define ERROR_FILE_NOT_FOUND 2L
#define ERROR_PATH_NOT_FOUND 3L
#define ERROR_ACCESS_DENIED 5L
#define ERROR_INVALID_HANDLE 6L
#define ERROR_NOT_ENOUGH_MEMORY 8L
#define ERROR_INVALID_DATA 13L
#define ERROR_SHARING_VIOLATION 32L
#define ERROR_DISK_FULL 112L
#define ERROR_FILE_EXISTS 80L
#define ERROR_BUSY 170L
#define ERROR_ALREADY_EXISTS 183L
#define ERROR_FILENAME_EXCED_RANGE 206L
#define ERROR_DIR_NOT_EMPTY 145L
#define ERROR_DIRECTORY 267L
#define ERROR_NOT_OWNER 288L
#define ERROR_GEN_FAILURE 31L
#define ERROR_INVALID_PARAMETER 87L
#define ERROR_MORE_DATA 234L
#define ERROR_INSUFFICIENT_BUFFER 122L
#define ERROR_NO_MORE_ITEMS 259L
#define ERROR_MR_MID_NOT_FOUND 317L
#define ERROR_INVALID_FLAGS 1004L
#define ERROR_FILE_INVALID 1006L
#define ERROR_SERVICE_DOES_NOT_EXIST 1060L
#define ERROR_FAILED_SERVICE_CONTROLLER_CONNECT 1063L
#define ERROR_SERVICE_MARKED_FOR_DELETE 1072L
#define ERROR_SERVICE_EXISTS 1073L
#define ERROR_INVALID_OWNER 1307L
#define ERROR_INVALID_ACL 1336L
#define ERROR_ALLOTTED_SPACE_EXCEEDED 1344L
#define ERROR_NOT_FOUND 1168L
#define ERROR_CANCELLED 1223L
#define ERROR_TIMEOUT 1460L
#define ERROR_SERVICE_NOT_ACTIVE 1062L
#define ERROR_SUCCESS_REBOOT_REQUIRED 3010L
#define ERROR_INVALID_USER_BUFFER 1784L
#define ERROR_NO_SUCH_DEVINST ((DWORD)0xE000020B)
#define ERROR_INVALID_CLASS_INSTALLER ((DWORD)0xE000020D)
#define ERROR_DI_DO_DEFAULT ((DWORD)0xE000020E)
#define ERROR_INVALID_CLASS ((DWORD)0xE0000206)
#define ERROR_INVALID_REG_PROPERTY ((DWORD)0xE0000209)
#define ERROR_NO_DEVICE_SELECTED ((DWORD)0xE0000211)
#define ERROR_NOT_DISABLEABLE ((DWORD)0xE0000231)
#define ERROR_IN_WOW64 ((DWORD)0xE0000235)

// Registry (winnt.h, winreg.h)
#define HKEY_LOCAL_MACHINE ((HKEY)(ULONG_PTR)((LONG)0x80000002))
#define KEY_QUERY_VALUE 0x0001
#define KEY_SET_VALUE 0x0002
#define KEY_CREATE_SUB_KEY 0x0004
#define KEY_ENUMERATE_SUB_KEYS 0x0008
#define KEY_WRITE 0x20006
#define KEY_READ 0x20019
#define KEY_WOW64_64KEY 0x0100
#define REG_OPTION_NON_VOLATILE 0x00000000L
#define REG_OPTION_VOLATILE 0x00000001L
#define REG_CREATED_NEW_KEY 0x00000001L
#define REG_OPENED_EXISTING_KEY 0x00000002L
#define REG_NONE 0
#define REG_SZ 1
#define REG_BINARY 3
#define REG_DWORD 4
#define REG_MULTI_SZ 7

// Setup API (setupapi.h)
typedef PVOID HDEVINFO;
typedef UINT DI_FUNCTION;

#define DIGCF_DEFAULT 0x00000001
#define DIGCF_PRESENT 0x00000002
#define DIGCF_ALLCLASSES 0x00000004
#define DIGCF_PROFILE 0x00000008
#define DIGCF_DEVICEINTERFACE 0x00000010
#define SPDRP_HARDWAREID 0x00000001
#define SPDRP_COMPATIBLEIDS 0x00000002
#define SPDRP_CONFIGFLAGS 0x0000000A
#define CONFIGFLAG_DISABLED 0x00000001
#define CSCONFIGFLAG_DISABLED 0x00000001
#define DI_NEEDRESTART 0x00000080
#define DI_NEEDREBOOT 0x00000100
#define DIF_PROPERTYCHANGE 0x00000012
#define SPINT_ACTIVE 0x00000001
#define DICS_ENABLE 0x00000001
#define DICS_DISABLE 0x00000002
#define DICS_FLAG_GLOBAL 0x00000001
#define DICS_FLAG_CONFIGSPECIFIC 0x00000002

#define SP_MAX_MACHINENAME_LENGTH (MAX_PATH + 3)

// 32-bit Windows packs these records to single bytes; the host keeps that layout so that
// the records stay as close in size as pointer widths allow.
#pragma pack(push, 1)
typedef struct _SP_DEVINFO_DATA {
    DWORD cbSize;
    GUID ClassGuid;
    DWORD DevInst;
    ULONG_PTR Reserved;
} SP_DEVINFO_DATA, *PSP_DEVINFO_DATA;

typedef struct _SP_DEVICE_INTERFACE_DATA {
    DWORD cbSize;
    GUID InterfaceClassGuid;
    DWORD Flags;
    ULONG_PTR Reserved;
} SP_DEVICE_INTERFACE_DATA, *PSP_DEVICE_INTERFACE_DATA;

typedef struct _SP_DEVICE_INTERFACE_DETAIL_DATA_A {
    DWORD cbSize;
    CHAR DevicePath[1];
} SP_DEVICE_INTERFACE_DETAIL_DATA_A, *PSP_DEVICE_INTERFACE_DETAIL_DATA_A;

typedef struct _SP_CLASSINSTALL_HEADER {
    DWORD cbSize;
    DI_FUNCTION InstallFunction;
} SP_CLASSINSTALL_HEADER, *PSP_CLASSINSTALL_HEADER;

typedef struct _SP_PROPCHANGE_PARAMS {
    SP_CLASSINSTALL_HEADER ClassInstallHeader;
    DWORD StateChange;
    DWORD Scope;
    DWORD HwProfile;
} SP_PROPCHANGE_PARAMS, *PSP_PROPCHANGE_PARAMS;

typedef struct _SP_DEVINSTALL_PARAMS_A {
    DWORD cbSize;
    DWORD Flags;
    DWORD FlagsEx;
    HWND hwndParent;
    PVOID InstallMsgHandler;
    PVOID InstallMsgHandlerContext;
    PVOID FileQueue;
    ULONG_PTR ClassInstallReserved;
    DWORD Reserved;
    CHAR DriverPath[MAX_PATH];
} SP_DEVINSTALL_PARAMS_A, *PSP_DEVINSTALL_PARAMS_A;

typedef struct _SP_DEVINFO_LIST_DETAIL_DATA_A {
    DWORD cbSize;
    GUID ClassGuid;
    HANDLE RemoteMachineHandle;
    CHAR RemoteMachineName[SP_MAX_MACHINENAME_LENGTH];
} SP_DEVINFO_LIST_DETAIL_DATA_A, *PSP_DEVINFO_LIST_DETAIL_DATA_A;
#pragma pack(pop)

// Security (winnt.h): the Administrators group's SID.
typedef struct _SID_IDENTIFIER_AUTHORITY {
    BYTE Value[6];
} SID_IDENTIFIER_AUTHORITY, *PSID_IDENTIFIER_AUTHORITY;
#define SECURITY_NT_AUTHORITY                                                                      \
    { 0, 0, 0, 0, 0, 5 }
#define SECURITY_BUILTIN_DOMAIN_RID 0x00000020L
#define DOMAIN_ALIAS_RID_ADMINS 0x00000220L
#define DOMAIN_ALIAS_RID_USERS 0x00000221L
#define SECURITY_LOCAL_SYSTEM_RID 0x00000012L
// Access lists and security descriptors (winnt.h), in Windows' own layouts.
typedef struct _SID {
    BYTE Revision;
    BYTE SubAuthorityCount;
    SID_IDENTIFIER_AUTHORITY IdentifierAuthority;
    DWORD SubAuthority[1];
} SID;
typedef struct _ACL {
    BYTE AclRevision;
    BYTE Sbz1;
    WORD AclSize;
    WORD AceCount;
    WORD Sbz2;
} ACL, *PACL;
typedef struct _ACE_HEADER {
    BYTE AceType;
    BYTE AceFlags;
    WORD AceSize;
} ACE_HEADER;
typedef struct _ACCESS_ALLOWED_ACE {
    ACE_HEADER Header;
    ACCESS_MASK Mask;
    DWORD SidStart;
} ACCESS_ALLOWED_ACE;
typedef WORD SECURITY_DESCRIPTOR_CONTROL;
typedef SECURITY_DESCRIPTOR_CONTROL* PSECURITY_DESCRIPTOR_CONTROL;
typedef struct _SECURITY_DESCRIPTOR {
    BYTE Revision;
    BYTE Sbz1;
    SECURITY_DESCRIPTOR_CONTROL Control;
    PSID Owner;
    PSID Group;
    PACL Sacl;
    PACL Dacl;
} SECURITY_DESCRIPTOR;
typedef void* PSECURITY_DESCRIPTOR;
typedef void* LPVOID;
typedef DWORD SECURITY_INFORMATION;
#define ACL_REVISION 2
#define SECURITY_DESCRIPTOR_REVISION 1
#define ACCESS_ALLOWED_ACE_TYPE 0x0
#define ACCESS_DENIED_ACE_TYPE 0x1
#define OBJECT_INHERIT_ACE 0x1
#define CONTAINER_INHERIT_ACE 0x2
#define INHERIT_ONLY_ACE 0x8
#define INHERITED_ACE 0x10
#define SE_DACL_PRESENT 0x0004
#define SE_DACL_PROTECTED 0x1000
#define SE_SELF_RELATIVE 0x8000
#define OWNER_SECURITY_INFORMATION 0x00000001L
#define DACL_SECURITY_INFORMATION 0x00000004L
#define DELETE 0x00010000L
#define READ_CONTROL 0x00020000L
#define WRITE_DAC 0x00040000L
#define WRITE_OWNER 0x00080000L
#define SYNCHRONIZE 0x00100000L
#define GENERIC_READ 0x80000000L
#define GENERIC_WRITE 0x40000000L
#define GENERIC_EXECUTE 0x20000000L
#define GENERIC_ALL 0x10000000L
#define FILE_READ_DATA 0x0001
#define FILE_LIST_DIRECTORY 0x0001
#define FILE_WRITE_DATA 0x0002
#define FILE_ADD_FILE 0x0002
#define FILE_APPEND_DATA 0x0004
#define FILE_ADD_SUBDIRECTORY 0x0004
#define FILE_READ_EA 0x0008
#define FILE_WRITE_EA 0x0010
#define FILE_EXECUTE 0x0020
#define FILE_DELETE_CHILD 0x0040
#define FILE_READ_ATTRIBUTES 0x0080
#define FILE_WRITE_ATTRIBUTES 0x0100
#define FILE_ALL_ACCESS 0x001F01FFL
#define FILE_GENERIC_READ 0x00120089L
#define FILE_GENERIC_WRITE 0x00120116L
#define FILE_GENERIC_EXECUTE 0x001200A0L
// Files (fileapi.h, winbase.h) and the shell's folders (shlobj.h)
#define FILE_SHARE_READ 0x00000001
#define CREATE_NEW 1
#define CREATE_ALWAYS 2
#define OPEN_EXISTING 3
#define FILE_ATTRIBUTE_NORMAL 0x00000080
#define INVALID_FILE_ATTRIBUTES ((DWORD)-1)
#define MOVEFILE_REPLACE_EXISTING 0x00000001
#define MOVEFILE_DELAY_UNTIL_REBOOT 0x00000004
#define MOVEFILE_WRITE_THROUGH 0x00000008
typedef LONG HRESULT;
#define S_OK ((HRESULT)0L)
#define E_FAIL ((HRESULT)0x80004005L)
#define CSIDL_COMMON_APPDATA 0x0023
#define SHGFP_TYPE_CURRENT 0
// Services (winsvc.h)
struct SC_HANDLE__;
typedef SC_HANDLE__* SC_HANDLE;
struct SERVICE_STATUS_HANDLE__;
typedef SERVICE_STATUS_HANDLE__* SERVICE_STATUS_HANDLE;
#define SC_MANAGER_CONNECT 0x0001
#define SC_MANAGER_CREATE_SERVICE 0x0002
#define SERVICE_QUERY_CONFIG 0x0001
#define SERVICE_CHANGE_CONFIG 0x0002
#define SERVICE_QUERY_STATUS 0x0004
#define SERVICE_START 0x0010
#define SERVICE_WIN32_OWN_PROCESS 0x00000010
#define SERVICE_AUTO_START 0x00000002
#define SERVICE_DEMAND_START 0x00000003
#define SERVICE_ERROR_NORMAL 0x00000001
#define SERVICE_NO_CHANGE 0xffffffff
#define SERVICE_STOPPED 0x00000001
#define SERVICE_START_PENDING 0x00000002
#define SERVICE_RUNNING 0x00000004
typedef struct _QUERY_SERVICE_CONFIGA {
    DWORD dwServiceType;
    DWORD dwStartType;
    DWORD dwErrorControl;
    LPSTR lpBinaryPathName;
    LPSTR lpLoadOrderGroup;
    DWORD dwTagId;
    LPSTR lpDependencies;
    LPSTR lpServiceStartName;
    LPSTR lpDisplayName;
} QUERY_SERVICE_CONFIGA, *LPQUERY_SERVICE_CONFIGA;
typedef struct _SERVICE_STATUS {
    DWORD dwServiceType;
    DWORD dwCurrentState;
    DWORD dwControlsAccepted;
    DWORD dwWin32ExitCode;
    DWORD dwServiceSpecificExitCode;
    DWORD dwCheckPoint;
    DWORD dwWaitHint;
} SERVICE_STATUS, *LPSERVICE_STATUS;
typedef void (*LPSERVICE_MAIN_FUNCTIONA)(DWORD dwNumServicesArgs, LPSTR* lpServiceArgVectors);
typedef void (*LPHANDLER_FUNCTION)(DWORD dwControl);
typedef struct _SERVICE_TABLE_ENTRYA {
    LPSTR lpServiceName;
    LPSERVICE_MAIN_FUNCTIONA lpServiceProc;
} SERVICE_TABLE_ENTRYA;

// Console control events (wincon.h) and machines (winnt.h)
#define CTRL_C_EVENT 0
#define CTRL_BREAK_EVENT 1
#define CTRL_CLOSE_EVENT 2
#define CTRL_LOGOFF_EVENT 5
#define CTRL_SHUTDOWN_EVENT 6
#define IMAGE_FILE_MACHINE_UNKNOWN 0
#define IMAGE_FILE_MACHINE_I386 0x014c
#define IMAGE_FILE_MACHINE_AMD64 0x8664
#define IMAGE_FILE_MACHINE_ARM64 0xAA64

// Messages (winbase.h) and GUID text (rpcdce.h)
#define FORMAT_MESSAGE_IGNORE_INSERTS 0x00000200
#define FORMAT_MESSAGE_FROM_SYSTEM 0x00001000
typedef long RPC_STATUS;
typedef unsigned char* RPC_CSTR;
typedef GUID UUID;
#define RPC_S_OK 0L
#define RPC_S_INVALID_STRING_UUID 1705L

// Configuration Manager (cfgmgr32.h)
typedef DWORD CONFIGRET;
typedef DWORD DEVINST;
typedef DEVINST* PDEVINST;
typedef HANDLE HMACHINE;
typedef char* DEVINSTID_A;

#define CR_SUCCESS 0x00000000
#define CR_INVALID_POINTER 0x00000003
#define CR_INVALID_FLAG 0x00000004
#define CR_INVALID_DEVNODE 0x00000005
#define CR_NO_SUCH_DEVNODE 0x0000000D
#define CR_NO_SUCH_DEVINST CR_NO_SUCH_DEVNODE
#define CR_FAILURE 0x00000013
#define CR_ACCESS_DENIED 0x00000033
#define CR_CALL_NOT_IMPLEMENTED 0x00000034
#define CR_BUFFER_SMALL 0x0000001A
#define CR_INVALID_MACHINENAME 0x0000002F
#define DN_STARTED 0x00000008
#define DN_DISABLEABLE 0x00002000
#define DN_HAS_PROBLEM 0x00000400
#define CM_PROB_DISABLED 0x00000016

// Device-change notifications: the Configuration Manager's (Windows 8 and later) and the window
// messages of RegisterDeviceNotification (XP and later), on a message-only window.
typedef struct HCMNOTIFICATION__* HCMNOTIFICATION;
typedef HCMNOTIFICATION* PHCMNOTIFICATION;
#define CM_NOTIFY_FILTER_FLAG_ALL_INTERFACE_CLASSES 0x00000001
typedef enum _CM_NOTIFY_FILTER_TYPE {
    CM_NOTIFY_FILTER_TYPE_DEVICEINTERFACE = 0,
    CM_NOTIFY_FILTER_TYPE_DEVICEHANDLE,
    CM_NOTIFY_FILTER_TYPE_DEVICEINSTANCE
} CM_NOTIFY_FILTER_TYPE;
typedef struct _CM_NOTIFY_FILTER {
    DWORD cbSize;
    DWORD Flags;
    CM_NOTIFY_FILTER_TYPE FilterType;
    DWORD Reserved;
    union {
        struct {
            GUID ClassGuid;
        } DeviceInterface;
        struct {
            HANDLE hTarget;
        } DeviceHandle;
        struct {
            WCHAR InstanceId[200];
        } DeviceInstance;
    } u;
} CM_NOTIFY_FILTER, *PCM_NOTIFY_FILTER;
typedef enum _CM_NOTIFY_ACTION {
    CM_NOTIFY_ACTION_DEVICEINTERFACEARRIVAL = 0,
    CM_NOTIFY_ACTION_DEVICEINTERFACEREMOVAL
} CM_NOTIFY_ACTION;
typedef struct _CM_NOTIFY_EVENT_DATA {
    CM_NOTIFY_FILTER_TYPE FilterType;
    DWORD Reserved;
    union {
        struct {
            GUID ClassGuid;
            WCHAR SymbolicLink[1];
        } DeviceInterface;
    } u;
} CM_NOTIFY_EVENT_DATA, *PCM_NOTIFY_EVENT_DATA;
typedef DWORD (*PCM_NOTIFY_CALLBACK)(HCMNOTIFICATION hNotify, PVOID Context,
                                     CM_NOTIFY_ACTION Action, PCM_NOTIFY_EVENT_DATA EventData,
                                     DWORD EventDataSize);

typedef uintptr_t UINT_PTR;
typedef UINT_PTR WPARAM;
typedef LONG_PTR LPARAM;
typedef LONG_PTR LRESULT;
typedef LRESULT (*WNDPROC)(HWND, UINT, WPARAM, LPARAM);
typedef void* HDEVNOTIFY;
typedef HMODULE HINSTANCE;
typedef uint16_t ATOM;
#define HWND_MESSAGE ((HWND)(LONG_PTR)-3)
#define WM_DEVICECHANGE 0x0219
#define DBT_DEVICEARRIVAL 0x8000
#define DBT_DEVICEREMOVECOMPLETE 0x8004
#define DBT_DEVTYP_DEVICEINTERFACE 0x00000005
#define DEVICE_NOTIFY_WINDOW_HANDLE 0x00000000
#define DEVICE_NOTIFY_ALL_INTERFACE_CLASSES 0x00000004
#define PM_REMOVE 0x0001
#define QS_ALLINPUT 0x04FF
typedef struct tagWNDCLASSEXA {
    UINT cbSize;
    UINT style;
    WNDPROC lpfnWndProc;
    int cbClsExtra;
    int cbWndExtra;
    HINSTANCE hInstance;
    void* hIcon;
    void* hCursor;
    void* hbrBackground;
    LPCSTR lpszMenuName;
    LPCSTR lpszClassName;
    void* hIconSm;
} WNDCLASSEXA;
typedef struct tagMSG {
    HWND hwnd;
    UINT message;
    WPARAM wParam;
    LPARAM lParam;
    DWORD time;
    struct {
        LONG x, y;
    } pt;
} MSG;
typedef struct _DEV_BROADCAST_DEVICEINTERFACE_A {
    DWORD dbcc_size;
    DWORD dbcc_devicetype;
    DWORD dbcc_reserved;
    GUID dbcc_classguid;
    char dbcc_name[1];
} DEV_BROADCAST_DEVICEINTERFACE_A;
typedef struct _SYSTEMTIME {
    WORD wYear, wMonth, wDayOfWeek, wDay, wHour, wMinute, wSecond, wMilliseconds;
} SYSTEMTIME;

extern "C" {
DWORD GetLastError(void);
void SetLastError(DWORD dwErrCode);
void Sleep(DWORD dwMilliseconds);
DWORD GetTickCount(void);
BOOL SetConsoleCtrlHandler(PHANDLER_ROUTINE HandlerRoutine, BOOL Add);

HDEVINFO SetupDiGetClassDevsA(const GUID* ClassGuid, PCSTR Enumerator, HWND hwndParent,
                              DWORD Flags);
BOOL SetupDiEnumDeviceInfo(HDEVINFO DeviceInfoSet, DWORD MemberIndex,
                           PSP_DEVINFO_DATA DeviceInfoData);
BOOL SetupDiEnumDeviceInterfaces(HDEVINFO DeviceInfoSet, PSP_DEVINFO_DATA DeviceInfoData,
                                 const GUID* InterfaceClassGuid, DWORD MemberIndex,
                                 PSP_DEVICE_INTERFACE_DATA DeviceInterfaceData);
BOOL SetupDiGetDeviceInterfaceDetailA(HDEVINFO DeviceInfoSet,
                                      PSP_DEVICE_INTERFACE_DATA DeviceInterfaceData,
                                      PSP_DEVICE_INTERFACE_DETAIL_DATA_A DeviceInterfaceDetailData,
                                      DWORD DeviceInterfaceDetailDataSize, PDWORD RequiredSize,
                                      PSP_DEVINFO_DATA DeviceInfoData);
BOOL SetupDiGetDeviceRegistryPropertyA(HDEVINFO DeviceInfoSet, PSP_DEVINFO_DATA DeviceInfoData,
                                       DWORD Property, PDWORD PropertyRegDataType,
                                       PBYTE PropertyBuffer, DWORD PropertyBufferSize,
                                       PDWORD RequiredSize);
BOOL SetupDiSetClassInstallParamsA(HDEVINFO DeviceInfoSet, PSP_DEVINFO_DATA DeviceInfoData,
                                   PSP_CLASSINSTALL_HEADER ClassInstallParams,
                                   DWORD ClassInstallParamsSize);
BOOL SetupDiCallClassInstaller(DI_FUNCTION InstallFunction, HDEVINFO DeviceInfoSet,
                               PSP_DEVINFO_DATA DeviceInfoData);
BOOL SetupDiGetDeviceInstallParamsA(HDEVINFO DeviceInfoSet, PSP_DEVINFO_DATA DeviceInfoData,
                                    PSP_DEVINSTALL_PARAMS_A DeviceInstallParams);
BOOL SetupDiGetDeviceInstanceIdA(HDEVINFO DeviceInfoSet, PSP_DEVINFO_DATA DeviceInfoData,
                                 PSTR DeviceInstanceId, DWORD DeviceInstanceIdSize,
                                 PDWORD RequiredSize);
BOOL SetupDiSetDeviceRegistryPropertyA(HDEVINFO DeviceInfoSet, PSP_DEVINFO_DATA DeviceInfoData,
                                       DWORD Property, const BYTE* PropertyBuffer,
                                       DWORD PropertyBufferSize);
BOOL SetupDiClassNameFromGuidA(const GUID* ClassGuid, PSTR ClassName, DWORD ClassNameSize,
                               PDWORD RequiredSize);
BOOL SetupDiGetDeviceInfoListDetailA(HDEVINFO DeviceInfoSet,
                                     PSP_DEVINFO_LIST_DETAIL_DATA_A DeviceInfoSetDetailData);
BOOL SetupDiDestroyDeviceInfoList(HDEVINFO DeviceInfoSet);

CONFIGRET CM_Get_Parent(PDEVINST pdnDevInst, DEVINST dnDevInst, ULONG ulFlags);
CONFIGRET CM_Get_Device_IDA(DEVINST dnDevInst, PSTR Buffer, ULONG BufferLen, ULONG ulFlags);
CONFIGRET CM_Get_HW_Prof_FlagsA(DEVINSTID_A pDeviceID, ULONG ulHardwareProfile, PULONG pulValue,
                                ULONG ulFlags);
CONFIGRET CM_Get_DevNode_Status_Ex(PULONG pulStatus, PULONG pulProblemNumber, DEVINST dnDevInst,
                                   ULONG ulFlags, HMACHINE hMachine);

LONG RegCreateKeyExA(HKEY hKey, LPCSTR lpSubKey, DWORD Reserved, LPSTR lpClass, DWORD dwOptions,
                     REGSAM samDesired, LPSECURITY_ATTRIBUTES lpSecurityAttributes, PHKEY phkResult,
                     LPDWORD lpdwDisposition);
LONG RegSetValueExA(HKEY hKey, LPCSTR lpValueName, DWORD Reserved, DWORD dwType, const BYTE* lpData,
                    DWORD cbData);
LONG RegCloseKey(HKEY hKey);
LONG RegOpenKeyExA(HKEY hKey, LPCSTR lpSubKey, DWORD ulOptions, REGSAM samDesired, PHKEY phkResult);
LONG RegEnumKeyExA(HKEY hKey, DWORD dwIndex, LPSTR lpName, LPDWORD lpcchName, LPDWORD lpReserved,
                   LPSTR lpClass, LPDWORD lpcchClass, void* lpftLastWriteTime);
LONG RegEnumValueA(HKEY hKey, DWORD dwIndex, LPSTR lpValueName, LPDWORD lpcchValueName,
                   LPDWORD lpReserved, LPDWORD lpType, LPBYTE lpData, LPDWORD lpcbData);
LONG RegDeleteValueA(HKEY hKey, LPCSTR lpValueName);
LONG RegQueryValueExA(HKEY hKey, LPCSTR lpValueName, LPDWORD lpReserved, LPDWORD lpType,
                      LPBYTE lpData, LPDWORD lpcbData);
LONG RegFlushKey(HKEY hKey);

#define WAIT_OBJECT_0 0x00000000L
#define WAIT_TIMEOUT 0x00000102L
#define WAIT_ABANDONED 0x00000080L
#define WAIT_FAILED ((DWORD)0xFFFFFFFF)
HANDLE CreateEventA(LPSECURITY_ATTRIBUTES lpEventAttributes, BOOL bManualReset, BOOL bInitialState,
                    LPCSTR lpName);
BOOL SetEvent(HANDLE hEvent);
BOOL ResetEvent(HANDLE hEvent);
DWORD WaitForSingleObject(HANDLE hHandle, DWORD dwMilliseconds);
DWORD GetModuleFileNameA(HMODULE hModule, LPSTR lpFilename, DWORD nSize);
DWORD WaitForMultipleObjects(DWORD nCount, const HANDLE* lpHandles, BOOL bWaitAll,
                             DWORD dwMilliseconds);
DWORD MsgWaitForMultipleObjects(DWORD nCount, const HANDLE* pHandles, BOOL fWaitAll,
                                DWORD dwMilliseconds, DWORD dwWakeMask);
CONFIGRET CM_Register_Notification(PCM_NOTIFY_FILTER pFilter, PVOID pContext,
                                   PCM_NOTIFY_CALLBACK pCallback, PHCMNOTIFICATION pNotifyContext);
CONFIGRET CM_Unregister_Notification(HCMNOTIFICATION NotifyContext);
ATOM RegisterClassExA(const WNDCLASSEXA* lpWndClass);
HWND CreateWindowExA(DWORD dwExStyle, LPCSTR lpClassName, LPCSTR lpWindowName, DWORD dwStyle, int X,
                     int Y, int nWidth, int nHeight, HWND hWndParent, void* hMenu,
                     HINSTANCE hInstance, void* lpParam);
BOOL DestroyWindow(HWND hWnd);
LRESULT DefWindowProcA(HWND hWnd, UINT Msg, WPARAM wParam, LPARAM lParam);
HDEVNOTIFY RegisterDeviceNotificationA(HANDLE hRecipient, void* NotificationFilter, DWORD Flags);
BOOL UnregisterDeviceNotification(HDEVNOTIFY Handle);
BOOL PeekMessageA(MSG* lpMsg, HWND hWnd, UINT wMsgFilterMin, UINT wMsgFilterMax, UINT wRemoveMsg);
LRESULT DispatchMessageA(const MSG* lpMsg);
void GetSystemTime(SYSTEMTIME* lpSystemTime);

LONG InterlockedExchange(volatile LONG* Target, LONG Value);
LONG InterlockedCompareExchange(volatile LONG* Destination, LONG Exchange, LONG Comparand);

BOOL IsDBCSLeadByte(BYTE TestChar);
int MultiByteToWideChar(UINT CodePage, DWORD dwFlags, LPCSTR lpMultiByteStr, int cbMultiByte,
                        WCHAR* lpWideCharStr, int cchWideChar);

int _mbsnicmp(const unsigned char* string1, const unsigned char* string2, size_t count);
int _stricmp(const char* string1, const char* string2);
int _strnicmp(const char* string1, const char* string2, size_t count);

HANDLE GetCurrentProcess(void);
#define STD_INPUT_HANDLE ((DWORD)-10)
#define STD_OUTPUT_HANDLE ((DWORD)-11)
#define STD_ERROR_HANDLE ((DWORD)-12)
HANDLE GetStdHandle(DWORD nStdHandle);
BOOL GetConsoleMode(HANDLE hConsoleHandle, LPDWORD lpMode);
DWORD GetCurrentProcessId(void);
typedef struct _OSVERSIONINFOA {
    DWORD dwOSVersionInfoSize;
    DWORD dwMajorVersion;
    DWORD dwMinorVersion;
    DWORD dwBuildNumber;
    DWORD dwPlatformId;
    CHAR szCSDVersion[128];
} OSVERSIONINFOA;
BOOL GetVersionExA(OSVERSIONINFOA* lpVersionInformation);
HMODULE GetModuleHandleA(LPCSTR lpModuleName);
FARPROC GetProcAddress(HMODULE hModule, LPCSTR lpProcName);
DWORD FormatMessageA(DWORD dwFlags, const void* lpSource, DWORD dwMessageId, DWORD dwLanguageId,
                     LPSTR lpBuffer, DWORD nSize, va_list* Arguments);
BOOL AllocateAndInitializeSid(PSID_IDENTIFIER_AUTHORITY pIdentifierAuthority,
                              BYTE nSubAuthorityCount, DWORD nSubAuthority0, DWORD nSubAuthority1,
                              DWORD nSubAuthority2, DWORD nSubAuthority3, DWORD nSubAuthority4,
                              DWORD nSubAuthority5, DWORD nSubAuthority6, DWORD nSubAuthority7,
                              PSID* pSid);
BOOL CheckTokenMembership(HANDLE TokenHandle, PSID SidToCheck, PBOOL IsMember);
PVOID FreeSid(PSID pSid);
RPC_STATUS UuidFromStringA(RPC_CSTR StringUuid, UUID* Uuid);

BOOL InitializeAcl(PACL pAcl, DWORD nAclLength, DWORD dwAclRevision);
BOOL AddAccessAllowedAceEx(PACL pAcl, DWORD dwAceRevision, DWORD AceFlags, DWORD AccessMask,
                           PSID pSid);
BOOL GetAce(PACL pAcl, DWORD dwAceIndex, LPVOID* pAce);
BOOL EqualSid(PSID pSid1, PSID pSid2);
BOOL InitializeSecurityDescriptor(PSECURITY_DESCRIPTOR pSecurityDescriptor, DWORD dwRevision);
BOOL SetSecurityDescriptorOwner(PSECURITY_DESCRIPTOR pSecurityDescriptor, PSID pOwner,
                                BOOL bOwnerDefaulted);
BOOL SetSecurityDescriptorDacl(PSECURITY_DESCRIPTOR pSecurityDescriptor, BOOL bDaclPresent,
                               PACL pDacl, BOOL bDaclDefaulted);
BOOL SetSecurityDescriptorControl(PSECURITY_DESCRIPTOR pSecurityDescriptor,
                                  SECURITY_DESCRIPTOR_CONTROL ControlBitsOfInterest,
                                  SECURITY_DESCRIPTOR_CONTROL ControlBitsToSet);
BOOL GetSecurityDescriptorOwner(PSECURITY_DESCRIPTOR pSecurityDescriptor, PSID* pOwner,
                                BOOL* lpbOwnerDefaulted);
BOOL GetSecurityDescriptorDacl(PSECURITY_DESCRIPTOR pSecurityDescriptor, BOOL* lpbDaclPresent,
                               PACL* pDacl, BOOL* lpbDaclDefaulted);
BOOL GetFileSecurityA(LPCSTR lpFileName, SECURITY_INFORMATION RequestedInformation,
                      PSECURITY_DESCRIPTOR pSecurityDescriptor, DWORD nLength,
                      LPDWORD lpnLengthNeeded);

HRESULT SHGetFolderPathA(HWND hwnd, int csidl, HANDLE hToken, DWORD dwFlags, LPSTR pszPath);
BOOL CreateDirectoryA(LPCSTR lpPathName, LPSECURITY_ATTRIBUTES lpSecurityAttributes);
BOOL RemoveDirectoryA(LPCSTR lpPathName);
HANDLE CreateFileA(LPCSTR lpFileName, DWORD dwDesiredAccess, DWORD dwShareMode,
                   LPSECURITY_ATTRIBUTES lpSecurityAttributes, DWORD dwCreationDisposition,
                   DWORD dwFlagsAndAttributes, HANDLE hTemplateFile);
BOOL ReadFile(HANDLE hFile, LPVOID lpBuffer, DWORD nNumberOfBytesToRead,
              LPDWORD lpNumberOfBytesRead, void* lpOverlapped);
BOOL WriteFile(HANDLE hFile, const void* lpBuffer, DWORD nNumberOfBytesToWrite,
               LPDWORD lpNumberOfBytesWritten, void* lpOverlapped);
BOOL FlushFileBuffers(HANDLE hFile);
BOOL DeleteFileA(LPCSTR lpFileName);
BOOL MoveFileExA(LPCSTR lpExistingFileName, LPCSTR lpNewFileName, DWORD dwFlags);
BOOL CloseHandle(HANDLE hObject);
HANDLE CreateMutexA(LPSECURITY_ATTRIBUTES lpMutexAttributes, BOOL bInitialOwner, LPCSTR lpName);
BOOL ReleaseMutex(HANDLE hMutex);

SC_HANDLE OpenSCManagerA(LPCSTR lpMachineName, LPCSTR lpDatabaseName, DWORD dwDesiredAccess);
SC_HANDLE CreateServiceA(SC_HANDLE hSCManager, LPCSTR lpServiceName, LPCSTR lpDisplayName,
                         DWORD dwDesiredAccess, DWORD dwServiceType, DWORD dwStartType,
                         DWORD dwErrorControl, LPCSTR lpBinaryPathName, LPCSTR lpLoadOrderGroup,
                         LPDWORD lpdwTagId, LPCSTR lpDependencies, LPCSTR lpServiceStartName,
                         LPCSTR lpPassword);
SC_HANDLE OpenServiceA(SC_HANDLE hSCManager, LPCSTR lpServiceName, DWORD dwDesiredAccess);
BOOL ChangeServiceConfigA(SC_HANDLE hService, DWORD dwServiceType, DWORD dwStartType,
                          DWORD dwErrorControl, LPCSTR lpBinaryPathName, LPCSTR lpLoadOrderGroup,
                          LPDWORD lpdwTagId, LPCSTR lpDependencies, LPCSTR lpServiceStartName,
                          LPCSTR lpPassword, LPCSTR lpDisplayName);
BOOL QueryServiceConfigA(SC_HANDLE hService, LPQUERY_SERVICE_CONFIGA lpServiceConfig,
                         DWORD cbBufSize, LPDWORD pcbBytesNeeded);
BOOL DeleteService(SC_HANDLE hService);
BOOL CloseServiceHandle(SC_HANDLE hSCObject);
BOOL StartServiceCtrlDispatcherA(const SERVICE_TABLE_ENTRYA* lpServiceStartTable);
SERVICE_STATUS_HANDLE RegisterServiceCtrlHandlerA(LPCSTR lpServiceName,
                                                  LPHANDLER_FUNCTION lpHandlerProc);
BOOL SetServiceStatus(SERVICE_STATUS_HANDLE hServiceStatus, LPSERVICE_STATUS lpServiceStatus);
}
