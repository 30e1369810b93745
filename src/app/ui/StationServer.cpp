#include "app/ui/StationServer.h"

#include <httplib.h>

#include <algorithm>
#include <optional>

#include "app/tables/SiteContainer.h"
#include "app/tables/SystemLogCode.h"
#include "app/tables/SystemLogger.h"
#include "app/ui/CQuillfenDoc.h"
#include "app/ui/IArchivingScheduler.h"
#include "app/ui/ScheduleWizard.h"
#include "app/ui/SiteRow.h"
#include "base/TextOf.h"
#include "base/Trace.h"

namespace {

constexpr const char* Loopback = "127.0.0.1";
constexpr const char* TokenCookie = "quillfen_token=";

// Compares without stopping at the first difference, so the time taken tells nothing
// about how much of a guess was right.
bool sameSecret(const std::string& offered, const std::string& token) {
    if (token.empty() || offered.size() != token.size()) {
        return false;
    }
    unsigned char difference = 0;
    for (size_t i = 0; i < token.size(); ++i) {
        difference |= static_cast<unsigned char>(offered[i] ^ token[i]);
    }
    return difference == 0;
}

std::string cookieToken(const std::string& cookies) {
    size_t at = 0;
    while (at < cookies.size()) {
        size_t end = cookies.find(';', at);
        std::string part = cookies.substr(at, end == std::string::npos ? std::string::npos : end - at);
        part.erase(0, part.find_first_not_of(' '));
        if (part.rfind(TokenCookie, 0) == 0) {
            return part.substr(std::char_traits<char>::length(TokenCookie));
        }
        if (end == std::string::npos) {
            break;
        }
        at = end + 1;
    }
    return "";
}

// "2026/12/09 08:00:00", also written with dashes or a T.
std::optional<DateTime> dateTimeOf(std::string text) {
    std::replace(text.begin(), text.end(), '-', '/');
    std::replace(text.begin(), text.end(), 'T', ' ');
    DateTime time = RecordSite::parseDateTime(text.c_str(), DateTime());
    if (!time.isValid() || time.month() < 1 || time.month() > 12 || time.day() < 1 || time.day() > 31 ||
        time.hour() > 23 || time.minute() > 59 || time.second() > 59) {
        return std::nullopt;
    }
    return time;
}

std::optional<Time> timeOf(const std::string& text) {
    Time time = RecordSite::parseTime(text.c_str(), Time());
    if (!time.isValid() || time.hour() > 23 || time.minute() > 59 || time.second() > 59) {
        return std::nullopt;
    }
    return time;
}

// The start type named by "first", "last" or "time"; 0 for anything else.
int startTypeOf(const std::string& text) {
    return text == "first" ? RecordSite::FromFirst
           : text == "last" ? RecordSite::FromLast
           : text == "time" ? RecordSite::FromTime
                            : 0;
}

template <typename T>
T field(const nlohmann::json& json, const char* name, const T& fallback) {
    auto it = json.find(name);
    if (it == json.end() || it->is_null()) {
        return fallback;
    }
    return it->get<T>();
}

}  // namespace

StationServer::StationServer(CQuillfenDoc& document, IArchivingScheduler& scheduler, std::string token,
                             std::string storageFolder)
    : _document(document),
      _scheduler(scheduler),
      _token(std::move(token)),
      _storageFolder(std::move(storageFolder)),
      _server(std::make_unique<httplib::Server>()) {
    routes();
}

StationServer::~StationServer() {
    stop();
}

int StationServer::bind(int port) {
    if (port == 0) {
        _port = _server->bind_to_any_port(Loopback);
    } else {
        _port = _server->bind_to_port(Loopback, port) ? port : -1;
    }
    return _port;
}

void StationServer::start() {
    _thread = std::thread([this] { _server->listen_after_bind(); });
}

void StationServer::stop() {
    _server->stop();
    if (_thread.joinable()) {
        _thread.join();
    }
}

std::string StationServer::refusal(const std::string& host, const std::string& origin,
                                   const std::string& authorization, const std::string& cookie) const {
    std::string port = std::to_string(_port);
    if (host != std::string(Loopback) + ":" + port && host != "localhost:" + port) {
        return "foreign host";
    }
    if (!origin.empty() && origin != std::string("http://") + Loopback + ":" + port &&
        origin != "http://localhost:" + port) {
        return "foreign origin";
    }
    std::string offered;
    if (authorization.rfind("Bearer ", 0) == 0) {
        offered = authorization.substr(7);
    } else {
        offered = cookieToken(cookie);
    }
    if (!sameSecret(offered, _token)) {
        return "no valid token";
    }
    return "";
}

void StationServer::answer(httplib::Response& response, int status, const nlohmann::json& json) {
    response.status = status;
    response.set_header("Cache-Control", "no-store");
    response.set_content(json.dump(), "application/json");
}

