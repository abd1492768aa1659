// The service's records decoded strictly and encoded in order, and endpoint URLs from the origin.
#include "client/api_error.h"
#include "client/records.h"
#include "client/url_builder.h"
#include "platform/errors.h"

#include <gtest/gtest.h>

#include <stdexcept>

using namespace zafrel;

namespace {

template<class T>
T decode(const std::string& text)
{
    return decodeRecord<T>(parseJsonBody(QByteArray::fromStdString(text)));
}

// Decodes as a T and encodes again: what the client took from the text, in the order it sends.
template<class T>
std::string recoded(const std::string& text)
{
    return compactJson(encodeRecord(decode<T>(text)));
}

TEST(Records, DecodeEveryMemberAndEncodeThemInDeclaredOrderLeavingAbsentOptionalsOut)
{
    const struct {
        std::string (*recode)(const std::string&);
        std::string in, out;   // out empty: the same as in
    } cases[] = {
        // Unknown members are ignored.
        {recoded<User>,
         R"({"extra":[1,{"z":null}],"email":"ana@x.es","name":"Ana","is_admin":false,"company":{"slug":"demo","name":"Demo Films"},)"
         R"("bucket":"zafrel-demo","app_name":"Zafrel"})",
         R"({"email":"ana@x.es","name":"Ana","is_admin":false,"company":{"slug":"demo","name":"Demo Films"},"bucket":"zafrel-demo","app_name":"Zafrel"})"},
        {recoded<User>, R"({"email":"a@b","name":"A","is_admin":true,"company":null,"bucket":"b"})",
         R"({"email":"a@b","name":"A","is_admin":true,"bucket":"b"})"},
        // 2^53 + 1 is the first integer a double cannot hold; 2^63 - 1 the largest size.
        {recoded<Listing>,
         R"({"path":"Día 1/","folders":[{"name":"B","path":"Día 1/B/","count":2,"size":9007199254740993},)"
         R"({"name":"A","path":"Día 1/A/","label":"Cámara A","count":0,"size":0}],)"
         R"("files":[{"name":"c.mxf","path":"Día 1/c.mxf","size":9223372036854775807,"modified":1700000000}]})",
         ""},
        {recoded<FileEntry>, R"({"name":"f","path":"f","size":-5,"modified":1})", ""},
        {recoded<UploadInit>, R"({"mode":"single","key":"Día/a.mov","url":"HTTP://127.0.0.1:9/k"})", ""},
        {recoded<UploadInit>, R"({"mode":"single","key":"k","url":"https://[::1]:9/b/k?X-Amz-Credential=A%2Fb&x=0f"})", ""},
        {recoded<UploadInit>,
         R"({"mode":"multipart","key":"k","url":null,"uploadId":"u-1","partSize":33554432,"parts":3,"contentType":"video/mp4"})",
         R"({"mode":"multipart","key":"k","uploadId":"u-1","partSize":33554432,"parts":3,"contentType":"video/mp4"})"},
        {recoded<PartURLs>, R"({"urls":{"1":"https://a/1","2":"https://a/2"}})", ""},
        {recoded<InitBody>, R"({"path":"Día 1/","name":"A001 \"x\".mov","size":9007199254740993,"type":"video/quicktime","accelerate":true})", ""},
        {recoded<CompleteBody>, R"({"key":"k/a.mov","uploadId":"u1","parts":[{"PartNumber":1,"ETag":"\"e1\""},{"PartNumber":2,"ETag":"e2"}]})", ""},
    };
    for (const auto& c : cases)
        EXPECT_EQ(c.recode(c.in), c.out.empty() ? c.in : c.out);
    EXPECT_THROW(compactJson(encodeRecord(InitBody{"p/", "bad\xff.mov", 1, "t", false})), std::invalid_argument);
}

template<class T>
void decodes(const std::string& text) { decode<T>(text); }

