// Strict decoding and ordered encoding of the service's records, without a network.
#include "client/api_error.h"
#include "client/records.h"

#include <gtest/gtest.h>

#include <stdexcept>

using namespace zafrel;
using nlohmann::json;

namespace {

template<class T>
T decode(const std::string& text)
{
    return decodeRecord<T>(parseJsonBody(QByteArray::fromStdString(text)));
}

template<class T>
void expectDecodeFailure(const std::string& text)
{
    try {
        decode<T>(text);
        ADD_FAILURE() << "decoded: " << text;
    } catch (const APIError& e) {
        EXPECT_EQ(e.kind(), APIError::Kind::Decode) << text;
    }
}

const std::string fullUser =
    R"({"email":"ana@x.es","name":"Ana","is_admin":false,"company":{"slug":"demo","name":"Demo Films"},)"
    R"("bucket":"zafrel-demo","app_name":"Zafrel","extra":[1,2,{"z":null}]})";

}  // namespace

TEST(UserRecord, DecodesEveryMemberAndIgnoresUnknownOnes)
{
    User user = decode<User>(fullUser);
    EXPECT_EQ(user.email, "ana@x.es");
    EXPECT_EQ(user.name, "Ana");
    EXPECT_FALSE(user.isAdmin);
    ASSERT_TRUE(user.company);
    EXPECT_EQ(user.company->slug, "demo");
    EXPECT_EQ(user.company->name, "Demo Films");
    EXPECT_EQ(user.bucket, "zafrel-demo");
    EXPECT_EQ(user.appName, "Zafrel");
}

TEST(UserRecord, OptionalMembersMayBeMissingOrNull)
{
    User missing = decode<User>(R"({"email":"a@b","name":"A","is_admin":true,"bucket":"b"})");
    EXPECT_FALSE(missing.company);
    EXPECT_FALSE(missing.appName);
    EXPECT_TRUE(missing.isAdmin);
    User nulls = decode<User>(R"({"email":"a@b","name":"A","is_admin":true,"company":null,"bucket":"b","app_name":null})");
    EXPECT_EQ(nulls, missing);
}

TEST(UserRecord, RequiredMembersMustBePresentNonNullAndOfTheirType)
{
    expectDecodeFailure<User>(R"({"email":"a@b","name":"A","is_admin":true})");                    // no bucket
    expectDecodeFailure<User>(R"({"email":"a@b","name":"A","is_admin":true,"bucket":null})");
    expectDecodeFailure<User>(R"({"email":"a@b","name":"A","is_admin":"true","bucket":"b"})");
    expectDecodeFailure<User>(R"({"email":"a@b","name":"A","is_admin":1,"bucket":"b"})");
    expectDecodeFailure<User>(R"({"email":"a@b","name":7,"is_admin":true,"bucket":"b"})");
    // An optional member that is present must still have its type.
    expectDecodeFailure<User>(R"({"email":"a@b","name":"A","is_admin":true,"bucket":"b","app_name":3})");
    expectDecodeFailure<User>(R"({"email":"a@b","name":"A","is_admin":true,"bucket":"b","company":{"slug":"s"}})");
    expectDecodeFailure<User>(R"([])");
    expectDecodeFailure<User>(R"(null)");
}

TEST(JsonBody, OnlyOneCompleteJsonValueIsABody)
{
    for (const char* text : {"", " ", "{", R"({"a":1} x)", "{'a':1}", "\xff", "{\"a\":\"\xc3\"}"}) {
        try {
            parseJsonBody(QByteArray(text));
            ADD_FAILURE() << "parsed: " << text;
        } catch (const APIError& e) {
            EXPECT_EQ(e.kind(), APIError::Kind::Decode);
        }
    }
    EXPECT_TRUE(parseJsonBody(" {} \n").is_object());
}

// Four million values, keys and brackets at most (a listing of 100,000 files takes a million):
// a few megabytes of "0," must not grow into a tree of gigabytes.
TEST(JsonBody, ATreeOfMoreThanFourMillionStepsIsRefused)
{
    const auto zeros = [](int count) { return "[" + QByteArray("0,").repeated(count - 1) + "0]"; };
    EXPECT_EQ(parseJsonBody(zeros(3'999'998)).size(), 3'999'998u);
    EXPECT_THROW(parseJsonBody(zeros(3'999'999)), APIError);
}

TEST(ListingRecord, FoldersAndFilesKeepOrderAndSizesKeepEveryBit)
{
    // 2^53 + 1 is the first integer a double cannot hold; 2^63 - 1 the largest size.
    Listing listing = decode<Listing>(
        R"({"path":"Día 1/","folders":[{"name":"B","path":"Día 1/B/","count":2,"size":9007199254740993},)"
        R"({"name":"A","path":"Día 1/A/","label":"Cámara A","count":0,"size":0}],)"
        R"("files":[{"name":"c.mxf","path":"Día 1/c.mxf","size":9223372036854775807,"modified":1700000000}]})");
    EXPECT_EQ(listing.path, "Día 1/");
    ASSERT_EQ(listing.folders.size(), 2u);
    EXPECT_EQ(listing.folders[0].name, "B");
    EXPECT_FALSE(listing.folders[0].label);
    EXPECT_EQ(listing.folders[0].size, 9007199254740993LL);
    EXPECT_EQ(listing.folders[1].label, "Cámara A");
    ASSERT_EQ(listing.files.size(), 1u);
    EXPECT_EQ(listing.files[0].size, INT64_MAX);
    EXPECT_EQ(listing.files[0].modified, 1700000000);
}

