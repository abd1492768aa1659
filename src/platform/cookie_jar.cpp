#include "platform/cookie_jar.h"

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

bool writeAll(int fd, std::string_view data)
{
    while (!data.empty()) {
        const ssize_t written = ::write(fd, data.data(), data.size());
        if (written < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        data.remove_prefix(static_cast<size_t>(written));
    }
    return true;
}

// mkstemp creates the file with mode 0600, so the cookies are never readable by others, not even
// for the moment before the rename.
bool replaceFile(const std::string& path, std::string_view contents)
{
    std::string tempPath = path + ".XXXXXX";
    const int fd = ::mkstemp(tempPath.data());
    if (fd < 0)
        return false;
    const bool ok = writeAll(fd, contents) && ::fsync(fd) == 0;
    if (::close(fd) != 0 || !ok || ::rename(tempPath.c_str(), path.c_str()) != 0) {
        ::unlink(tempPath.c_str());
        return false;
    }
    return true;
}

}  // namespace

CookieJar::CookieJar(QString path)
    : m_path(QFile::encodeName(path).toStdString())
{
}

void CookieJar::load(CURLSH* share) const
{
    std::ifstream file(m_path);
    if (!file)
        return;
    // A jar written by an older or foreign program may be readable by others; it holds a session.
    ::chmod(m_path.c_str(), S_IRUSR | S_IWUSR);

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
    replaceFile(m_path, contents);
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
