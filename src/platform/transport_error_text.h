#pragma once
#include <curl/curl.h>

#include <string>

namespace zafrel {

// The readable text of a request that got no HTTP response: what failed and with which host,
// e.g. "No se pudo conectar con 127.0.0.1".
std::string transportErrorText(CURLcode code, const std::string& url);
// libcurl's own wording of the same failure, for the report and tooltips: "Failed to connect to
// 127.0.0.1 port 9 after 0 ms: Couldn't connect to server".
std::string transportErrorDetail(CURLcode code, const char* errorBuffer);

// True for failures that may pass by themselves: the other side restarting or out of reach for
// a moment (refused, reset, timed out, name not resolved).
bool transportFailureMayPass(CURLcode code);

// The text of an answer that was cut off because its body passed the request's bound.
std::string responseTooLargeText(const std::string& url);

}  // namespace zafrel