TEST(ListingRecord, IntegerMembersRefuseFractionsAndOutOfRangeValues)
{
    const std::string head = R"({"name":"f","path":"f","modified":1,"size":)";
    EXPECT_EQ(decode<FileEntry>(head + "-5}").size, -5);
    for (const char* size : {"1.5", "3.0", "1e3", "9223372036854775808", "18446744073709551616", "\"12\"", "true"})
        expectDecodeFailure<FileEntry>(head + size + "}");
    // One bad element spoils the whole listing.
    expectDecodeFailure<Listing>(R"({"path":"","folders":[{"name":"a","path":"a","count":1}],"files":[]})");
    expectDecodeFailure<Listing>(R"({"path":"","folders":{},"files":[]})");
    expectDecodeFailure<Listing>(R"({"path":"","folders":[]})");
}

TEST(UploadInitRecord, ModeAndKeyAloneDecode)
{
    UploadInit init = decode<UploadInit>(R"({"mode":"single","key":"Día/a.mov"})");
    EXPECT_EQ(init, (UploadInit{"single", "Día/a.mov"}));
}

TEST(UploadInitRecord, EveryMemberDecodesAndTypesAreChecked)
{
    UploadInit init = decode<UploadInit>(
        R"({"mode":"multipart","key":"k","url":null,"uploadId":"u-1","partSize":33554432,"parts":3,"contentType":"video/mp4"})");
    EXPECT_EQ(init, (UploadInit{"multipart", "k", std::nullopt, "u-1", 33554432, 3, "video/mp4"}));
    expectDecodeFailure<UploadInit>(R"({"mode":"multipart","key":"k","partSize":"33554432"})");
    expectDecodeFailure<UploadInit>(R"({"mode":"multipart","key":"k","parts":2.5})");
    expectDecodeFailure<UploadInit>(R"({"mode":"multipart"})");
}

