#include "engine/endpoint_config.h"
#include "engine/route_probe.h"
#include "engine/upload_manager.h"
#include "platform/paths.h"
#include "support/async_wait.h"
#include "support/test_env.h"

#include <httplib.h>

#include <QFile>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace zafrel {
namespace {

using namespace std::chrono_literals;

TEST(RouteDecision, AcceleratedOnlyWhenClearlyFasterAndTheDirectRouteIsSlow)
{
    RouteDecision d = decideRoute(100, 79);
    EXPECT_TRUE(d.accelerate);
    EXPECT_EQ(d.route, "Ruta acelerada (79 ms)");

    d = decideRoute(100, 80);   // 80 is not less than 0.8 × 100
    EXPECT_FALSE(d.accelerate);
    EXPECT_EQ(d.route, "Ruta directa (100 ms)");

    d = decideRoute(60, 10);   // the direct time must exceed 60 ms
    EXPECT_FALSE(d.accelerate);
    EXPECT_EQ(d.route, "Ruta directa (60 ms)");

    d = decideRoute(60.5, 10);
    EXPECT_TRUE(d.accelerate);
    EXPECT_EQ(d.route, "Ruta acelerada (10 ms)");
}

TEST(RouteDecision, TimesAreShownWithTheirFractionCutOff)
{
    EXPECT_EQ(decideRoute(200, 79.9).route, "Ruta acelerada (79 ms)");
    EXPECT_EQ(decideRoute(59.99, 10).route, "Ruta directa (59 ms)");
}

TEST(RouteProbeHosts, BucketAndSuffixFormTheHostAndAPortIsKept)
{
    qputenv("ZAFREL_S3_DIRECT_SUFFIX", "localhost:8123");
    qputenv("ZAFREL_S3_PROBE_SCHEME", "http");
    const EndpointConfig local = EndpointConfig::current();
    EXPECT_EQ(local.pingURL(local.directHost("zafrel-demo")), "http://zafrel-demo.localhost:8123/");
    qunsetenv("ZAFREL_S3_DIRECT_SUFFIX");
    qunsetenv("ZAFREL_S3_PROBE_SCHEME");

    const EndpointConfig built = EndpointConfig::current();
    EXPECT_EQ(built.pingURL(built.accelHost("b1")), "https://b1.s3-accelerate.amazonaws.com/");
    EXPECT_EQ(built.directHost("b1"), "b1.s3." + built.region + ".amazonaws.com");
}

TEST(RouteProbeHosts, OnlyNamesThatCanBeHostLabelsAreProbed)
{
    EXPECT_TRUE(isProbeableBucket("zafrel-demo"));
    EXPECT_TRUE(isProbeableBucket("my.bucket.01"));
    EXPECT_FALSE(isProbeableBucket(""));
    EXPECT_FALSE(isProbeableBucket("evil.com/x"));
    EXPECT_FALSE(isProbeableBucket("has space"));
    EXPECT_FALSE(isProbeableBucket("Upper"));
}

// Answers HEAD / after `delay`, recording the Host header of every request.
class PingServer {
public:
    explicit PingServer(std::chrono::milliseconds delay)
    {
        // cpp-httplib answers HEAD with the GET handler.
        server_.Get("/", [this, delay](const httplib::Request& req, httplib::Response& res) {
            {
                std::lock_guard lock(mutex_);
                hosts_.push_back(req.get_header_value("Host"));
            }
            std::this_thread::sleep_for(delay);
            res.status = 403;   // like a bucket that does not allow anonymous reads
        });
        port_ = server_.bind_to_any_port("127.0.0.1");
        thread_ = std::thread([this] { server_.listen_after_bind(); });
        // stop() only reaches a running loop; one stopped before it starts would never end.
        while (!server_.is_running())
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    ~PingServer()
    {
        server_.stop();
        thread_.join();
    }
    std::string suffix() const { return "localhost:" + std::to_string(port_); }
    std::vector<std::string> hosts() const
    {
        std::lock_guard lock(mutex_);
        return hosts_;
    }

private:
    httplib::Server server_;
    std::thread thread_;
    int port_ = 0;
    mutable std::mutex mutex_;
    std::vector<std::string> hosts_;
};

class RouteProbe : public ::testing::Test {
protected:
    void SetUp() override
    {
        QFile::remove(paths::dataDir() + "/queue.json");
        qputenv("ZAFREL_S3_DIRECT_SUFFIX", direct.suffix().c_str());
        qputenv("ZAFREL_S3_ACCEL_SUFFIX", accelerated.suffix().c_str());
        qputenv("ZAFREL_S3_PROBE_SCHEME", "http");
    }
    void TearDown() override
    {
        qunsetenv("ZAFREL_S3_DIRECT_SUFFIX");
        qunsetenv("ZAFREL_S3_ACCEL_SUFFIX");
        qunsetenv("ZAFREL_S3_PROBE_SCHEME");
    }

