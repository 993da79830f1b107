// The whole firmware update against kalvo-devsim over a pseudo-terminal: wall time of the main
// image and the data image writes against their line-rate floors (the bytes of every request and
// answer exchanged, at 10 bits a byte), the restart waits apart, the whole update, the CPU time
// the program used, and what the read-back check adds.
//
//   update_bench [--baud B] [--model r630|r520] [--verify] [--drop-percent P] [--corrupt-percent P] [--seed N]
//
// The fault options go to the simulator: each request lost, or each answer corrupted on the
// wire, with the chance given, from the first request on.
#include <chrono>
#include <cstdio>
#include <cstring>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "app/context.h"
#include "bench_support.h"
#include "support/process.h"
#include "support/recording_ui_port.h"
#include "support/temp_folder.h"

namespace {

struct Mark {
    double at = 0;  // seconds since the start
    std::uint64_t written = 0;
    std::uint64_t read = 0;
};

}  // namespace

int main(int argc, char** argv) {
    using namespace kalvo;
    using namespace std::chrono;
    int baud = 230400;
    std::string model = "r630";
    bool verify = false;
    std::vector<std::string> faults;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--baud") == 0 && i + 1 < argc) baud = std::stoi(argv[++i]);
        else if (std::strcmp(argv[i], "--model") == 0 && i + 1 < argc) model = argv[++i];
        else if (std::strcmp(argv[i], "--verify") == 0) verify = true;
        else if ((std::strcmp(argv[i], "--drop-percent") == 0 || std::strcmp(argv[i], "--corrupt-percent") == 0 ||
                  std::strcmp(argv[i], "--seed") == 0) &&
                 i + 1 < argc) {
            faults.push_back(argv[i]);
            faults.push_back(argv[++i]);
        }
    }

    test::TempFolder folder;
    test::Environment env{{"KALVO_PORTS_DIR", folder.File("ports")}};
    std::vector<std::string> simArguments{KALVO_DEVSIM_PATH, "--com", "7", "--model", model, "--baud", std::to_string(baud),
                                          "--exact-line"};
    simArguments.insert(simArguments.end(), faults.begin(), faults.end());
    test::Process sim(simArguments, env);
    if (!sim.ReadLine(seconds(10))) return 1;

    test::RecordingUiPort ui;
    AppContext context(ui, PortDirectory(folder.File("ports"), false));
    // The window's Timer_Proc during the waits of the restarts.
    ui.onWait = [&context](int milliseconds) {
        const auto end = steady_clock::now() + std::chrono::milliseconds(milliseconds);
        while (steady_clock::now() < end) {
            context.tick.Run();
            std::this_thread::sleep_for(std::min<steady_clock::duration>(std::chrono::milliseconds(100),
                                                                        end - steady_clock::now()));
        }
    };
    context.connection.Action_Connection_Manual_NumberExecute("7");
    for (int i = 0; i < 100 && !context.tick.DeviceRecognised(); ++i) ui.Wait(100);
    if (!context.tick.DeviceRecognised()) return 1;

    // Where each write begins and ends, from its report-log lines.
    const auto start = steady_clock::now();
    std::map<std::string, Mark> marks;
    std::string phase;
    context.log.SetObserver([&](const std::string& line) {
        Mark mark{duration<double>(steady_clock::now() - start).count(), context.port.BytesWritten(),
                  context.port.BytesRead()};
        if (line == "# Updating TRV8") phase = "main";
        if (line == "# Updating EFL") phase = "data";
        if (line == "#  Written: 0%" || line == "# WRITING: 0% bytes") marks[phase + ".begin"] = mark;
        if (phase == "main" && line == std::string(39, '#') && marks.count("main.begin")) marks["main.end"] = mark, phase.clear();
        if (phase == "data" && line.rfind("# REP_CNT:", 0) == 0) marks["data.end"] = mark, phase.clear();
    });

    context.firmware.allowStandIn = true;
    context.firmware.verifyAfterWriting = verify;
    ui.answers = {true};  // the confirmation; a retry would be answered No
    const double cpuBefore = bench::CpuSeconds();
    const UpdateOutcome outcome = context.firmware.UpdateFirmware();
    const double wall = duration<double>(steady_clock::now() - start).count();
    const double cpu = bench::CpuSeconds() - cpuBefore;
    context.log.SetObserver({});
    if (outcome != UpdateOutcome::Updated) {
        std::printf("update failed\n");
        return 1;
    }

    std::string faultText;
    for (const std::string& each : faults) faultText += " " + each;
    std::printf("firmware update of a simulated %s, pacing %d baud%s%s%s\n", model.c_str(), baud, verify ? ", verify" : "",
                faults.empty() ? "" : ", faults:", faultText.c_str());
    for (const char* name : {"main", "data"}) {
        const Mark& begin = marks[std::string(name) + ".begin"];
        const Mark& end = marks[std::string(name) + ".end"];
        const double seconds = end.at - begin.at;
        const std::uint64_t written = end.written - begin.written, read = end.read - begin.read;
        std::printf("%s image write: %.3f s; %llu request + %llu answer bytes", name, seconds,
                    static_cast<unsigned long long>(written), static_cast<unsigned long long>(read));
        if (baud) {
            const double floorBoth = static_cast<double>(written + read) * 10.0 / baud;
            const double floorAnswers = static_cast<double>(read) * 10.0 / baud;
            std::printf("; floor %.3f s both directions (%.1f %%), %.3f s answers alone (%.1f %%)", floorBoth,
                        seconds / floorBoth * 100, floorAnswers, seconds / floorAnswers * 100);
        }
        std::printf("\n");
    }
    const UpdateTimes& times = context.firmware.Times();
    std::printf("restarts (three, with their waits): %.3f s\n", static_cast<double>(times.restartMs) / 1000);
    if (verify) std::printf("read-back check of both images: %.3f s\n", static_cast<double>(times.verifyMs) / 1000);
    std::printf("whole update: %.3f s; CPU (user+sys) of the program: %.3f s (%.1f %% of the wall time)\n", wall, cpu,
                cpu / wall * 100);
    return 0;
}
