#pragma once
#include <QString>
#include <QUrl>

namespace zafrel {

// The service origin as configured: the one given for this run, else the "serverURL" setting,
// else the built-in default, exactly as written.
QString configuredOrigin();

// The origin named for this run ("--server"): used by every request of this process from here on,
// whether or not the settings can store it (that is done apart, once a sign-in there worked).
// Main thread only, before any request.
void setOriginForThisRun(const QString& origin);

// What a person needs to know about the configured origin before typing a password for it.
struct ServerOrigin {
    bool builtIn = true;        // the program's own default service
    QString host;               // "host" or "host:port"; the configured text when it does not parse
    bool unencrypted = false;   // http:// to another machine: the password would cross the network readable
};
ServerOrigin describeServerOrigin(const QString& origin = configuredOrigin());

}  // namespace zafrel
