// The simulated platform: the Service Control Manager (winsvc.h). A service's configuration lives
// where Windows keeps it, under SYSTEM\CurrentControlSet\Services in the SYSTEM hive, so that a
// power cut loses what was not flushed. Whether the Service Control Manager flushes its writes is
// not documented: here it does not, the stricter reading.
//
// Rights ("Service Security and Access Rights"): only administrators and LocalSystem may create
// services, or change, delete or start one (the default access list of a service); any
// authenticated user may connect and read a configuration. DeleteService only marks a service:
// it goes once it has stopped and every handle to it is closed, or at the next restart; until
// then CreateService of its name answers ERROR_SERVICE_MARKED_FOR_DELETE.
#include "platform/sim/state.h"

#include <cstring>

using sim::St;

namespace sim {

static const char kServices[] = "SYSTEM\\CURRENTCONTROLSET\\SERVICES\\";

static std::string ServiceKey(const std::string& name) {
    return kServices + Upper(name);
}

static bool Exists(const std::string& name) {
    return St().keys.count(ServiceKey(name)) != 0;
}

static bool Marked(const std::string& name) {
    auto value = St().keys[ServiceKey(name)].values.find("DELETEFLAG");
    return value != St().keys[ServiceKey(name)].values.end();
}

static void SetDword(const std::string& name, const char* value, DWORD data) {
    St().keys[ServiceKey(name)].values[value] = {REG_DWORD, std::string((const char*)&data, 4)};
}

static void SetString(const std::string& name, const char* value, const std::string& text) {
    St().keys[ServiceKey(name)].values[value] = {REG_SZ, text + '\0'};
}

static DWORD Dword(const std::string& name, const char* value) {
    DWORD data = 0;
    auto& values = St().keys[ServiceKey(name)].values;
    auto it = values.find(value);
    if (it != values.end() && it->second.bytes.size() == 4) {
        memcpy(&data, it->second.bytes.data(), 4);
    }
    return data;
}

static std::string String(const std::string& name, const char* value) {
    auto& values = St().keys[ServiceKey(name)].values;
    auto it = values.find(value);
    return it != values.end() ? std::string(it->second.bytes.c_str()) : "";
}

// Gone once marked, stopped and with no handle open.
static void DeleteIfDone(const std::string& name) {
    ServiceRuntime& run = St().services[Upper(name)];
    if (Exists(name) && Marked(name) && run.openHandles == 0 && !run.running) {
        WillWrite(ServiceKey(name));
        St().keys.erase(ServiceKey(name));
        St().services.erase(Upper(name));
    }
}

void DeleteMarkedServices() {
    for (auto it = St().keys.begin(); it != St().keys.end();) {
        const bool service = it->first.compare(0, strlen(kServices), kServices) == 0 &&
                             it->second.values.count("DELETEFLAG") != 0;
        it = service ? St().keys.erase(it) : std::next(it);
    }
    St().services.clear();
}

void CloseServiceHandles() {
    St().scHandles.clear();
    for (auto& [name, run] : St().services) {
        run.openHandles = 0;
    }
}

static SC_HANDLE NewHandle(const std::string& service, DWORD access) {
    St().scHandles.push_back(ScHandle{Upper(service), access});
    if (!service.empty()) {
        St().services[Upper(service)].openHandles++;
    }
    return (SC_HANDLE)St().scHandles.size();
}

static ScHandle* FindHandle(SC_HANDLE h) {
    const size_t n = (size_t)h;
    if (n == 0 || n > St().scHandles.size() || !St().scHandles[n - 1]) {
        St().badHandles++;
        return nullptr;
    }
    return &*St().scHandles[n - 1];
}

std::vector<std::pair<std::string, std::string>> AutoStartServices() {
    std::vector<std::pair<std::string, std::string>> started;
    for (const auto& [path, key] : St().keys) {
        if (path.compare(0, strlen(kServices), kServices) != 0 ||
            path.find('\\', strlen(kServices)) != std::string::npos) {
            continue;
        }
        const std::string name = path.substr(strlen(kServices));
        const std::string command = String(name, "IMAGEPATH");
        // The program: quoted, or up to the first space.
        const std::string program = command[0] == '"' ? command.substr(1, command.find('"', 1) - 1)
                                                      : command.substr(0, command.find(' '));
        auto file = St().files.find(Upper(program));
        if (Dword(name, "START") != SERVICE_AUTO_START || Marked(name) ||
            file == St().files.end() || file->second.bytes.compare(0, 2, "MZ") != 0) {
            continue;
        }
        started.emplace_back(name, command);
    }
    return started;
}

void RunAsService(const std::string& service, const std::string& path) {
    St().service = service;
    St().modulePath = path;
    St().token = service.empty() ? Token::Administrator : Token::System;
    if (!service.empty()) {
        St().services[Upper(service)].running = true;
        St().services[Upper(service)].state = SERVICE_START_PENDING;
    }
}

bool ServiceInstalled(const std::string& service) {
    return Exists(service);
}

std::pair<DWORD, DWORD> ServiceState(const std::string& service) {
    const ServiceRuntime& run = St().services[Upper(service)];
    return {run.state, run.exitCode};
}

} // namespace sim

