#include "tests/unit/scenario.h"

#include "control/control.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <iconv.h>
#include <iostream>

namespace {

// The record as installed systems read it, written out here rather than taken from the program,
// so that a changed name is a difference the scenarios see; and a value of someone else's under
// the same key.
const char kRecordKey[] = "SYSTEM\\CurrentControlSet\\Services\\Tavrel";
const char kRecordValue[] = "DonglePlugedIn";
const char kOtherValue[] = "unrelated";

// UTF-8 text in the ANSI code page the program sees.
std::string ToCodePage(const std::string& utf8, UINT codePage) {
    const std::string name = "CP" + std::to_string(codePage);
    iconv_t cd = iconv_open(name.c_str(), "UTF-8");
    if (cd == (iconv_t)-1) {
        std::cerr << "no converter for " << name << "\n";
        std::abort();
    }
    std::string in = utf8;
    std::string out(in.size() * 4 + 4, '\0');
    char* src = in.data();
    size_t srcLeft = in.size();
    char* dst = out.data();
    size_t dstLeft = out.size();
    if (iconv(cd, &src, &srcLeft, &dst, &dstLeft) == (size_t)-1) {
        std::cerr << "cannot convert '" << utf8 << "' to " << name << "\n";
        std::abort();
    }
    iconv_close(cd);
    out.resize(out.size() - dstLeft);
    return out;
}

sim::Property IdProperty(const nlohmann::json& p, UINT codePage) {
    std::vector<std::string> ids;
    for (const auto& id : p.at("ids")) {
        ids.push_back(ToCodePage(id.get<std::string>(), codePage));
    }
    const std::string kind = p.at("kind");
    if (kind == "sz") {
        return sim::Sz(ids.at(0));
    }
    if (kind == "unterminated") {
        std::string bytes;
        for (size_t i = 0; i < ids.size(); i++) {
            bytes += (i ? std::string(1, '\0') : std::string()) + ids[i];
        }
        return sim::Raw(bytes);
    }
    return sim::MultiSz(ids);
}

Scenario FromJson(const nlohmann::json& j) {
    Scenario sc;
    sc.name = j.at("name");
    sc.codePage = j.at("codepage");
    sc.recordBefore = j.at("record_before");
    sc.deviceListError = j.at("device_list_error");
    sc.keyCreationError = j.at("key_creation_error");
    sc.restart = j.at("restart");
    sc.result = j.at("result");
    sc.record = j.at("record");
    sc.run = j.at("run").get<std::vector<std::string>>();
    sc.simOnly = j.at("sim_only");
    sc.hasCommand = !j.at("command").is_null();
    if (sc.hasCommand) {
        sc.command = j.at("command").get<std::vector<std::string>>();
    }
    sc.exit = j.at("exit");
    sc.stderrLines = j.at("stderr").get<std::vector<std::string>>();
    sc.wow64 = j.at("wow64");
    sc.administrator = j.at("administrator");
    sc.windows = j.at("windows").get<std::vector<int>>();
    sc.arm64 = j.at("arm64");
    sc.installerRefuses = j.at("installer_refuses");
    sc.hiddenProcs = j.at("hidden_procs").get<std::vector<std::string>>();
    sc.readings = j.at("readings").get<std::vector<std::string>>();
    sc.exits = j.at("exits").get<std::vector<DWORD>>();
    for (const auto& p : j.at("plugs")) {
        sc.silentPlugs.push_back(p.at("silent").get<bool>());
        sc.plugs.emplace_back(
            p.at("at").get<DWORD>(),
            std::make_pair(p.at("instance_id").get<std::string>(), p.at("plugged").get<bool>()));
    }
    for (const auto& e : j.at("console_events")) {
        sc.consoleEvents.emplace_back(e.at("pause").get<size_t>(), e.at("event").get<DWORD>());
    }
    for (const auto& h : j.at("json_has")) {
        sc.jsonHas.emplace_back(h.at("path").get<std::string>(), h.at("value").dump());
    }
    for (const auto& u : j.at("usage")) {
        sc.usage.emplace_back(u.at("args").get<std::vector<std::string>>(),
                              u.at("message").get<std::string>());
    }
    sc.deviceListFailures = j.at("device_list_failures");
    sc.rightsUnknown = j.at("rights_unknown");
    sc.stdoutFull = j.at("stdout_full");
    sc.childrenReturn = (sim::ChildrenReturn)j.at("children_return").get<int>();
    sc.notifications = j.at("notifications").get<std::vector<std::string>>();
    sc.jsonLines = j.at("json_lines");
    sc.json = !j.at("json_names").is_null() || !sc.jsonHas.empty();
    sc.jsonLines = j.at("json_lines");
    if (!j.at("json_names").is_null()) {
        sc.jsonNames = j.at("json_names").get<std::vector<std::string>>();
    }
    for (const auto& text : j.at("expect")) {
        sc.expect.push_back(ToCodePage(text.get<std::string>(), sc.codePage));
    }
    for (const auto& d : j.at("devices")) {
        sim::Device dev;
        dev.instanceId = d.at("instance_id");
        dev.present = d.at("present");
        if (!d.at("hardware").is_null()) {
            dev.hardwareIds = IdProperty(d.at("hardware"), sc.codePage);
        }
        if (!d.at("compatible").is_null()) {
            dev.compatibleIds = IdProperty(d.at("compatible"), sc.codePage);
        }
        dev.failHardwareIds = d.at("hardware_error");
        dev.failCompatibleIds = d.at("compatible_error");
        for (const auto& i : d.at("interfaces")) {
            GUID guid;
            if (!ReadInterfaceClassGuid(i.at("guid").get<std::string>().c_str(), &guid)) {
                std::cerr << "not a GUID in scenario " << sc.name << "\n";
                std::abort();
            }
            // An interface that is not present: its driver has not enabled it.
            if (!i.at("linked").get<bool>()) {
                dev.unlinkedInterfaces.insert(dev.interfaces.size());
            }
            dev.interfaces.push_back(guid);
        }
        // Shared with Wine, whose status read succeeds and writes nothing.
        dev.statusWritesNothing = !sc.simOnly;
        dev.parent = d.at("parent");
        dev.defersChanges = d.at("defers_changes");
        for (const auto& f : d.at("installer_fails")) {
            dev.failInstaller[{f.at("state"), f.at("scope")}] = f.at("error");
        }
        for (const auto& f : d.at("fails_after_writing")) {
            dev.failAfterWriting[{f.at("state"), f.at("scope")}] = f.at("error");
        }
        for (const auto& v : d.at("vetoes")) {
            dev.vetoed.insert(sim::StateScope(v.at("state"), v.at("scope")));
        }
        if (!d.at("disableable").get<bool>()) {
            dev.status &= ~(ULONG)DN_DISABLEABLE;
        }
        dev.disabledGlobal = d.at("disabled");
        dev.disableRefusalWrites = d.at("disable_refusal_writes");
        dev.profileKeyMissing = d.at("profile_key_missing");
        dev.failStatus = d.at("status_error");
        dev.problem = d.at("problem");
        if (d.at("problem_bit").get<bool>()) {
            dev.status |= DN_HAS_PROBLEM;
        }
        dev.installerMs = j.at("installer_ms");
        sc.devices.push_back(dev);
    }
    return sc;
}

} // namespace

