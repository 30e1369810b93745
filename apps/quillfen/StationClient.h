#pragma once

#include <optional>
#include <string>

#include <nlohmann/json.hpp>

// The command line's way into a running station: it finds the station of a data
// directory through its state file, reads the access token from the token file and sends
// one request to the station's web API. Errors are one line on stderr ("quillfen: ...").
class StationClient {
public:
    // Empty `dataDir` means the default folder. False (after the error line) when no
    // station runs on it.
    bool connect(const std::string& dataDir);

    // The answer's JSON for a 2xx answer; otherwise none, after the error line (the
    // station's own message when it gave one).
    std::optional<nlohmann::json> get(const std::string& path);
    std::optional<nlohmann::json> post(const std::string& path, const nlohmann::json& body);

    // The key of the active site named `name` (or with that id); none after the error line
    // when no site or several have it.
    std::optional<int> findSite(const std::string& name);
    // Without error lines for a station that does not answer (a watch that outlives it).
    void setQuiet(bool quiet) { _quiet = quiet; }

private:
    std::optional<nlohmann::json> send(const std::string& method, const std::string& path, const nlohmann::json* body);

    std::string _host = "127.0.0.1";
    int _port = 0;
    std::string _token;
    bool _quiet = false;
};
