#pragma once
#include <QByteArray>
#include <string>

namespace zafrel {

// Lower-case hex MD5 of the bytes: 32 characters, each digest byte as "%02x".
std::string md5Hex(const char* data, size_t size);
inline std::string md5Hex(const QByteArray& data) { return md5Hex(data.constData(), size_t(data.size())); }

}  // namespace zafrel