    PingServer direct{400ms};
    PingServer accelerated{0ms};
    ZafrelAPI api{std::make_unique<HttpSession>(HttpSession::Config{})};
    UploadManager manager{api};
};

TEST_F(RouteProbe, AnEmptyBucketDecidesDirectWithoutAnyRequest)
{
    manager.setRoute("Ruta directa (12 ms)");
    auto outcome = test::awaitTask(manager.probeRoute({}));
    ASSERT_TRUE(outcome.ended);
    ASSERT_TRUE(manager.accelerate.has_value());
    EXPECT_FALSE(*manager.accelerate);
    EXPECT_EQ(manager.route(), "Ruta directa (12 ms)");
    EXPECT_TRUE(direct.hosts().empty());
    EXPECT_TRUE(accelerated.hosts().empty());
}

TEST_F(RouteProbe, PingsBothBucketHostsThreeTimesAndTakesTheFasterRoute)
{
    manager.bucket = "zafrel-demo";
    auto outcome = test::awaitTask(manager.probeRoute({}), 30s);
    ASSERT_TRUE(outcome.ended);
    EXPECT_EQ(direct.hosts(), std::vector<std::string>(3, "zafrel-demo." + direct.suffix()));
    EXPECT_EQ(accelerated.hosts(), std::vector<std::string>(3, "zafrel-demo." + accelerated.suffix()));
    ASSERT_TRUE(manager.accelerate.has_value());
    EXPECT_TRUE(*manager.accelerate);
    EXPECT_TRUE(manager.route().startsWith("Ruta acelerada (")) << manager.route().toStdString();
}

TEST_F(RouteProbe, AProbeStoppedByTheRunDecidesNothing)
{
    manager.bucket = "zafrel-demo";
    std::stop_source stop;
    auto task = manager.probeRoute(stop.get_token());
    ASSERT_TRUE(test::runUntil([&] { return !direct.hosts().empty(); }, 10s));
    stop.request_stop();
    auto outcome = test::awaitTask(std::move(task), 10s);
    ASSERT_TRUE(outcome.ended);
    EXPECT_FALSE(outcome.error);
    EXPECT_FALSE(manager.accelerate.has_value());
    EXPECT_TRUE(manager.route().isEmpty());
}

TEST(PingHost, AHostThatRefusesCountsAsAnsweredQuickly)
{
    // A port with nothing listening: bound once, then released.
    int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
    ::close(fd);

    HttpSession session(HttpSession::Config{});
    const QString url = QString("http://127.0.0.1:%1/").arg(ntohs(address.sin_port));
    auto outcome = test::awaitTask(pingHost(session, url));
    ASSERT_TRUE(outcome.ended);
    ASSERT_TRUE(outcome.value.has_value());
    EXPECT_TRUE(std::isfinite(*outcome.value));
    EXPECT_LT(*outcome.value, 5000.0);
}

}  // namespace
}  // namespace zafrel