TEST(Records, RefuseMissingNullOrMistypedMembersAndValuesUnfitForARequest)
{
    std::vector<std::pair<void (*)(const std::string&), std::string>> refused = {
        {decodes<User>, R"({"email":"a@b","name":"A","is_admin":true})"},
        {decodes<User>, R"({"email":"a@b","name":"A","is_admin":true,"bucket":null})"},
        {decodes<User>, R"({"email":"a@b","name":"A","is_admin":"true","bucket":"b"})"},
        // An optional member that is present must still have its type.
        {decodes<User>, R"({"email":"a@b","name":"A","is_admin":true,"bucket":"b","app_name":3})"},
        {decodes<User>, R"({"email":"a@b","name":"A","is_admin":true,"bucket":"b","company":{"slug":"s"}})"},
        {decodes<User>, "[]"},
        // One bad element spoils the whole listing.
        {decodes<Listing>, R"({"path":"","folders":[{"name":"a","path":"a","count":1}],"files":[]})"},
        {decodes<Listing>, R"({"path":"","folders":{},"files":[]})"},
        {decodes<Listing>, R"({"path":"","folders":[]})"},
        {decodes<UploadInit>, R"({"mode":"multipart","key":"k","partSize":"33554432"})"},
        {decodes<UploadInit>, R"({"mode":"multipart"})"},
        // Values that go into requests hold no line break or NUL, and URLs are http(s).
        {decodes<UploadInit>, R"({"mode":"single","key":"a\r\nb","url":"https://s3.test/a"})"},
        {decodes<UploadInit>, R"({"mode":"single","key":"k","url":"https://s3.test/k","contentType":"video/mxf\r\nX-Injected: yes"})"},
        {decodes<UploadInit>, R"({"mode":"single","key":"k","url":"https://s3.test/k","contentType":"video/mxf\u0000"})"},
        {decodes<UploadInit>, R"({"mode":"single","key":"k","url":"https://s3.test/k\r\nX-Injected: yes"})"},
        {decodes<UploadInit>, R"({"mode":"single","key":"k","url":"file:///etc/passwd"})"},
        {decodes<PartURLs>, "{}"},
        {decodes<PartURLs>, R"({"urls":["https://s3.test/1"]})"},
        {decodes<PartURLs>, R"({"urls":{"1":5}})"},
    };
    // Integers refuse fractions (also 3.0), exponents, strings and what int64 cannot hold.
    for (const char* size : {"1.5", "3.0", "1e3", "9223372036854775808", "18446744073709551616", "\"12\"", "true"})
        refused.emplace_back(decodes<FileEntry>, R"({"name":"f","path":"f","modified":1,"size":)" + std::string(size) + "}");
    for (const char* url : {"https://s3.test:99999/k", "https://s3.test/k%zz", "https://s3.test/k%4", "https://s3.test/a b", "https:///k"})
        refused.emplace_back(decodes<UploadInit>, R"({"mode":"single","key":"k","url":")" + std::string(url) + "\"}");
    // Only one complete JSON value in valid UTF-8 is a body.
    for (const char* body : {"", " ", "{", R"({"a":1} x)", "{'a':1}", "\xff", "{\"a\":\"\xc3\"}"})
        refused.emplace_back(decodes<User>, body);
    for (const auto& [decoder, text] : refused) {
        try {
            decoder(text);
            ADD_FAILURE() << "decoded: " << text;
        } catch (const APIError& e) {
            EXPECT_EQ(e.kind(), APIError::Kind::Decode) << text;
        }
    }
}

// Four million values, keys and brackets at most (a listing of 100,000 files takes a million):
// a few megabytes of "0," must not grow into a tree of gigabytes.
TEST(Records, ABodyOfMoreThanFourMillionStepsIsRefused)
{
    const auto zeros = [](int count) { return "[" + QByteArray("0,").repeated(count - 1) + "0]"; };
    EXPECT_EQ(parseJsonBody(zeros(3'999'998)).size(), 3'999'998u);
    EXPECT_THROW(parseJsonBody(zeros(3'999'999)), APIError);
}

TEST(Records, OnlyNumberedUsableURLsAreKept)
{
    PartURLs answer = decode<PartURLs>(
        R"({"urls":{"1":"https://s3.test/b/k?partNumber=1&X-Amz-Signature=ab%2Fcd","2":"http://127.0.0.1:9000/b/k?partNumber=2",)"
        R"("x":"https://s3.test/x","1a":"https://s3.test/1a","":"https://s3.test/e","+3":"https://s3.test/3","-4":"https://s3.test/m4",)"
        R"("+-5":"https://s3.test/5"," 6":"https://s3.test/6","7":"not a url","8":"/relative/path","9":"mailto:a@b","10":"ftp://s3.test/10",)"
        R"("99999999999999999999":"https://s3.test/big"}})");
    const std::map<int64_t, std::string> expected{{1, "https://s3.test/b/k?partNumber=1&X-Amz-Signature=ab%2Fcd"},
                                                  {2, "http://127.0.0.1:9000/b/k?partNumber=2"},
                                                  {3, "https://s3.test/3"}, {-4, "https://s3.test/m4"}};
    EXPECT_EQ(usablePartURLs(answer), expected);
}

std::string build(const QString& origin, std::string_view path, const std::vector<std::pair<std::string, std::string>>& query = {})
{
    return serviceURL(QUrl(origin, QUrl::StrictMode), origin, path, query);
}

// One slash between the origin's path and the endpoint, the origin's query and fragment dropped.
TEST(ServiceURL, JoinsOriginAndEndpointAndEncodesQueryValues)
{
    const std::pair<std::string, std::string> cases[] = {
        {build("https://up.example.com", "api/me"), "https://up.example.com/api/me"},
        {build("http://127.0.0.1:8080/zafrel", "api/upload/init"), "http://127.0.0.1:8080/zafrel/api/upload/init"},
        {build("https://h/p?x=1#frag", "api/me"), "https://h/p/api/me"},
        {build("https://h", "api/ls", {{"path", "Día 1/A&B=C+D %/"}}), "https://h/api/ls?path=D%C3%ADa%201%2FA%26B%3DC%2BD%20%25%2F"},
        {build("https://h", "api/upload/urls", {{"key", "a"}, {"first", "1"}, {"accelerate", "0"}}),
         "https://h/api/upload/urls?key=a&first=1&accelerate=0"},
        {build("https://h", "api/ls", {{"path", ""}}), "https://h/api/ls?path="},
        {build("https://h", "api/ls", {{"path", "-._~"}}), "https://h/api/ls?path=-._~"},
    };
    for (const auto& [built, expected] : cases)
        EXPECT_EQ(built, expected);
}

TEST(ServiceURL, UnusableOriginsFailWithAReadableTransportError)
{
    for (QString origin : {"", "not a url", "upload.zafrel.app", "/api", "ftp://h", "file:///etc", "https://", " https://h", "https://h/ x"}) {
        try {
            build(origin, "api/me");
            ADD_FAILURE() << origin.toStdString();
        } catch (const TransportError& e) {
            EXPECT_EQ(std::string(e.what()), "Dirección del servidor no válida: \"" + origin.toStdString() + "\"");
        }
    }
}

}  // namespace
