#include "StationClient.h"

#include <httplib.h>
#include <strings.h>

#include <cstdio>
#include <vector>

#include "TextTable.h"
#include "app/util/DataDirectory.h"
#include "base/Exception.h"
#include "base/PrivateFile.h"

namespace {

void error(const std::string& text) {
    std::fprintf(stderr, "quillfen: %s\n", TextTable::printable(text).c_str());
}

std::string trimmed(std::string text) {
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == ' ')) {
        text.pop_back();
    }
    return text;
}

}  // namespace

bool StationClient::connect(const std::string& dataDir) {
    std::filesystem::path dir;
    try {
        dir = DataDirectory::resolve(dataDir);
    } catch (const Exception& e) {
        error(std::string("cannot find the data directory: ") + messageOf(e));
        return false;
    }
    std::optional<std::string> state = PrivateFile::read((dir / DataDirectory::STATE_FILE).string());
    std::optional<std::string> token = PrivateFile::read((dir / DataDirectory::TOKEN_FILE).string());
    nlohmann::json json = state ? nlohmann::json::parse(*state, nullptr, false) : nlohmann::json();
    if (!state || !token || !json.is_object() || !json.contains("port")) {
        error("no station is running on " + dir.string() + " (start it with: quillfen run --data-dir " + dir.string() +
              ")");
        return false;
    }
    _port = json["port"].get<int>();
    _token = trimmed(*token);
    return true;
}

std::optional<nlohmann::json> StationClient::get(const std::string& path) {
    return send("GET", path, nullptr);
}

std::optional<nlohmann::json> StationClient::post(const std::string& path, const nlohmann::json& body) {
    return send("POST", path, &body);
}

std::optional<nlohmann::json> StationClient::send(const std::string& method, const std::string& path,
                                                  const nlohmann::json* body) {
    httplib::Client client(_host, _port);
    client.set_connection_timeout(5, 0);
    client.set_read_timeout(120, 0);
    httplib::Headers headers = {{"Authorization", "Bearer " + _token}};
    httplib::Result result = method == "GET" ? client.Get(path, headers)
                                             : client.Post(path, headers, body->dump(), "application/json");
    if (!result) {
        if (_quiet) {
            return std::nullopt;
        }
        error("the station on 127.0.0.1:" + std::to_string(_port) + " does not answer (" +
              httplib::to_string(result.error()) + "); is it running?");
        return std::nullopt;
    }
    nlohmann::json answer = nlohmann::json::parse(result->body, nullptr, false);
    if (result->status < 200 || result->status >= 300) {
        if (answer.is_object() && answer.contains("error")) {
            std::string message = answer["error"].get<std::string>();
            error(message);
        } else {
            error("the station refused the request (HTTP " + std::to_string(result->status) + ")");
        }
        return std::nullopt;
    }
    if (answer.is_discarded()) {
        error("the station's answer is no JSON");
        return std::nullopt;
    }
    return answer;
}

std::optional<int> StationClient::findSite(const std::string& name) {
    std::optional<nlohmann::json> list = get("/api/sites");
    if (!list) {
        return std::nullopt;
    }
    std::vector<int> found;
    for (const nlohmann::json& site : (*list)["sites"]) {
        if (strcasecmp(site["id"].get<std::string>().c_str(), name.c_str()) == 0) {
            return site["key"].get<int>();
        }
        if (site["name"].get<std::string>() == name) {
            found.push_back(site["key"].get<int>());
        }
    }
    if (found.size() == 1) {
        return found.front();
    }
    if (found.empty()) {
        error("no site is named '" + name + "' (see: quillfen status)");
    } else {
        error(std::to_string(found.size()) + " sites are named '" + name + "'; give the id instead (see: quillfen status --json)");
    }
    return std::nullopt;
}
