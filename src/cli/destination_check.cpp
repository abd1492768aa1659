#include "cli/destination_check.h"

#include "cli/process_exit.h"
#include "client/api_error.h"
#include "client/zafrel_api.h"
#include "engine/destination/destination_records.h"
#include "engine/destination/destination_verdict.h"
#include "engine/transfer/file_state.h"
#include "engine/intake/intake_scan.h"
#include "engine/queue/queue_owners.h"
#include "engine/queue/suspect_destinations.h"
#include "platform/async.h"
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
    AtDestination there;
    std::optional<std::string> md5;   // the local file's, when it was read
    std::optional<QString> unreadable;   // why it could not be read
};

struct Verdict {
    const char* word;   // the report's first field
    const char* json;   // "status" in the JSON document
    QString reason;     // empty: none to give
    bool counts;        // sent (simulate) or there (verify)
    bool conflict = false;   // another file holds the name there
};

// Whether the check must read the file: what the upload would read, and in a check every file
// whose content this program recorded at the destination.
bool needsDigest(const Finding& f, DestinationCheck mode, bool replace)
{
    const LocalFile local{f.file->path, f.file->size, f.file->mtime};
    if (judgeDestination(f.there, local, std::nullopt, replace) == DestinationVerdict::NeedsDigest)
        return true;
    return mode == DestinationCheck::Verify && f.there.listedSize == f.file->size && f.there.record
           && f.there.record->size == f.file->size && !f.there.suspect;
}

Verdict verdictOf(const Finding& f, DestinationCheck mode, bool replace)
{
    const bool simulate = mode == DestinationCheck::Simulate;
    if (f.unreadable)
        return {"ERROR", "unreadable", *f.unreadable, false};
    const std::optional<qint64> listed = f.there.listedSize;
    const bool recorded = f.there.record && f.there.record->size == listed && f.md5;
    if (!simulate) {
        if (!listed)
            return {"FALTA", "missing", {}, false};
        if (f.there.suspect)
            return {"DUDOSO", "suspect", QStringLiteral("falló la verificación al subirlo"), false};
        if (*listed != f.file->size)
            return {"DISTINTO", "different", QStringLiteral("en el destino tiene %1 bytes").arg(*listed), false};
        if (recorded && *f.md5 != f.there.record->md5)
            return {"DISTINTO", "different", QStringLiteral("otro contenido: su MD5 no es el del archivo subido"), false};
        return {"OK", "ok", recorded ? QStringLiteral("mismo MD5") : QString(), true};
    }
    const LocalFile local{f.file->path, f.file->size, f.file->mtime};
    switch (judgeDestination(f.there, local, f.md5, replace)) {
    case DestinationVerdict::Skip:
        if (f.there.record && recordNames(*f.there.record, local))
            return {"se salta", "skip", QStringLiteral("ya existía (subido desde este mismo archivo)"), false};
        return {"se salta", "skip",
                recorded ? QStringLiteral("ya existía (mismo contenido)") : QStringLiteral("ya existía (mismo nombre y tamaño)"),
                false};
    case DestinationVerdict::OtherFile:
        return {"ERROR", "conflict",
                QStringLiteral("%1 (de %2 bytes); --reemplazar lo sustituye").arg(QString::fromUtf8(kOtherFileThere)).arg(*listed),
                false, true};
    case DestinationVerdict::Send:
    case DestinationVerdict::NeedsDigest:
        break;
    }
    if (listed && f.there.suspect)
        return {"enviar", "send", QStringLiteral("el objeto de ese nombre falló la verificación"), true};
    if (listed)
        return {"enviar", "send", QStringLiteral("reemplaza el que hay, de %1 bytes").arg(*listed), true};
    return {"enviar", "send", {}, true};
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

QString totalsText(DestinationCheck mode, int counted, qint64 countedBytes, int others, qint64 otherBytes, int conflicts,
                   qint64 conflictBytes, int md5Checked)
{
    if (mode == DestinationCheck::Simulate)
        return QStringLiteral("Se enviarían %1 archivos (%2); se saltarían %3 (%4)%5. No se ha enviado nada.\n")
            .arg(counted)
            .arg(formatByteCount(countedBytes))
            .arg(others - conflicts)
            .arg(formatByteCount(otherBytes - conflictBytes))
            .arg(conflicts > 0 ? QStringLiteral("; %1 chocarían con otro archivo del mismo nombre").arg(conflicts) : QString());
    return QStringLiteral("%1 de %2 archivos están en el destino con el mismo tamaño%3.\n")
        .arg(counted)
        .arg(counted + others)
        .arg(md5Checked > 0 ? QStringLiteral("; %1 comprobados también por su MD5").arg(md5Checked) : QString());
}

}  // namespace

