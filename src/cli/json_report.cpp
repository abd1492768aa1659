#include "cli/json_report.h"

#include "engine/upload_manager.h"

#include <nlohmann/json.hpp>

namespace zafrel {

namespace {

nlohmann::json textOrNull(const std::optional<QString>& text)
{
    return text ? nlohmann::json(text->toStdString()) : nlohmann::json(nullptr);
}

std::string isoTime(const QDateTime& time)
{
    return time.toUTC().toString(Qt::ISODate).toStdString();
}

// The offload's ASC MHL record the file was checked against while it was read, and whether it
// matched; null for a file without one.
nlohmann::json offloadRecordJson(const UploadItem& item)
{
    if (!item.offloadRecord)
        return nullptr;
    return {{"format", std::string(hashFormatName(item.offloadRecord->format))},
            {"digest", item.offloadRecord->digest},
            {"matched", item.offloadChecked}};
}

nlohmann::json itemJson(const UploadItem& item)
{
    std::optional<QString> error = item.error();
    // The transport's own wording goes with the message, as in the text report.
    if (error && !item.errorDetail.isEmpty())
        *error += QStringLiteral(" (") + item.errorDetail + u')';
    return {
        {"path", item.path.toStdString()},
        {"destination", (item.destDir + item.name).toStdString()},
        {"key", textOrNull(item.key)},
        {"size", item.size},
        {"status", statusText(item.status())},
        {"error", item.status() == Status::Error ? textOrNull(error) : nlohmann::json(nullptr)},
        {"verified", item.verified()},
        {"md5", item.md5.empty() ? nlohmann::json(nullptr) : nlohmann::json(item.md5)},
        {"offloadRecord", offloadRecordJson(item)},
    };
}

}  // namespace

std::string jsonReport(const UploadManager& manager, const QDateTime& start, const QDateTime& end)
{
    const Summary s = manager.summary();
    nlohmann::json items = nlohmann::json::array();
    for (const ItemPtr& item : manager.items())
        items.push_back(itemJson(*item));
    const nlohmann::json report = {
        {"start", isoTime(start)},
        {"end", isoTime(end)},
        {"destination", manager.destDir().toStdString()},
        {"route", manager.route().toStdString()},
        {"totals",
         {{"done", s.done},
          {"skipped", s.skipped},
          {"errors", s.errors},
          {"cancelled", s.cancelled},
          {"paused", s.paused},
          {"bytes", s.bytes}}},
        {"items", std::move(items)},
    };
    // Names from disks need not be UTF-8; what is not comes out as U+FFFD rather than failing.
    return report.dump(2, ' ', false, nlohmann::json::error_handler_t::replace);
}

}  // namespace zafrel
