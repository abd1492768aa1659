#pragma once
#include <exception>
#include <string>
#include <string_view>

namespace zafrel {

// Failures of object-store transfers. what() is the Spanish text that a failed item shows; the
// store's own words, when they are not that text, are the technical detail.
class UploadError : public std::exception {
public:
    enum class Kind { Http, Checksum, OffloadRecord, Cancelled, Network };

    // An object-store error document with a common code (SlowDown, AccessDenied, …) is said in
    // Spanish, its code and message kept as the detail ("HTTP 503 SlowDown: Please reduce…").
    // Other answers: "HTTP " + code + " " + the first 80 characters of `message` (UTF-8), of an
    // error document its code and message.
    static UploadError http(int code, std::string message);
    // The store's 404 "NoSuchUpload": the multipart upload a part was sent to no longer exists
    // there (a lifecycle rule or an administrator ended it). Every later part would be refused too.
    bool uploadGone() const { return kind_ == Kind::Http && code_ == 404 && storeCode_ == "NoSuchUpload"; }
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
    // The store's own words when what() says them otherwise; empty when there are none.
    const std::string& detail() const { return detail_; }

private:
    UploadError(Kind kind, int code, std::string text, std::string detail = {});

    Kind kind_;
    int code_;
    std::string text_;
    std::string detail_;
    std::string storeCode_;   // the <Code> of the store's XML error document, if any
};

// The technical words behind a transfer's failure, for the report and the row's tooltip: the
// transport's, or the store's own for an UploadError; empty when there are none.
std::string failureDetail(const std::exception_ptr& failure);

}  // namespace zafrel
