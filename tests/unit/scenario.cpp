#include "tests/unit/scenario.h"

#include "census/census.h"
#include "tests/support/control_ops.h"

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <iconv.h>
#include <iostream>
#include <regex>
#include <sstream>

namespace {

[[noreturn]] void Malformed(const std::string& path, int line, const std::string& why) {
    std::cerr << path << ":" << line << ": " << why << "\n";
    std::abort();
}

std::string Expand(const std::string& text) {
    static const std::regex repeat(R"(\{(.+?)\*(\d+)\})");
    std::string out;
    auto it = std::sregex_iterator(text.begin(), text.end(), repeat);
    size_t last = 0;
    for (; it != std::sregex_iterator(); ++it) {
        out += text.substr(last, (size_t)it->position() - last);
        for (int i = 0; i < std::stoi((*it)[2]); i++) {
            out += (*it)[1];
        }
        last = (size_t)(it->position() + it->length());
    }
    return out + text.substr(last);
}

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

std::vector<std::string> IdList(const std::string& text, UINT codePage) {
    std::vector<std::string> ids;
    const std::string all = ToCodePage(Expand(text), codePage);
    if (all.empty()) {
        return ids;
    }
    size_t start = 0;
    for (size_t bar; (bar = all.find(" | ", start)) != std::string::npos; start = bar + 3) {
        ids.push_back(all.substr(start, bar - start));
    }
    ids.push_back(all.substr(start));
    return ids;
}

sim::Property Unterminated(const std::vector<std::string>& ids) {
    std::string bytes;
    for (size_t i = 0; i < ids.size(); i++) {
        bytes += (i ? std::string(1, '\0') : std::string()) + ids[i];
    }
    return sim::Raw(bytes);
}

} // namespace

std::vector<Scenario> LoadScenarios(const std::string& path) {
    std::ifstream in(path);
    if (!in) {
        Malformed(path, 0, "cannot be read");
    }
    std::vector<Scenario> all;
    std::string line;
    for (int n = 1; std::getline(in, line); n++) {
        const size_t first = line.find_first_not_of(' ');
        if (first == std::string::npos || line[first] == '#') {
            continue;
        }
        const size_t space = line.find(' ', first);
        const std::string word = line.substr(first, space - first);
        const std::string rest = space == std::string::npos ? "" : line.substr(space + 1);
        if (word == "scenario") {
            all.emplace_back();
            all.back().name = rest;
            continue;
        }
        if (all.empty()) {
            Malformed(path, n, "text before the first scenario");
        }
        Scenario& sc = all.back();
        sim::Device* dev = sc.devices.empty() ? nullptr : &sc.devices.back();
        const bool deviceWord = word.rfind("hardware", 0) == 0 || word == "times" ||
                                word.rfind("compatible", 0) == 0 ||
                                word.rfind("interface", 0) == 0 || word == "not-present";
        if (deviceWord && dev == nullptr) {
            Malformed(path, n, "'" + word + "' outside a device");
        }
        if (word == "sim-only") {
            sc.simOnly = true;
        } else if (word == "codepage") {
            sc.codePage = (UINT)std::stoul(rest);
        } else if (word == "record-before") {
            sc.recordBefore = rest;
        } else if (word == "device") {
            sc.devices.emplace_back();
            sc.devices.back().instanceId = rest;
        } else if (word == "times") {
            // The device stands n times, "{#}" in its instance ID counting from 0.
            const sim::Device tmpl = sc.devices.back();
            sc.devices.pop_back();
            for (int k = 0; k < std::stoi(rest); k++) {
                sc.devices.push_back(tmpl);
                std::string& id = sc.devices.back().instanceId;
                id.replace(id.find("{#}"), 3, std::to_string(k));
            }
        } else if (word == "hardware" || word == "compatible") {
            (word == "hardware" ? dev->hardwareIds : dev->compatibleIds) =
                sim::MultiSz(IdList(rest, sc.codePage));
        } else if (word == "hardware-sz" || word == "compatible-sz") {
            (word == "hardware-sz" ? dev->hardwareIds : dev->compatibleIds) =
                sim::Sz(ToCodePage(Expand(rest), sc.codePage));
        } else if (word == "hardware-unterminated" || word == "compatible-unterminated") {
            (word == "hardware-unterminated" ? dev->hardwareIds : dev->compatibleIds) =
                Unterminated(IdList(rest, sc.codePage));
        } else if (word == "interface" || word == "interface-unlinked") {
            GUID guid;
            if (!ParseGuid(rest.c_str(), &guid)) {
                Malformed(path, n, "not a GUID: " + rest);
            }
            dev->interfaces.push_back(guid);
            if (word == "interface-unlinked") {
                dev->enabled = false;
            } else if (!dev->enabled) {
                Malformed(path, n, "linked and unlinked interfaces on one device");
            }
        } else if (word == "run") {
            std::istringstream words(rest);
            for (std::string w; words >> w;) {
                sc.run.push_back(w);
            }
        } else if (word == "not-present") {
            dev->present = false;
        } else if (word == "hardware-fails") {
            dev->hardwareIdsError = (DWORD)std::stoul(rest);
        } else if (word == "compatible-fails") {
            dev->compatibleIdsError = (DWORD)std::stoul(rest);
        } else if (word == "fail-device-list") {
            sc.deviceListError = (DWORD)std::stoul(rest);
        } else if (word == "fail-key-creation") {
            sc.keyCreationError = (LONG)std::stol(rest);
        } else if (word == "expect") {
            sc.expect.push_back(ToCodePage(Expand(rest), sc.codePage));
        } else if (word == "expect-times") {
            const size_t gap = rest.find(' ');
            const std::string text = ToCodePage(Expand(rest.substr(gap + 1)), sc.codePage);
            sc.expect.insert(sc.expect.end(), std::stoul(rest.substr(0, gap)), text);
        } else if (word == "result") {
            sc.result = (DWORD)std::stoul(rest);
        } else if (word == "restart") {
            sc.restart = true;
        } else if (word == "record") {
            sc.record = rest;
        } else {
            Malformed(path, n, "unknown word '" + word + "'");
        }
    }
    return all;
}

void PlantScenario(const Scenario& sc) {
    sim::Reset();
    sim::SetCodePage(sc.codePage);
    sim::FailDeviceList(sc.deviceListError);
    sim::FailKeyCreation(sc.keyCreationError);
    if (sc.recordBefore != "absent") {
        sim::SetValue(szRecordKey, "unrelated", {REG_SZ, std::string("kept", 5)});
        if (sc.recordBefore != "key") {
            const DWORD value = (DWORD)std::stoul(sc.recordBefore);
            sim::SetValue(szRecordKey, szRecordValue,
                          {REG_DWORD, std::string((const char*)&value, sizeof(value))});
        }
    }
    for (const sim::Device& d : sc.devices) {
        sim::AddDevice(d.instanceId) = d;
    }
}

std::string RecordText() {
    auto value = sim::QueryValue(szRecordKey, szRecordValue);
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

std::vector<std::string> Lines(const std::string& output) {
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
