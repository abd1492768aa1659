// One process per queue: a held lock refuses a second holder and names the first; a lock file
// left by a process that is gone is taken over.
#include "engine/queue_lock.h"
#include "support/test_env.h"

#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

namespace zafrel {
namespace {

TEST(QueueLockTest, HeldRefusesASecondAndALeftoverIsTakenOver)
{
    QTemporaryDir dir(test::sandboxDir() + "/lock-XXXXXX");
    const QString path = dir.filePath("queue.lock");
    {
        QFile leftover(path);   // what a killed run leaves: its number, but no lock
        ASSERT_TRUE(leftover.open(QIODevice::WriteOnly));
        leftover.write("999999\n");
    }
    const QueueLock first(path);
    EXPECT_FALSE(first.refused());
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_EQ(file.readAll(), QByteArray::number(qint64(::getpid())) + "\n");
    struct stat st;
    ASSERT_EQ(::stat(QFile::encodeName(path).constData(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);

    // Flock locks belong to each opening of the file, so a second one in this process is refused
    // as another process would be.
    const QueueLock second(path);
    EXPECT_TRUE(second.refused());
    EXPECT_EQ(second.holder(), qint64(::getpid()));
    EXPECT_EQ(second.refusal(), QStringLiteral("Zafrel ya está en marcha con esta cola (proceso %1)").arg(::getpid()));
}

}  // namespace
}  // namespace zafrel
