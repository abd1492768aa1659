#include "engine/transfer/background_aborts.h"

#include "client/zafrel_api.h"
#include "platform/async.h"

#include <QEventLoop>

namespace zafrel {

namespace {
int underWay = 0;   // main thread only
}  // namespace

void abortInBackground(ZafrelAPI& api, std::string key, std::string uploadId)
{
    ++underWay;
    spawn([&api, key = std::move(key), uploadId = std::move(uploadId)]() -> QCoro::Task<void> {
        co_await api.abort(key, uploadId);   // never throws
        --underWay;
    });
}

int backgroundAbortsUnderWay()
{
    return underWay;
}

void finishBackgroundAborts()
{
    QEventLoop loop;
    while (underWay > 0)
        loop.processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
}

}  // namespace zafrel
