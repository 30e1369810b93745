#include <gtest/gtest.h>
#include <httplib.h>

#include <memory>
#include <string>

#include <nlohmann/json.hpp>

#include "ScriptedScheduler.h"
#include "TempDir.h"
#include "app/tables/SiteContainer.h"
#include "app/tables/SystemLogger.h"
#include "app/ui/CQuillfenDoc.h"
#include "app/ui/SiteRow.h"
#include "app/ui/StationServer.h"
#include "database/DataWarehouse.h"

namespace {

constexpr const char* Token = "0123456789abcdef0123456789abcdef";
constexpr const char* Password = "s3cr'et%pw";

class StationServerTest : public ::testing::Test {
protected:
    void SetUp() override {
        DataWarehouse::instance().open(dir.file("app.db"), 1000);
        ASSERT_TRUE(SiteContainer::instance().load());
        ASSERT_TRUE(SystemLogger::instance().open());
        doc = std::make_unique<CQuillfenDoc>(scheduler, nullptr);
        doc->open(false);
        doc->initialiseSchedules();
        server = std::make_unique<StationServer>(*doc, scheduler, Token, dir.path().string());
        ASSERT_GT(server->bind(0), 0);
        server->start();
        client = std::make_unique<httplib::Client>("127.0.0.1", server->port());
    }
    void TearDown() override {
        server->stop();
        doc->close();
        DataWarehouse::instance().close();
    }

    httplib::Headers withToken(const std::string& token = Token) { return {{"Authorization", "Bearer " + token}}; }

    // A new site as `quillfen site add` sends it, small storages unless `sizeGB` says.
    nlohmann::json newSite(const std::string& name, int port = 10102, double sizeGB = 0.5) {
        return {{"name", name}, {"address", "127.0.0.1"}, {"port", port}, {"user", "admin"},
                {"password", Password}, {"storages", 1}, {"sizeGB", sizeGB}};
    }

    httplib::Result post(const std::string& path, const nlohmann::json& body, const httplib::Headers& headers) {
        return client->Post(path.c_str(), headers, body.dump(), "application/json");
    }
    std::string errorOf(const httplib::Result& result) {
        return nlohmann::json::parse(result->body).value("error", "");
    }
    size_t siteCount() { return SiteContainer::instance().snapshots().size(); }

    TempDir dir;
    ScriptedScheduler scheduler;
    std::unique_ptr<CQuillfenDoc> doc;
    std::unique_ptr<StationServer> server;
    std::unique_ptr<httplib::Client> client;
};

}  // namespace

TEST_F(StationServerTest, RequestsWithoutTheTokenOrFromForeignPagesAreRefusedAndChangeNothing) {
    EXPECT_EQ(client->Get("/api/sites")->status, 401);
    EXPECT_EQ(client->Get("/api/sites", withToken("0123456789abcdef0123456789abcdeF"))->status, 401);
    EXPECT_EQ(client->Get("/api/sites", withToken(""))->status, 401);
    EXPECT_EQ(client->Get("/api/sites", {{"Cookie", std::string("quillfen_token=") + Token}})->status, 200);

    httplib::Headers foreignHost = withToken();
    foreignHost.emplace("Host", "attacker.example:" + std::to_string(server->port()));
    EXPECT_EQ(client->Get("/api/sites", foreignHost)->status, 403);
    httplib::Headers foreignOrigin = withToken();
    foreignOrigin.emplace("Origin", "http://attacker.example");
    EXPECT_EQ(post("/api/sites", newSite("Cam"), foreignOrigin)->status, 403);
    EXPECT_EQ(post("/api/sites", newSite("Cam"), {})->status, 401);
    EXPECT_EQ(post("/api/sites", newSite("Cam"), foreignHost)->status, 403);
    EXPECT_EQ(siteCount(), 0u);

    ASSERT_EQ(post("/api/sites", newSite("Cam"), withToken())->status, 201);
    scheduler.take();
    EXPECT_EQ(post("/api/sites/0/stop", {}, {})->status, 401);
    EXPECT_EQ(post("/api/sites/0/delete", {{"deleteFiles", true}}, foreignHost)->status, 403);
    EXPECT_EQ(post("/api/stop-all", {}, withToken("wrong"))->status, 401);
    EXPECT_TRUE(scheduler.take().empty());
    EXPECT_TRUE(SiteContainer::instance().snapshot(0)->archiving());

    httplib::Headers sameOrigin = withToken();
    sameOrigin.emplace("Origin", "http://127.0.0.1:" + std::to_string(server->port()));
    EXPECT_EQ(post("/api/sites/0/stop", {}, sameOrigin)->status, 200);
}