std::vector<Scenario> LoadScenarios(const std::string& set) {
    const std::string path = std::string(SCENARIO_JSON_DIR) + "/" + set + ".json";
    std::ifstream in(path);
    if (!in) {
        std::cerr << path << ": cannot be read\n";
        std::abort();
    }
    std::vector<Scenario> all;
    try {
        for (const auto& j : nlohmann::json::parse(in)) {
            all.push_back(FromJson(j));
        }
    } catch (const nlohmann::json::exception& e) {
        std::cerr << path << ": " << e.what() << "\n";
        std::abort();
    }
    return all;
}

void PlantScenario(const Scenario& sc) {
    sim::Reset();
    sim::SetCodePage(sc.codePage);
    sim::RunAsWindows8(sc.windows8);
    sim::RunAsWow64(sc.wow64);
    sim::RunAsAdministrator(sc.administrator, sc.rightsUnknown != "sid",
                            sc.rightsUnknown != "membership");
    sim::RunOnArm64(sc.arm64);
    sim::RefuseEveryChange(sc.installerRefuses);
    sim::TreatAbsentNodeChange(sc.reading);
    sim::ReturnChildren(sc.childrenReturn);
    for (const std::string& name : sc.hiddenProcs) {
        sim::HideProc(name);
    }
    for (size_t i = 0; i < sc.plugs.size(); i++) {
        sim::PlugAt(sc.plugs[i].first, sc.plugs[i].second.first, sc.plugs[i].second.second,
                    sc.silentPlugs[i]);
    }
    auto has = [&](const char* word) {
        return std::find(sc.notifications.begin(), sc.notifications.end(), word) !=
               sc.notifications.end();
    };
    // "window": Windows before 8, where only the window messages are to be had; "refused":
    // neither registers, as under Wine or for a service without a window station.
    sim::RefuseNotifications(has("window") || has("refused"), has("refused"));
    sim::LoseNotifications(has("lost"));
    sim::DuplicateNotifications(has("duplicated"));
    for (const auto& e : sc.consoleEvents) {
        sim::RaiseConsoleEventDuringPause(e.first, e.second);
    }
    sim::FailDeviceList(sc.deviceListError, sc.deviceListFailures);
    sim::FailKeyCreation(sc.keyCreationError);
    if (sc.recordBefore != "absent") {
        sim::SetValue(kRecordKey, kOtherValue, {REG_SZ, std::string("kept", 5)});
        if (sc.recordBefore != "key") {
            const DWORD value = (DWORD)std::stoul(sc.recordBefore);
            sim::SetValue(kRecordKey, kRecordValue,
                          {REG_DWORD, std::string((const char*)&value, sizeof(value))});
        }
    }
    for (const sim::Device& d : sc.devices) {
        sim::AddDevice(d.instanceId) = d;
    }
}

