// quillfen: the archiving station's command-line entry point.

#include <CLI/CLI.hpp>

#include <cstdio>
#include <string>

#include "ProbeCommand.h"
#include "StationCommands.h"
#include "base/Trace.h"

namespace {

void printVersion() {
    std::printf("quillfen %s\n", QUILLFEN_VERSION);
    std::printf("subsystems: %s\n", QUILLFEN_SUBSYSTEMS);
}

}  // namespace

int main(int argc, char** argv) {
    CLI::App app{"Quill Fen: archiving station for recorded surveillance media"};
    // Options of the program may also follow a command: `quillfen sites --data-dir DIR`.
    app.fallthrough();
    bool showVersion = false;
    bool trace = false;
    std::string dataDir;
    app.add_flag("--version", showVersion, "Print the version and the subsystems built, then exit");
    app.add_flag("--trace", trace, "Write diagnostic trace lines to stderr");
    app.add_option("--data-dir", dataDir,
                   "Folder of the configuration database app.db (default: $XDG_DATA_HOME/quillfen, "
                   "or ~/.local/share/quillfen)");

    CLI::App* sites = app.add_subcommand("sites", "List the sites: name, address, port, archiving and deleted flags");
    StationCommands::LogFilter filter;
    CLI::App* log = app.add_subcommand("log", "Show the system log, newest entry first");
    log->add_option("--from", filter.from, "First day to show (YYYY-MM-DD)");
    log->add_option("--to", filter.to, "Last day to show (YYYY-MM-DD)");
    log->add_option("--site", filter.site, "Only the entries of this site (its name or id)");
    ProbeCommand::Options probeOptions;
    CLI::App* probe = app.add_subcommand("probe", "Connect to a recorder, log in and show what it reports");
    probe->add_option("--address", probeOptions.address, "The recorder's host name or address")->required();
    probe->add_option("--port", probeOptions.port, "Its playback port")->required();
    probe->add_option("--user", probeOptions.user, "User name to log in with");
    probe->add_option("--password", probeOptions.password, "Password to log in with");
    probe->add_flag("--json", probeOptions.json, "Print JSON instead of text");
    app.require_subcommand(0, 1);
    CLI11_PARSE(app, argc, argv);

    if (trace) {
        Trace::setEnabled(true);
    }
    if (showVersion || argc == 1) {
        printVersion();
        return 0;
    }
    if (probe->parsed()) {
        return ProbeCommand::run(probeOptions);
    }
    if (sites->parsed() || log->parsed()) {
        if (!StationCommands::openData(dataDir)) {
            return 1;
        }
        return sites->parsed() ? StationCommands::listSites() : StationCommands::showLog(filter);
    }
    return 0;
}
