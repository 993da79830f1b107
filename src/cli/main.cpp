#include <iostream>

#include "cli/cli_commands.h"
#include "cli/console_ui_port.h"

int main(int argc, char** argv) {
    using namespace kalvo;
    std::optional<CliOptions> options = ParseCliArguments(argc, argv, std::cerr);
    if (!options) return kExitUsage;

    ConsoleUiPort ui(std::cerr, options->yes);
    AppContext context(ui, PortDirectory::FromEnvironment(), options->language);
    // The console's stand-in for the window's Timer_Proc.
    ui.timerProc = [&context] { context.tick.Run(); };

    int status = kExitFailure;
    if (options->command == "ports") {
        status = RunPorts(context, std::cout);
    } else if (options->command == "ping") {
        status = RunPing(context, *options, std::cout, std::cerr);
    } else if (options->command == "identify") {
        status = RunIdentify(context, ui, *options, std::cout, std::cerr);
    } else if (options->command == "history") {
        status = RunHistory(context, ui, *options, std::cout, std::cerr);
    } else if (options->command == "measure") {
        status = RunMeasure(context, ui, *options, std::cout, std::cerr);
    }
    context.port.Close();
    if (!options->logFile.empty() && !context.log.WriteFile(options->logFile)) {
        std::cerr << context.Pick("Не удалось записать лог в ", "Cannot write the report log to ")
                  << options->logFile << '\n';
        if (status == kExitOk) status = kExitFailure;
    }
    return status;
}