void StationServer::refuse(httplib::Response& response, int status, const std::string& message) {
    answer(response, status, {{"error", message}});
}

bool StationServer::body(const httplib::Request& request, httplib::Response& response, nlohmann::json& out) {
    if (request.body.empty()) {
        out = nlohmann::json::object();
        return true;
    }
    out = nlohmann::json::parse(request.body, nullptr, false);
    if (out.is_null()) {
        out = nlohmann::json::object();
    }
    if (out.is_discarded() || !out.is_object()) {
        refuse(response, 400, "The request body is no JSON object.");
        return false;
    }
    return true;
}

nlohmann::json StationServer::row(int key) {
    std::optional<RecordSite> site = SiteContainer::instance().snapshot(key);
    if (!site) {
        return nullptr;
    }
    return SiteRow::json(*site, _document.progress(key), _scheduler.recordingInterval(key));
}

nlohmann::json StationServer::rows() {
    nlohmann::json list = nlohmann::json::array();
    std::vector<RecordSite> sites = SiteContainer::instance().snapshots();
    std::sort(sites.begin(), sites.end(),
              [](const RecordSite& a, const RecordSite& b) { return a.scheduleKey() < b.scheduleKey(); });
    for (const RecordSite& site : sites) {
        list.push_back(SiteRow::json(site, _document.progress(site.scheduleKey()),
                                     _scheduler.recordingInterval(site.scheduleKey())));
    }
    return list;
}

void StationServer::routes() {
    _server->set_pre_routing_handler([this](const httplib::Request& request, httplib::Response& response) {
        std::string why = refusal(request.get_header_value("Host"), request.get_header_value("Origin"),
                                  request.get_header_value("Authorization"), request.get_header_value("Cookie"));
        if (why.empty()) {
            return httplib::Server::HandlerResponse::Unhandled;
        }
        QF_TRACE("StationServer: %s %s refused: %s", request.method.c_str(), request.path.c_str(), why.c_str());
        refuse(response, why == "no valid token" ? 401 : 403, "Refused: " + why + ".");
        return httplib::Server::HandlerResponse::Handled;
    });
    _server->set_payload_max_length(1 << 20);
    _server->Get("/api/sites", [this](const httplib::Request&, httplib::Response& response) {
        answer(response, 200, {{"sites", rows()}});
    });
    _server->Get(R"(/api/sites/(\d+))", [this](const httplib::Request& request, httplib::Response& response) {
        nlohmann::json site = row(std::stoi(request.matches[1]));
        if (site.is_null()) {
            refuse(response, 404, "No such site.");
        } else {
            answer(response, 200, site);
        }
    });
    _server->Post("/api/sites", [this](const httplib::Request& request, httplib::Response& response) {
        addSite(request, response);
    });
    _server->Post(R"(/api/sites/(\d+)/(\w+))", [this](const httplib::Request& request, httplib::Response& response) {
        command(request, response);
    });
    _server->Post("/api/start-all", [this](const httplib::Request&, httplib::Response& response) {
        _document.startAll();
        answer(response, 200, {{"sites", rows()}});
    });
    _server->Post("/api/stop-all", [this](const httplib::Request&, httplib::Response& response) {
        _document.stopAll();
        answer(response, 200, {{"sites", rows()}});
    });
}

void StationServer::addSite(const httplib::Request& request, httplib::Response& response) {
    nlohmann::json json;
    if (!body(request, response, json)) {
        return;
    }
    ScheduleWizard::Input input;
    try {
        input.name = field<std::string>(json, "name", "New Site");
        input.address = field<std::string>(json, "address", "");
        input.port = field<int>(json, "port", 10102);
        input.username = field<std::string>(json, "user", "");
        input.password = field<std::string>(json, "password", "");
        input.startType = startTypeOf(field<std::string>(json, "start", "first"));
        if (input.startType == RecordSite::FromTime) {
            std::optional<DateTime> at = dateTimeOf(field<std::string>(json, "startTime", ""));
            if (!at) {
                refuse(response, 400, "The start time must be written YYYY/MM/DD HH:MM:SS.");
                return;
            }
            input.startTime = *at;
        }
        input.alwaysArchive = field<bool>(json, "always", true);
        if (!input.alwaysArchive) {
            std::optional<Time> from = timeOf(field<std::string>(json, "hoursStart", ""));
            std::optional<Time> to = timeOf(field<std::string>(json, "hoursStop", ""));
            if (!from || !to) {
                refuse(response, 400, "The archiving hours must be written HH:MM:SS.");
                return;
            }
            input.archiveStart = *from;
            input.archiveStop = *to;
        }
        input.overwrite = field<bool>(json, "overwrite", true);
        input.groupFile = field<std::string>(json, "groupFile", "");
        input.createStorages = field<bool>(json, "createStorages", true);
        input.storageCount = field<int>(json, "storages", 1);
        input.storageSizeGB = field<double>(json, "sizeGB", 4.0);
        input.continueWithSameName = field<bool>(json, "sameName", false);
        input.overwriteGroupFile = field<bool>(json, "overwriteGroupFile", false);
    } catch (const nlohmann::json::exception&) {
        refuse(response, 400, "A field of the new site has the wrong type.");
        return;
    }
    ScheduleWizard::Verdict verdict = ScheduleWizard::check(input, _storageFolder);
    if (!verdict.ok()) {
        answer(response, 409, {{"error", verdict.error}, {"question", verdict.question}});
        return;
    }
    CQuillfenDoc::Outcome outcome = _document.newSchedule(verdict.result);
    if (!outcome.ok()) {
        answer(response, 409, {{"error", outcome.error}, {"warnings", outcome.warnings}});
        return;
    }
    answer(response, 201, {{"site", row(outcome.key)}, {"warnings", outcome.warnings}});
}

