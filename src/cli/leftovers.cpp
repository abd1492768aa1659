#include "cli/leftovers.h"

#include "engine/queue/queue_owners.h"
#include "platform/printable.h"

#include <QStringList>

namespace zafrel {

bool isLeftover(const UploadItem& item)
{
    return item.status() == Status::Paused || item.status() == Status::Error;
}

QString leftoverListing(const std::vector<ItemPtr>& items)
{
    QStringList lines;
    int paused = 0, failed = 0;
    for (const ItemPtr& item : items) {
        if (!isLeftover(*item))
            continue;
        QString state = QStringLiteral("pendiente");
        if (item->status() == Status::Error) {
            state = QStringLiteral("ERROR ") + printable(item->error().value_or(QString()));
            ++failed;
        } else {
            if (item->error())   // out of reach for now, its upload kept
                state += QStringLiteral(": ") + printable(*item->error());
            ++paused;
        }
        // Whose it is: only that account's runs continue it.
        const QString account = item->owner ? printable(item->owner->text()) : QStringLiteral("(cuenta sin registrar)");
        lines << state + u'\t' + QString::number(item->size) + u'\t' + printable(item->path) + u'\t'
                     + printable(item->destDir + item->name) + u'\t' + account;
    }
    if (lines.isEmpty())
        return QStringLiteral("No hay archivos pendientes.\n");
    lines << QString()
          << QStringLiteral("%1 pendientes, %2 con error. La misma orden --upload los continúa; --olvidar los quita "
                            "de la cola.")
                 .arg(paused)
                 .arg(failed);
    return lines.join(u'\n') + u'\n';
}

QString forgottenText(int items, int abortedUploads, int kept, const QString& failure)
{
    if (items == 0 && kept == 0)
        return QStringLiteral("No hay archivos pendientes.\n");
    QString text = QStringLiteral("%1 archivos quitados de la cola; %2 subidas por partes canceladas en el servicio.\n")
                       .arg(items)
                       .arg(abortedUploads);
    if (kept > 0)
        text += QStringLiteral("%1 archivos siguen en la cola porque el servicio no canceló su subida (%2); "
                               "vuelve a probar --olvidar más tarde.\n")
                    .arg(kept)
                    .arg(printable(failure));
    return text;
}

}  // namespace zafrel
