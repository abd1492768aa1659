#include "engine/destination/hash_list_writer.h"

#include <QXmlStreamWriter>

#include <algorithm>

namespace zafrel {

QString hashListDate(const QDateTime& when)
{
    return when.toUTC().toString(QStringLiteral("yyyy-MM-ddTHH:mm:ss")) + QStringLiteral("+00:00");
}

QString c4Of(QByteArrayView bytes)
{
    ContentHasher hasher(HashFormat::C4);
    hasher.add(bytes);
    return QString::fromStdString(hasher.finish());
}

QString hashListName(qint64 generation, const QString& folderName, const QDateTime& created)
{
    return QStringLiteral("%1_%2_%3Z.mhl")
        .arg(generation, 4, 10, QChar(u'0'))
        .arg(folderName, created.toUTC().toString(QStringLiteral("yyyy-MM-dd_HHmmss")));
}

QByteArray transferHashListXml(const HashListOrigin& origin, std::vector<HashListEntry> entries)
{
    std::sort(entries.begin(), entries.end(), [](const auto& a, const auto& b) { return a.path < b.path; });
    QByteArray out;
    QXmlStreamWriter xml(&out);
    xml.setAutoFormatting(true);
    xml.setAutoFormattingIndent(2);
    xml.writeStartDocument();
    xml.writeDefaultNamespace(QStringLiteral("urn:ASC:MHL:v2.0"));
    xml.writeStartElement(QStringLiteral("hashlist"));
    xml.writeAttribute(QStringLiteral("version"), QStringLiteral("2.0"));

    xml.writeStartElement(QStringLiteral("creatorinfo"));
    xml.writeTextElement(QStringLiteral("creationdate"), hashListDate(origin.created));
    xml.writeTextElement(QStringLiteral("hostname"), origin.hostname);
    xml.writeStartElement(QStringLiteral("tool"));
    xml.writeAttribute(QStringLiteral("version"), origin.toolVersion);
    xml.writeCharacters(QStringLiteral("Zafrel"));
    xml.writeEndElement();
    xml.writeEndElement();

    xml.writeStartElement(QStringLiteral("processinfo"));
    xml.writeTextElement(QStringLiteral("process"), QStringLiteral("transfer"));
    xml.writeStartElement(QStringLiteral("ignore"));
    // The history's own folder, and the hidden names that are never sent.
    for (const char* pattern : {".*", "ascmhl", "ascmhl/"})
        xml.writeTextElement(QStringLiteral("pattern"), QString::fromLatin1(pattern));
    xml.writeEndElement();
    xml.writeEndElement();

    xml.writeStartElement(QStringLiteral("hashes"));
    for (HashListEntry& entry : entries) {
        xml.writeStartElement(QStringLiteral("hash"));
        xml.writeStartElement(QStringLiteral("path"));
        xml.writeAttribute(QStringLiteral("size"), QString::number(entry.size));
        xml.writeAttribute(QStringLiteral("lastmodificationdate"), hashListDate(entry.modified));
        xml.writeCharacters(entry.path);
        xml.writeEndElement();
        std::sort(entry.digests.begin(), entry.digests.end(), [](const auto& a, const auto& b) { return a.format < b.format; });
        for (const HashListEntry::Digest& digest : entry.digests) {
            xml.writeStartElement(QString::fromLatin1(hashFormatName(digest.format)));
            xml.writeAttribute(QStringLiteral("action"), digest.original ? QStringLiteral("original") : QStringLiteral("verified"));
            xml.writeAttribute(QStringLiteral("hashdate"), hashListDate(entry.hashed));
            xml.writeCharacters(QString::fromStdString(digest.value));
            xml.writeEndElement();
        }
        xml.writeEndElement();
    }
    xml.writeEndElement();
    xml.writeEndDocument();
    return out;
}

QByteArray chainXml(const std::vector<ChainEntry>& generations)
{
    QByteArray out;
    QXmlStreamWriter xml(&out);
    xml.setAutoFormatting(true);
    xml.setAutoFormattingIndent(2);
    xml.writeStartDocument();
    xml.writeDefaultNamespace(QStringLiteral("urn:ASC:MHL:DIRECTORY:v2.0"));
    xml.writeStartElement(QStringLiteral("ascmhldirectory"));
    for (const ChainEntry& entry : generations) {
        xml.writeStartElement(QStringLiteral("hashlist"));
        xml.writeAttribute(QStringLiteral("sequencenr"), QString::number(entry.sequence));
        xml.writeTextElement(QStringLiteral("path"), entry.name);
        xml.writeTextElement(QStringLiteral("c4"), entry.c4);
        xml.writeEndElement();
    }
    xml.writeEndDocument();
    return out;
}

}  // namespace zafrel
