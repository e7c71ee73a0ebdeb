// donglectl wait and watch on the simulated platform's clock: the device lists an idle run takes
// per minute, and how long after the dongle's arrival it answers, for each way Windows tells of
// changes, beside polling. Prints a section of RESULTS.md.
//   wait_bench
#include "platform/sim/sim.h"

#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

int DongleCtlEntry(int argc, char** argv);

namespace {

const GUID kUsbDevice = {
    0xA5DCBF10, 0x6530, 0x11D2, {0x90, 0x1F, 0x00, 0xC0, 0x4F, 0xB9, 0x51, 0xED}};
// About ten minutes idle, then the dongle is plugged in, off the grid of any interval.
const DWORD kIdleMs = 603333;

struct Figures {
    double listsPerMinute;
    DWORD answeredAfterMs;
};

// Runs donglectl with these arguments, its output into a file; returns that output.
std::string Run(std::vector<std::string> args) {
    args.insert(args.begin(), "donglectl");
    std::vector<char*> argv;
    for (std::string& a : args) {
        argv.push_back(a.data());
    }
    char path[] = "/tmp/wait_bench.XXXXXX";
    const int fd = mkstemp(path);
    fflush(stdout);
    const int saved = dup(1);
    dup2(fd, 1);
    (void)DongleCtlEntry((int)args.size(), argv.data());
    fflush(stdout);
    dup2(saved, 1);
    close(saved);
    close(fd);
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    unlink(path);
    return text.str();
}

Figures Measure(const std::string& verb, bool configManager, bool window) {
    sim::Reset();
    sim::RefuseNotifications(!configManager, !window);
    sim::Device& d = sim::AddDevice("USB\\VID_7B2E&PID_2F40\\5&1A2B3C4D&0&2");
    d.hardwareIds = sim::MultiSz({"USB\\VID_7B2E&PID_2F40&REV_0100"});
    d.interfaces = {kUsbDevice};
    d.present = false;
    sim::PlugAt(kIdleMs, d.instanceId, true);
    const std::string out = Run({verb, "--timeout", "660"});
    // The lists taken while idle, before the arrival.
    long lists = 0;
    DWORD now = 0;
    for (const std::string& e : sim::Events()) {
        if (e.rfind("Wait ", 0) == 0 || e.rfind("Sleep ", 0) == 0) {
            now += (DWORD)std::stoul(e.substr(e.find(' ') + 1));
        }
        lists += e.rfind("ClassDevs", 0) == 0 && now < kIdleMs ? 1 : 0;
    }
    // wait answers and ends; watch's line carries the time it was said ("...T00:10:00.200Z").
    DWORD answered = sim::Now();
    const size_t at = out.find("Z arrived ");
    if (at != std::string::npos && at >= 12) {
        const std::string t = out.substr(at - 12, 12); // "00:10:00.200"
        answered = (DWORD)(std::stoi(t.substr(0, 2)) * 3600000 + std::stoi(t.substr(3, 2)) * 60000 +
                           std::stoi(t.substr(6, 2)) * 1000 + std::stoi(t.substr(9, 3)));
    }
    return {lists / (kIdleMs / 60000.0), answered - kIdleMs};
}

} // namespace

int main() {
    std::cout << "## wait and watch on the simulated clock\n\n"
              << "About ten minutes idle (603.3 s), then the dongle is plugged in "
                 "(`bench/wait_bench`, on the "
                 "simulated platform's clock: a device list takes no time there).\n\n"
              << "| verb | how changes are learnt | device lists per idle minute | vs polling "
                 "| answered after the arrival |\n"
              << "|---|---|---|---|---|\n";
    const struct {
        const char* mode;
        bool configManager;
        bool window;
    } modes[] = {{"polling (nothing registers)", false, false},
                 {"notifications (Windows 8 and later)", true, true},
                 {"window messages (XP and later)", false, true}};
    for (const char* verb : {"wait", "watch"}) {
        double polled = 1;
        for (const auto& m : modes) {
            const Figures f = Measure(verb, m.configManager, m.window);
            polled = m.configManager || m.window ? polled : f.listsPerMinute;
            std::printf("| %s | %s | %.1f | %.3f | %lu ms |\n", verb, m.mode, f.listsPerMinute,
                        f.listsPerMinute / polled, (unsigned long)f.answeredAfterMs);
        }
    }
    return 0;
}
