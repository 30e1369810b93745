#pragma once

#include <memory>
#include <string>
#include <thread>

#include <nlohmann/json.hpp>

namespace httplib {
class Server;
struct Request;
struct Response;
}  // namespace httplib

class CQuillfenDoc;
class IArchivingScheduler;

// The station's local web API: the schedule list's rows and the document's commands as
// JSON over HTTP, served on 127.0.0.1 only. Every request must carry the station's token
// (an "Authorization: Bearer" header or the "quillfen_token" cookie) and may only name
// this station as its Host and Origin, so neither another local user without the token nor
// a web page the user happens to visit can reach the commands; a refused request changes
// nothing. No answer ever holds a password.
//
// Requests are served on the server's own threads; the document serialises the commands.
class StationServer {
public:
    StationServer(CQuillfenDoc& document, IArchivingScheduler& scheduler, std::string token,
                  std::string storageFolder);
    ~StationServer();
    StationServer(const StationServer&) = delete;
    StationServer& operator=(const StationServer&) = delete;

    // Binds 127.0.0.1:`port` (0 for a free one); the port bound, or -1.
    int bind(int port);
    // Serves on a thread of its own until stop().
    void start();
    void stop();
    int port() const { return _port; }

    // The checks every request passes before it is routed; empty when it may go on, else
    // the reason it is refused. For tests of the rules themselves.
    std::string refusal(const std::string& host, const std::string& origin, const std::string& authorization,
                        const std::string& cookie) const;

private:
    void routes();
    nlohmann::json rows();
    nlohmann::json row(int key);
    void command(const httplib::Request& request, httplib::Response& response);
    void addSite(const httplib::Request& request, httplib::Response& response);
    // Answers 400 and false when the body is no JSON object.
    static bool body(const httplib::Request& request, httplib::Response& response, nlohmann::json& out);
    static void answer(httplib::Response& response, int status, const nlohmann::json& json);
    static void refuse(httplib::Response& response, int status, const std::string& message);

    CQuillfenDoc& _document;
    IArchivingScheduler& _scheduler;
    const std::string _token;
    const std::string _storageFolder;
    std::unique_ptr<httplib::Server> _server;
    std::thread _thread;
    int _port = -1;
};
