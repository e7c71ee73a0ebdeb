// What the recovery and switching tests rest on: promises of the simulated platform itself, each
// as Microsoft's pages give it.
#include "platform/sim/sim.h"

#include <gtest/gtest.h>

#include <cstring>

namespace {

const char kKey[] = "SOFTWARE\\donglectl\\Probe";

// Writes a value in a new key; flushed or not.
void Write(const char* name, bool flush) {
    HKEY hk = nullptr;
    ASSERT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, kKey, 0, nullptr, REG_OPTION_NON_VOLATILE,
                              KEY_SET_VALUE, nullptr, &hk, nullptr),
              ERROR_SUCCESS);
    const DWORD one = 1;
    ASSERT_EQ(RegSetValueExA(hk, name, 0, REG_DWORD, (const BYTE*)&one, sizeof(one)),
              ERROR_SUCCESS);
    if (flush) {
        ASSERT_EQ(RegFlushKey(hk), ERROR_SUCCESS);
    }
    RegCloseKey(hk);
}

// A power cut at the next call after the writes.
void PowerCut() {
    sim::EndProcessAtCall(sim::Calls() + 1, true);
    HKEY hk = nullptr;
    EXPECT_THROW(RegOpenKeyExA(HKEY_LOCAL_MACHINE, kKey, 0, KEY_QUERY_VALUE, &hk),
                 sim::ProcessEnded);
    sim::ProcessGone();
    sim::EntryReturned();
}

DWORD Notified = 0;
DWORD Count(HCMNOTIFICATION, PVOID, CM_NOTIFY_ACTION, PCM_NOTIFY_EVENT_DATA, DWORD) {
    return ++Notified, 0;
}

TEST(SimulatedPlatform, KeepsItsPromises) {
    // RegFlushKey: what was written and flushed survives a power cut; what was not, is lost,
    // key, value and deletion alike.
    sim::Reset();
    Write("Kept", true);
    Write("Lost", false);
    PowerCut();
    EXPECT_TRUE(sim::QueryValue(kKey, "Kept").has_value());
    EXPECT_FALSE(sim::QueryValue(kKey, "Lost").has_value());
    sim::Reset();
    Write("Lost", false);
    PowerCut();
    EXPECT_FALSE(sim::KeyExists(kKey));
    sim::Reset();
    Write("Kept", true);
    HKEY hk = nullptr;
    ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, kKey, 0, KEY_SET_VALUE, &hk), ERROR_SUCCESS);
    ASSERT_EQ(RegDeleteValueA(hk, "Kept"), ERROR_SUCCESS);
    RegCloseKey(hk);
    PowerCut();
    EXPECT_TRUE(sim::QueryValue(kKey, "Kept").has_value());

    // REG_OPTION_VOLATILE: the key is gone after a restart.
    sim::Reset();
    ASSERT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, kKey, 0, nullptr, REG_OPTION_VOLATILE,
                              KEY_SET_VALUE, nullptr, &hk, nullptr),
              ERROR_SUCCESS);
    RegCloseKey(hk);
    sim::Restart();
    EXPECT_FALSE(sim::KeyExists(kKey));

    // CM_Get_HW_Prof_FlagsA: profile 0 is the current one; there is no profile 1 here.
    sim::Reset();
    sim::AddDevice("USB\\VID_7B2E&PID_2F40\\1");
    char id[] = "USB\\VID_7B2E&PID_2F40\\1";
    ULONG flags = 0;
    EXPECT_EQ(CM_Get_HW_Prof_FlagsA(id, 0, &flags, 0), (CONFIGRET)CR_SUCCESS);
    EXPECT_NE(CM_Get_HW_Prof_FlagsA(id, 1, &flags, 0), (CONFIGRET)CR_SUCCESS);

    // A change vetoed by software holding the device open waits for a restart with
    // DI_NEEDREBOOT.
    sim::Device& d = sim::AddDevice("USB\\VID_7B2E&PID_2F40\\2");
    d.vetoed.insert({DICS_DISABLE, DICS_FLAG_GLOBAL});
    HDEVINFO h = SetupDiGetClassDevsA(nullptr, nullptr, nullptr, DIGCF_ALLCLASSES);
    SP_DEVINFO_DATA did;
    memset(&did, 0, sizeof(did));
    did.cbSize = sizeof(did);
    ASSERT_TRUE(SetupDiEnumDeviceInfo(h, 1, &did));
    SP_PROPCHANGE_PARAMS params;
    memset(&params, 0, sizeof(params));
    params.ClassInstallHeader = {sizeof(SP_CLASSINSTALL_HEADER), DIF_PROPERTYCHANGE};
    params.StateChange = DICS_DISABLE;
    params.Scope = DICS_FLAG_GLOBAL;
    ASSERT_TRUE(SetupDiSetClassInstallParamsA(h, &did, &params.ClassInstallHeader, sizeof(params)));
    ASSERT_TRUE(SetupDiCallClassInstaller(DIF_PROPERTYCHANGE, h, &did));
    SP_DEVINSTALL_PARAMS_A install;
    memset(&install, 0, sizeof(install));
    install.cbSize = sizeof(install);
    ASSERT_TRUE(SetupDiGetDeviceInstallParamsA(h, &did, &install));
    EXPECT_EQ(install.Flags & (DI_NEEDRESTART | DI_NEEDREBOOT), (DWORD)DI_NEEDREBOOT);
    SetupDiDestroyDeviceInfoList(h);

    // A closed registration is told nothing.
    sim::Reset();
    sim::RunAsWindows8(true);
    sim::Device& plugged = sim::AddDevice("USB\\VID_7B2E&PID_2F40\\3");
    plugged.interfaces = {GUID{1, 2, 3, {4}}};
    plugged.present = false;
    CM_NOTIFY_FILTER filter;
    memset(&filter, 0, sizeof(filter));
    filter.cbSize = sizeof(filter);
    filter.Flags = CM_NOTIFY_FILTER_FLAG_ALL_INTERFACE_CLASSES;
    HCMNOTIFICATION registration = nullptr;
    ASSERT_EQ(CM_Register_Notification(&filter, nullptr, Count, &registration),
              (CONFIGRET)CR_SUCCESS);
    ASSERT_EQ(CM_Unregister_Notification(registration), (CONFIGRET)CR_SUCCESS);
    sim::PlugAt(0, "USB\\VID_7B2E&PID_2F40\\3", true);
    Sleep(10);
    EXPECT_EQ(Notified, 0u);
}

} // namespace
