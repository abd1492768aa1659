#include "platform/transport_error_text.h"

#include <memory>

namespace zafrel {

namespace {

std::string hostOf(const std::string& url)
{
    std::unique_ptr<CURLU, decltype(&curl_url_cleanup)> parsed(curl_url(), &curl_url_cleanup);
    if (!parsed || curl_url_set(parsed.get(), CURLUPART_URL, url.c_str(), 0) != CURLUE_OK)
        return url;
    char* host = nullptr;
    if (curl_url_get(parsed.get(), CURLUPART_HOST, &host, 0) != CURLUE_OK || !host)
        return url;
    std::string result(host);
    curl_free(host);
    return result;
}

// A connection that was open and broke (or gave nothing) before the answer was whole.
bool connectionLost(CURLcode code)
{
    switch (code) {
    case CURLE_SEND_ERROR:
    case CURLE_RECV_ERROR:
    case CURLE_GOT_NOTHING:
    case CURLE_PARTIAL_FILE:
    case CURLE_HTTP2:
    case CURLE_HTTP2_STREAM:
        return true;
    default:
        return false;
    }
}

std::string summary(CURLcode code, const std::string& url)
{
    switch (code) {
    case CURLE_URL_MALFORMAT:
    case CURLE_UNSUPPORTED_PROTOCOL:
        return "Dirección no válida: " + url;
    case CURLE_COULDNT_RESOLVE_HOST:
        return "No se encontró el servidor " + hostOf(url);
    case CURLE_COULDNT_CONNECT:
        return "No se pudo conectar con " + hostOf(url);
    case CURLE_OPERATION_TIMEDOUT:
        return "Se agotó el tiempo de espera de " + hostOf(url);
    case CURLE_SSL_CONNECT_ERROR:
    case CURLE_PEER_FAILED_VERIFICATION:
    case CURLE_SSL_CERTPROBLEM:
    case CURLE_SSL_CIPHER:
    case CURLE_SSL_CACERT_BADFILE:
    case CURLE_SSL_ISSUER_ERROR:
    case CURLE_SSL_PINNEDPUBKEYNOTMATCH:
    case CURLE_SSL_INVALIDCERTSTATUS:
        return "Falló la conexión segura con " + hostOf(url);
    case CURLE_OUT_OF_MEMORY:
        return "Sin memoria para la petición a " + hostOf(url);
    default:
        return (connectionLost(code) ? "Se perdió la conexión con " : "Error de red con ") + hostOf(url);
    }
}

}  // namespace

std::string transportErrorText(CURLcode code, const std::string& url)
{
    return summary(code, url);
}

std::string transportErrorDetail(CURLcode code, const char* errorBuffer)
{
    const std::string generic = curl_easy_strerror(code);
    std::string detail = errorBuffer ? std::string(errorBuffer) : std::string();
    while (!detail.empty() && (detail.back() == '\n' || detail.back() == '\r' || detail.back() == ' '))
        detail.pop_back();
    if (detail.empty())
        detail = generic;
    else if (detail.find(generic) == std::string::npos)
        detail += " (" + generic + ")";
    return detail;
}

bool transportFailureMayPass(CURLcode code)
{
    switch (code) {
    case CURLE_COULDNT_RESOLVE_HOST:
    case CURLE_COULDNT_CONNECT:
    case CURLE_OPERATION_TIMEDOUT:
        return true;
    default:
        return connectionLost(code);
    }
}

std::string responseTooLargeText(const std::string& url)
{
    return "La respuesta de " + hostOf(url)
        + " era demasiado grande y se cortó: ese servidor no responde como debe. Inténtalo más tarde y, si se "
          "repite, avisa a quien lo administra.";
}

}  // namespace zafrel
