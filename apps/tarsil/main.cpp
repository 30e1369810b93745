// tarsil: the storage tool, for people who keep archives of storage files.

#include <CLI/CLI.hpp>

#include "TarsilCheck.h"
#include "TarsilCommands.h"
#include "TarsilGroupCommands.h"
#include "base/Trace.h"

int main(int argc, char** argv) {
    CLI::App app{"tarsil: format, inspect, check and repair Tarsil storage files and storage groups"};
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

    std::string checkPath;
    bool checkJson = false;
    bool repair = false;
    CLI::App* checkCommand = app.add_subcommand(
        "check", "Check a storage file without changing it (exit 0 sound, 1 needs correction, 2 cannot be opened)");
    checkCommand->add_option("FILE", checkPath, "The storage file")->required();
    checkCommand->add_flag("--json", checkJson, "Print JSON instead of text");
    checkCommand->add_flag("--repair", repair,
                           "Open the file for writing, which corrects it, and show what the correction did");

    CLI::App* groupCommand = app.add_subcommand("group", "Make, show and change storage groups (.strgx files)");
    groupCommand->require_subcommand(1);
    TarsilGroupCommands::CreateOptions create;
    CLI::App* createCommand = groupCommand->add_subcommand(
        "create", "Write a new group file and N new storage files of SIZE, formatted and listed in it");
    createCommand->add_option("GROUP", create.groupPath, "The group file to create (NAME.strgx)")->required();
    createCommand->add_option("--repository", create.repository, "The group's repository (site) ID")->required();
    createCommand->add_option("--storages", create.storages, "How many storage files")->required();
    createCommand->add_option("--size", create.size, "Size of each storage file: bytes, or with K, M, G or T")
        ->required();
    createCommand->add_option("--dir", create.directory,
                              "Folder of the storage files \"NAME 1.strg\" ... (default: the group file's)");
    createCommand->add_option("--page-size", create.pageSize, "Page size in bytes (default 524288)");
    std::string groupPath;
    bool groupJson = false;
    CLI::App* groupInfoCommand =
        groupCommand->add_subcommand("info", "Show a group and its storages without changing them");
    groupInfoCommand->add_option("GROUP", groupPath, "The group file")->required();
    groupInfoCommand->add_flag("--json", groupJson, "Print JSON instead of text");
    std::string storagePath;
    std::string addSize;
    uint32_t addPageSize = 524288;
    CLI::App* addCommand = groupCommand->add_subcommand("add", "List a storage file in a group");
    addCommand->add_option("GROUP", groupPath, "The group file")->required();
    addCommand->add_option("FILE", storagePath, "The storage file")->required();
    addCommand->add_option("--size", addSize, "Create and format FILE first, of this size");
    addCommand->add_option("--page-size", addPageSize, "Page size of a created FILE (default 524288)");
    CLI::App* removeCommand = groupCommand->add_subcommand("remove", "Take a storage file off a group's list");
    removeCommand->add_option("GROUP", groupPath, "The group file")->required();
    removeCommand->add_option("FILE", storagePath, "The storage file (it is kept)")->required();

    CLI11_PARSE(app, argc, argv);
    if (trace) {
        Trace::setEnabled(true);
    }
    if (formatCommand->parsed()) {
        return TarsilCommands::format(format);
    }
    if (checkCommand->parsed()) {
        return repair ? TarsilCheck::repair(checkPath, checkJson) : TarsilCheck::check(checkPath, checkJson);
    }
    if (createCommand->parsed()) {
        return TarsilGroupCommands::create(create);
    }
    if (groupInfoCommand->parsed()) {
        return TarsilGroupCommands::info(groupPath, groupJson);
    }
    if (addCommand->parsed()) {
        return TarsilGroupCommands::add(groupPath, storagePath, addSize, addPageSize);
    }
    if (removeCommand->parsed()) {
        return TarsilGroupCommands::remove(groupPath, storagePath);
    }
    return TarsilCommands::info(infoPath, json, logLines);
}
