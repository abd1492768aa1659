#include "platform/content_hash.h"

#include "platform/ascii_text.h"

#include <openssl/evp.h>
#include <xxhash.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <stdexcept>
#include <variant>

namespace zafrel {

namespace {

constexpr std::array<std::string_view, 6> kNames{"c4", "md5", "sha1", "xxh128", "xxh3", "xxh64"};

std::string hex(const unsigned char* bytes, size_t size)
{
    static const char digits[] = "0123456789abcdef";
    std::string out(size * 2, '0');
    for (size_t i = 0; i < size; ++i) {
        out[2 * i] = digits[bytes[i] >> 4];
        out[2 * i + 1] = digits[bytes[i] & 0xf];
    }
    return out;
}

struct EvpDigest {
    EVP_MD_CTX* context = nullptr;
    explicit EvpDigest(const EVP_MD* md) : context(EVP_MD_CTX_new())
    {
        if (!context || EVP_DigestInit_ex(context, md, nullptr) != 1) {
            EVP_MD_CTX_free(context);
            throw std::runtime_error("Resumen criptográfico no disponible");
        }
    }
    ~EvpDigest() { EVP_MD_CTX_free(context); }
    EvpDigest(const EvpDigest&) = delete;
    EvpDigest& operator=(const EvpDigest&) = delete;
};

struct Xxh64State {
    XXH64_state_t* state = XXH64_createState();
    Xxh64State() { XXH64_reset(state, 0); }
    ~Xxh64State() { XXH64_freeState(state); }
    Xxh64State(const Xxh64State&) = delete;
    Xxh64State& operator=(const Xxh64State&) = delete;
};

// XXH3 keeps one state type for its 64- and 128-bit results.
struct Xxh3State {
    XXH3_state_t* state = XXH3_createState();
    bool wide;
    explicit Xxh3State(bool wide128) : wide(wide128)
    {
        if (wide)
            XXH3_128bits_reset(state);
        else
            XXH3_64bits_reset(state);
    }
    ~Xxh3State() { XXH3_freeState(state); }
    Xxh3State(const Xxh3State&) = delete;
    Xxh3State& operator=(const Xxh3State&) = delete;
};

}  // namespace

class ContentHasher::State {
public:
    explicit State(HashFormat format)
    {
        switch (format) {
        case HashFormat::C4: digest.emplace<EvpDigest>(EVP_sha512()); break;
        case HashFormat::Md5: digest.emplace<EvpDigest>(EVP_md5()); break;
        case HashFormat::Sha1: digest.emplace<EvpDigest>(EVP_sha1()); break;
        case HashFormat::Xxh128: digest.emplace<Xxh3State>(true); break;
        case HashFormat::Xxh3: digest.emplace<Xxh3State>(false); break;
        case HashFormat::Xxh64: digest.emplace<Xxh64State>(); break;
        }
    }
    std::variant<std::monostate, EvpDigest, Xxh64State, Xxh3State> digest;
};

std::string_view hashFormatName(HashFormat format) { return kNames[size_t(format)]; }

std::optional<HashFormat> hashFormatFromName(std::string_view name)
{
    const auto found = std::find(kNames.begin(), kNames.end(), name);
    if (found == kNames.end())
        return std::nullopt;
    return HashFormat(found - kNames.begin());
}

int hashFormatCost(HashFormat format)
{
    switch (format) {
    case HashFormat::Xxh3: return 0;
    case HashFormat::Xxh128: return 1;
    case HashFormat::Xxh64: return 2;
    case HashFormat::Md5: return 3;
    case HashFormat::Sha1: return 4;
    case HashFormat::C4: return 5;
    }
    return 6;
}

bool sameDigest(HashFormat format, std::string_view a, std::string_view b)
{
    if (format == HashFormat::C4)
        return a == b;
    return equalsIgnoringAsciiCase(a, b);
}

ContentHasher::ContentHasher(HashFormat format) : format_(format), state_(std::make_unique<State>(format)) {}
ContentHasher::~ContentHasher() = default;
ContentHasher::ContentHasher(ContentHasher&&) noexcept = default;
ContentHasher& ContentHasher::operator=(ContentHasher&&) noexcept = default;

void ContentHasher::add(QByteArrayView bytes)
{
    const auto size = size_t(bytes.size());
    if (auto* evp = std::get_if<EvpDigest>(&state_->digest)) {
        if (EVP_DigestUpdate(evp->context, bytes.data(), size) != 1)
            throw std::runtime_error("Resumen criptográfico no disponible");
    } else if (auto* x64 = std::get_if<Xxh64State>(&state_->digest)) {
        XXH64_update(x64->state, bytes.data(), size);
    } else if (auto* x3 = std::get_if<Xxh3State>(&state_->digest)) {
        if (x3->wide)
            XXH3_128bits_update(x3->state, bytes.data(), size);
        else
            XXH3_64bits_update(x3->state, bytes.data(), size);
    }
}

std::string ContentHasher::finish()
{
    std::string out;
    if (auto* evp = std::get_if<EvpDigest>(&state_->digest)) {
        unsigned char digest[EVP_MAX_MD_SIZE];
        unsigned int length = 0;
        if (EVP_DigestFinal_ex(evp->context, digest, &length) != 1)
            throw std::runtime_error("Resumen criptográfico no disponible");
        out = format_ == HashFormat::C4 ? c4FromSha512(digest) : hex(digest, length);
    } else if (auto* x64 = std::get_if<Xxh64State>(&state_->digest)) {
        XXH64_canonical_t canonical;
        XXH64_canonicalFromHash(&canonical, XXH64_digest(x64->state));
        out = hex(canonical.digest, sizeof canonical.digest);
    } else if (auto* x3 = std::get_if<Xxh3State>(&state_->digest)) {
        if (x3->wide) {
            XXH128_canonical_t canonical;
            XXH128_canonicalFromHash(&canonical, XXH3_128bits_digest(x3->state));
            out = hex(canonical.digest, sizeof canonical.digest);
        } else {
            XXH64_canonical_t canonical;
            XXH64_canonicalFromHash(&canonical, XXH3_64bits_digest(x3->state));
            out = hex(canonical.digest, sizeof canonical.digest);
        }
    }
    state_->digest.emplace<std::monostate>();
    return out;
}

std::string c4FromSha512(const unsigned char* digest)
{
    static const char alphabet[] = "123456789ABCDEFGHJKLMNPQRSTUVWXYZabcdefghijkmnopqrstuvwxyz";
    constexpr size_t kDigits = 88;
    // The digest as one big-endian number, divided by 58 again and again: each remainder is the
    // next digit from the right.
    std::array<uint8_t, 64> number;
    std::copy(digest, digest + 64, number.begin());
    std::string out(kDigits, '1');
    for (size_t position = kDigits; position-- > 0;) {
        unsigned remainder = 0;
        for (uint8_t& byte : number) {
            const unsigned value = (remainder << 8) | byte;
            byte = uint8_t(value / 58);
            remainder = value % 58;
        }
        out[position] = alphabet[remainder];
    }
    return "c4" + out;
}

}  // namespace zafrel
