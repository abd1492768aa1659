#pragma once
#include <exception>
#include <string>

namespace zafrel {

// What the company's service answered when it did answer: an HTTP failure status, an expired or
// missing session, or a success whose body is not what the client expects. Transport failures are
// not APIErrors: they arrive as TransportError / Cancelled from the HTTP layer.
class APIError : public std::exception {
public:
    enum class Kind { Http, Auth, Decode };

    static APIError http(int code, std::string message);
    static APIError auth();
    static APIError decode();

    Kind kind() const { return kind_; }
    // Only meaningful for Kind::Http (0 and "" otherwise).
    int code() const { return code_; }
    const std::string& message() const { return message_; }

    // The text shown to the user, UTF-8: "Servidor: 500 msg", "Sesión caducada. Vuelve a entrar.",
    // "Respuesta inesperada del servidor".
    const char* what() const noexcept override { return text_.c_str(); }
    // The plain form printed by the command line: http(500, "msg"), auth, decode.
    std::string diagnostic() const;

    // An earlier attempt of the same call failed without a usable answer, so the service may
    // already have done what this answer refuses (a completion it had completed, say).
    bool retried() const { return retried_; }
    APIError& setRetried(bool retried)
    {
        retried_ = retried;
        return *this;
    }

private:
    APIError(Kind kind, int code, std::string message);

    Kind kind_;
    int code_;
    std::string message_;
    std::string text_;
    bool retried_ = false;
};

}  // namespace zafrel
