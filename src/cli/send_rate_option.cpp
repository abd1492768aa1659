#include "cli/send_rate_option.h"

#include "platform/byte_rate.h"

namespace zafrel {

SendRateOption sendRateOption(const Options& options)
{
    const QString flag = QStringLiteral("--limite");
    SendRateOption option;
    option.given = options.given(flag);
    if (const auto text = options.value(flag))
        option.bytesPerSecond = parseByteRate(*text);
    return option;
}

QString sendRateProblem()
{
    return QStringLiteral("--limite necesita una velocidad, como 50M (50 MB/s) o 800K (800 KB/s).");
}

}  // namespace zafrel
