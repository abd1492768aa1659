#include "platform/cookie_jar.h"

#include "platform/atomic_file.h"
#include "platform/write_failures.h"

#include <QCoreApplication>
#include <QFile>

#include <cerrno>
#include <charconv>
#include <ctime>
#include <fstream>
#include <memory>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace zafrel {

namespace {

constexpr std::string_view kHttpOnlyPrefix = "#HttpOnly_";

}  // namespace

CookieJar::CookieJar(QString path)
    : path_(QFile::encodeName(path).toStdString())
{
}

void CookieJar::load(CURLSH* share) const
{
    std::ifstream file(path_);
    if (!file)
        return;
    // A jar written by an older or foreign program may be readable by others; it holds a session.
    ::chmod(path_.c_str(), S_IRUSR | S_IWUSR);

    std::unique_ptr<CURL, decltype(&curl_easy_cleanup)> loader(curl_easy_init(), &curl_easy_cleanup);
    if (!loader)
        return;
    curl_easy_setopt(loader.get(), CURLOPT_SHARE, share);
    std::string line;
    while (std::getline(file, line)) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        const bool comment = line.starts_with('#') && !line.starts_with(kHttpOnlyPrefix);
        if (line.empty() || comment)
            continue;
        curl_easy_setopt(loader.get(), CURLOPT_COOKIELIST, line.c_str());
    }
}

void CookieJar::save(CURL* easy) const
{
    curl_slist* cookies = nullptr;
    if (curl_easy_getinfo(easy, CURLINFO_COOKIELIST, &cookies) != CURLE_OK)
        return;
    std::unique_ptr<curl_slist, decltype(&curl_slist_free_all)> owner(cookies, &curl_slist_free_all);

    std::string contents = "# Netscape HTTP Cookie File\n";
    const int64_t now = static_cast<int64_t>(std::time(nullptr));
    for (const curl_slist* item = cookies; item; item = item->next) {
        if (item->data && isPersistent(item->data, now)) {
            contents += item->data;
            contents += '\n';
        }
    }
    const QString file = QFile::decodeName(path_.c_str());
    if (writeFileAtomically(file, QByteArrayView(contents.data(), qsizetype(contents.size()))))
        return;
    // This runs on the I/O thread; the person is told on the main thread.
    if (QCoreApplication* app = QCoreApplication::instance())
        QMetaObject::invokeMethod(app, [file] { WriteFailures::instance().sessionNotSaved(file); }, Qt::QueuedConnection);
}

bool CookieJar::isPersistent(std::string_view line, int64_t now)
{
    // domain, include-subdomains, path, secure, expiry, name, value
    std::vector<std::string_view> fields;
    size_t start = 0;
    while (fields.size() < 7) {
        const size_t tab = line.find('\t', start);
        fields.push_back(line.substr(start, tab == std::string_view::npos ? std::string_view::npos : tab - start));
        if (tab == std::string_view::npos)
            break;
        start = tab + 1;
    }
    if (fields.size() < 7)
        return false;
    int64_t expiry = 0;
    const std::string_view field = fields[4];
    const auto [end, error] = std::from_chars(field.data(), field.data() + field.size(), expiry);
    if (error != std::errc() || end != field.data() + field.size())
        return false;
    return expiry > 0 && expiry > now;
}

}  // namespace zafrel
