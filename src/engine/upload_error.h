#pragma once
#include <exception>
#include <string>

namespace zafrel {

// Failures of object-store transfers. what() is the Spanish text that a failed item shows.
class UploadError : public std::exception {
public:
    enum class Kind { Http, Checksum, Cancelled, Network };

    // "HTTP " + code + " " + the first 80 characters of `message` (UTF-8); an object-store XML
    // error document is shown by its code and message ("HTTP 503 SlowDown: Please reduce…").
    static UploadError http(int code, std::string message);
    // The store's 404 "NoSuchUpload": the multipart upload a part was sent to no longer exists
    // there (a lifecycle rule or an administrator ended it). Every later part would be refused too.
    bool uploadGone() const { return kind_ == Kind::Http && code_ == 404 && storeCode_ == "NoSuchUpload"; }
    // "La verificación MD5 no coincide"
    static UploadError checksum();
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
    std::string storeCode_;   // the <Code> of the store's XML error document, if any
};

}  // namespace zafrel