extern "C" {

SC_HANDLE OpenSCManagerA(LPCSTR lpMachineName, LPCSTR lpDatabaseName, DWORD dwDesiredAccess) {
    sim::Call();
    if (lpMachineName != nullptr || lpDatabaseName != nullptr) {
        sim::Fail(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    if ((dwDesiredAccess & SC_MANAGER_CREATE_SERVICE) != 0 && !sim::Elevated()) {
        sim::Fail(ERROR_ACCESS_DENIED);
        return nullptr;
    }
    return sim::NewHandle("", dwDesiredAccess);
}

SC_HANDLE CreateServiceA(SC_HANDLE hSCManager, LPCSTR lpServiceName, LPCSTR lpDisplayName,
                         DWORD dwDesiredAccess, DWORD dwServiceType, DWORD dwStartType,
                         DWORD dwErrorControl, LPCSTR lpBinaryPathName, LPCSTR lpLoadOrderGroup,
                         LPDWORD lpdwTagId, LPCSTR lpDependencies, LPCSTR lpServiceStartName,
                         LPCSTR lpPassword) {
    sim::Call();
    (void)lpLoadOrderGroup, (void)lpdwTagId, (void)lpDependencies, (void)lpPassword;
    const sim::ScHandle* manager = sim::FindHandle(hSCManager);
    if (manager == nullptr || !manager->service.empty()) {
        sim::Fail(ERROR_INVALID_HANDLE);
        return nullptr;
    }
    if ((manager->access & SC_MANAGER_CREATE_SERVICE) == 0) {
        sim::Fail(ERROR_ACCESS_DENIED);
        return nullptr;
    }
    if (lpServiceName == nullptr || lpBinaryPathName == nullptr) {
        sim::Fail(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    const std::string name = lpServiceName;
    if (sim::Exists(name)) {
        sim::Fail(sim::Marked(name) ? ERROR_SERVICE_MARKED_FOR_DELETE : ERROR_SERVICE_EXISTS);
        return nullptr;
    }
    sim::Event("CreateService " + sim::Upper(name) + " " + lpBinaryPathName);
    sim::WillWrite(sim::ServiceKey(name));
    sim::SetDword(name, "TYPE", dwServiceType);
    sim::SetDword(name, "START", dwStartType);
    sim::SetDword(name, "ERRORCONTROL", dwErrorControl);
    sim::SetString(name, "IMAGEPATH", lpBinaryPathName);
    sim::SetString(name, "OBJECTNAME", lpServiceStartName ? lpServiceStartName : "LocalSystem");
    sim::SetString(name, "DISPLAYNAME", lpDisplayName ? lpDisplayName : name);
    return sim::NewHandle(name, dwDesiredAccess);
}

SC_HANDLE OpenServiceA(SC_HANDLE hSCManager, LPCSTR lpServiceName, DWORD dwDesiredAccess) {
    sim::Call();
    const sim::ScHandle* manager = sim::FindHandle(hSCManager);
    if (manager == nullptr || !manager->service.empty() || lpServiceName == nullptr) {
        sim::Fail(ERROR_INVALID_HANDLE);
        return nullptr;
    }
    if (!sim::Exists(lpServiceName)) {
        sim::Fail(ERROR_SERVICE_DOES_NOT_EXIST);
        return nullptr;
    }
    const DWORD adminOnly =
        SERVICE_CHANGE_CONFIG | SERVICE_START | DELETE | WRITE_DAC | WRITE_OWNER;
    if ((dwDesiredAccess & adminOnly) != 0 && !sim::Elevated()) {
        sim::Fail(ERROR_ACCESS_DENIED);
        return nullptr;
    }
    return sim::NewHandle(lpServiceName, dwDesiredAccess);
}

BOOL ChangeServiceConfigA(SC_HANDLE hService, DWORD dwServiceType, DWORD dwStartType,
                          DWORD dwErrorControl, LPCSTR lpBinaryPathName, LPCSTR lpLoadOrderGroup,
                          LPDWORD lpdwTagId, LPCSTR lpDependencies, LPCSTR lpServiceStartName,
                          LPCSTR lpPassword, LPCSTR lpDisplayName) {
    sim::Call();
    (void)lpLoadOrderGroup, (void)lpdwTagId, (void)lpDependencies, (void)lpPassword;
    const sim::ScHandle* handle = sim::FindHandle(hService);
    if (handle == nullptr || handle->service.empty()) {
        return sim::Fail(ERROR_INVALID_HANDLE);
    }
    if ((handle->access & SERVICE_CHANGE_CONFIG) == 0) {
        return sim::Fail(ERROR_ACCESS_DENIED);
    }
    const std::string name = handle->service;
    if (sim::Marked(name)) {
        return sim::Fail(ERROR_SERVICE_MARKED_FOR_DELETE);
    }
    sim::WillWrite(sim::ServiceKey(name));
    if (dwServiceType != SERVICE_NO_CHANGE) {
        sim::SetDword(name, "TYPE", dwServiceType);
    }
    if (dwStartType != SERVICE_NO_CHANGE) {
        sim::SetDword(name, "START", dwStartType);
    }
    if (dwErrorControl != SERVICE_NO_CHANGE) {
        sim::SetDword(name, "ERRORCONTROL", dwErrorControl);
    }
    if (lpBinaryPathName != nullptr) {
        sim::SetString(name, "IMAGEPATH", lpBinaryPathName);
    }
    if (lpServiceStartName != nullptr) {
        sim::SetString(name, "OBJECTNAME", lpServiceStartName);
    }
    if (lpDisplayName != nullptr) {
        sim::SetString(name, "DISPLAYNAME", lpDisplayName);
    }
    return TRUE;
}

BOOL QueryServiceConfigA(SC_HANDLE hService, LPQUERY_SERVICE_CONFIGA lpServiceConfig,
                         DWORD cbBufSize, LPDWORD pcbBytesNeeded) {
    sim::Call();
    const sim::ScHandle* handle = sim::FindHandle(hService);
    if (handle == nullptr || handle->service.empty()) {
        return sim::Fail(ERROR_INVALID_HANDLE);
    }
    if ((handle->access & SERVICE_QUERY_CONFIG) == 0) {
        return sim::Fail(ERROR_ACCESS_DENIED);
    }
    const std::string name = handle->service;
    const std::string strings[] = {sim::String(name, "IMAGEPATH"), "", "",
                                   sim::String(name, "OBJECTNAME"),
                                   sim::String(name, "DISPLAYNAME")};
    size_t needed = sizeof(QUERY_SERVICE_CONFIGA);
    for (const std::string& text : strings) {
        needed += text.size() + 1;
    }
    *pcbBytesNeeded = (DWORD)needed;
    if (lpServiceConfig == nullptr || cbBufSize < needed) {
        return sim::Fail(ERROR_INSUFFICIENT_BUFFER);
    }
    char* p = (char*)(lpServiceConfig + 1);
    LPSTR* fields[] = {&lpServiceConfig->lpBinaryPathName, &lpServiceConfig->lpLoadOrderGroup,
                       &lpServiceConfig->lpDependencies, &lpServiceConfig->lpServiceStartName,
                       &lpServiceConfig->lpDisplayName};
    for (size_t i = 0; i < 5; i++) {
        memcpy(p, strings[i].c_str(), strings[i].size() + 1);
        *fields[i] = p;
        p += strings[i].size() + 1;
    }
    lpServiceConfig->dwServiceType = sim::Dword(name, "TYPE");
    lpServiceConfig->dwStartType = sim::Dword(name, "START");
    lpServiceConfig->dwErrorControl = sim::Dword(name, "ERRORCONTROL");
    lpServiceConfig->dwTagId = 0;
    return TRUE;
}

BOOL DeleteService(SC_HANDLE hService) {
    sim::Call();
    const sim::ScHandle* handle = sim::FindHandle(hService);
    if (handle == nullptr || handle->service.empty()) {
        return sim::Fail(ERROR_INVALID_HANDLE);
    }
    if ((handle->access & DELETE) == 0) {
        return sim::Fail(ERROR_ACCESS_DENIED);
    }
    if (sim::Marked(handle->service)) {
        return sim::Fail(ERROR_SERVICE_MARKED_FOR_DELETE);
    }
    sim::Event("DeleteService " + handle->service);
    sim::WillWrite(sim::ServiceKey(handle->service));
    sim::SetDword(handle->service, "DELETEFLAG", 1);
    return TRUE;
}

BOOL CloseServiceHandle(SC_HANDLE hSCObject) {
    sim::Call();
    sim::ScHandle* handle = sim::FindHandle(hSCObject);
    if (handle == nullptr) {
        return sim::Fail(ERROR_INVALID_HANDLE);
    }
    const std::string name = handle->service;
    St().scHandles[(size_t)hSCObject - 1].reset();
    if (!name.empty()) {
        St().services[name].openHandles--;
        sim::DeleteIfDone(name);
    }
    return TRUE;
}

// A service of its own process (SERVICE_WIN32_OWN_PROCESS): the table's first entry runs, its
// name ignored; the dispatcher returns once the service has stopped.
BOOL StartServiceCtrlDispatcherA(const SERVICE_TABLE_ENTRYA* lpServiceStartTable) {
    sim::Call();
    if (St().service.empty()) {
        return sim::Fail(ERROR_FAILED_SERVICE_CONTROLLER_CONNECT);
    }
    if (lpServiceStartTable == nullptr || lpServiceStartTable[0].lpServiceProc == nullptr) {
        return sim::Fail(ERROR_INVALID_PARAMETER);
    }
    char name[256];
    snprintf(name, sizeof(name), "%s", St().service.c_str());
    LPSTR argv[] = {name, nullptr};
    lpServiceStartTable[0].lpServiceProc(1, argv);
    return TRUE;
}

SERVICE_STATUS_HANDLE RegisterServiceCtrlHandlerA(LPCSTR lpServiceName,
                                                  LPHANDLER_FUNCTION lpHandlerProc) {
    sim::Call();
    if (St().service.empty() || lpServiceName == nullptr ||
        sim::Upper(lpServiceName) != sim::Upper(St().service)) {
        sim::Fail(ERROR_SERVICE_DOES_NOT_EXIST);
        return nullptr;
    }
    St().serviceHandler = lpHandlerProc;
    return (SERVICE_STATUS_HANDLE)1;
}

BOOL SetServiceStatus(SERVICE_STATUS_HANDLE hServiceStatus, LPSERVICE_STATUS lpServiceStatus) {
    sim::Call();
    if (hServiceStatus != (SERVICE_STATUS_HANDLE)1 || lpServiceStatus == nullptr ||
        St().service.empty()) {
        return sim::Fail(ERROR_INVALID_HANDLE);
    }
    sim::ServiceRuntime& run = St().services[sim::Upper(St().service)];
    run.state = lpServiceStatus->dwCurrentState;
    run.exitCode = lpServiceStatus->dwWin32ExitCode;
    sim::Event("ServiceStatus " + std::to_string(run.state) + " " + sim::ErrorText(run.exitCode));
    if (run.state == SERVICE_STOPPED) {
        run.running = false;
        sim::DeleteIfDone(St().service);
    }
    return TRUE;
}

} // extern "C"
