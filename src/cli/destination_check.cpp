#include "cli/destination_check.h"

#include "cli/process_exit.h"
#include "client/api_error.h"
#include "client/zafrel_api.h"
#include "engine/intake_scan.h"
#include "engine/suspect_destinations.h"
#include "platform/format.h"
#include "platform/paths.h"
#include "platform/printable.h"

#include <QDir>
#include <QFileInfo>
#include <QUrl>
#include <nlohmann/json.hpp>

#include <map>
#include <optional>
#include <set>

namespace zafrel {

namespace {

using FolderSizes = std::map<QString, qint64>;   // file name -> size, as the service lists a folder

// A file against its destination, and what that means for the mode.
struct Finding {
    const ScannedFile* file;
    QString name;
    std::optional<qint64> listedSize;
    bool suspect = false;   // the object there once failed verification
    bool there() const { return listedSize == file->size && !suspect; }
};

struct Verdict {
    const char* word;   // the report's first field
    const char* json;   // "status" in the JSON document
    QString reason;     // empty: none to give
    bool counts;        // sent (simulate) or there (verify)
};

Verdict verdictOf(const Finding& f, DestinationCheck mode)
{
    const bool simulate = mode == DestinationCheck::Simulate;
    if (f.there())
        return simulate ? Verdict{"se salta", "skip", QStringLiteral("ya existía (mismo nombre y tamaño)"), false}
                        : Verdict{"OK", "ok", {}, true};
    if (f.listedSize == f.file->size)
        return simulate ? Verdict{"enviar", "send", QStringLiteral("el objeto de ese nombre falló la verificación"), true}
                        : Verdict{"DUDOSO", "suspect", QStringLiteral("falló la verificación al subirlo"), false};
    if (f.listedSize)
        return simulate ? Verdict{"enviar", "send",
                                  QStringLiteral("reemplaza el que hay, de %1 bytes").arg(*f.listedSize), true}
                        : Verdict{"DISTINTO", "different",
                                  QStringLiteral("en el destino tiene %1 bytes").arg(*f.listedSize), false};
    return simulate ? Verdict{"enviar", "send", {}, true} : Verdict{"FALTA", "missing", {}, false};
}

// Relative paths from the current directory, normalised as an upload takes them.
QList<QUrl> fileURLs(const QStringList& paths)
{
    QList<QUrl> urls;
    for (const QString& path : paths)
        urls.append(QUrl::fromLocalFile(QDir::cleanPath(QDir::current().absoluteFilePath(path))));
    return urls;
}

QCoro::Task<FolderSizes> listFolder(QString destDir)
{
    std::optional<Listing> listing;
    try {
        listing = co_await ZafrelAPI::shared().ls(destDir.toStdString(), {}, ZafrelAPI::Retries::Transient);
    } catch (const APIError& e) {
        // A folder the service does not know yet holds nothing.
        if (e.kind() != APIError::Kind::Http || e.code() != 404)
            throw;
    }
    FolderSizes sizes;
    if (listing)
        for (const FileEntry& file : listing->files)
            sizes.insert_or_assign(QString::fromStdString(file.name), qint64(file.size));
    co_return sizes;
}

QString totalsText(DestinationCheck mode, int counted, qint64 countedBytes, int others, qint64 otherBytes)
{
    if (mode == DestinationCheck::Simulate)
        return QStringLiteral("Se enviarían %1 archivos (%2); se saltarían %3 (%4). No se ha enviado nada.\n")
            .arg(counted)
            .arg(formatByteCount(countedBytes))
            .arg(others)
            .arg(formatByteCount(otherBytes));
    return QStringLiteral("%1 de %2 archivos están en el destino con el mismo tamaño.\n").arg(counted).arg(counted + others);
}

}  // namespace

QCoro::Task<void> checkDestination(Options options, DestinationCheck mode)
{
    const IntakeScan scan = scanForIntake(fileURLs(options.paths()), options.destDir());
    for (const IntakeProblem& problem : scan.problems)
        printNotice(problem.text());

    std::map<QString, FolderSizes> folders;
    std::set<QString> wanted;
    for (const ScannedFile& file : scan.files)
        wanted.insert(file.destDir);
    try {
        for (const QString& destDir : wanted) {
            FolderSizes sizes = co_await listFolder(destDir);
            folders.insert_or_assign(destDir, std::move(sizes));
        }
    } catch (const std::exception& e) {
        exitWithFailure(QStringLiteral("No se pudo leer el destino: %1. No se ha enviado nada.")
                            .arg(printable(QString::fromUtf8(e.what()))),
                        2);
        co_return;
    }

    SuspectDestinations suspects(paths::dataDir() + QStringLiteral("/suspects.json"));
    const QString origin = ZafrelAPI::shared().baseURL().adjusted(QUrl::StripTrailingSlash | QUrl::NormalizePathSegments).toString();
    QStringList lines;
    nlohmann::json items = nlohmann::json::array();
    int counted = 0, others = 0;
    qint64 countedBytes = 0, otherBytes = 0;
    for (const ScannedFile& file : scan.files) {
        Finding finding{&file, QFileInfo(file.path).fileName(), std::nullopt, false};
        const FolderSizes& sizes = folders[file.destDir];
        if (const auto listed = sizes.find(finding.name); listed != sizes.end())
            finding.listedSize = listed->second;
        finding.suspect = suspects.contains(origin, file.destDir + finding.name);
        const Verdict verdict = verdictOf(finding, mode);
        (verdict.counts ? counted : others) += 1;
        (verdict.counts ? countedBytes : otherBytes) += file.size;
        const QString destination = file.destDir + finding.name;
        lines << QString::fromLatin1(verdict.word) + u'\t' + QString::number(file.size) + u'\t' + printable(destination)
                     + (verdict.reason.isEmpty() ? QString() : u'\t' + verdict.reason);
        items.push_back({{"path", file.path.toStdString()},
                         {"destination", destination.toStdString()},
                         {"size", file.size},
                         {"status", verdict.json},
                         {"reason", verdict.reason.isEmpty() ? nlohmann::json(nullptr) : nlohmann::json(verdict.reason.toStdString())},
                         {"destinationSize", finding.listedSize ? nlohmann::json(*finding.listedSize) : nlohmann::json(nullptr)}});
    }

    const bool allThere = mode == DestinationCheck::Simulate || others == 0;
    const int code = allThere && scan.problems.empty() ? 0 : 1;
    if (!jsonOutput()) {
        lines << QString() << totalsText(mode, counted, countedBytes, others, otherBytes);
        exitWithOutput(lines.join(u'\n'), code);
        co_return;
    }
    nlohmann::json problems = nlohmann::json::array();
    for (const IntakeProblem& problem : scan.problems)
        problems.push_back({{"path", problem.path.toStdString()}, {"error", problem.text().toStdString()}});
    const bool simulate = mode == DestinationCheck::Simulate;
    const nlohmann::json document = {
        {"exitCode", code},
        {"error", nullptr},
        {"destination", options.destDir().toStdString()},
        {"totals",
         {{simulate ? "send" : "there", counted},
          {simulate ? "sendBytes" : "thereBytes", countedBytes},
          {simulate ? "skip" : "notThere", others},
          {simulate ? "skipBytes" : "notThereBytes", otherBytes},
          {"problems", scan.problems.size()}}},
        {"problems", std::move(problems)},
        {"items", std::move(items)},
    };
    exitWithOutput(QString::fromStdString(document.dump(2, ' ', false, nlohmann::json::error_handler_t::replace)) + u'\n',
                   code);
}

}  // namespace zafrel
