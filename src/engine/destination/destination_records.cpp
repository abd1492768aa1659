#include "engine/destination/destination_records.h"

#include "engine/queue/queue_owners.h"
#include "engine/queue/upload_item.h"
#include "platform/atomic_file.h"

#include <QDateTime>

#include <nlohmann/json.hpp>

#include <algorithm>

namespace zafrel {

namespace {

// A full record file takes some 300 ms to write on a busy two-core machine (bench/), on the main
// thread: at most once every five seconds while records come in, and at once at the end of a run.
constexpr int kWriteDelayMs = 5000;

std::optional<QString> textOf(const nlohmann::json& object, const char* member)
{
    const auto found = object.find(member);
    if (found == object.end() || !found->is_string())
        return std::nullopt;
    return QString::fromStdString(found->get<std::string>());
}

std::optional<double> numberOf(const nlohmann::json& object, const char* member)
{
    const auto found = object.find(member);
    if (found == object.end() || !found->is_number())
        return std::nullopt;
    return found->get<double>();
}

}  // namespace

QString recordAccount(const UploadItem& item, const QString& origin)
{
    return item.owner ? item.owner->identity() : QueueOwner{origin, {}, {}}.identity();
}

DestinationRecords::DestinationRecords(QString filePath, size_t capacity)
    : filePath_(std::move(filePath)), capacity_(std::max<size_t>(capacity, 1))
{
    writeSoon_.setSingleShot(true);
    writeSoon_.setInterval(kWriteDelayMs);
    QObject::connect(&writeSoon_, &QTimer::timeout, [this] { flush(); });
}

DestinationRecords::~DestinationRecords() { flush(); }

void DestinationRecords::reloadIfChanged()
{
    const std::optional<QByteArray> bytes = readIfChanged(filePath_, stamp_);
    if (!bytes)
        return;
    entries_.clear();
    const auto json = nlohmann::json::parse(bytes->begin(), bytes->end(), nullptr, false);
    std::vector<QString> accounts;
    if (json.is_object() && json.contains("accounts") && json["accounts"].is_array() && json.contains("records")
        && json["records"].is_array()) {
        for (const auto& account : json["accounts"])
            accounts.push_back(account.is_string() ? QString::fromStdString(account.get<std::string>()) : QString());
        for (const auto& entry : json["records"]) {
            if (!entry.is_object())
                continue;
            const auto account = numberOf(entry, "account"), size = numberOf(entry, "size");
            const auto destination = textOf(entry, "destination"), md5 = textOf(entry, "md5");
            const auto sources = entry.find("sources");
            if (!account || *account < 0 || size_t(*account) >= accounts.size() || !size || !destination || !md5
                || md5->size() != 32 || sources == entry.end() || !sources->is_array())
                continue;
            DestinationRecord record{int64_t(*size), md5->toStdString(), {}, numberOf(entry, "recorded").value_or(0)};
            for (const auto& source : *sources) {
                const auto path = source.is_object() ? textOf(source, "path") : std::nullopt;
                const auto mtime = source.is_object() ? numberOf(source, "mtime") : std::nullopt;
                if (path && mtime)
                    record.sources.push_back(RecordSource{*path, *mtime});
            }
            latest_ = std::max(latest_, record.recorded);
            entries_.insert_or_assign(Key{accounts[size_t(*account)], *destination}, std::move(record));
        }
    }
    // What this engine recorded and has not written yet stands over what another one wrote.
    for (const auto& [key, record] : pending_)
        entries_.insert_or_assign(key, record);
}

std::optional<DestinationRecord> DestinationRecords::find(const QString& account, const QString& destination)
{
    reloadIfChanged();
    const auto found = entries_.find(Key{account, destination});
    if (found == entries_.end())
        return std::nullopt;
    return found->second;
}

void DestinationRecords::changed(const Key& key, DestinationRecord record)
{
    // Strictly later than any record known, so that the oldest to drop is never a tie.
    record.recorded = std::max(double(QDateTime::currentMSecsSinceEpoch()) / 1000.0, latest_ + 0.001);
    latest_ = record.recorded;
    entries_.insert_or_assign(key, record);
    pending_.insert_or_assign(key, std::move(record));
    if (!writeSoon_.isActive())
        writeSoon_.start();
}

void DestinationRecords::remember(const QString& account, const QString& destination, int64_t size, std::string md5,
                                  RecordSource source)
{
    reloadIfChanged();
    changed(Key{account, destination}, DestinationRecord{size, std::move(md5), {std::move(source)}, 0});
}

void DestinationRecords::addSource(const QString& account, const QString& destination, RecordSource source)
{
    reloadIfChanged();
    const auto found = entries_.find(Key{account, destination});
    if (found == entries_.end())
        return;
    DestinationRecord record = found->second;
    std::erase_if(record.sources, [&](const RecordSource& known) { return known.path == source.path; });
    record.sources.insert(record.sources.begin(), std::move(source));
    if (record.sources.size() > kSourcesKept)
        record.sources.resize(kSourcesKept);
    changed(found->first, std::move(record));
}

void DestinationRecords::flush()
{
    writeSoon_.stop();
    if (pending_.empty())
        return;
    reloadIfChanged();
    if (entries_.size() > capacity_) {
        std::vector<std::map<Key, DestinationRecord>::iterator> all;
        all.reserve(entries_.size());
        for (auto it = entries_.begin(); it != entries_.end(); ++it)
            all.push_back(it);
        const auto cut = all.begin() + std::ptrdiff_t(entries_.size() - capacity_);
        std::nth_element(all.begin(), cut, all.end(), [](const auto& a, const auto& b) { return a->second.recorded < b->second.recorded; });
        for (auto it = all.begin(); it != cut; ++it)
            entries_.erase(*it);
    }
    std::map<QString, size_t> accountIndex;
    nlohmann::json accounts = nlohmann::json::array(), records = nlohmann::json::array();
    for (const auto& [key, record] : entries_) {
        const auto [index, added] = accountIndex.try_emplace(key.first, accountIndex.size());
        if (added)
            accounts.push_back(key.first.toStdString());
        nlohmann::json sources = nlohmann::json::array();
        for (const RecordSource& source : record.sources)
            sources.push_back({{"path", source.path.toStdString()}, {"mtime", source.mtime}});
        records.push_back({{"account", index->second},
                           {"destination", key.second.toStdString()},
                           {"size", record.size},
                           {"md5", record.md5},
                           {"recorded", record.recorded},
                           {"sources", std::move(sources)}});
    }
    const std::string bytes =
        nlohmann::json{{"accounts", std::move(accounts)}, {"records", std::move(records)}}.dump(-1, ' ', false,
                                                                                                nlohmann::json::error_handler_t::replace);
    // A write that fails keeps the records in memory for this engine's life, and tries again with
    // the next one.
    if (writeFileAtomically(filePath_, QByteArrayView(bytes.data(), qsizetype(bytes.size())))) {
        pending_.clear();
        stamp_ = fileStampOf(filePath_);
    }
}

}  // namespace zafrel
