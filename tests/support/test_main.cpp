// main() of every test executable: isolates the user's folders in a temp directory and runs the
// tests inside a Qt application so that coroutines, timers and queued calls work.
#include "support/test_env.h"

#include <QDir>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#ifdef ZAFREL_WITH_GUI
#include <QApplication>
#endif


namespace zafrel::test {

namespace { QString g_sandbox; }

QString sandboxDir() { return g_sandbox; }

bool runUntil(const std::function<bool()>& done, std::chrono::milliseconds deadline)
{
    QDeadlineTimer timer(deadline);
    while (!done()) {
        if (timer.hasExpired())
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents, 20);
    }
    return true;
}

}  // namespace zafrel::test

int main(int argc, char** argv)
{
    // Never touch a real user's settings, queue or cookies.
    QTemporaryDir sandbox(QDir::tempPath() + "/zafrel-test-XXXXXX");
    zafrel::test::g_sandbox = sandbox.path();
    QDir(sandbox.path()).mkpath("data");
    QDir(sandbox.path()).mkpath("config");
    qputenv("XDG_DATA_HOME", (sandbox.path() + "/data").toUtf8());
    qputenv("XDG_CONFIG_HOME", (sandbox.path() + "/config").toUtf8());
    qputenv("HOME", sandbox.path().toUtf8());
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");

    ::testing::InitGoogleTest(&argc, argv);
#ifdef ZAFREL_WITH_GUI
    QApplication app(argc, argv);
#else
    QCoreApplication app(argc, argv);
#endif
    return RUN_ALL_TESTS();
}
