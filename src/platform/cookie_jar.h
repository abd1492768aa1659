#pragma once
#include <QString>
#include <curl/curl.h>

#include <cstdint>
#include <string>
#include <string_view>

namespace zafrel {

// The service session's cookies on disk, kept the way a browser keeps them: cookies that carry an
// expiry survive a restart, session cookies live only as long as the process. The file holds the
// sign-in cookie, so it is written in Netscape format with mode 0600 and replaced atomically.
class CookieJar {
public:
    explicit CookieJar(QString path);

    // Puts the file's cookies into the share's cookie store. A missing or unreadable file gives no
    // cookies. Call before the store is used from another thread.
    void load(CURLSH* share) const;

    // Rewrites the file with the persistent cookies of `easy`'s store (after a response that set or
    // removed a cookie). A file that cannot be written is left as it was: the cookies stay usable
    // in memory, and the next save tries again.
    void save(CURL* easy) const;

    // Whether a cookie line as libcurl lists it (Netscape format) belongs on disk: it has an expiry
    // and that expiry is still ahead of `now` (seconds since 1970).
    static bool isPersistent(std::string_view netscapeLine, int64_t now);

private:
    std::string path_;   // in the file system's encoding
};

}  // namespace zafrel
