#include "engine/destination/destination_history.h"

#include "platform/atomic_file.h"

#include <QFile>

#include <nlohmann/json.hpp>

#include <algorithm>

namespace zafrel {

namespace {

using Json = nlohmann::json;

QDateTime secondsToDate(double seconds) { return QDateTime::fromMSecsSinceEpoch(qint64(seconds * 1000), Qt::UTC); }

Json entryJson(const HashListEntry& e)
{
    Json digests = Json::array();
    for (const auto& d : e.digests)
        digests.push_back({{"format", std::string(hashFormatName(d.format))}, {"value", d.value}, {"original", d.original}});
    return {{"path", e.path.toStdString()},
            {"size", e.size},
            {"modified", e.modified.toMSecsSinceEpoch()},
            {"hashed", e.hashed.toMSecsSinceEpoch()},
            {"digests", digests}};
}

std::optional<HashListEntry> entryFrom(const Json& j)
{
    HashListEntry e;
    e.path = QString::fromStdString(j.value("path", ""));
    e.size = j.value("size", qint64(-1));
    e.modified = QDateTime::fromMSecsSinceEpoch(j.value("modified", qint64(0)), Qt::UTC);
    e.hashed = QDateTime::fromMSecsSinceEpoch(j.value("hashed", qint64(0)), Qt::UTC);
    for (const Json& d : j.value("digests", Json::array())) {
        const auto format = hashFormatFromName(d.value("format", ""));
        if (!format || d.value("value", "").empty())
            return std::nullopt;
        e.digests.push_back({*format, d.value("value", ""), d.value("original", false)});
    }
    if (e.path.isEmpty() || e.size < 0 || e.digests.empty())
        return std::nullopt;
    return e;
}

}  // namespace

HashListEntry DestinationHistory::entryOf(const UploadItem& item) const
{
    HashListEntry entry;
    entry.path = item.path.mid(root.size() + 1);
    entry.size = item.size;
    entry.modified = secondsToDate(item.mtime);
    entry.hashed = item.finished.value_or(QDateTime::currentDateTimeUtc()).toUTC();
    // The MD5 is checked against the store's for every byte sent; the offload's record against
    // what was read.
    const bool recordIsMd5 = item.offloadChecked && item.offloadRecord && item.offloadRecord->format == HashFormat::Md5;
    if (!recordIsMd5)
        entry.digests.push_back({HashFormat::Md5, item.md5, startsHere});
    if (item.offloadChecked && item.offloadRecord)
        entry.digests.push_back({item.offloadRecord->format, item.offloadRecord->digest, false});
    else if (item.newRecordFormat && !item.recordDigest.empty())
        entry.digests.push_back({*item.newRecordFormat, item.recordDigest, true});
    return entry;
}

void DestinationHistoryRecord::load()
{
    if (std::exchange(loaded_, true))
        return;
    QFile file(filePath_);
    if (!file.open(QIODevice::ReadOnly))
        return;
    const Json json = Json::parse(file.readAll().toStdString(), nullptr, false);
    if (!json.is_array())
        return;   // a damaged record: the next generation starts from the offload's chain
    for (const Json& f : json) {
        if (!f.is_object())
            continue;
        Folder folder;
        for (const Json& c : f.value("written", Json::array()))
            folder.written.push_back({c.value("sequence", qint64(0)), QString::fromStdString(c.value("name", "")),
                                      QString::fromStdString(c.value("c4", ""))});
        for (const Json& e : f.value("verified", Json::array()))
            if (auto entry = entryFrom(e))
                folder.verified.push_back(std::move(*entry));
        folders_[{QString::fromStdString(f.value("server", "")), QString::fromStdString(f.value("folder", ""))}] =
            std::move(folder);
    }
}

bool DestinationHistoryRecord::save()
{
    Json json = Json::array();
    for (const auto& [key, folder] : folders_) {
        Json written = Json::array(), verified = Json::array();
        for (const ChainEntry& c : folder.written)
            written.push_back({{"sequence", c.sequence}, {"name", c.name.toStdString()}, {"c4", c.c4.toStdString()}});
        for (const HashListEntry& e : folder.verified)
            verified.push_back(entryJson(e));
        json.push_back({{"server", key.first.toStdString()},
                        {"folder", key.second.toStdString()},
                        {"written", written},
                        {"verified", verified}});
    }
    const std::string bytes = json.dump();
    return writeFileAtomically(filePath_, QByteArrayView(bytes.data(), qsizetype(bytes.size())));
}

const DestinationHistoryRecord::Folder& DestinationHistoryRecord::folder(const QString& origin, const QString& destFolder)
{
    load();
    return folders_[{origin, destFolder}];
}

bool DestinationHistoryRecord::addVerified(const QString& origin, const QString& destFolder,
                                           const std::vector<HashListEntry>& entries)
{
    load();
    std::vector<HashListEntry>& verified = folders_[{origin, destFolder}].verified;
    for (const HashListEntry& entry : entries) {
        std::erase_if(verified, [&](const HashListEntry& e) { return e.path == entry.path; });
        verified.push_back(entry);
    }
    return save();
}

bool DestinationHistoryRecord::written(const QString& origin, const QString& destFolder, std::vector<ChainEntry> chain,
                                       const std::vector<HashListEntry>& listed)
{
    load();
    Folder& folder = folders_[{origin, destFolder}];
    folder.written = std::move(chain);
    std::erase_if(folder.verified, [&](const HashListEntry& e) { return std::find(listed.begin(), listed.end(), e) != listed.end(); });
    return save();
}

}  // namespace zafrel
