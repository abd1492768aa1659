// The client against the local stand-in of the company's service and object store: sign-in with
// its cookie, folders, and a whole multipart upload whose bytes are checked in the store.
#include "client/zafrel_api.h"
#include "platform/errors.h"
#include "platform/md5.h"
#include "platform/settings.h"
#include "support/async_wait.h"
#include "support/devserver_process.h"

#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <algorithm>

using namespace zafrel;
using test::awaitTask;

namespace {

// Deterministic bytes that differ from part to part, so a part sent at the wrong place shows.
QByteArray footage(int64_t size)
{
    QByteArray data(qsizetype(size), Qt::Uninitialized);
    uint64_t state = 0x9E3779B97F4A7C15ULL;
    for (qsizetype i = 0; i < data.size(); ++i) {
        state ^= state << 13;
        state ^= state >> 7;
        state ^= state << 17;
        data[i] = char(state);
    }
    return data;
}

std::string unquoted(std::string etag)
{
    etag.erase(std::remove(etag.begin(), etag.end(), '"'), etag.end());
    return etag;
}

template<class T>
std::optional<APIError> apiErrorOf(QCoro::Task<T> task)
{
    try {
        awaitTask(std::move(task), std::chrono::seconds(60)).get();
    } catch (const APIError& e) {
        return e;
    }
    return std::nullopt;
}

class DevServerClientTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (auto reason = test::DevServerProcess::unavailableReason())
            GTEST_SKIP() << reason->toStdString();
        server = std::make_unique<test::DevServerProcess>();
        ASSERT_TRUE(server->started()) << server->failure().toStdString();
        settings::setValue("serverURL", server->serviceURL());
        HttpSession::Config config = HttpSession::serviceConfig();
        config.cookieFile = cookies.filePath("cookies.txt");
        api = std::make_unique<ZafrelAPI>(std::make_unique<HttpSession>(config));
    }

    void TearDown() override
    {
        api.reset();
        server.reset();
    }

    QTemporaryDir cookies;
    std::unique_ptr<test::DevServerProcess> server;
    std::unique_ptr<ZafrelAPI> api;
};

}  // namespace

TEST_F(DevServerClientTest, SignInFoldersAndSignOut)
{
    auto before = apiErrorOf(api->me());
    ASSERT_TRUE(before);
    EXPECT_EQ(before->kind(), APIError::Kind::Auth);

    auto wrong = apiErrorOf(api->login("demo@zafrel.test", "otra-clave"));
    ASSERT_TRUE(wrong);
    EXPECT_EQ(wrong->kind(), APIError::Kind::Auth);

    User user = awaitTask(api->login("demo@zafrel.test", "zafrel-demo")).get();
    EXPECT_EQ(user.email, "demo@zafrel.test");
    ASSERT_TRUE(user.company);
    EXPECT_EQ(user.company->slug, "demo-films");
    EXPECT_EQ(user.company->name, "Demo Films");
    EXPECT_EQ(user.bucket, "zafrel-demo");
    EXPECT_EQ(awaitTask(api->me()).get(), user);

    Listing top = awaitTask(api->ls("")).get();
    EXPECT_EQ(top.path, "");

    awaitTask(api->mkdir("", "Día 1 & B+C")).get();
    Listing after = awaitTask(api->ls("")).get();
    auto folder = std::find_if(after.folders.begin(), after.folders.end(),
                               [](const Folder& f) { return f.name == "Día 1 & B+C"; });
    ASSERT_NE(folder, after.folders.end());
    EXPECT_EQ(folder->path, "Día 1 & B+C/");
    EXPECT_EQ(awaitTask(api->ls(folder->path)).get().path, "Día 1 & B+C/");

    auto twice = apiErrorOf(api->mkdir("", "Día 1 & B+C"));
    ASSERT_TRUE(twice);
    EXPECT_EQ(twice->kind(), APIError::Kind::Http);
    EXPECT_EQ(twice->code(), 409);
    EXPECT_FALSE(twice->message().empty());

    awaitTask(api->logout()).get();
    auto gone = apiErrorOf(api->me());
    ASSERT_TRUE(gone);
    EXPECT_EQ(gone->kind(), APIError::Kind::Auth);
}

