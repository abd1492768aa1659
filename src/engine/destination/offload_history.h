#pragma once
// The records an offload on set left beside a copy of camera media: an ASC MHL history, a folder
// `ascmhl/` in the copied (managed) folder holding one hash list per generation and the chain that
// lists them.
#include "platform/content_hash.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <map>
#include <optional>
#include <string>
#include <vector>

namespace zafrel {

// One file's digest as a hash list recorded it.
struct OffloadRecord {
    HashFormat format;
    std::string digest;
    bool operator==(const OffloadRecord&) const = default;
};

// One generation as a history's chain lists it: its number, its file in ascmhl/ and the C4 ID
// of that file's bytes.
struct ChainEntry {
    qint64 sequence = 0;
    QString name;
    QString c4;
    bool operator==(const ChainEntry&) const = default;
};

// What the history of one managed folder says of its files: for each path, the latest record of
// every format that was recorded ("original") or recomputed equal ("verified"); a "failed" record
// never counts.
class OffloadHistory {
public:
    // Reads the history of the managed folder `root` (absolute): the hash lists its chain lists,
    // in generation order. A hash list whose bytes are not those the chain names by their C4 ID
    // (edited or damaged since), or that the chain does not list, is not trusted: its records are
    // not used. What cannot be read is said in problems(); the rest still counts.
    static OffloadHistory read(const QString& root);

    // Adds one hash list's records over those of earlier generations. False, with nothing added,
    // when the text is not a hash list of the standard; `error` then says why.
    bool addHashList(const QByteArray& xml, QString& error);

    // The usable records of a path relative to the managed folder ("/" between folders), in the
    // order of the formats; null when it has none.
    const std::vector<OffloadRecord>* recordsOf(const QString& relativePath) const;
    // The record worth checking while the file is read: the cheapest of its formats to compute.
    std::optional<OffloadRecord> recordToCheck(const QString& relativePath) const;
    // Every recorded path with its usable records.
    const std::map<QString, std::vector<OffloadRecord>>& files() const { return files_; }
    // Hash-list files in generation order (their names in ascmhl/).
    const QStringList& hashLists() const { return hashLists_; }
    // The chain as it stands, in generation order; nothing when it could not be read.
    const std::optional<std::vector<ChainEntry>>& chain() const { return chain_; }
    const QStringList& problems() const { return problems_; }

    // The key a path is found under: Unicode composed form, so that a name written decomposed by
    // one system (macOS) matches the same name composed by another.
    static QString pathKey(const QString& relativePath);

private:
    std::map<QString, std::vector<OffloadRecord>> files_;
    QStringList hashLists_;
    QStringList problems_;
    std::optional<std::vector<ChainEntry>> chain_;
};

// The entries of a chain file's text; nothing when it is not a chain of the standard.
std::optional<std::vector<ChainEntry>> readChain(const QByteArray& xml);

// Whether `folder` is managed: it holds ascmhl/ascmhl_chain.xml.
bool isManagedFolder(const QString& folder);

}  // namespace zafrel
