#include "engine/endpoint_config.h"

#include "platform/build_config.h"

#include <QtGlobal>

namespace zafrel {

namespace {

QString overridden(const char* variable, const char* builtIn)
{
    const QString value = qEnvironmentVariable(variable);
    return value.isEmpty() ? QString::fromUtf8(builtIn) : value;
}

}  // namespace

EndpointConfig EndpointConfig::current()
{
    EndpointConfig config;
    config.directSuffix = overridden("ZAFREL_S3_DIRECT_SUFFIX", build::s3DirectSuffix);
    config.accelSuffix = overridden("ZAFREL_S3_ACCEL_SUFFIX", build::s3AccelSuffix);
    config.region = QString::fromUtf8(build::s3Region);
    // Only plain http is accepted as an alternative: anything else keeps the probe on TLS.
    if (qEnvironmentVariable("ZAFREL_S3_PROBE_SCHEME").compare(QLatin1String("http"), Qt::CaseInsensitive) == 0)
        config.scheme = QStringLiteral("http");
    return config;
}

QString EndpointConfig::directHost(const QString& bucket) const { return bucket + QLatin1Char('.') + directSuffix; }

QString EndpointConfig::accelHost(const QString& bucket) const { return bucket + QLatin1Char('.') + accelSuffix; }

QString EndpointConfig::pingURL(const QString& host) const { return scheme + QStringLiteral("://") + host + QLatin1Char('/'); }

}  // namespace zafrel
