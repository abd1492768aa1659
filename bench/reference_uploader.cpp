// The machine's limit for Zafrel's kind of work, without any of Zafrel: read a part (at most
// 32 MiB) with pread, MD5 it, PUT it to the sink, compare the ETag, on two threads (or --threads);
// no service calls, no queue, no retries. Small files are one part each. A folder stands for the
// files below it (names beginning with "." left out, as Zafrel does); each file is opened only
// while a part of it is read, so a card of any number of files fits in the open-file limit.
//
//   bench_reference_uploader [--threads N] URL PATH...
//       prints one JSON line with bytes, files, puts, seconds, MB/s, files/s and failures
#include <curl/curl.h>
#include <fcntl.h>
#include <openssl/evp.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace {

constexpr long long kPartSize = 33554432;

struct Piece {
    size_t file;
    long long offset, length;
    int number;
};

struct Work {
    std::vector<std::string> files;
    std::vector<Piece> pieces;
    long long bytes = 0;
};

void addFile(Work& work, const std::string& path, long long size)
{
    work.files.push_back(path);
    work.bytes += size;
    const bool multipart = size > kPartSize;
    int number = 1;
    long long offset = 0;
    do {
        work.pieces.push_back({work.files.size() - 1, offset, std::min(kPartSize, size - offset), multipart ? number : 0});
        offset += kPartSize;
        ++number;
    } while (offset < size);
}

bool hidden(const std::filesystem::path& p)
{
    const std::string name = p.filename().string();
    return !name.empty() && name[0] == '.';
}

// Throws std::filesystem::filesystem_error for a path that cannot be read.
void addPath(Work& work, const std::filesystem::path& path)
{
    namespace fs = std::filesystem;
    if (!fs::is_directory(path)) {
        addFile(work, path.string(), (long long)fs::file_size(path));
        return;
    }
    for (auto it = fs::recursive_directory_iterator(path); it != fs::recursive_directory_iterator(); ++it) {
        if (hidden(it->path())) {
            if (it->is_directory())
                it.disable_recursion_pending();
            continue;
        }
        if (it->is_regular_file())
            addFile(work, it->path().string(), (long long)it->file_size());
    }
}

// Reads a whole piece; false when the file cannot be opened or ends early.
bool readPiece(const std::string& path, const Piece& piece, char* buffer)
{
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    long long got = 0;
    while (got < piece.length) {
        const ssize_t n = ::pread(fd, buffer + got, size_t(piece.length - got), piece.offset + got);
        if (n <= 0)
            break;
        got += n;
    }
    ::close(fd);
    return got == piece.length;
}

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
    int threadCount = 2;
    int first = 1;
    if (argc > 2 && std::strcmp(argv[1], "--threads") == 0) {
        threadCount = std::atoi(argv[2]);
        first = 3;
    }
    if (argc - first < 2 || threadCount < 1) {
        std::fprintf(stderr, "usage: %s [--threads N] URL PATH...\n", argv[0]);
        return 2;
    }
    const std::string base = argv[first];
    Work work;
    for (int i = first + 1; i < argc; ++i) {
        try {
            addPath(work, argv[i]);
        } catch (const std::filesystem::filesystem_error& e) {
            std::fprintf(stderr, "%s\n", e.what());
            return 1;
        }
    }
    const std::vector<Piece>& pieces = work.pieces;

    curl_global_init(CURL_GLOBAL_DEFAULT);
    std::atomic<size_t> next{0};
    std::atomic<int> failures{0};
    const auto started = std::chrono::steady_clock::now();
    std::vector<std::thread> threads;
    for (int t = 0; t < threadCount; ++t) {
        threads.emplace_back([&] {
            CURL* curl = curl_easy_init();
            // Left uninitialised: only the pages a piece fills count in the resident memory.
            const std::unique_ptr<char[]> buffer(new char[size_t(kPartSize)]);
            curl_slist* headers = curl_slist_append(nullptr, "Expect:");
            headers = curl_slist_append(headers, "Content-Type: application/octet-stream");
            for (size_t i; (i = next++) < pieces.size();) {
                const Piece& p = pieces[i];
                if (!readPiece(work.files[p.file], p, buffer.get())) {
                    ++failures;
                    continue;
                }
                const long long got = p.length;
                const std::string md5 = md5Hex(buffer.get(), size_t(got));
                std::string url = base + "/bench/reference/" + std::to_string(p.file);
                if (p.number > 0)
                    url += "?partNumber=" + std::to_string(p.number) + "&uploadId=reference";
                std::string etag;
                curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
                curl_easy_setopt(curl, CURLOPT_CUSTOMREQUEST, "PUT");
                curl_easy_setopt(curl, CURLOPT_POSTFIELDS, buffer.get());
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
    const double files = double(work.files.size());
    std::printf("{\"bytes\":%lld,\"files\":%zu,\"puts\":%zu,\"seconds\":%.3f,\"mbPerSecond\":%.1f,\"filesPerSecond\":%.1f,\"failures\":%d}\n",
                work.bytes, work.files.size(), pieces.size(), seconds, double(work.bytes) / 1e6 / seconds, files / seconds,
                failures.load());
    curl_global_cleanup();
    return failures ? 1 : 0;
}
