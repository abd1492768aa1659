#include "client/api_error.h"

#include <nlohmann/json.hpp>

namespace zafrel {

APIError::APIError(Kind kind, int code, std::string message)
    : kind_(kind), code_(code), message_(std::move(message))
{
    switch (kind_) {
    case Kind::Http:
        // With an empty message the text still ends with the space after the code.
        text_ = "Servidor: " + std::to_string(code_) + " " + message_;
        break;
    case Kind::Auth:
        text_ = "Sesión caducada. Vuelve a entrar.";
        break;
    case Kind::Decode:
        text_ = "Respuesta inesperada del servidor";
        break;
    }
}

APIError APIError::http(int code, std::string message) { return APIError(Kind::Http, code, std::move(message)); }
APIError APIError::auth() { return APIError(Kind::Auth, 0, {}); }
APIError APIError::decode() { return APIError(Kind::Decode, 0, {}); }

std::string APIError::diagnostic() const
{
    switch (kind_) {
    case Kind::Http:
        // The message is the service's text; a JSON string literal keeps quotes and control
        // characters in it readable on one line. Invalid UTF-8 is replaced rather than thrown.
        return "http(" + std::to_string(code_) + ", "
            + nlohmann::json(message_).dump(-1, ' ', false, nlohmann::json::error_handler_t::replace) + ")";
    case Kind::Auth:
        return "auth";
    case Kind::Decode:
        return "decode";
    }
    return {};
}

}  // namespace zafrel
