#include "engine/service_origin.h"

#include "client/zafrel_api.h"

namespace zafrel {

QString serviceOrigin(const ZafrelAPI& api)
{
    return api.baseURL().adjusted(QUrl::StripTrailingSlash | QUrl::NormalizePathSegments).toString();
}

}  // namespace zafrel
