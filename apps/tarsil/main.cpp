// tarsil: the storage tool, for people who keep archives of storage files.

#include <CLI/CLI.hpp>

#include "TarsilCommands.h"
#include "base/Trace.h"

int main(int argc, char** argv) {
    CLI::App app{"tarsil: format and inspect Tarsil storage files"};
    app.require_subcommand(1);
    bool trace = false;
    app.add_flag("--trace", trace, "Write diagnostic trace lines to stderr");

    TarsilCommands::FormatOptions format;
    CLI::App* formatCommand =
        app.add_subcommand("format", "Create a preallocated storage file of SIZE and format it");
    formatCommand->add_option("FILE", format.path, "The storage file to create")->required();
    formatCommand->add_option("--size", format.size, "File size: bytes, or a number with K, M, G or T")
        ->required();
    formatCommand->add_option("--page-size", format.pageSize,
                              "Page size in bytes, a multiple of 4096 (default 524288)");
    formatCommand->add_option("--repository", format.repository,
                              "Repository (storage group) ID; default: a new one");
    formatCommand->add_option("--description", format.description, "Description, at most 31 characters kept");

    std::string infoPath;
    bool json = false;
    int logLines = 20;
    CLI::App* infoCommand = app.add_subcommand("info", "Show a storage file without changing it");
    infoCommand->add_option("FILE", infoPath, "The storage file")->required();
    infoCommand->add_flag("--json", json, "Print JSON instead of text");
    infoCommand->add_option("--log-lines", logLines,
                            "How many of the newest storage log lines to show (default 20)");

    CLI11_PARSE(app, argc, argv);
    if (trace) {
        Trace::setEnabled(true);
    }
    if (formatCommand->parsed()) {
        return TarsilCommands::format(format);
    }
    return TarsilCommands::info(infoPath, json, logLines);
}
