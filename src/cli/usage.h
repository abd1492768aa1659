#pragma once
#include "cli/options.h"

#include <QString>
#include <QStringList>

namespace zafrel {

// "--help": every option with one line, the exit codes and the environment variables.
QString usageText();
// Arguments that look like options ("--…") and are none of those usageText() lists.
QStringList unknownOptions(const Options& options);
// "--version": "zafrel X.Y.Z".
QString versionText();

}  // namespace zafrel
