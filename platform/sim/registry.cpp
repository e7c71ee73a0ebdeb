// The simulated platform: the registry (winreg.h) under HKEY_LOCAL_MACHINE.
#include "platform/sim/state.h"

using sim::St;

extern "C" {

LONG RegCreateKeyExA(HKEY hKey, LPCSTR lpSubKey, DWORD Reserved, LPSTR lpClass, DWORD dwOptions,
                     REGSAM samDesired, LPSECURITY_ATTRIBUTES lpSecurityAttributes, PHKEY phkResult,
                     LPDWORD lpdwDisposition) {
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
    const std::string path = sim::Upper(lpSubKey);
    // Logged as the registry compares it: letter case is not part of a key's name.
    sim::Event("CreateKey " + path + ((dwOptions & REG_OPTION_VOLATILE) ? " volatile" : ""));
    if (St().keyCreationError != 0) {
        return St().keyCreationError;
    }
    // An existing key is opened as it is, keeping the volatility it was created with.
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

LONG RegSetValueExA(HKEY hKey, LPCSTR lpValueName, DWORD Reserved, DWORD dwType, const BYTE* lpData,
                    DWORD cbData) {
    sim::OpenKey* key = sim::FindKey(hKey);
    if (key == nullptr) {
        return ERROR_INVALID_HANDLE;
    }
    if ((key->access & KEY_SET_VALUE) == 0) {
        return ERROR_ACCESS_DENIED;
    }
    if (Reserved != 0 || (lpData == nullptr && cbData != 0)) {
        return ERROR_INVALID_PARAMETER;
    }
    const std::string name = lpValueName ? lpValueName : "";
    sim::Event("SetValue " + name + " " + std::to_string(dwType) + " " + std::to_string(cbData));
    sim::RegValue value{dwType, std::string((const char*)lpData, cbData)};
    St().keys[key->path].values[sim::Upper(name)] = value;
    return ERROR_SUCCESS;
}

LONG RegCloseKey(HKEY hKey) {
    for (auto it = St().openKeys.begin(); it != St().openKeys.end(); ++it) {
        if ((HKEY)it->get() == hKey) {
            St().openKeys.erase(it);
            return ERROR_SUCCESS;
        }
    }
    St().badHandles++;
    return ERROR_INVALID_HANDLE;
}

} // extern "C"
