#pragma once
// The digests that camera-media hash lists record, computed incrementally and written the way
// those lists write them: md5 and sha1 as lower-case hex, xxh64/xxh3/xxh128 (seed 0) as their
// big-endian value in lower-case hex, c4 as the SHA-512 digest in base 58 ("c4" and 88 characters).
#include <QByteArrayView>

#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace zafrel {

// In the order the hash lists' schema gives their elements.
enum class HashFormat { C4, Md5, Sha1, Xxh128, Xxh3, Xxh64 };

// The element name of the format in a hash list: "c4", "md5", "sha1", "xxh128", "xxh3", "xxh64".
std::string_view hashFormatName(HashFormat format);
std::optional<HashFormat> hashFormatFromName(std::string_view name);
// Cheaper formats first: the one worth checking when a file has records in several.
int hashFormatCost(HashFormat format);

// Whether two written digests of `format` name the same value: hex in either case, c4 exactly.
bool sameDigest(HashFormat format, std::string_view a, std::string_view b);

// One digest over bytes given in pieces. Not copyable; use it from one thread at a time.
class ContentHasher {
public:
    explicit ContentHasher(HashFormat format);
    ~ContentHasher();
    ContentHasher(ContentHasher&&) noexcept;
    ContentHasher& operator=(ContentHasher&&) noexcept;

    HashFormat format() const { return format_; }
    void add(QByteArrayView bytes);
    // The digest of everything added, written as the format is written. Ends the hasher.
    std::string finish();

    class State;

private:
    HashFormat format_;
    std::unique_ptr<State> state_;
};

// The C4 ID of a SHA-512 digest (64 bytes).
std::string c4FromSha512(const unsigned char* digest);

}  // namespace zafrel
