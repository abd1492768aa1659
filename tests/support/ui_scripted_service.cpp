#include "support/ui_scripted_service.h"

#include "platform/settings.h"

#include <nlohmann/json.hpp>

#include <QString>

namespace zafrel::test {

UiScriptedService::UiScriptedService() : ScriptedServer({404, errorJson("no script")}) {}

void UiScriptedService::useAsServer() const
{
    settings::setValue(QStringLiteral("serverURL"), QString::fromStdString(origin()));
}

std::string UiScriptedService::userJson(const std::string& email, std::optional<std::string> companyName,
                                        const std::string& bucket)
{
    nlohmann::json user = {{"email", email}, {"name", "Persona de prueba"}, {"is_admin", !companyName},
                           {"bucket", bucket}};
    if (companyName)
        user["company"] = {{"slug", "empresa"}, {"name", *companyName}};
    return user.dump();
}

std::string UiScriptedService::errorJson(const std::string& message)
{
    return nlohmann::json{{"error", message}}.dump();
}

}  // namespace zafrel::test
