#pragma once
#include <QString>

namespace zafrel {

// The object store's two bucket hosts that the route probe compares. The suffixes come from the
// build; ZAFREL_S3_DIRECT_SUFFIX, ZAFREL_S3_ACCEL_SUFFIX and ZAFREL_S3_PROBE_SCHEME override them
// so that a test (or a staging setup) can point the probe at hosts of its own, e.g.
// "localhost:8080" with scheme "http".
struct EndpointConfig {
    QString directSuffix;   // regional endpoint, e.g. "s3.eu-west-1.amazonaws.com"
    QString accelSuffix;    // transfer-acceleration endpoint, e.g. "s3-accelerate.amazonaws.com"
    QString region;
    QString scheme = QStringLiteral("https");

    // Build values with the environment's overrides applied; read on every call.
    static EndpointConfig current();

    // bucket + "." + suffix; a ":port" in the suffix stays part of it.
    QString directHost(const QString& bucket) const;
    QString accelHost(const QString& bucket) const;
    // The URL that a ping of `host` asks for: scheme + "://" + host + "/".
    QString pingURL(const QString& host) const;
};

}  // namespace zafrel
