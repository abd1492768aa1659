#pragma once
// Hand-written ASC MHL histories for tests: hash lists as an offload tool writes them, and the
// folder ascmhl/ that holds them with its chain.
#include "platform/content_hash.h"

#include <QDir>
#include <QFile>
#include <QString>
#include <QStringList>

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
                   .arg(hash.size)
                   .arg(hash.path.toHtmlEscaped());
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
        ContentHasher c4(HashFormat::C4);
        c4.add(bytes);
        chain += QStringLiteral("  <hashlist sequencenr=\"%1\">\n    <path>%2</path>\n    <c4>%3</c4>\n  </hashlist>\n")
                     .arg(i + 1)
                     .arg(file, QString::fromStdString(c4.finish()));
    }
    chain += QStringLiteral("</ascmhldirectory>\n");
    QFile out(folder + "/ascmhl/ascmhl_chain.xml");
    out.open(QIODevice::WriteOnly);
    out.write(chain.toUtf8());
}

// The digest of `bytes` as a hash list writes it.
inline QString mhlDigest(HashFormat format, const QByteArray& bytes)
{
    ContentHasher hasher(format);
    hasher.add(bytes);
    return QString::fromStdString(hasher.finish());
}

}  // namespace zafrel::test
