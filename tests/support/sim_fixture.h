#pragma once
// kalvo-devsim as a separate process in a private ports folder, for end-to-end tests.
#include <fstream>
#include <sstream>

#include "support/process.h"
#include "support/temp_folder.h"

namespace kalvo::test {

inline std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

inline void WriteFileForTest(const std::string& path, const std::string& text) {
    std::ofstream(path, std::ios::binary) << text;
}

inline std::vector<std::string> SplitLines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

class SimFixture {
public:
    // A private data folder too: kalvo-cli keeps every download in its archive there.
    Environment Env() const {
        return {{"KALVO_PORTS_DIR", folder.File("ports")},
                {"KALVO_SYSTEM_PORTS", "0"},
                {"XDG_DATA_HOME", folder.File("data")}};
    }
    std::string PortsFolder() const { return folder.File("ports"); }
    std::string TraceFile() const { return folder.File("trace.txt"); }

    // Starts the simulator as COM n with a trace, and waits for its ready line.
    std::unique_ptr<Process> StartSim(int com, std::vector<std::string> extra = {}) {
        return StartSimIn(PortsFolder(), com, std::move(extra));
    }

    // The same in another ports folder.
    std::unique_ptr<Process> StartSimIn(const std::string& ports, int com, std::vector<std::string> extra = {}) {
        std::vector<std::string> argv{KALVO_DEVSIM_PATH, "--com", std::to_string(com), "--trace", TraceFile()};
        argv.insert(argv.end(), extra.begin(), extra.end());
        auto sim = std::make_unique<Process>(argv, Environment{{"KALVO_PORTS_DIR", ports}});
        auto ready = sim->ReadLine(std::chrono::seconds(10));
        if (!ready || ready->rfind("kalvo-devsim: COM " + std::to_string(com) + " ", 0) != 0) {
            sim->Wait();
            throw std::runtime_error("kalvo-devsim did not start: " + sim->Err());
        }
        return sim;
    }

    // Runs kalvo-cli to its end; `dataHome`: another data folder (archive) than the fixture's.
    std::unique_ptr<Process> Cli(std::vector<std::string> args, const std::string& dataHome = "") {
        args.insert(args.begin(), KALVO_CLI_PATH);
        Environment env = Env();
        if (!dataHome.empty()) env["XDG_DATA_HOME"] = dataHome;
        auto cli = std::make_unique<Process>(args, env);
        cli->Wait();
        return cli;
    }

    // Requests in the trace ("ch1 01 02 ..."), in order.
    std::vector<std::string> TracedRequests() const {
        std::vector<std::string> requests;
        for (const std::string& line : SplitLines(ReadFile(TraceFile())))
            if (line.rfind("> ", 0) == 0) requests.push_back(line.substr(2));
        return requests;
    }

    TempFolder folder;
};

}  // namespace kalvo::test
