#include "engine/queue/item_changes.h"

namespace zafrel {

void ItemChanges::touched(const QUuid& id)
{
    pending_.insert(id);
    if (!posted_) {
        posted_ = true;
        QMetaObject::invokeMethod(this, &ItemChanges::deliver, Qt::QueuedConnection);
    }
}

void ItemChanges::deliver()
{
    posted_ = false;
    if (pending_.isEmpty())
        return;
    const QList<QUuid> ids = pending_.values();
    pending_.clear();
    emit changed(ids);
}

}  // namespace zafrel
