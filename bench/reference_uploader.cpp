// The machine's limit for Zafrel's kind of work, without any of Zafrel: read a part (at most
// 32 MiB) with pread, MD5 it, PUT it to the sink, compare the ETag, on two threads; no service
// calls, no queue, no retries. Small files are one part each.
//
//   bench_reference_uploader URL FILE...   prints one JSON line with bytes, seconds, MB/s, files/s
#include <curl/curl.h>
#include <fcntl.h>
#include <openssl/evp.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

namespace {

constexpr long long kPartSize = 33554432;
constexpr int kThreads = 2;

struct Piece {
    int file;
    long long offset, length;
    int number;
};

std::string md5Hex(const char* data, size_t n)
{
    unsigned char md[EVP_MAX_MD_SIZE];
    unsigned int len = 0;
    EVP_Digest(data, n, md, &len, EVP_md5(), nullptr);
    static const char* digits = "0123456789abcdef";
    std::string out;
    for (unsigned i = 0; i < len; ++i) {
        out += digits[md[i] >> 4];
        out += digits[md[i] & 15];
    }
    return out;
}

size_t collectETag(char* data, size_t size, size_t count, void* user)
{
    const std::string line(data, size * count);
    if (strncasecmp(line.c_str(), "etag:", 5) == 0) {
        std::string v = line.substr(5);
        std::string clean;
        for (char c : v)
            if (c != '"' && c != ' ' && c != '\r' && c != '\n')
                clean += c;
        *static_cast<std::string*>(user) = clean;
    }
    return size * count;
}

size_t discard(char*, size_t size, size_t count, void*) { return size * count; }

}  // namespace

int main(int argc, char** argv)
{
    if (argc < 3) {
        std::fprintf(stderr, "usage: %s URL FILE...\n", argv[0]);
        return 2;
    }
    const std::string base = argv[1];
    std::vector<int> fds;
    std::vector<Piece> pieces;
    long long total = 0;
    for (int i = 2; i < argc; ++i) {
        const int fd = ::open(argv[i], O_RDONLY);
        struct stat st{};
        if (fd < 0 || ::fstat(fd, &st) != 0) {
            std::perror(argv[i]);
            return 1;
        }
        fds.push_back(fd);
        const long long size = st.st_size;
        total += size;
        const bool multipart = size > kPartSize;
        int number = 1;
        for (long long off = 0; off < size || (size == 0 && off == 0); off += kPartSize, ++number) {
            pieces.push_back({int(fds.size() - 1), off, std::min(kPartSize, size - off), multipart ? number : 0});
            if (size == 0)
                break;
        }
    }

    curl_global_init(CURL_GLOBAL_DEFAULT);
    std::atomic<size_t> next{0};
    std::atomic<int> failures{0};
    const auto started = std::chrono::steady_clock::now();
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&] {
            CURL* curl = curl_easy_init();
            std::vector<char> buffer(static_cast<size_t>(kPartSize));
            curl_slist* headers = curl_slist_append(nullptr, "Expect:");
            headers = curl_slist_append(headers, "Content-Type: application/octet-stream");
            for (size_t i; (i = next++) < pieces.size();) {
                const Piece& p = pieces[i];
                long long got = 0;
                while (got < p.length) {
                    const ssize_t n = ::pread(fds[size_t(p.file)], buffer.data() + got, size_t(p.length - got), p.offset + got);
                    if (n <= 0)
                        break;
                    got += n;
                }
                const std::string md5 = md5Hex(buffer.data(), size_t(got));
                std::string url = base + "/bench/reference/" + std::to_string(p.file);
                if (p.number > 0)
                    url += "?partNumber=" + std::to_string(p.number) + "&uploadId=reference";
                std::string etag;
                curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
                curl_easy_setopt(curl, CURLOPT_CUSTOMREQUEST, "PUT");
                curl_easy_setopt(curl, CURLOPT_POSTFIELDS, buffer.data());
                curl_easy_setopt(curl, CURLOPT_POSTFIELDSIZE_LARGE, curl_off_t(got));
                curl_easy_setopt(curl, CURLOPT_HTTPHEADER, headers);
                curl_easy_setopt(curl, CURLOPT_UPLOAD_BUFFERSIZE, 2L * 1024 * 1024);
                curl_easy_setopt(curl, CURLOPT_HEADERFUNCTION, collectETag);
                curl_easy_setopt(curl, CURLOPT_HEADERDATA, &etag);
                curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, discard);
                long status = 0;
                if (curl_easy_perform(curl) != CURLE_OK
                    || (curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &status), status != 200) || etag != md5)
                    ++failures;
            }
            curl_slist_free_all(headers);
            curl_easy_cleanup(curl);
        });
    }
    for (auto& t : threads)
        t.join();
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    std::printf("{\"bytes\":%lld,\"files\":%d,\"seconds\":%.3f,\"mbPerSecond\":%.1f,\"filesPerSecond\":%.1f,\"failures\":%d}\n",
                total, argc - 2, seconds, total / 1e6 / seconds, (argc - 2) / seconds, failures.load());
    curl_global_cleanup();
    return failures ? 1 : 0;
}
