// The simulated platform: the registry (winreg.h) under HKEY_LOCAL_MACHINE.
#include "platform/sim/state.h"

#include <cstring>
#include <set>

using sim::St;

namespace {

// The Registry Redirector: a 32-bit process on 64-bit Windows that does not ask for the 64-bit
// view (KEY_WOW64_64KEY) reads and writes HKLM\SOFTWARE in its 32-bit view, Wow6432Node. The
// keys Windows shares between the views are not modelled: the program writes none.
std::string ViewPath(const std::string& path, REGSAM sam) {
    const std::string software = "SOFTWARE\\";
    if (!St().wow64 || (sam & KEY_WOW64_64KEY) != 0 ||
        path.compare(0, software.size(), software) != 0 ||
        path.compare(0, software.size() + 12, software + "WOW6432NODE\\") == 0) {
        return path;
    }
    return software + "WOW6432NODE\\" + path.substr(software.size());
}

// HKEY_LOCAL_MACHINE's default access lists let Users read and only administrators and
// LocalSystem write.
bool MayWrite(REGSAM sam) {
    return sim::Elevated() || (sam & (KEY_SET_VALUE | KEY_CREATE_SUB_KEY)) == 0;
}

} // namespace

extern "C" {

LONG RegCreateKeyExA(HKEY hKey, LPCSTR lpSubKey, DWORD Reserved, LPSTR lpClass, DWORD dwOptions,
                     REGSAM samDesired, LPSECURITY_ATTRIBUTES lpSecurityAttributes, PHKEY phkResult,
                     LPDWORD lpdwDisposition) {
    sim::Call();
    (void)lpClass;
    (void)lpSecurityAttributes;
    if (hKey != HKEY_LOCAL_MACHINE) {
        St().badHandles++;
        return ERROR_INVALID_HANDLE;
    }
    if (lpSubKey == nullptr || phkResult == nullptr || Reserved != 0 ||
        (dwOptions & ~(DWORD)REG_OPTION_VOLATILE) != 0) {
        return ERROR_INVALID_PARAMETER;
    }
    const std::string path = ViewPath(sim::Upper(lpSubKey), samDesired);
    // Logged as the registry compares it: letter case is not part of a key's name.
    sim::Event("CreateKey " + path + ((dwOptions & REG_OPTION_VOLATILE) ? " volatile" : ""));
    if (St().keyCreationError != 0) {
        return St().keyCreationError;
    }
    if (!MayWrite(samDesired | KEY_CREATE_SUB_KEY)) {
        return ERROR_ACCESS_DENIED;
    }
    // An existing key is opened as it is, keeping the volatility it was created with.
    if (St().keys.count(path) == 0) {
        sim::WillWrite(path);
    }
    const auto created = St().keys.emplace(path, sim::Key{});
    const bool existed = !created.second;
    if (created.second) {
        created.first->second.volatileKey = (dwOptions & REG_OPTION_VOLATILE) != 0;
    }
    auto key = std::make_unique<sim::OpenKey>();
    key->path = path;
    key->access = samDesired;
    *phkResult = (HKEY)key.get();
    St().openKeys.insert(std::move(key));
    if (lpdwDisposition != nullptr) {
        *lpdwDisposition = existed ? REG_OPENED_EXISTING_KEY : REG_CREATED_NEW_KEY;
    }
    return ERROR_SUCCESS;
}

// The open key a handle names, when it was opened with the access a call needs: ERROR_SUCCESS,
// ERROR_INVALID_HANDLE (counted as a bad handle use) or ERROR_ACCESS_DENIED.
static LONG OpenedKey(HKEY hKey, REGSAM needed, sim::OpenKey** ppKey) {
    *ppKey = sim::FindKey(hKey);
    if (*ppKey == nullptr) {
        return ERROR_INVALID_HANDLE;
    }
    return ((*ppKey)->access & needed) == needed ? ERROR_SUCCESS : ERROR_ACCESS_DENIED;
}

LONG RegSetValueExA(HKEY hKey, LPCSTR lpValueName, DWORD Reserved, DWORD dwType, const BYTE* lpData,
                    DWORD cbData) {
    sim::Call();
    sim::OpenKey* key = nullptr;
    const LONG opened = OpenedKey(hKey, KEY_SET_VALUE, &key);
    if (opened != ERROR_SUCCESS) {
        return opened;
    }
    if (Reserved != 0 || (lpData == nullptr && cbData != 0)) {
        return ERROR_INVALID_PARAMETER;
    }
    const std::string name = lpValueName ? lpValueName : "";
    sim::Event("SetValue " + name + " " + std::to_string(dwType) + " " + std::to_string(cbData));
    sim::RegValue value{dwType, std::string((const char*)lpData, cbData)};
    sim::WillWrite(key->path);
    St().keys[key->path].values[sim::Upper(name)] = value;
    return ERROR_SUCCESS;
}

LONG RegDeleteValueA(HKEY hKey, LPCSTR lpValueName) {
    sim::Call();
    sim::OpenKey* key = nullptr;
    const LONG opened = OpenedKey(hKey, KEY_SET_VALUE, &key);
    if (opened != ERROR_SUCCESS) {
        return opened;
    }
    const std::string name = sim::Upper(lpValueName ? lpValueName : "");
    auto& values = St().keys[key->path].values;
    if (values.count(name) == 0) {
        return ERROR_FILE_NOT_FOUND;
    }
    sim::Event("DeleteValue " + name);
    sim::WillWrite(key->path);
    values.erase(name);
    return ERROR_SUCCESS;
}

LONG RegQueryValueExA(HKEY hKey, LPCSTR lpValueName, LPDWORD lpReserved, LPDWORD lpType,
                      LPBYTE lpData, LPDWORD lpcbData) {
    sim::Call();
    sim::OpenKey* key = sim::FindKey(hKey);
    if (key == nullptr) {
        return ERROR_INVALID_HANDLE;
    }
    if (lpReserved != nullptr || (lpData != nullptr && lpcbData == nullptr)) {
        return ERROR_INVALID_PARAMETER;
    }
    if ((key->access & KEY_QUERY_VALUE) == 0) {
        return ERROR_ACCESS_DENIED;
    }
    const auto& values = St().keys[key->path].values;
    auto it = values.find(sim::Upper(lpValueName ? lpValueName : ""));
    if (it == values.end()) {
        return ERROR_FILE_NOT_FOUND;
    }
    const DWORD cb = (DWORD)it->second.bytes.size();
    if (lpType != nullptr) {
        *lpType = it->second.type;
    }
    const bool fits = lpData == nullptr || *lpcbData >= cb;
    if (lpData != nullptr && fits) {
        memcpy(lpData, it->second.bytes.data(), cb);
    }
    if (lpcbData != nullptr) {
        *lpcbData = cb;
    }
    return fits ? ERROR_SUCCESS : ERROR_MORE_DATA;
}

// The values of a key in the order of their names (as the registry keeps them here, upper-cased).
LONG RegEnumValueA(HKEY hKey, DWORD dwIndex, LPSTR lpValueName, LPDWORD lpcchValueName,
                   LPDWORD lpReserved, LPDWORD lpType, LPBYTE lpData, LPDWORD lpcbData) {
    sim::Call();
    sim::OpenKey* key = sim::FindKey(hKey);
    if (key == nullptr) {
        return ERROR_INVALID_HANDLE;
    }
    if (lpValueName == nullptr || lpcchValueName == nullptr || lpReserved != nullptr ||
        (lpData != nullptr && lpcbData == nullptr)) {
        return ERROR_INVALID_PARAMETER;
    }
    if ((key->access & KEY_QUERY_VALUE) == 0) {
        return ERROR_ACCESS_DENIED;
    }
    const auto& values = St().keys[key->path].values;
    if (dwIndex >= values.size()) {
        return ERROR_NO_MORE_ITEMS;
    }
    auto it = std::next(values.begin(), dwIndex);
    if (*lpcchValueName <= it->first.size() ||
        (lpData != nullptr && *lpcbData < it->second.bytes.size())) {
        return ERROR_MORE_DATA;
    }
    memcpy(lpValueName, it->first.c_str(), it->first.size() + 1);
    *lpcchValueName = (DWORD)it->first.size();
    if (lpType != nullptr) {
        *lpType = it->second.type;
    }
    if (lpData != nullptr) {
        memcpy(lpData, it->second.bytes.data(), it->second.bytes.size());
    }
    if (lpcbData != nullptr) {
        *lpcbData = (DWORD)it->second.bytes.size();
    }
    return ERROR_SUCCESS;
}

// RegFlushKey: returns once "all the data for the hive that contains the specified key" is on
// disk; until then (or until the registry's lazy flusher, which promises no moment, has written
// them) a power cut may lose changes. Other hives stay as they were.
LONG RegFlushKey(HKEY hKey) {
    sim::Call();
    const sim::OpenKey* key = sim::FindKey(hKey);
    if (key == nullptr) {
        return ERROR_INVALID_HANDLE;
    }
    const std::string hive = sim::HiveOf(key->path);
    sim::Event("FlushKey " + hive);
    auto& unflushed = St().unflushed;
    unflushed.erase(std::remove_if(unflushed.begin(), unflushed.end(),
                                   [&](const auto& write) { return write.hive == hive; }),
                    unflushed.end());
    return ERROR_SUCCESS;
}

LONG RegCloseKey(HKEY hKey) {
    sim::Call();
    for (auto it = St().openKeys.begin(); it != St().openKeys.end(); ++it) {
        if ((HKEY)it->get() == hKey) {
            St().openKeys.erase(it);
            return ERROR_SUCCESS;
        }
    }
    St().badHandles++;
    return ERROR_INVALID_HANDLE;
}

// Where Windows keeps the interface classes devices have interfaces of: one subkey per class,
// named by its GUID in lower case. Here they are the classes of the tree's interfaces.
static const char kDeviceClasses[] = "SYSTEM\\CURRENTCONTROLSET\\CONTROL\\DEVICECLASSES";

// The names of a key's subkeys, in the order RegEnumKeyExA gives them.
static std::vector<std::string> Subkeys(const std::string& path) {
    std::set<std::string> names;
    if (path == kDeviceClasses) {
        for (const sim::Device& d : St().devices) {
            for (const GUID& g : d.interfaces) {
                char text[40];
                snprintf(text, sizeof(text), "{%08x-%04x-%04x-%02x%02x-%02x%02x%02x%02x%02x%02x}",
                         g.Data1, g.Data2, g.Data3, g.Data4[0], g.Data4[1], g.Data4[2], g.Data4[3],
                         g.Data4[4], g.Data4[5], g.Data4[6], g.Data4[7]);
                names.insert(text);
            }
        }
    }
    const std::string prefix = path + "\\";
    for (const auto& key : St().keys) {
        if (key.first.compare(0, prefix.size(), prefix) == 0) {
            const std::string rest = key.first.substr(prefix.size());
            names.insert(rest.substr(0, rest.find('\\')));
        }
    }
    return std::vector<std::string>(names.begin(), names.end());
}

LONG RegOpenKeyExA(HKEY hKey, LPCSTR lpSubKey, DWORD ulOptions, REGSAM samDesired,
                   PHKEY phkResult) {
    sim::Call();
    if (hKey != HKEY_LOCAL_MACHINE) {
        St().badHandles++;
        return ERROR_INVALID_HANDLE;
    }
    if (lpSubKey == nullptr || phkResult == nullptr || ulOptions != 0) {
        return ERROR_INVALID_PARAMETER;
    }
    const std::string path = ViewPath(sim::Upper(lpSubKey), samDesired);
    if (path != kDeviceClasses && St().keys.count(path) == 0) {
        return ERROR_FILE_NOT_FOUND;
    }
    if (!MayWrite(samDesired)) {
        return ERROR_ACCESS_DENIED;
    }
    auto key = std::make_unique<sim::OpenKey>();
    key->path = path;
    key->access = samDesired;
    *phkResult = (HKEY)key.get();
    St().openKeys.insert(std::move(key));
    return ERROR_SUCCESS;
}

LONG RegEnumKeyExA(HKEY hKey, DWORD dwIndex, LPSTR lpName, LPDWORD lpcchName, LPDWORD lpReserved,
                   LPSTR lpClass, LPDWORD lpcchClass, void* lpftLastWriteTime) {
    sim::Call();
    (void)lpClass, (void)lpcchClass, (void)lpftLastWriteTime;
    sim::OpenKey* key = sim::FindKey(hKey);
    if (key == nullptr) {
        return ERROR_INVALID_HANDLE;
    }
    if (lpName == nullptr || lpcchName == nullptr || lpReserved != nullptr) {
        return ERROR_INVALID_PARAMETER;
    }
    if ((key->access & KEY_ENUMERATE_SUB_KEYS) == 0) {
        return ERROR_ACCESS_DENIED;
    }
    const std::vector<std::string> names = Subkeys(key->path);
    if (dwIndex >= names.size()) {
        return ERROR_NO_MORE_ITEMS;
    }
    const std::string& name = names[dwIndex];
    if (*lpcchName <= name.size()) {
        return ERROR_MORE_DATA;
    }
    memcpy(lpName, name.c_str(), name.size() + 1);
    *lpcchName = (DWORD)name.size();
    return ERROR_SUCCESS;
}

LONG InterlockedExchange(volatile LONG* Target, LONG Value) {
    return __atomic_exchange_n(Target, Value, __ATOMIC_SEQ_CST);
}

LONG InterlockedCompareExchange(volatile LONG* Destination, LONG Exchange, LONG Comparand) {
    __atomic_compare_exchange_n(Destination, &Comparand, Exchange, false, __ATOMIC_SEQ_CST,
                                __ATOMIC_SEQ_CST);
    return Comparand;
}

} // extern "C"
