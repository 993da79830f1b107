// Connection-test round trips against kalvo-devsim over a pseudo-terminal, and the CPU time
// the program spends on them. Also the CPU used while a transaction waits on a silent port.
//
//   ping_bench [--count K] [--baud B]   (B: the simulator's pacing, 0 = unpaced)
#include <sys/resource.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>

#include "app/context.h"
#include "bench_support.h"
#include "support/process.h"
#include "support/pty_peer.h"
#include "support/recording_ui_port.h"
#include "support/temp_folder.h"

int main(int argc, char** argv) {
    using namespace kalvo;
    using namespace std::chrono;
    int count = 2000;
    std::string baud = "230400";
    for (int i = 1; i + 1 < argc; i += 2) {
        if (std::strcmp(argv[i], "--count") == 0) count = std::stoi(argv[i + 1]);
        if (std::strcmp(argv[i], "--baud") == 0) baud = argv[i + 1];
    }

    test::TempFolder folder;
    test::Environment env{{"KALVO_PORTS_DIR", folder.File("ports")}};
    test::Process sim({KALVO_DEVSIM_PATH, "--com", "7", "--baud", baud}, env);
    if (!sim.ReadLine(seconds(10))) {
        std::fprintf(stderr, "simulator did not start\n");
        return 1;
    }

    test::RecordingUiPort ui;
    AppContext context(ui, PortDirectory(folder.File("ports"), false));
    context.port.SetPortNumber(7);
    if (!context.port.Open(kBaudRate)) return 1;
    const auto* pattern = reinterpret_cast<const std::uint8_t*>(kConnectionTestPattern.data());

    int ok = 0;
    double cpuStart = bench::CpuSeconds();
    auto start = steady_clock::now();
    for (int i = 0; i < count; ++i) ok += context.link.ConnectionTest(pattern, 8, false) == 1;
    double wall = duration<double>(steady_clock::now() - start).count();
    double cpu = bench::CpuSeconds() - cpuStart;
    context.port.Close();
    std::printf("simulator pacing %s baud: %d/%d round trips in %.3f s = %.0f per second\n", baud.c_str(), ok, count,
                wall, count / wall);
    std::printf("CPU (user+sys) of the program: %.1f us per round trip\n", cpu / count * 1e6);

    // A silent port: one full transaction of three attempts.
    test::PtyPeer silent(folder.File("ports"), 4);
    context.port.SetPortNumber(4);
    if (!context.port.Open(kBaudRate)) return 1;
    cpuStart = bench::CpuSeconds();
    start = steady_clock::now();
    int result = context.link.ConnectionTest(pattern, 8, false);
    wall = duration<double>(steady_clock::now() - start).count();
    cpu = bench::CpuSeconds() - cpuStart;
    std::printf("silent port: result %d after %.3f s, CPU %.2f ms while waiting (%.3f%% of one core)\n", result, wall,
                cpu * 1e3, cpu / wall * 100);
    return ok == count ? 0 : 1;
}
