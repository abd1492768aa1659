// Replaced by the transfer implementation.
//
// Stand-ins so that the engine links before the transfers exist: every item handed over ends in
// error, and the route is never probed.
#include "engine/upload_manager.h"

namespace zafrel {

QCoro::Task<void> UploadManager::upload(ItemPtr it, AsyncSemaphore& sem, std::stop_token stop)
{
    it->setStatus(Status::Error);
    it->setError(QStringLiteral("Transferencia no disponible"));
    persist();
    co_return;
}

QCoro::Task<bool> UploadManager::alreadyThere(ItemPtr it, std::stop_token stop)
{
    co_return false;
}

QCoro::Task<void> UploadManager::uploadSingle(ItemPtr it, std::stop_token stop)
{
    throw std::logic_error("Transferencia no disponible");
    co_return;
}

QCoro::Task<void> UploadManager::uploadMultipart(ItemPtr it, AsyncSemaphore& sem, std::stop_token stop)
{
    throw std::logic_error("Transferencia no disponible");
    co_return;
}

QCoro::Task<std::string> UploadManager::put(std::string url, QByteArray data, std::string contentType, ItemPtr it,
                                            std::optional<qint64> base, std::stop_token stop)
{
    throw std::logic_error("Transferencia no disponible");
    co_return std::string();
}

QCoro::Task<std::string> UploadManager::putWithRetries(std::string url, QByteArray data, std::string contentType,
                                                       ItemPtr it, std::optional<qint64> base, std::stop_token stop)
{
    throw std::logic_error("Transferencia no disponible");
    co_return std::string();
}

QCoro::Task<void> UploadManager::probeRoute(std::stop_token stop)
{
    accelerate = false;
    co_return;
}

void UploadManager::recordSent(qint64 n)
{
    totalSent += n;
}

}  // namespace zafrel
