#include "engine/destination/offload_history.h"

#include "platform/printable.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QXmlStreamReader>

#include <algorithm>

namespace zafrel {

namespace {

const QString kHashListNamespace = QStringLiteral("urn:ASC:MHL:v2.0");
const QString kChainNamespace = QStringLiteral("urn:ASC:MHL:DIRECTORY:v2.0");

// The generation a hash-list file name begins with ("0002_A002R2EC_2020-01-17_143000Z.mhl"), or -1.
qint64 generationOf(const QString& name)
{
    const qsizetype underscore = name.indexOf(u'_');
    bool ok = false;
    const qint64 number = name.left(underscore).toLongLong(&ok);
    return ok && underscore > 0 ? number : -1;
}

struct HashEntry {
    QString path;
    std::vector<OffloadRecord> records;
};

// The <hash> element the reader stands on, up to its end: its path and its usable records.
HashEntry readHash(QXmlStreamReader& xml)
{
    HashEntry entry;
    while (xml.readNextStartElement()) {
        if (xml.name() == u"path") {
            entry.path = xml.readElementText();
            continue;
        }
        const std::optional<HashFormat> format = hashFormatFromName(xml.name().toString().toStdString());
        if (!format) {
            xml.skipCurrentElement();   // previousPath, metadata
            continue;
        }
        const bool failed = xml.attributes().value(QStringLiteral("action")) == QStringLiteral("failed");
        const QString digest = xml.readElementText().trimmed();
        if (!failed && !digest.isEmpty())
            entry.records.push_back({*format, digest.toStdString()});
    }
    return entry;
}

}  // namespace

QString OffloadHistory::pathKey(const QString& relativePath) { return relativePath.normalized(QString::NormalizationForm_C); }

bool OffloadHistory::addHashList(const QByteArray& text, QString& error)
{
    QXmlStreamReader xml(text);
    std::vector<HashEntry> entries;
    if (!xml.readNextStartElement() || xml.name() != u"hashlist" || xml.namespaceUri() != kHashListNamespace) {
        error = QStringLiteral("no es una lista de ASC MHL 2.0");
        return false;
    }
    while (xml.readNextStartElement()) {
        if (xml.name() != u"hashes") {
            xml.skipCurrentElement();
            continue;
        }
        while (xml.readNextStartElement()) {
            if (xml.name() == u"hash")
                entries.push_back(readHash(xml));
            else
                xml.skipCurrentElement();   // directoryhash
        }
    }
    if (xml.hasError()) {
        error = QStringLiteral("XML no válido en la línea %1").arg(xml.lineNumber());
        return false;
    }
    // A later generation's record of a format replaces the earlier one; the others stay.
    for (HashEntry& entry : entries) {
        if (entry.path.isEmpty() || entry.records.empty())
            continue;
        std::vector<OffloadRecord>& known = files_[pathKey(entry.path)];
        for (OffloadRecord& record : entry.records) {
            const auto same = std::find_if(known.begin(), known.end(),
                                           [&](const OffloadRecord& r) { return r.format == record.format; });
            if (same != known.end())
                *same = std::move(record);
            else
                known.push_back(std::move(record));
        }
        std::sort(known.begin(), known.end(), [](const auto& a, const auto& b) { return a.format < b.format; });
    }
    return true;
}

const std::vector<OffloadRecord>* OffloadHistory::recordsOf(const QString& relativePath) const
{
    const auto found = files_.find(pathKey(relativePath));
    return found == files_.end() ? nullptr : &found->second;
}

std::optional<OffloadRecord> OffloadHistory::recordToCheck(const QString& relativePath) const
{
    const std::vector<OffloadRecord>* records = recordsOf(relativePath);
    if (!records || records->empty())
        return std::nullopt;
    return *std::min_element(records->begin(), records->end(), [](const auto& a, const auto& b) {
        return hashFormatCost(a.format) < hashFormatCost(b.format);
    });
}

std::optional<std::vector<ChainEntry>> readChain(const QByteArray& text)
{
    QXmlStreamReader xml(text);
    if (!xml.readNextStartElement() || xml.name() != u"ascmhldirectory" || xml.namespaceUri() != kChainNamespace)
        return std::nullopt;
    std::vector<ChainEntry> entries;
    while (xml.readNextStartElement()) {
        if (xml.name() != u"hashlist") {
            xml.skipCurrentElement();
            continue;
        }
        ChainEntry entry;
        entry.sequence = xml.attributes().value(QStringLiteral("sequencenr")).toLongLong();
        while (xml.readNextStartElement()) {
            if (xml.name() == u"path")
                entry.name = xml.readElementText().trimmed();
            else if (xml.name() == u"c4")
                entry.c4 = xml.readElementText().trimmed();
            else
                xml.skipCurrentElement();
        }
        entries.push_back(std::move(entry));
    }
    if (xml.hasError())
        return std::nullopt;
    std::stable_sort(entries.begin(), entries.end(), [](const auto& a, const auto& b) { return a.sequence < b.sequence; });
    return entries;
}

OffloadHistory OffloadHistory::read(const QString& root)
{
    OffloadHistory history;
    const QDir folder(root + QStringLiteral("/ascmhl"));
    QFile chainFile(folder.filePath(QStringLiteral("ascmhl_chain.xml")));
    if (chainFile.open(QIODevice::ReadOnly))
        history.chain_ = readChain(chainFile.readAll());
    if (!history.chain_) {
        history.problems_ << QStringLiteral("Registro ASC MHL no usado (la cadena no se puede leer): %1")
                                 .arg(printable(chainFile.fileName()));
        return history;
    }
    QStringList names = folder.entryList({QStringLiteral("*.mhl")}, QDir::Files);
    names.erase(std::remove_if(names.begin(), names.end(), [](const QString& n) { return generationOf(n) < 0; }),
                names.end());
    std::sort(names.begin(), names.end(), [](const QString& a, const QString& b) { return generationOf(a) < generationOf(b); });
    for (const QString& name : names) {
        QFile file(folder.filePath(name));
        QString error;
        const auto listed = std::find_if(history.chain_->begin(), history.chain_->end(),
                                         [&](const ChainEntry& e) { return e.name == name; });
        if (!file.open(QIODevice::ReadOnly)) {
            error = QStringLiteral("no se puede leer");
        } else if (listed == history.chain_->end()) {
            error = QStringLiteral("no figura en la cadena");
        } else {
            const QByteArray bytes = file.readAll();
            ContentHasher c4(HashFormat::C4);
            c4.add(bytes);
            if (c4.finish() != listed->c4.toStdString())
                error = QStringLiteral("no coincide con su C4 en la cadena");
            else if (history.addHashList(bytes, error))
                history.hashLists_ << name;
        }
        if (!error.isEmpty())
            history.problems_ << QStringLiteral("Registro ASC MHL no usado (%1): %2").arg(error, printable(file.fileName()));
    }
    return history;
}

bool isManagedFolder(const QString& folder)
{
    return QFileInfo(folder + QStringLiteral("/ascmhl/ascmhl_chain.xml")).isFile();
}

}  // namespace zafrel