void StationServer::command(const httplib::Request& request, httplib::Response& response) {
    int key = std::stoi(request.matches[1]);
    std::string verb = request.matches[2];
    std::optional<RecordSite> site = SiteContainer::instance().snapshot(key);
    if (!site) {
        refuse(response, 404, "No such site.");
        return;
    }
    nlohmann::json json;
    if (!body(request, response, json)) {
        return;
    }
    try {
        if (verb == "start") {
            if (!SiteContainer::instance().isArchivable(key)) {
                refuse(response, 409, "Cannot start " + site->name() + ": " + SiteContainer::instance().snapshot(key)->statusText());
                return;
            }
            _document.startArchive(key);
        } else if (verb == "stop") {
            _document.stopArchive(key);
        } else if (verb == "update") {
            IArchivingScheduler::SiteSettings settings{
                field<std::string>(json, "address", site->address()),
                static_cast<uint16_t>(field<int>(json, "port", site->port())),
                field<std::string>(json, "user", site->username()),
                field<std::string>(json, "password", site->password())};
            int port = field<int>(json, "port", site->port());
            std::string error = ScheduleWizard::siteError(site->name(), settings.address, port, settings.username);
            if (!error.empty()) {
                refuse(response, 409, error);
                return;
            }
            SystemLogger& log = SystemLogger::instance();
            if (settings.address != site->address()) {
                log.info(site->id(), SystemLogCode::SiteAddressChanged, (site->address() + " -> " + settings.address).c_str());
            }
            if (port != site->port()) {
                log.info(site->id(), SystemLogCode::PlaybackPortChanged,
                         (std::to_string(site->port()) + " -> " + std::to_string(port)).c_str());
            }
            if (settings.username != site->username()) {
                log.info(site->id(), SystemLogCode::UsernameChanged, (site->username() + " -> " + settings.username).c_str());
            }
            bool changed = _document.updateSchedule(key, settings);
            answer(response, 200, {{"changed", changed}, {"site", row(key)}});
            return;
        } else if (verb == "rename") {
            std::string name = field<std::string>(json, "name", "");
            if (name.empty()) {
                refuse(response, 409, "Site Name cannot be empty.");
                return;
            }
            _document.rename(key, name);
        } else if (verb == "overwrite") {
            _document.setOverwrite(key, field<bool>(json, "overwrite", true));
        } else if (verb == "hours") {
            if (field<bool>(json, "always", false)) {
                _document.setAlwaysArchive(key);
            } else {
                std::optional<Time> from = timeOf(field<std::string>(json, "start", ""));
                std::optional<Time> to = timeOf(field<std::string>(json, "stop", ""));
                if (!from || !to) {
                    refuse(response, 400, "The archiving hours must be written HH:MM:SS.");
                    return;
                }
                _document.setArchivingHours(key, *from, *to);
            }
        } else if (verb == "reschedule") {
            int type = startTypeOf(field<std::string>(json, "start", ""));
            std::optional<DateTime> at = dateTimeOf(field<std::string>(json, "startTime", ""));
            if (type == 0 || (type == RecordSite::FromTime && !at)) {
                refuse(response, 400, "Give the new start point: first, last, or time with YYYY/MM/DD HH:MM:SS.");
                return;
            }
            _document.setStartPoint(key, type, at.value_or(DateTime()));
        } else if (verb == "delete") {
            SystemLogger::instance().info(site->id(), SystemLogCode::ScheduleDeleted);
            _document.deleteSchedule(key, field<bool>(json, "deleteFiles", false));
            answer(response, 200, {{"deleted", key}});
            return;
        } else {
            refuse(response, 404, "No command " + verb + ".");
            return;
        }
    } catch (const nlohmann::json::exception&) {
        refuse(response, 400, "A field of the command has the wrong type.");
        return;
    }
    answer(response, 200, {{"site", row(key)}});
}
