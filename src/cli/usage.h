#pragma once
#include <QString>

namespace zafrel {

// "--help": every option with one line, the exit codes and the environment variables.
QString usageText();
// "--version": "zafrel X.Y.Z".
QString versionText();

}  // namespace zafrel
