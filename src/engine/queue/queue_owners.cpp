#include "engine/queue/queue_owners.h"

#include <QCryptographicHash>

#include <nlohmann/json.hpp>

#include <map>

namespace zafrel {

bool QueueOwner::operator==(const QueueOwner& other) const
{
    return origin == other.origin && company == other.company && email.compare(other.email, Qt::CaseInsensitive) == 0;
}

QString QueueOwner::text() const
{
    return email + QStringLiteral(" (") + (company.isEmpty() ? QStringLiteral("administración") : company) + u')';
}

QString QueueOwner::identity() const
{
    return origin + u' ' + company + u' ' + email.toLower();
}

QString destinationSettingKey(const QueueOwner& account)
{
    const QByteArray digest = QCryptographicHash::hash(account.identity().toUtf8(), QCryptographicHash::Sha1);
    return QStringLiteral("destinos/") + QString::fromLatin1(digest.toHex().left(16));
}

QueueOwner ownerOf(const User& user, const QString& origin)
{
    return QueueOwner{origin, user.company ? QString::fromStdString(user.company->slug) : QString(),
                      QString::fromStdString(user.email)};
}

QByteArray encodeQueueOwners(const std::vector<ItemPtr>& items)
{
    // {"accounts":[{"origin","company","email","items":[id…]}…]}: an account's members once, not
    // once per file of a card.
    std::map<QString, std::pair<const QueueOwner*, nlohmann::json>> byAccount;
    for (const ItemPtr& item : items) {
        if (!item->owner)
            continue;
        auto& [owner, ids] = byAccount[item->owner->identity()];
        owner = item->owner.get();
        ids.push_back(item->id.toString(QUuid::WithoutBraces).toStdString());
    }
    nlohmann::json accounts = nlohmann::json::array();
    for (auto& [identity, entry] : byAccount) {
        const QueueOwner& owner = *entry.first;
        accounts.push_back({{"origin", owner.origin.toStdString()},
                            {"company", owner.company.toStdString()},
                            {"email", owner.email.toStdString()},
                            {"items", std::move(entry.second)}});
    }
    return QByteArray::fromStdString(nlohmann::json{{"accounts", std::move(accounts)}}.dump());
}

QHash<QUuid, std::shared_ptr<const QueueOwner>> decodeQueueOwners(const QByteArray& bytes)
{
    QHash<QUuid, std::shared_ptr<const QueueOwner>> owners;
    const nlohmann::json document = nlohmann::json::parse(bytes.begin(), bytes.end(), nullptr, false);
    if (!document.is_object() || !document.contains("accounts") || !document["accounts"].is_array())
        return {};
    for (const nlohmann::json& account : document["accounts"]) {
        const auto text = [&](const char* member) {
            const auto found = account.find(member);
            return found != account.end() && found->is_string() ? std::optional(QString::fromStdString(found->get<std::string>()))
                                                                 : std::nullopt;
        };
        const auto origin = text("origin"), company = text("company"), email = text("email");
        const auto ids = account.find("items");
        if (!origin || !company || !email || ids == account.end() || !ids->is_array())
            return {};
        auto owner = std::make_shared<const QueueOwner>(QueueOwner{*origin, *company, *email});
        for (const nlohmann::json& id : *ids) {
            const QUuid uuid = id.is_string() ? QUuid::fromString(QString::fromStdString(id.get<std::string>())) : QUuid();
            if (uuid.isNull())
                return {};
            owners.insert(uuid, owner);
        }
    }
    return owners;
}

}  // namespace zafrel
