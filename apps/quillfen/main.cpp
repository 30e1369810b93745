// quillfen: the archiving station's command-line entry point.

#include <CLI/CLI.hpp>

#include <cstdio>
#include <string>

#include "ClientCommands.h"
#include "ProbeCommand.h"
#include "StationCommands.h"
#include "app/ui/CQuillfenApp.h"
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

    CQuillfenApp::Options runOptions;
    CLI::App* run = app.add_subcommand("run", "Run the station: archive every site, serve the local web API on 127.0.0.1");
    run->add_option("--storage-dir", runOptions.storageDir,
                    "Folder for new storage groups (default: ~/Documents/OLVIK Quill Fen Storages)");
    run->add_option("--port", runOptions.port, "Port of the web API on 127.0.0.1 (default: a free one)");

    CLI::App* site = app.add_subcommand("site", "Add, change, start, stop or delete a site of the running station");
    site->require_subcommand(1);
    ClientCommands::AddOptions add;
    CLI::App* siteAdd = site->add_subcommand("add", "Add a site and create its storage group");
    siteAdd->add_option("--name", add.name, "Site name")->required();
    siteAdd->add_option("--address", add.address, "Recorder host name or address")->required();
    siteAdd->add_option("--port", add.port, "Playback port (1501..32001, default 10102)");
    siteAdd->add_option("--user", add.user, "User name to log in with")->required();
    siteAdd->add_flag("--password-stdin", add.passwordStdin, "Read the password from standard input, not a prompt");
    siteAdd->add_option("--start", add.start, "Archive from: first, last or time (default first)")
        ->check(CLI::IsMember({"first", "last", "time"}));
    siteAdd->add_option("--start-time", add.startTime, "With --start time: YYYY/MM/DD HH:MM:SS");
    siteAdd->add_option("--hours", add.hours, "Archive only between HH:MM:SS-HH:MM:SS (default: always)");
    siteAdd->add_flag("--no-overwrite", add.noOverwrite, "Stop when the group is full instead of overwriting");
    siteAdd->add_option("--storages", add.storages, "Number of storage files to create (1..100, default 1)");
    siteAdd->add_option("--size", add.sizeGB, "Size of each storage file in GB (at least 0.5, default 4)");
    siteAdd->add_flag("--no-storages", add.noStorages, "Create the group without storage files");
    siteAdd->add_option("--group-file", add.groupFile, "Path of the group file (default: in the storage folder)");
    siteAdd->add_flag("--same-name", add.sameName, "Add the site even though another one has the name");
    siteAdd->add_flag("--overwrite-group-file", add.overwriteGroupFile, "Replace a group file that exists");

    ClientCommands::SiteOptions siteOptions;
    auto siteVerb = [&](const char* verb, const char* help) {
        CLI::App* command = site->add_subcommand(verb, help);
        command->add_option("NAME", siteOptions.name, "The site's name or id")->required();
        command->callback([&siteOptions, verb] { siteOptions.verb = verb; });
        return command;
    };
    siteVerb("start", "Start archiving the site");
    siteVerb("stop", "Stop archiving the site");
    CLI::App* update = siteVerb("update", "Change the site's address, port, user or password");
    update->add_option("--address", siteOptions.address, "New recorder address");
    update->add_option("--port", siteOptions.port, "New playback port");
    update->add_option("--user", siteOptions.user, "New user name");
    update->add_flag("--password-stdin", siteOptions.passwordStdin, "Read a new password from standard input");
    siteVerb("rename", "Rename the site")->add_option("NEW-NAME", siteOptions.newName, "The new name")->required();
    siteVerb("overwrite", "Overwrite the oldest recording when full: on or off")
        ->add_option("ON-OFF", siteOptions.overwrite, "on or off")
        ->required();
    siteVerb("hours", "Archive always, or only between two times of day")
        ->add_option("HOURS", siteOptions.hours, "always, or HH:MM:SS-HH:MM:SS")
        ->required();
    CLI::App* reschedule = siteVerb("reschedule", "Give the site a new start point");
    reschedule->add_option("--start", siteOptions.start, "first, last or time")
        ->required()
        ->check(CLI::IsMember({"first", "last", "time"}));
    reschedule->add_option("--start-time", siteOptions.startTime, "With --start time: YYYY/MM/DD HH:MM:SS");
    siteVerb("delete", "Delete the site (its row stays for the log)")
        ->add_flag("--delete-files", siteOptions.deleteFiles, "Also delete its storage files and group file");

    CLI::App* startAll = app.add_subcommand("start-all", "Start every site that is not archiving");
    CLI::App* stopAll = app.add_subcommand("stop-all", "Stop every site that is archiving");
    bool stopAllYes = false;
    stopAll->add_flag("--yes", stopAllYes, "Do not ask on a terminal");
    bool statusJson = false;
    bool statusWatch = false;
    CLI::App* status = app.add_subcommand("status", "Show every site: status, usage, speed, period, lag");
    status->add_flag("--json", statusJson, "Print JSON instead of text");
    status->add_flag("--watch", statusWatch, "Refresh every two seconds until Ctrl-C");
    app.require_subcommand(0, 1);
    CLI11_PARSE(app, argc, argv);

    if (trace) {
        Trace::setEnabled(true);
    }
    if (showVersion || argc == 1) {
        printVersion();
        return 0;
    }
    if (run->parsed()) {
        runOptions.dataDir = dataDir;
        return CQuillfenApp::run(runOptions);
    }
    if (siteAdd->parsed()) {
        return ClientCommands::addSite(dataDir, add);
    }
    if (site->parsed()) {
        return ClientCommands::site(dataDir, siteOptions);
    }
    if (startAll->parsed()) {
        return ClientCommands::startAll(dataDir);
    }
    if (stopAll->parsed()) {
        return ClientCommands::stopAll(dataDir, stopAllYes);
    }
    if (status->parsed()) {
        return ClientCommands::status(dataDir, statusJson, statusWatch);
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
