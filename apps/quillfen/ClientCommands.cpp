#include "ClientCommands.h"

#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <iostream>
#include <thread>

#include "StationClient.h"
#include "TextTable.h"

namespace ClientCommands {

namespace {

void error(const std::string& text) {
    std::fprintf(stderr, "quillfen: %s\n", TextTable::printable(text).c_str());
}

// The password from one line of standard input, or typed at a prompt that does not echo
// it. Never from the command line, where every user's process list would show it.
std::optional<std::string> readPassword(bool fromStdin) {
    std::string password;
    if (!fromStdin) {
        if (!::isatty(STDIN_FILENO)) {
            error("give the password on a terminal prompt or with --password-stdin");
            return std::nullopt;
        }
        std::fprintf(stderr, "Password: ");
        std::fflush(stderr);
        termios saved{};
        ::tcgetattr(STDIN_FILENO, &saved);
        termios quiet = saved;
        quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
        ::tcsetattr(STDIN_FILENO, TCSANOW, &quiet);
        std::getline(std::cin, password);
        ::tcsetattr(STDIN_FILENO, TCSANOW, &saved);
        std::fprintf(stderr, "\n");
    } else if (!std::getline(std::cin, password) && password.empty()) {
        password.clear();
    }
    if (!password.empty() && password.back() == '\r') {
        password.pop_back();
    }
    return password;
}

// "08:00:00-18:00:00" into its two times; false for anything else.
bool splitHours(const std::string& hours, std::string& start, std::string& stop) {
    size_t dash = hours.find('-');
    if (dash == std::string::npos) {
        return false;
    }
    start = hours.substr(0, dash);
    stop = hours.substr(dash + 1);
    return !start.empty() && !stop.empty();
}

std::string duration(const nlohmann::json& seconds) {
    if (!seconds.is_number()) {
        return "-";
    }
    long long s = seconds.get<long long>();
    char text[32];
    if (s >= 86400) {
        std::snprintf(text, sizeof text, "%lldd %02lldh", s / 86400, s % 86400 / 3600);
    } else {
        std::snprintf(text, sizeof text, "%02lld:%02lld:%02lld", s / 3600, s % 3600 / 60, s % 60);
    }
    return text;
}

std::string lastEventText(const nlohmann::json& site) {
    const nlohmann::json& event = site["lastEvent"];
    if (event["type"].get<int>() == 0) {
        return "-";
    }
    std::string text = event["logText"].get<std::string>();
    if (text.empty()) {
        text = "event " + std::to_string(event["type"].get<int>());
    }
    if (event["value"].get<int>() != 0) {
        text += " (" + std::to_string(event["value"].get<int>()) + ")";
    }
    if (!event["text"].get<std::string>().empty()) {
        text += " : " + event["text"].get<std::string>();
    }
    return text;
}

void printStatus(const nlohmann::json& sites) {
    if (sites.empty()) {
        std::printf("No sites. Add one with: quillfen site add --name NAME --address HOST --user USER\n");
        return;
    }
    TextTable table({"NAME", "ADDRESS", "STATUS", "USAGE", "SPEED", "ARCHIVED PERIOD", "ARCHIVED UP TO", "LAG",
                     "CATCH-UP", "LAST EVENT"});
    for (const nlohmann::json& site : sites) {
        const nlohmann::json& progress = site["progress"];
        std::string speed = site["speedText"].get<std::string>();
        double rate = progress["speed"].get<double>();
        if (rate > 0) {
            char text[32];
            std::snprintf(text, sizeof text, " %.1fx", rate);
            speed += text;
        }
        std::string upTo = site["lastArchived"].get<std::string>();
        table.addRow({site["name"].get<std::string>(),
                      site["address"].get<std::string>() + ":" + std::to_string(site["port"].get<int>()),
                      site["statusText"].get<std::string>(),
                      site["usedText"].get<std::string>() + " / " + site["capacityText"].get<std::string>(), speed,
                      site["period"].get<std::string>(), upTo.empty() ? "-" : upTo, duration(progress["lagSeconds"]),
                      duration(progress["catchUpSeconds"]), lastEventText(site)});
    }
    table.print(stdout);
}

int report(const std::optional<nlohmann::json>& answer, const char* done = nullptr) {
    if (!answer) {
        return 1;
    }
    if (answer->contains("warnings")) {
        for (const nlohmann::json& warning : (*answer)["warnings"]) {
            error(warning.get<std::string>());
        }
    }
    if (answer->contains("site") && (*answer)["site"].is_object()) {
        const nlohmann::json& site = (*answer)["site"];
        std::printf("%s: %s%s\n", TextTable::printable(site["name"].get<std::string>()).c_str(),
                    done != nullptr ? done : "",
                    TextTable::printable(site["statusText"].get<std::string>()).c_str());
    }
    return 0;
}

}  // namespace

int addSite(const std::string& dataDir, const AddOptions& options) {
    StationClient client;
    if (!client.connect(dataDir)) {
        return 1;
    }
    nlohmann::json body = {{"name", options.name},
                           {"address", options.address},
                           {"port", options.port},
                           {"user", options.user},
                           {"start", options.start},
                           {"overwrite", !options.noOverwrite},
                           {"createStorages", !options.noStorages},
                           {"storages", options.storages},
                           {"sizeGB", options.sizeGB},
                           {"sameName", options.sameName},
                           {"overwriteGroupFile", options.overwriteGroupFile}};
    if (!options.startTime.empty()) {
        body["startTime"] = options.startTime;
    }
    if (!options.groupFile.empty()) {
        body["groupFile"] = options.groupFile;
    }
    if (!options.hours.empty()) {
        std::string start, stop;
        if (!splitHours(options.hours, start, stop)) {
            error("--hours must be written HH:MM:SS-HH:MM:SS");
            return 1;
        }
        body["always"] = false;
        body["hoursStart"] = start;
        body["hoursStop"] = stop;
    }
    std::optional<std::string> password = readPassword(options.passwordStdin);
    if (!password) {
        return 1;
    }
    body["password"] = *password;
    std::optional<nlohmann::json> answer = client.post("/api/sites", body);
    return report(answer, "added, ");
}

int site(const std::string& dataDir, const SiteOptions& options) {
    StationClient client;
    if (!client.connect(dataDir)) {
        return 1;
    }
    std::optional<int> key = client.findSite(options.name);
    if (!key) {
        return 1;
    }
    std::string path = "/api/sites/" + std::to_string(*key) + "/" + options.verb;
    nlohmann::json body = nlohmann::json::object();
    if (options.verb == "update") {
        if (!options.address.empty()) {
            body["address"] = options.address;
        }
        if (options.port != 0) {
            body["port"] = options.port;
        }
        if (!options.user.empty()) {
            body["user"] = options.user;
        }
        if (options.passwordStdin) {
            std::optional<std::string> password = readPassword(true);
            if (!password) {
                return 1;
            }
            body["password"] = *password;
        }
    } else if (options.verb == "rename") {
        body["name"] = options.newName;
    } else if (options.verb == "overwrite") {
        if (options.overwrite != "on" && options.overwrite != "off") {
            error("overwrite takes on or off");
            return 1;
        }
        body["overwrite"] = options.overwrite == "on";
    } else if (options.verb == "hours") {
        std::string start, stop;
        if (options.hours == "always") {
            body["always"] = true;
        } else if (splitHours(options.hours, start, stop)) {
            body["start"] = start;
            body["stop"] = stop;
        } else {
            error("hours takes always or HH:MM:SS-HH:MM:SS");
            return 1;
        }
    } else if (options.verb == "reschedule") {
        body["start"] = options.start;
        if (!options.startTime.empty()) {
            body["startTime"] = options.startTime;
        }
    } else if (options.verb == "delete") {
        body["deleteFiles"] = options.deleteFiles;
    }
    std::optional<nlohmann::json> answer = client.post(path, body);
    if (answer && options.verb == "delete") {
        std::printf("%s: deleted%s\n", TextTable::printable(options.name).c_str(),
                    options.deleteFiles ? " with its storage files" : "; its storage files are kept");
    }
    if (answer && options.verb == "update" && !(*answer)["changed"].get<bool>()) {
        std::printf("%s: unchanged\n", TextTable::printable(options.name).c_str());
        return 0;
    }
    return report(answer);
}

int startAll(const std::string& dataDir) {
    StationClient client;
    if (!client.connect(dataDir)) {
        return 1;
    }
    std::optional<nlohmann::json> answer = client.post("/api/start-all", nlohmann::json::object());
    if (answer) {
        printStatus((*answer)["sites"]);
    }
    return answer ? 0 : 1;
}

int stopAll(const std::string& dataDir, bool yes) {
    // Asked on a terminal, as the station's own window asks; scripts say --yes or pipe.
    if (!yes && ::isatty(STDIN_FILENO)) {
        std::fprintf(stderr, "Do you want to stop all archiving schedules? [y/N] ");
        std::string answer;
        std::getline(std::cin, answer);
        if (answer != "y" && answer != "Y" && answer != "yes" && answer != "Yes") {
            return 1;
        }
    }
    StationClient client;
    if (!client.connect(dataDir)) {
        return 1;
    }
    std::optional<nlohmann::json> answer = client.post("/api/stop-all", nlohmann::json::object());
    if (answer) {
        printStatus((*answer)["sites"]);
    }
    return answer ? 0 : 1;
}

int status(const std::string& dataDir, bool json, bool watch) {
    StationClient client;
    if (!client.connect(dataDir)) {
        return 1;
    }
    bool first = true;
    for (;;) {
        std::optional<nlohmann::json> answer = client.get("/api/sites");
        if (!answer) {
            if (watch && !first) {
                std::printf("The station has stopped.\n");
                return 0;
            }
            return 1;
        }
        first = false;
        client.setQuiet(watch);
        if (watch && !json) {
            std::printf("\033[H\033[2J");
        }
        if (json) {
            std::printf("%s\n", (*answer)["sites"].dump(watch ? -1 : 2).c_str());
        } else {
            printStatus((*answer)["sites"]);
        }
        std::fflush(stdout);
        if (!watch) {
            return 0;
        }
        if (!json) {
            std::printf("\n(refreshing every 2 s; Ctrl-C to leave)\n");
            std::fflush(stdout);
        }
        std::this_thread::sleep_for(std::chrono::seconds(2));
    }
}

}  // namespace ClientCommands
