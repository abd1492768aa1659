#pragma once
// Hand-written ASC MHL histories for tests: hash lists as an offload tool writes them, and the
// folder ascmhl/ that holds them with its chain.
#include "platform/content_hash.h"

#include <QDir>
#include <QFile>
#include <QString>
#include <QRegularExpression>
#include <QStringList>
#include <QXmlStreamReader>
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <vector>

namespace zafrel::test {

// One <hash> of a hash list: the path, then its digests as format, value and action.
struct MhlHash {
    QString path;
    qint64 size = 0;
    struct Digest {
        QString format;
        QString value;
        QString action = QStringLiteral("original");
    };
    std::vector<Digest> digests;
};

inline QString mhlHashList(const std::vector<MhlHash>& hashes, const QString& process = QStringLiteral("in-place"))
{
    QString xml = QStringLiteral(
                      "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<hashlist version=\"2.0\" xmlns=\"urn:ASC:MHL:v2.0\">\n"
                      "  <creatorinfo>\n    <creationdate>2020-01-16T09:15:00+00:00</creationdate>\n"
                      "    <hostname>dit-cart.local</hostname>\n    <tool version=\"1.0\">offload</tool>\n  </creatorinfo>\n"
                      "  <processinfo>\n    <process>%1</process>\n    <ignore><pattern>ascmhl</pattern></ignore>\n"
                      "  </processinfo>\n  <hashes>\n")
                      .arg(process);
    for (const MhlHash& hash : hashes) {
        xml += QStringLiteral("    <hash>\n      <path size=\"%1\" lastmodificationdate=\"2020-01-15T13:00:00+00:00\">%2</path>\n")
                   .arg(hash.size).arg(hash.path.toHtmlEscaped());
        for (const MhlHash::Digest& d : hash.digests)
            xml += QStringLiteral("      <%1 action=\"%2\" hashdate=\"2020-01-16T09:15:00+00:00\">%3</%1>\n")
                       .arg(d.format, d.action, d.value);
        xml += QStringLiteral("    </hash>\n");
    }
    xml += QStringLiteral("    <directoryhash>\n      <path>Clips</path>\n      <content><xxh64>4c226b42e27d7af3</xxh64></content>\n"
                          "      <structure><xxh64>906faa843d591a9f</xxh64></structure>\n    </directoryhash>\n"
                          "  </hashes>\n</hashlist>\n");
    return xml;
}

// The digest of `bytes` as a hash list writes it.
inline QString mhlDigest(HashFormat format, const QByteArray& bytes)
{
    ContentHasher hasher(format);
    hasher.add(bytes);
    return QString::fromStdString(hasher.finish());
}

// Writes `folder`/ascmhl/ with one hash list per generation (given as text) and the chain that
// lists them with their C4 IDs.
inline void writeMhlHistory(const QString& folder, const QStringList& generations)
{
    const QString name = QDir(folder).dirName();
    QDir().mkpath(folder + "/ascmhl");
    QString chain = QStringLiteral("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
                                   "<ascmhldirectory xmlns=\"urn:ASC:MHL:DIRECTORY:v2.0\">\n");
    for (qsizetype i = 0; i < generations.size(); ++i) {
        const QString file = QStringLiteral("%1_%2_2020-01-%3_091500Z.mhl").arg(i + 1, 4, 10, QChar('0')).arg(name).arg(16 + i);
        const QByteArray bytes = generations[i].toUtf8();
        QFile out(folder + "/ascmhl/" + file);
        out.open(QIODevice::WriteOnly);
        out.write(bytes);
        chain += QStringLiteral("  <hashlist sequencenr=\"%1\">\n    <path>%2</path>\n    <c4>%3</c4>\n  </hashlist>\n")
                     .arg(i + 1).arg(file, mhlDigest(HashFormat::C4, bytes));
    }
    chain += QStringLiteral("</ascmhldirectory>\n");
    QFile out(folder + "/ascmhl/ascmhl_chain.xml");
    out.open(QIODevice::WriteOnly);
    out.write(chain.toUtf8());
}

// A hash list read back with the standard's rules checked on the way (each broken rule is a test
// failure): the namespace and version, creatorinfo, processinfo and hashes in that order with
// their required elements, every hash's path with an integer size and dates, its digests in the
// schema's order with an action, a date and the format's own shape.
struct CheckedHashList {
    QString process, tool, toolVersion;
    // path -> format -> {value, action}
    std::map<QString, std::map<QString, std::pair<QString, QString>>> files;
    std::map<QString, qint64> sizes;
};

inline CheckedHashList checkHashList(const QByteArray& text)
{
    static const QRegularExpression date(QStringLiteral(R"(^\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d(\.\d+)?(Z|[+-]\d\d:\d\d)$)"));
    // The formats in the schema's order, and the shape of each one's value.
    static const QStringList order{"c4", "md5", "sha1", "xxh128", "xxh3", "xxh64"};
    static const QRegularExpression shapes[] = {
        QRegularExpression("^c4[1-9A-HJ-NP-Za-km-z]{88}$"), QRegularExpression("^[0-9a-f]{32}$"), QRegularExpression("^[0-9a-f]{40}$"),
        QRegularExpression("^[0-9a-f]{32}$"), QRegularExpression("^[0-9a-f]{16}$"), QRegularExpression("^[0-9a-f]{16}$")};
    CheckedHashList out;
    QXmlStreamReader xml(text);
    EXPECT_TRUE(xml.readNextStartElement() && xml.name() == QStringLiteral("hashlist"));
    EXPECT_EQ(xml.namespaceUri(), QStringLiteral("urn:ASC:MHL:v2.0"));
    EXPECT_EQ(xml.attributes().value("version"), QStringLiteral("2.0"));
    QStringList sections;
    while (xml.readNextStartElement()) {
        const QString section = xml.name().toString();
        sections << section;
        QStringList inner;
        while (xml.readNextStartElement()) {
            const QString name = xml.name().toString();
            inner << name;
            if (section == "creatorinfo" && name == "tool") {
                out.toolVersion = xml.attributes().value("version").toString();
                out.tool = xml.readElementText();
            } else if (section == "creatorinfo") {
                const QString value = xml.readElementText();
                EXPECT_FALSE(value.isEmpty()) << name.toStdString();
                EXPECT_TRUE(name != "creationdate" || date.match(value).hasMatch()) << value.toStdString();
            } else if (section == "processinfo" && name == "process") {
                out.process = xml.readElementText();
            } else if (section == "hashes" && name == "hash") {
                QString path;
                QStringList elements;
                while (xml.readNextStartElement()) {
                    const QString element = xml.name().toString();
                    elements << element;
                    const QXmlStreamAttributes attributes = xml.attributes();
                    const QString value = xml.readElementText();
                    if (element == "path") {
                        bool integer = false;
                        out.sizes[value] = attributes.value("size").toLongLong(&integer);
                        EXPECT_TRUE(integer && date.match(attributes.value("lastmodificationdate")).hasMatch()) << value.toStdString();
                        path = value;
                        continue;
                    }
                    const QString action = attributes.value("action").toString();
                    EXPECT_TRUE(QStringList({"original", "verified", "failed"}).contains(action)) << action.toStdString();
                    EXPECT_TRUE(date.match(attributes.value("hashdate")).hasMatch());
                    const qsizetype format = order.indexOf(element);
                    EXPECT_TRUE(format >= 0 && shapes[format].match(value).hasMatch()) << element.toStdString() << " " << value.toStdString();
                    out.files[path][element] = {value, action};
                }
                const auto byOrder = [](const QString& a, const QString& b) { return order.indexOf(a) < order.indexOf(b); };
                EXPECT_TRUE(elements.value(0) == "path" && elements.size() >= 2 && std::is_sorted(elements.begin() + 1, elements.end(), byOrder))
                    << elements.join(',').toStdString();
            } else {
                xml.skipCurrentElement();
            }
        }
        EXPECT_TRUE(section != "creatorinfo" || inner.mid(0, 3) == QStringList({"creationdate", "hostname", "tool"})) << inner.join(',').toStdString();
        EXPECT_TRUE(section != "processinfo" || inner.value(0) == "process") << inner.join(',').toStdString();
    }
    EXPECT_EQ(sections, QStringList({"creatorinfo", "processinfo", "hashes"}));
    EXPECT_FALSE(xml.hasError()) << xml.errorString().toStdString();
    return out;
}

// A chain file read back: its generations' file names and C4 IDs in order, with the namespace and
// the numbering (1, 2, …) checked.
inline std::vector<std::pair<QString, QString>> checkChain(const QByteArray& text)
{
    std::vector<std::pair<QString, QString>> out;
    QXmlStreamReader xml(text);
    EXPECT_TRUE(xml.readNextStartElement() && xml.name() == QStringLiteral("ascmhldirectory"));
    EXPECT_EQ(xml.namespaceUri(), QStringLiteral("urn:ASC:MHL:DIRECTORY:v2.0"));
    while (xml.readNextStartElement()) {
        EXPECT_EQ(xml.name(), QStringLiteral("hashlist"));
        EXPECT_EQ(xml.attributes().value("sequencenr").toLongLong(), qint64(out.size() + 1));
        QStringList elements;
        std::pair<QString, QString> entry;
        while (xml.readNextStartElement()) {
            elements << xml.name().toString();
            (elements.last() == "path" ? entry.first : entry.second) = xml.readElementText();
        }
        EXPECT_EQ(elements, QStringList({"path", "c4"}));
        out.push_back(entry);
    }
    EXPECT_FALSE(xml.hasError()) << xml.errorString().toStdString();
    return out;
}

}  // namespace zafrel::test
