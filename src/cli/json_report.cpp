#include "cli/json_report.h"

#include "cli/leftovers.h"
#include "engine/queue/queue_owners.h"
#include "engine/upload_manager.h"
#include "present/run_text.h"

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
    if (error && !item.errorDetail().isEmpty())
        *error += QStringLiteral(" (") + item.errorDetail() + u')';
    return nlohmann::json{
        {"path", item.path.toStdString()},
        {"destination", (item.destDir + item.name).toStdString()},
        {"key", textOrNull(item.key())},
        {"size", item.size},
        {"status", statusText(item.status())},
        {"error", item.status() == Status::Error ? textOrNull(error) : nlohmann::json(nullptr)},
        {"verified", item.verified()},
        {"md5", item.md5.empty() ? nlohmann::json(nullptr) : nlohmann::json(item.md5)},
        {"offloadRecord", offloadRecordJson(item)},
    };
}

// Names from disks need not be UTF-8; what is not comes out as U+FFFD rather than failing.
std::string dumped(const nlohmann::json& document)
{
    return document.dump(2, ' ', false, nlohmann::json::error_handler_t::replace);
}

}  // namespace

std::string jsonFailure(const QString& message, int code)
{
    return dumped({{"exitCode", code}, {"error", message.toStdString()}});
}

std::string jsonLeftovers(const std::vector<ItemPtr>& items)
{
    nlohmann::json listed = nlohmann::json::array();
    int paused = 0, failed = 0;
    for (const ItemPtr& item : items) {
        if (!isLeftover(*item))
            continue;
        (item->status() == Status::Error ? failed : paused) += 1;
        nlohmann::json entry = itemJson(*item);
        entry.erase("verified");
        // Whose the file is: {"email", "company"} (company null for an administrator), or null
        // for one queued before accounts were recorded.
        if (const auto& owner = item->owner)
            entry["account"] = {{"email", owner->email.toStdString()},
                                {"company", owner->company.isEmpty() ? nlohmann::json(nullptr)
                                                                     : nlohmann::json(owner->company.toStdString())}};
        else
            entry["account"] = nullptr;
        listed.push_back(std::move(entry));
    }
    return dumped({{"exitCode", 0}, {"paused", paused}, {"errors", failed}, {"items", std::move(listed)}});
}

std::string jsonForgotten(int items, int abortedUploads, int kept, const QString& failure, int code)
{
    return dumped({{"exitCode", code},
                   {"error", kept > 0 ? nlohmann::json(failure.toStdString()) : nlohmann::json(nullptr)},
                   {"forgotten", items},
                   {"abortedUploads", abortedUploads},
                   {"kept", kept}});
}

std::string jsonReport(const UploadManager& manager, const QDateTime& start, const QDateTime& end,
                       const RunOutcome& outcome)
{
    const Summary s = manager.summary();
    nlohmann::json items = nlohmann::json::array();
    for (const ItemPtr& item : manager.items())
        items.push_back(itemJson(*item));
    nlohmann::json problems = nlohmann::json::array();
    for (const IntakeProblem& problem : outcome.problems)
        problems.push_back({{"path", problem.path.toStdString()}, {"error", problem.text().toStdString()}});
    const nlohmann::json report = {
        {"exitCode", outcome.exitCode},
        {"error", textOrNull(outcome.error)},
        {"start", isoTime(start)},
        {"end", isoTime(end)},
        {"destination", manager.destDir().toStdString()},
        {"route", routeText(manager.route()).toStdString()},
        {"totals",
         {{"done", s.done},
          {"skipped", s.skipped},
          {"errors", s.errors},
          {"cancelled", s.cancelled},
          {"paused", s.paused},
          {"problems", outcome.problems.size()},
          {"bytes", s.bytes}}},
        {"problems", std::move(problems)},
        {"items", std::move(items)},
    };
    return dumped(report);
}

}  // namespace zafrel
