// How long the report upload can hold up shutdown, with the program's own time-outs, against a
// local FTP server in each way it can fail: nothing listening, connections never made
// (unreachable), a server that never answers, one that refuses APPE (three attempts 500 ms
// apart), one that refuses MKD, one that stops answering in the middle, and one that works. Also the CPU time the waits cost.
//
//   upload_bound_bench [--runs N]
#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>
#include <thread>

#include "app/report_log.h"
#include "app/session.h"
#include "bench_support.h"
#include "support/ftp_server.h"
#include "support/recording_ui_port.h"
#include "upload/report_upload.h"

int main(int argc, char** argv) {
    using namespace kalvo;
    using namespace std::chrono;
    int runs = 3;
    for (int i = 1; i + 1 < argc; i += 2)
        if (std::strcmp(argv[i], "--runs") == 0) runs = std::stoi(argv[i + 1]);

    struct Case {
        const char* name;
        test::FtpServerOptions options;
        bool down;
    } cases[] = {
        {"working server", {}, false},
        {"nothing listening", {}, true},
        {"unreachable (SYN unanswered)", {.blackhole = true}, false},
        {"silent server", {.silent = true}, false},
        {"APPE refused", {.perm = "elrdfmwMT"}, false},
        {"MKD refused", {.perm = "elradfwMT"}, false},
        {"never answers CWD", {.hang = "CWD"}, false},
        {"never answers APPE", {.hang = "APPE"}, false},
        {"never answers QUIT", {.hang = "QUIT"}, false},
    };
    std::printf("%-30s %10s %10s %10s  %s\n", "case", "min ms", "max ms", "cpu ms", "result");
    for (const Case& c : cases) {
        std::optional<test::FtpServer> ftp;
        if (!c.down) ftp.emplace(c.options);
        int port = ftp ? ftp->Port() : test::ClosedPort();
        double least = 1e9, most = 0, cpu = 0;
        bool ok = false;
        for (int run = 0; run < runs; ++run) {
            test::TempFolder temp;
            test::RecordingUiPort ui;
            // The retry wait really waits, as the window's does.
            ui.onWait = [](int ms) { std::this_thread::sleep_for(milliseconds(ms)); };
            ReportLog log;
            for (int i = 0; i < 500; ++i) log.LogLine("line " + std::to_string(i));
            UpdateServer server;
            server.host = "127.0.0.1";
            server.port = port;  // default time-outs
            double cpuBefore = bench::CpuSeconds();
            auto start = steady_clock::now();
            ReportUpload upload(log, log.Lines(), ui, DeviceIdentity{}, ReportFilePath(temp.Path()), server);
            ok = upload.UploadReport("", kServerLogBase, kServerReportName);
            double ms = duration<double, std::milli>(steady_clock::now() - start).count();
            cpu += (bench::CpuSeconds() - cpuBefore) * 1000.0 / runs;
            least = std::min(least, ms);
            most = std::max(most, ms);
        }
        std::printf("%-30s %10.0f %10.0f %10.1f  %s\n", c.name, least, most, cpu, ok ? "sent" : "not sent");
    }
    return 0;
}
