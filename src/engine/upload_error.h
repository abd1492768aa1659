#pragma once
#include <exception>
#include <string>
#include <string_view>

namespace zafrel {

// Failures of object-store transfers. what() is the Spanish text that a failed item shows.
class UploadError : public std::exception {
public:
    enum class Kind { Http, Checksum, OffloadRecord, Cancelled, Network };

    // "HTTP " + code + " " + the first 80 characters of `message` (UTF-8); an object-store XML
    // error document is shown by its code and message ("HTTP 503 SlowDown: Please reduce…").
    static UploadError http(int code, std::string message);
    // "La verificación MD5 no coincide"
    static UploadError checksum();
    // "No coincide con el registro de la copia (ASC MHL, xxh64)", with the format checked
    static UploadError offloadMismatch(std::string_view format);
    // "Cancelado"
    static UploadError cancelled();
    // "Sin respuesta de red"
    static UploadError network();

    Kind kind() const { return kind_; }
    int code() const { return code_; }   // the HTTP status for Kind::Http, else 0
    const char* what() const noexcept override { return text_.c_str(); }

private:
    UploadError(Kind kind, int code, std::string text);

    Kind kind_;
    int code_;
    std::string text_;
};

}  // namespace zafrel
