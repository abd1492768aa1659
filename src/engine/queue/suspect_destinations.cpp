#include "engine/queue/suspect_destinations.h"

#include "engine/queue/queue_file.h"
#include "platform/atomic_file.h"


#include <nlohmann/json.hpp>

namespace zafrel {

SuspectDestinations::SuspectDestinations(QString filePath) : filePath_(std::move(filePath))
{
    reloadIfChanged();
}

void SuspectDestinations::reloadIfChanged()
{
    const std::optional<QByteArray> bytes = readIfChanged(filePath_, stamp_);
    if (!bytes)
        return;
    entries_.clear();
    const auto json = nlohmann::json::parse(bytes->begin(), bytes->end(), nullptr, false);
    if (!json.is_array())
        return;
    for (const auto& entry : json) {
        if (!entry.is_object() || !entry.contains("server") || !entry.contains("path") || !entry["server"].is_string()
            || !entry["path"].is_string())
            continue;
        entries_.emplace(QString::fromStdString(entry["server"].get<std::string>()),
                         QString::fromStdString(entry["path"].get<std::string>()));
    }
}

void SuspectDestinations::write()
{
    nlohmann::json json = nlohmann::json::array();
    for (const auto& [server, path] : entries_)
        json.push_back({{"server", server.toStdString()}, {"path", path.toStdString()}});
    const std::string bytes = json.dump();
    // A write that fails keeps the knowledge in memory for this engine's life.
    if (writeFileAtomically(filePath_, QByteArrayView(bytes.data(), qsizetype(bytes.size()))))
        stamp_ = fileStampOf(filePath_);
}

bool SuspectDestinations::contains(const QString& server, const QString& path)
{
    reloadIfChanged();
    return entries_.contains({server, path});
}

void SuspectDestinations::mark(const QString& server, const QString& path)
{
    reloadIfChanged();
    if (entries_.emplace(server, path).second)
        write();
}

void SuspectDestinations::clear(const QString& server, const QString& path)
{
    reloadIfChanged();
    if (entries_.erase({server, path}) > 0)
        write();
}

}  // namespace zafrel
