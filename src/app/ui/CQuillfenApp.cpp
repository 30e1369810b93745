#include "app/ui/CQuillfenApp.h"

#include <unistd.h>

#include <csignal>

#include <cstdio>
#include <filesystem>
#include <memory>

#include <nlohmann/json.hpp>

#include "app/tables/ForeignDatabaseException.h"
#include "app/tables/SiteContainer.h"
#include "app/tables/SystemLogger.h"
#include "app/ui/CQuillfenDoc.h"
#include "app/ui/SchedulerAdapter.h"
#include "app/ui/StationServer.h"
#include "app/util/DataDirectory.h"
#include "base/DatabaseException.h"
#include "base/Date.h"
#include "base/Exception.h"
#include "base/InstanceLock.h"
#include "base/PrivateFile.h"
#include "base/ShutdownSignal.h"
#include "base/thread/Random.h"
#include "database/DataWarehouse.h"

namespace {

constexpr int BusyTimeoutMs = 5000;

void say(const std::string& line) {
    std::fprintf(stderr, "quillfen: %s\n", line.c_str());
    std::fflush(stderr);
}

std::string freshToken() {
    unsigned char bytes[32];
    Random::instance().fill(bytes, sizeof bytes);
    static const char* digits = "0123456789abcdef";
    std::string token;
    for (unsigned char byte : bytes) {
        token += digits[byte >> 4];
        token += digits[byte & 15];
    }
    return token;
}

// Where the station on `dataDir` listens, from its state file; empty when unknown.
std::string runningAddress(const std::filesystem::path& dataDir) {
    std::optional<std::string> text = PrivateFile::read((dataDir / DataDirectory::STATE_FILE).string());
    if (!text) {
        return "";
    }
    nlohmann::json state = nlohmann::json::parse(*text, nullptr, false);
    if (!state.is_object() || !state.contains("url")) {
        return "";
    }
    std::string address = state["url"].get<std::string>();
    if (state.contains("pid")) {
        address += " (pid " + std::to_string(state["pid"].get<long>()) + ")";
    }
    return address;
}

bool openDatabase(const std::filesystem::path& dataDir) {
    std::string path = DataDirectory::databasePath(dataDir).string();
    try {
        DataWarehouse::instance().open(path, BusyTimeoutMs);
        if (!SiteContainer::instance().load() || !SystemLogger::instance().open()) {
            say("cannot read the sites and log tables of " + path + " (run with --trace for details)");
            return false;
        }
    } catch (const ForeignDatabaseException& e) {
        say("cannot use " + path + ": " + messageOf(e));
        return false;
    } catch (const DatabaseException& e) {
        say("cannot open " + path + ": " + messageOf(e));
        return false;
    }
    for (const SiteContainer::LeftOutRow& row : SiteContainer::instance().leftOutRows()) {
        say("a row of the sites table is left out: " + row.reason + " (site '" + row.name + "')");
    }
    // The whole log, as the log view reads it.
    SystemLogger::instance().select(Date(1970, 1, 1), Date(2100, 12, 31));
    return true;
}

}  // namespace

int CQuillfenApp::run(const Options& options) {
    // Before any thread starts, so that only the wait below ever takes these signals.
    ShutdownSignal::block();

    std::filesystem::path dataDir;
    std::filesystem::path storageFolder;
    try {
        dataDir = DataDirectory::resolve(options.dataDir);
        DataDirectory::prepare(dataDir);
        storageFolder = DataDirectory::storageFolder(options.storageDir);
        DataDirectory::prepare(storageFolder);
    } catch (const Exception& e) {
        say("cannot use the data directory or the storage folder: " + std::string(messageOf(e)));
        return 1;
    }

    InstanceLock lock;
    try {
        if (!lock.acquire((dataDir / DataDirectory::LOCK_FILE).string())) {
            std::string address = runningAddress(dataDir);
            say("a station already runs on " + dataDir.string() +
                (address.empty() ? "" : ", listening on " + address));
            return 2;
        }
    } catch (const Exception& e) {
        say("cannot lock " + dataDir.string() + ": " + messageOf(e));
        return 1;
    }
    std::string statePath = (dataDir / DataDirectory::STATE_FILE).string();
    std::string tokenPath = (dataDir / DataDirectory::TOKEN_FILE).string();
    // A station that was killed leaves its state file behind; it names nobody now.
    std::filesystem::remove(statePath);

    if (!openDatabase(dataDir)) {
        return 1;
    }
    std::string token = freshToken();
    try {
        PrivateFile::write(tokenPath, token + "\n");
    } catch (const Exception& e) {
        say("cannot write the token file " + tokenPath + ": " + messageOf(e));
        DataWarehouse::instance().close();
        return 1;
    }

    SchedulerAdapter scheduler;
    auto document = std::make_unique<CQuillfenDoc>(scheduler, nullptr);
    document->open();
    document->initialiseSchedules();

    StationServer server(*document, scheduler, token, storageFolder.string());
    if (server.bind(options.port) < 0) {
        say("cannot listen on 127.0.0.1:" + std::to_string(options.port));
        document->close();
        DataWarehouse::instance().close();
        return 1;
    }
    server.start();
    std::string url = "http://127.0.0.1:" + std::to_string(server.port());
    try {
        nlohmann::json state = {{"url", url}, {"port", server.port()}, {"pid", static_cast<long>(::getpid())},
                                {"dataDir", dataDir.string()}, {"storageDir", storageFolder.string()}};
        PrivateFile::write(statePath, state.dump() + "\n");
    } catch (const Exception& e) {
        say("cannot write the state file " + statePath + ": " + messageOf(e));
    }
    std::printf("listening on %s\n", url.c_str());
    std::fflush(stdout);
    say("station on " + dataDir.string() + " listening on " + url + ", storages in " + storageFolder.string());

    int signal = ShutdownSignal::wait();
    say(std::string("stopping (") + (signal == SIGINT ? "SIGINT" : "SIGTERM") + "): every schedule flushes and closes its group");
    server.stop();
    document->close();
    document.reset();
    std::filesystem::remove(statePath);
    DataWarehouse::instance().close();
    say("stopped");
    return 0;
}