TEST_F(DevServerClientTest, MultipartUploadStoresExactlyTheBytesSent)
{
    awaitTask(api->login("demo@zafrel.test", "zafrel-demo")).get();
    awaitTask(api->mkdir("", "Rodaje")).get();

    const int64_t size = 70 * 1024 * 1024 + 12345;
    const QByteArray data = footage(size);
    UploadInit init = awaitTask(api->initUpload(InitBody{"Rodaje/", "toma 1+2 ñ.mov", size, "video/quicktime", false})).get();
    ASSERT_EQ(init.mode, "multipart");
    ASSERT_TRUE(init.uploadId);
    ASSERT_TRUE(init.partSize);
    const int64_t partSize = *init.partSize;
    const int64_t partCount = (size + partSize - 1) / partSize;
    ASSERT_GE(partCount, 3);
    if (init.parts)
        EXPECT_EQ(*init.parts, partCount);

    // Batches of two, so that a later batch starts in the middle.
    std::map<int64_t, std::string> urls;
    for (int64_t first = 1; first <= partCount; first += 2) {
        const int64_t last = std::min(first + 1, partCount);
        auto batch = awaitTask(api->partURLs(init.key, *init.uploadId, first, last, false)).get();
        EXPECT_EQ(int64_t(batch.size()), last - first + 1);
        urls.insert(batch.begin(), batch.end());
    }
    ASSERT_EQ(int64_t(urls.size()), partCount);

    HttpSession store(HttpSession::uploadConfig());
    std::vector<Part> parts;
    for (const auto& [number, url] : urls) {
        HttpRequest put;
        put.method = "PUT";
        put.url = url;
        put.body = data.mid((number - 1) * partSize, partSize);
        const std::string md5 = md5Hex(put.body);
        HttpResponse answer = awaitTask(store.send(std::move(put)), std::chrono::seconds(120)).get();
        ASSERT_EQ(answer.status, 200) << answer.body.toStdString();
        auto etag = answer.header("ETag");
        ASSERT_TRUE(etag);
        EXPECT_EQ(unquoted(*etag), md5) << "part " << number;
        parts.push_back({number, *etag});
    }
    awaitTask(api->complete(init.key, *init.uploadId, parts), std::chrono::seconds(120)).get();

    auto listed = server->objects(QString::fromStdString(init.key));
    ASSERT_EQ(listed.size(), 1u);
    EXPECT_EQ(listed[0]["size"].get<int64_t>(), size);
    auto stored = server->object(QString::fromStdString(init.key));
    ASSERT_TRUE(stored);
    EXPECT_EQ(stored->size(), data.size());
    EXPECT_EQ(md5Hex(*stored), md5Hex(data));

    Listing folder = awaitTask(api->ls("Rodaje/")).get();
    ASSERT_EQ(folder.files.size(), 1u);
    EXPECT_EQ(folder.files[0].name, "toma 1+2 ñ.mov");
    EXPECT_EQ(folder.files[0].size, size);

    awaitTask(api->uploadDone()).get();
}

TEST_F(DevServerClientTest, AbortedUploadHandsOutNoMoreURLs)
{
    awaitTask(api->login("demo@zafrel.test", "zafrel-demo")).get();
    awaitTask(api->mkdir("", "Cancelado")).get();
    UploadInit init = awaitTask(api->initUpload(InitBody{"Cancelado/", "b.mov", 40 * 1024 * 1024, "video/quicktime", true})).get();
    ASSERT_EQ(init.mode, "multipart");
    ASSERT_TRUE(init.uploadId);
    EXPECT_FALSE(awaitTask(api->partURLs(init.key, *init.uploadId, 1, 1, true)).get().empty());

    awaitTask(api->abort(init.key, *init.uploadId)).get();
    auto after = apiErrorOf(api->partURLs(init.key, *init.uploadId, 1, 1, true));
    ASSERT_TRUE(after);
    EXPECT_EQ(after->kind(), APIError::Kind::Http);
    EXPECT_EQ(after->code(), 404);
    // A second abort of the same upload is still quiet.
    awaitTask(api->abort(init.key, *init.uploadId)).get();
}
