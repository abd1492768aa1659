#pragma once
// MD5 over bytes given in pieces, and the same bytes taken by two MD5s in one pass over memory.
//
// A multipart upload needs each part's MD5 (to check its ETag) and the whole file's MD5 over the
// same bytes. MD5 is bound by the latency of its chain of steps, not by the CPU's width, so two
// independent states advanced over the same 64-byte blocks in one loop cost little more than
// one: the CPU runs both chains side by side, and each block is loaded once.
#include <cstddef>
#include <cstdint>
#include <string>

namespace zafrel {

class Md5Hasher {
public:
    Md5Hasher();

    void add(const void* data, size_t size);
    // Lower-case hex, 32 characters. Ends the hasher: add nothing more after it.
    std::string finishHex();
    // Bytes added so far.
    uint64_t length() const { return length_; }

    // Adds the same bytes to both. When both stand at the same place within a block (their
    // lengths agree modulo 64), their whole blocks advance in one loop; otherwise (a part that
    // starts mid-block in the file) each takes the bytes in a pass of its own.
    friend void addToBoth(Md5Hasher& a, Md5Hasher& b, const void* data, size_t size);

private:
    // Completes a partly filled block from `data`; returns how many bytes it took.
    size_t fillBlock(const unsigned char* data, size_t size);

    uint32_t state_[4];
    uint64_t length_ = 0;
    unsigned char block_[64];   // the first length_ % 64 bytes are the block being filled
};

// Whether addToBoth may use the CPU's vector instructions where it has them (AVX-512), as it does
// unless told otherwise; answers whether it now will. For checking both ways on one machine.
bool useVectorMd5(bool allowed);

}  // namespace zafrel
