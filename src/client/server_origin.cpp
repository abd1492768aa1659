#include "client/server_origin.h"

#include "platform/build_config.h"
#include "platform/settings.h"

namespace zafrel {

namespace {

// Names and addresses that never leave this machine: what goes there is not on any network.
bool isLoopback(const QString& host)
{
    const QString name = host.toLower();
    if (name == u"localhost" || name.endsWith(u".localhost") || name == u"::1")
        return true;
    const QStringList bytes = name.split(u'.');
    if (bytes.size() != 4 || bytes.front() != u"127")
        return false;
    for (const QString& byte : bytes) {
        bool number = false;
        const int value = byte.toInt(&number);
        if (!number || value < 0 || value > 255)
            return false;
    }
    return true;
}

QString& originForThisRun()
{
    static QString origin;
    return origin;
}

}  // namespace

void setOriginForThisRun(const QString& origin) { originForThisRun() = origin; }

QString configuredOrigin()
{
    if (!originForThisRun().isEmpty())
        return originForThisRun();
    if (auto stored = settings::value(QStringLiteral("serverURL")))
        return *stored;
    return QString::fromUtf8(build::defaultServer);
}

ServerOrigin describeServerOrigin(const QString& origin)
{
    ServerOrigin out;
    out.builtIn = origin == QString::fromUtf8(build::defaultServer);
    const QUrl url(origin, QUrl::StrictMode);
    if (!url.isValid() || url.host().isEmpty()) {
        out.host = origin;
        return out;
    }
    out.host = url.port() >= 0 ? url.host() + u':' + QString::number(url.port()) : url.host();
    out.unencrypted = url.scheme().compare(u"http", Qt::CaseInsensitive) == 0 && !isLoopback(url.host());
    return out;
}

}  // namespace zafrel