TEST_F(StationServerTest, NoAnswerHoldsAPassword) {
    httplib::Result added = post("/api/sites", newSite("Cam"), withToken());
    ASSERT_EQ(added->status, 201) << added->body;
    nlohmann::json update = {{"password", "an0ther'pw"}, {"address", "10.1.1.1"}};
    httplib::Result updated = post("/api/sites/0/update", update, withToken());
    ASSERT_EQ(updated->status, 200);
    EXPECT_TRUE(nlohmann::json::parse(updated->body)["changed"].get<bool>());
    EXPECT_EQ(scheduler.schedules[0].settings.password, "an0ther'pw");
    for (const std::string& body : {added->body, updated->body, client->Get("/api/sites", withToken())->body,
                                    client->Get("/api/sites/0", withToken())->body}) {
        EXPECT_EQ(body.find(Password), std::string::npos) << body;
        EXPECT_EQ(body.find("an0ther"), std::string::npos) << body;
        EXPECT_EQ(body.find("password"), std::string::npos) << body;
    }
}

TEST_F(StationServerTest, NewSitesPassTheWizardsChecks) {
    EXPECT_EQ(errorOf(post("/api/sites", newSite("Cam", 1500), withToken())), "Playback port must be between 1501 ~ 32001.");
    EXPECT_EQ(errorOf(post("/api/sites", newSite("Cam", 32002), withToken())), "Playback port must be between 1501 ~ 32001.");
    EXPECT_EQ(errorOf(post("/api/sites", newSite("Cam", 1501, 0.49), withToken())), "Storage Size must be larger than 0.5 GB.");
    nlohmann::json unnamed = newSite("");
    EXPECT_EQ(errorOf(post("/api/sites", unnamed, withToken())), "Site Name cannot be empty.");
    EXPECT_EQ(siteCount(), 0u);

    ASSERT_EQ(post("/api/sites", newSite("Cam", 32001), withToken())->status, 201);
    EXPECT_EQ(errorOf(post("/api/sites", newSite("Cam", 1501), withToken())),
              "There is a site with same name. Will you continue anyway?");
    nlohmann::json again = newSite("Cam", 1501);
    again["sameName"] = true;
    EXPECT_EQ(errorOf(post("/api/sites", again, withToken())), "The storage group file already exists. Overwrite?");
    again["overwriteGroupFile"] = true;
    EXPECT_EQ(errorOf(post("/api/sites", again, withToken())),
              "Cannot overwrite : Storage group file in use by another site or application.");
    EXPECT_EQ(siteCount(), 1u);

    nlohmann::json placed = newSite("Yard");
    placed["groupFile"] = dir.file("elsewhere.strgx");
    placed["storages"] = 2;
    httplib::Result made = post("/api/sites", placed, withToken());
    ASSERT_EQ(made->status, 201) << made->body;
    EXPECT_EQ(nlohmann::json::parse(made->body)["site"]["capacityText"], "1 GB");
    EXPECT_TRUE(std::filesystem::exists(dir.file("Yard 2.strg")));
    EXPECT_EQ(post("/api/sites/1/rename", {{"name", ""}}, withToken())->status, 409);
    EXPECT_EQ(post("/api/sites/9/start", {}, withToken())->status, 404);
}

TEST(SiteRowText, SizesAreWrittenAsTheListWritesThem) {
    EXPECT_EQ(SiteRow::sizeText(512), "512 MB");
    EXPECT_EQ(SiteRow::sizeText(999), "999 MB");
    EXPECT_EQ(SiteRow::sizeText(2048), "2 GB");
    EXPECT_EQ(SiteRow::sizeText(1500), "1.4 GB");
    EXPECT_EQ(SiteRow::intervalText(Interval(DateTime(2026, 1, 2, 3, 4, 5), DateTime())), "-");
    EXPECT_EQ(SiteRow::pageStatus(RecordSite::NoSpace), SiteRow::pageStatus(RecordSite::NotArchivable));
}