TEST(UploadInitRecord, ValuesThatGoIntoRequestsHoldNoLineBreakAndURLsAreHttp)
{
    const char* const hostile[] = {
        R"({"mode":"single","key":"a\r\nb","url":"https://s3.test/a"})",
        R"({"mode":"multipart","key":"k","uploadId":"u\n1"})",
        R"({"mode":"single","key":"k","url":"https://s3.test/k","contentType":"video/mxf\r\nX-Injected: yes"})",
        R"({"mode":"single","key":"k","url":"https://s3.test/k","contentType":"video/mxf\u0000"})",
        R"({"mode":"single","key":"k","url":"https://s3.test/k\r\nX-Injected: yes"})",
        R"({"mode":"single","key":"k","url":"ftp://s3.test/k"})",
        R"({"mode":"single","key":"k","url":"file:///etc/passwd"})",
    };
    for (const char* text : hostile)
        expectDecodeFailure<UploadInit>(text);
    EXPECT_EQ(decode<UploadInit>(R"({"mode":"single","key":"k","url":"HTTP://127.0.0.1:9/k"})").url, "HTTP://127.0.0.1:9/k");
}

TEST(PartURLsRecord, OnlyNumberedUsableURLsAreKept)
{
    PartURLs answer = decode<PartURLs>(
        R"({"urls":{"1":"https://s3.test/b/k?partNumber=1&X-Amz-Signature=ab%2Fcd","2":"http://127.0.0.1:9000/b/k?partNumber=2",)"
        R"("x":"https://s3.test/x","1a":"https://s3.test/1a","":"https://s3.test/e","+3":"https://s3.test/3","-4":"https://s3.test/m4",)"
        R"("+-5":"https://s3.test/5"," 6":"https://s3.test/6","7":"not a url","8":"/relative/path","9":"mailto:a@b","10":"ftp://s3.test/10",)"
        R"("99999999999999999999":"https://s3.test/big"}})");
    auto map = usablePartURLs(answer);
    std::map<int64_t, std::string> expected{
        {1, "https://s3.test/b/k?partNumber=1&X-Amz-Signature=ab%2Fcd"},
        {2, "http://127.0.0.1:9000/b/k?partNumber=2"},
        {3, "https://s3.test/3"},
        {-4, "https://s3.test/m4"},
    };
    EXPECT_EQ(map, expected);
}

TEST(PartURLsRecord, UrlsMustBeAnObjectOfStrings)
{
    EXPECT_TRUE(usablePartURLs(decode<PartURLs>(R"({"urls":{}})")).empty());
    expectDecodeFailure<PartURLs>(R"({})");
    expectDecodeFailure<PartURLs>(R"({"urls":null})");
    expectDecodeFailure<PartURLs>(R"({"urls":["https://s3.test/1"]})");
    expectDecodeFailure<PartURLs>(R"({"urls":{"1":5}})");
}

TEST(IgnoredAnswers, ShapesThatAreStillChecked)
{
    EXPECT_NO_THROW(requireAnyObject(json::parse(R"({"ok":true,"n":[1]})")));
    EXPECT_THROW(requireAnyObject(json::parse("[]")), APIError);
    EXPECT_THROW(requireAnyObject(json::parse("null")), APIError);
    EXPECT_NO_THROW(requireOptionalBooleanObject(json::parse("null")));
    EXPECT_NO_THROW(requireOptionalBooleanObject(json::parse(R"({"ok":true,"done":false})")));
    EXPECT_THROW(requireOptionalBooleanObject(json::parse(R"({"ok":"yes"})")), APIError);
    EXPECT_THROW(requireOptionalBooleanObject(json::parse("true")), APIError);
}

TEST(RecordEncoding, MembersInDeclaredOrderAndAbsentOptionalsLeftOut)
{
    EXPECT_EQ(compactJson(encodeRecord(InitBody{"Día 1/", "A001 \"x\".mov", 9007199254740993LL, "video/quicktime", true})),
              R"({"path":"Día 1/","name":"A001 \"x\".mov","size":9007199254740993,"type":"video/quicktime","accelerate":true})");
    EXPECT_EQ(compactJson(encodeRecord(CompleteBody{"k/a.mov", "u1", {{1, "\"e1\""}, {2, "e2"}}})),
              R"({"key":"k/a.mov","uploadId":"u1","parts":[{"PartNumber":1,"ETag":"\"e1\""},{"PartNumber":2,"ETag":"e2"}]})");
    EXPECT_EQ(compactJson(encodeRecord(User{"a@b", "A", true, std::nullopt, "bk", std::nullopt})),
              R"({"email":"a@b","name":"A","is_admin":true,"bucket":"bk"})");
    EXPECT_EQ(compactJson(encodeRecord(UploadInit{"single", "k", "https://s/u"})), R"({"mode":"single","key":"k","url":"https://s/u"})");
    EXPECT_EQ(compactJson(encodeRecord(Folder{"A", "A/", std::nullopt, 1, 2})), R"({"name":"A","path":"A/","count":1,"size":2})");
}

TEST(RecordEncoding, EveryRecordSurvivesARoundTrip)
{
    User user = decode<User>(fullUser);
    EXPECT_EQ(decode<User>(compactJson(encodeRecord(user))), user);
    Listing listing{"p/", {{"A", "p/A/", "Cámara", 3, 9007199254740993LL}}, {{"f", "p/f", 1, 2}}};
    EXPECT_EQ(decode<Listing>(compactJson(encodeRecord(listing))), listing);
    UploadInit init{"multipart", "k", std::nullopt, "u", 8, 2, "video/mp4"};
    EXPECT_EQ(decode<UploadInit>(compactJson(encodeRecord(init))), init);
    PartURLs urls{{{"1", "https://a/1"}, {"2", "https://a/2"}}};
    EXPECT_EQ(decode<PartURLs>(compactJson(encodeRecord(urls))), urls);
    CompleteBody body{"k", "u", {{1, "a"}}};
    EXPECT_EQ(decode<CompleteBody>(compactJson(encodeRecord(body))), body);
    InitBody initBody{"p", "n", 5, "t", false};
    EXPECT_EQ(decode<InitBody>(compactJson(encodeRecord(initBody))), initBody);
}

TEST(RecordEncoding, TextThatIsNotUtf8IsRefusedNotAltered)
{
    EXPECT_THROW(compactJson(encodeRecord(InitBody{"p/", "bad\xff.mov", 1, "t", false})), std::invalid_argument);
}

TEST(APIErrorText, UserMessagesAndDiagnostics)
{
    EXPECT_STREQ(APIError::http(500, "Fallo interno").what(), "Servidor: 500 Fallo interno");
    EXPECT_STREQ(APIError::http(404, "").what(), "Servidor: 404 ");
    EXPECT_STREQ(APIError::auth().what(), "Sesión caducada. Vuelve a entrar.");
    EXPECT_STREQ(APIError::decode().what(), "Respuesta inesperada del servidor");
    EXPECT_EQ(APIError::http(429, "Demasiados intentos").diagnostic(), R"(http(429, "Demasiados intentos"))");
    EXPECT_EQ(APIError::http(500, "dijo \"no\"").diagnostic(), R"(http(500, "dijo \"no\""))");
    EXPECT_EQ(APIError::auth().diagnostic(), "auth");
    EXPECT_EQ(APIError::decode().diagnostic(), "decode");
    APIError e = APIError::http(503, "x");
    EXPECT_EQ(e.kind(), APIError::Kind::Http);
    EXPECT_EQ(e.code(), 503);
    EXPECT_EQ(e.message(), "x");
}
