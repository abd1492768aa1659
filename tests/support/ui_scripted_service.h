#pragma once
// The scripted service of the session and desktop tests: a ScriptedServer that the program can be
// pointed at, plus the answers the service writes.
#include "support/scripted_server.h"

#include <optional>
#include <string>

namespace zafrel::test {

class UiScriptedService : public ScriptedServer {
public:
    // Unscripted requests get 404 {"error":"no script"}.
    UiScriptedService();

    // Points the program's "serverURL" setting at this service.
    void useAsServer() const;

    // The "api/me" answer of an account, as the service writes it.
    static std::string userJson(const std::string& email, std::optional<std::string> companyName,
                                const std::string& bucket = "");
    // An error answer body {"error": message}.
    static std::string errorJson(const std::string& message);
};

}  // namespace zafrel::test
