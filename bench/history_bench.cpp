// A full history ring (255 pages, 65280 records) downloaded from kalvo-devsim over a
// pseudo-terminal: wall time against the line-rate floor of the bytes actually exchanged, and
// the CPU time the program used.
//
//   history_bench [--baud B] [--drop-percent P] [--corrupt-percent P] [--seed N]
//   (B: the simulator's pacing, 0 = unpaced, software overhead alone; P: lost requests and
//   corrupted answers. The CSV's hash tells whether a run under faults came out exact.)
#include <sys/resource.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "app/context.h"
#include "bench_support.h"
#include "support/process.h"
#include "support/recording_ui_port.h"
#include "support/temp_folder.h"

int main(int argc, char** argv) {
    using namespace kalvo;
    using namespace std::chrono;
    int baud = 230400;
    std::vector<std::string> faults;
    for (int i = 1; i + 1 < argc; i += 2) {
        if (std::strcmp(argv[i], "--baud") == 0)
            baud = std::stoi(argv[i + 1]);
        else
            faults.insert(faults.end(), {argv[i], argv[i + 1]});
    }

    test::TempFolder folder;
    test::Environment env{{"KALVO_PORTS_DIR", folder.File("ports")}};
    std::vector<std::string> simArgs{KALVO_DEVSIM_PATH, "--com", "7", "--history", "full", "--baud", std::to_string(baud),
                                     "--clock", "2026-12-08 10:00:00"};
    simArgs.insert(simArgs.end(), faults.begin(), faults.end());
    test::Process sim(simArgs, env);
    if (!sim.ReadLine(seconds(10))) return 1;

    test::RecordingUiPort ui;
    AppContext context(ui, PortDirectory(folder.File("ports"), false));
    context.connection.Action_Connection_Manual_NumberExecute("7");
    // Connect and identify as the window does (the tick at its own pace).
    for (int i = 0; i < 100 && !context.tick.DeviceRecognised(); ++i) {
        context.tick.Run();
        std::this_thread::sleep_for(milliseconds(100));
    }
    if (!context.tick.DeviceRecognised()) return 1;

    std::uint64_t written = context.port.BytesWritten();
    std::uint64_t read = context.port.BytesRead();
    double cpu = bench::CpuSeconds();
    auto start = steady_clock::now();
    context.history.BitBtn_HIS_ReadClick();
    double wall = duration<double>(steady_clock::now() - start).count();
    cpu = bench::CpuSeconds() - cpu;
    written = context.port.BytesWritten() - written;
    read = context.port.BytesRead() - read;
    if (!context.history.Loaded()) return 1;

    double floorAll = baud ? static_cast<double>(written + read) * 10.0 / baud : 0;
    double floorAnswers = baud ? static_cast<double>(read) * 10.0 / baud : 0;
    std::printf("history download, simulator pacing %d baud: %u records in %.3f s\n", baud,
                context.history.Store().RecordCount(), wall);
    std::printf("bytes on the line: %llu requests + %llu answers\n", static_cast<unsigned long long>(written),
                static_cast<unsigned long long>(read));
    if (baud) {
        std::printf("line-rate floor: %.3f s for both directions (%.1f %% of it), %.3f s for the answers alone "
                    "(the direction the simulator paces; %.1f %% of it)\n",
                    floorAll, wall / floorAll * 100, floorAnswers, wall / floorAnswers * 100);
    }
    std::printf("CPU (user+sys) of the program: %.3f s (%.1f %% of the wall time)\n", cpu, cpu / wall * 100);
    std::uint64_t hash = 1469598103934665603ULL;
    for (char c : context.history.Csv().Text()) hash = (hash ^ static_cast<unsigned char>(c)) * 1099511628211ULL;
    std::printf("repeated requests: %d; learnt answer time %.2f ms (+/- %.2f); CSV %zu bytes, FNV-1a %016llx\n",
                context.link.Channel(2)->repeatCounter + context.link.Channel(1)->repeatCounter,
                context.link.RoundTrip().SmoothedMs(), context.link.RoundTrip().DeviationMs(),
                context.history.Csv().Text().size(), static_cast<unsigned long long>(hash));
    return 0;
}
