// Writes the ASC MHL history an offload on set would leave in a folder: one hash list recording
// the xxh64 of every file below it (names beginning with "." and ascmhl/ left out) and the chain
// that lists it. Stands apart from Zafrel's code, so that what Zafrel checks was not computed by
// Zafrel.
//
//   bench_mhl_record FOLDER
#include <fcntl.h>
#include <openssl/evp.h>
#include <unistd.h>
#include <xxhash.h>

#include <cinttypes>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

std::string xxh64Of(const fs::path& file)
{
    const int fd = ::open(file.c_str(), O_RDONLY);
    if (fd < 0)
        throw std::runtime_error("cannot open " + file.string());
    XXH64_state_t* state = XXH64_createState();
    XXH64_reset(state, 0);
    std::vector<char> buffer(8 << 20);
    for (ssize_t got; (got = ::read(fd, buffer.data(), buffer.size())) > 0;)
        XXH64_update(state, buffer.data(), size_t(got));
    ::close(fd);
    char text[17];
    std::snprintf(text, sizeof text, "%016" PRIx64, uint64_t(XXH64_digest(state)));
    XXH64_freeState(state);
    return text;
}

// C4 ID: the SHA-512 digest as a big-endian number in base 58, padded to 88 digits.
std::string c4Of(const std::string& bytes)
{
    unsigned char digest[64];
    unsigned int length = 0;
    EVP_Digest(bytes.data(), bytes.size(), digest, &length, EVP_sha512(), nullptr);
    static const char alphabet[] = "123456789ABCDEFGHJKLMNPQRSTUVWXYZabcdefghijkmnopqrstuvwxyz";
    std::string out(88, '1');
    for (size_t position = 88; position-- > 0;) {
        unsigned remainder = 0;
        for (unsigned char& byte : digest) {
            const unsigned value = (remainder << 8) | byte;
            byte = static_cast<unsigned char>(value / 58);
            remainder = value % 58;
        }
        out[position] = alphabet[remainder];
    }
    return "c4" + out;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "uso: bench_mhl_record CARPETA\n");
        return 2;
    }
    const fs::path root = fs::absolute(argv[1]);
    std::ostringstream list;
    list << "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<hashlist version=\"2.0\" xmlns=\"urn:ASC:MHL:v2.0\">\n"
         << "  <creatorinfo>\n    <creationdate>2026-01-01T00:00:00+00:00</creationdate>\n"
         << "    <hostname>bench</hostname>\n    <tool version=\"1\">bench_mhl_record</tool>\n  </creatorinfo>\n"
         << "  <processinfo>\n    <process>in-place</process>\n  </processinfo>\n  <hashes>\n";
    for (const auto& entry : fs::recursive_directory_iterator(root)) {
        const std::string relative = fs::relative(entry.path(), root).generic_string();
        if (!entry.is_regular_file() || relative.rfind("ascmhl/", 0) == 0 || entry.path().filename().string()[0] == '.')
            continue;
        list << "    <hash>\n      <path size=\"" << entry.file_size() << "\">" << relative << "</path>\n"
             << "      <xxh64 action=\"original\" hashdate=\"2026-01-01T00:00:00+00:00\">" << xxh64Of(entry.path())
             << "</xxh64>\n    </hash>\n";
    }
    list << "  </hashes>\n</hashlist>\n";
    const std::string name = "0001_" + root.filename().string() + "_2026-01-01_000000Z.mhl";
    fs::create_directories(root / "ascmhl");
    std::ofstream(root / "ascmhl" / name, std::ios::binary) << list.str();
    std::ofstream(root / "ascmhl" / "ascmhl_chain.xml", std::ios::binary)
        << "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<ascmhldirectory xmlns=\"urn:ASC:MHL:DIRECTORY:v2.0\">\n"
        << "  <hashlist sequencenr=\"1\">\n    <path>" << name << "</path>\n    <c4>" << c4Of(list.str())
        << "</c4>\n  </hashlist>\n</ascmhldirectory>\n";
    return 0;
}