QCoro::Task<void> checkDestination(Options options, User user, DestinationCheck mode)
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
    DestinationRecords records(paths::dataDir() + QStringLiteral("/destinations.json"));
    const QString origin = ZafrelAPI::shared().baseURL().adjusted(QUrl::StripTrailingSlash | QUrl::NormalizePathSegments).toString();
    const QString account = ownerOf(user, origin).identity();
    const bool replace = options.given(QStringLiteral("--reemplazar"));
    QStringList lines;
    nlohmann::json items = nlohmann::json::array();
    int counted = 0, others = 0, conflicts = 0, md5Checked = 0;
    qint64 countedBytes = 0, otherBytes = 0, conflictBytes = 0;
    for (const ScannedFile& file : scan.files) {
        const QString name = QFileInfo(file.path).fileName();
        const QString destination = file.destDir + name;
        Finding finding{&file, {}, std::nullopt, std::nullopt};
        const FolderSizes& sizes = folders[file.destDir];
        if (const auto listed = sizes.find(name); listed != sizes.end()) {
            finding.there.listedSize = listed->second;
            finding.there.suspect = suspects.contains(origin, destination);
            finding.there.record = records.find(account, destination);
        }
        if (needsDigest(finding, mode, replace)) {
            auto digest = [file] { return md5OfFile(file.path, file.size, file.mtime, {}); };
            try {
                finding.md5 = co_await runInPool(std::move(digest));
                ++md5Checked;
            } catch (const std::exception& e) {
                finding.unreadable = printable(QString::fromUtf8(e.what()));
            }
        }
        const Verdict verdict = verdictOf(finding, mode, replace);
        (verdict.counts ? counted : others) += 1;
        conflicts += verdict.conflict ? 1 : 0;
        conflictBytes += verdict.conflict ? file.size : 0;
        (verdict.counts ? countedBytes : otherBytes) += file.size;
        lines << QString::fromLatin1(verdict.word) + u'\t' + QString::number(file.size) + u'\t' + printable(destination)
                     + (verdict.reason.isEmpty() ? QString() : u'\t' + verdict.reason);
        const std::optional<int64_t> listedSize = finding.there.listedSize;
        items.push_back({{"path", file.path.toStdString()},
                         {"destination", destination.toStdString()},
                         {"size", file.size},
                         {"status", verdict.json},
                         {"reason", verdict.reason.isEmpty() ? nlohmann::json(nullptr) : nlohmann::json(verdict.reason.toStdString())},
                         {"destinationSize", listedSize ? nlohmann::json(*listedSize) : nlohmann::json(nullptr)},
                         {"md5", finding.md5 ? nlohmann::json(*finding.md5) : nlohmann::json(nullptr)}});
    }

    // A dry run fails where the run would: a path it cannot take, a file another one keeps out.
    const bool allThere = mode == DestinationCheck::Simulate ? conflicts == 0 : others == 0;
    const int code = allThere && scan.problems.empty() ? 0 : 1;
    if (!jsonOutput()) {
        lines << QString() << totalsText(mode, counted, countedBytes, others, otherBytes, conflicts, conflictBytes, md5Checked);
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
          {simulate ? "conflicts" : "md5Checked", simulate ? conflicts : md5Checked},
          {"problems", scan.problems.size()}}},
        {"problems", std::move(problems)},
        {"items", std::move(items)},
    };
    exitWithOutput(QString::fromStdString(document.dump(2, ' ', false, nlohmann::json::error_handler_t::replace)) + u'\n',
                   code);
}

}  // namespace zafrel
