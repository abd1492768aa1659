#pragma once
#include <QString>
#include <QStringView>

#include <cstdint>
#include <optional>

namespace zafrel {

// A transfer rate as people write it: a number with an optional decimal part and an optional
// decimal multiple K, M or G (1K = 1000 bytes per second), optionally followed by "B" or "B/s":
// "50M" is 50,000,000 bytes per second, "800K" 800,000, "1.5M" 1,500,000, "0" no limit. Nothing
// when the text is not such a rate.
std::optional<int64_t> parseByteRate(QStringView text);

// The rate in the same form, for fields that show a stored one: "50M", "800K", "1.5M", "0".
QString byteRateText(int64_t bytesPerSecond);

}  // namespace zafrel