std::string RecordText() {
    // Whatever else the key held stays as it was.
    if (sim::KeyExists(kRecordKey) && sim::QueryValue(kRecordKey, kOtherValue)) {
        const sim::RegValue other = *sim::QueryValue(kRecordKey, kOtherValue);
        if (other.type != REG_SZ || other.bytes != std::string("kept", 5)) {
            return "other value changed";
        }
    }
    auto value = sim::QueryValue(kRecordKey, kRecordValue);
    if (!value) {
        return "absent";
    }
    if (value->type != REG_DWORD || value->bytes.size() != sizeof(DWORD)) {
        return "malformed";
    }
    DWORD data;
    memcpy(&data, value->bytes.data(), sizeof(data));
    return std::to_string(data);
}

std::vector<std::string> PrintedLines(const std::function<void()>& run) {
    testing::internal::CaptureStdout();
    run();
    fflush(stdout);
    return SplitLines(testing::internal::GetCapturedStdout());
}

std::vector<std::string> SplitLines(const std::string& output) {
    std::vector<std::string> lines;
    size_t start = 0;
    for (size_t nl; (nl = output.find('\n', start)) != std::string::npos; start = nl + 1) {
        lines.push_back(output.substr(start, nl - start));
    }
    if (start != output.size()) {
        lines.push_back(output.substr(start) + "<no newline>");
    }
    return lines;
}

std::string ScenarioName(const testing::TestParamInfo<Scenario>& info) {
    std::string name = info.param.name;
    std::replace(name.begin(), name.end(), '-', '_');
    return name;
}
