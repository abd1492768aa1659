// The real program against the local stand-in: what arrives in the store, how it is sent, the
// report and the exit code.
#include "e2e_fixture.h"

#include <sys/stat.h>

namespace zafrel::test {
namespace {

using UploadEndToEnd = EndToEndTest;

TEST_F(UploadEndToEnd, SmallFileGoesInOneVerifiedRequest)
{
    ProgramHome home;
    const QString path = files_.filePath("C0001.MXF");
    const std::string md5 = writeFile(path, 1'500'000);

    const ProgramResult run = upload(home, {path}, "Single/");
    ASSERT_TRUE(run.finished) << run.err.toStdString();
    EXPECT_EQ(run.exitCode, 0) << run.out.toStdString() << run.err.toStdString();
    EXPECT_EQ(reportLine(run.out, "Single/C0001.MXF"), "OK verificado\t1500000\tSingle/C0001.MXF");
    EXPECT_TRUE(run.out.contains("\nDestino: Single/\n")) << run.out.toStdString();
    EXPECT_TRUE(run.out.contains("\n1 subidos, 0 ya existían, 0 errores, ")) << run.out.toStdString();
    const QStringList lines = run.out.split(u'\n', Qt::SkipEmptyParts);
    ASSERT_FALSE(lines.isEmpty());
    EXPECT_TRUE(lines.last().startsWith("ruta: Ruta directa (")) << run.out.toStdString();
    EXPECT_TRUE(run.out.endsWith(")\n"));

    EXPECT_EQ(storedPuts("Single/C0001.MXF"), std::multiset<int>({0}));
    const auto object = storedObject("Single/C0001.MXF");
    ASSERT_TRUE(object.has_value());
    EXPECT_EQ(object->value("md5", ""), md5);
    EXPECT_EQ(object->value("size", 0), 1'500'000);
}

TEST_F(UploadEndToEnd, ThirtyTwoMebibytesIsOneRequestAndOneByteMoreIsTwoParts)
{
    ProgramHome home;
    const QString folder = files_.filePath("Limite");
    const std::string exactMd5 = writeFile(folder + "/EXACTO.MXF", 33'554'432, 2);
    const std::string overMd5 = writeFile(folder + "/MAS.MXF", 33'554'433, 3);

    const ProgramResult run = upload(home, {folder}, "Rodaje/");
    ASSERT_TRUE(run.finished);
    EXPECT_EQ(run.exitCode, 0) << run.out.toStdString() << run.err.toStdString();
    EXPECT_EQ(reportLine(run.out, "Rodaje/Limite/EXACTO.MXF"), "OK verificado\t33554432\tRodaje/Limite/EXACTO.MXF");
    EXPECT_EQ(reportLine(run.out, "Rodaje/Limite/MAS.MXF"), "OK verificado\t33554433\tRodaje/Limite/MAS.MXF");

    EXPECT_EQ(storedPuts("Rodaje/Limite/EXACTO.MXF"), std::multiset<int>({0}));
    EXPECT_EQ(storedPuts("Rodaje/Limite/MAS.MXF"), std::multiset<int>({1, 2}));
    ASSERT_TRUE(storedObject("Rodaje/Limite/EXACTO.MXF").has_value());
    ASSERT_TRUE(storedObject("Rodaje/Limite/MAS.MXF").has_value());
    EXPECT_EQ(storedObject("Rodaje/Limite/EXACTO.MXF")->value("md5", ""), exactMd5);
    EXPECT_EQ(storedObject("Rodaje/Limite/MAS.MXF")->value("md5", ""), overMd5);
}

TEST_F(UploadEndToEnd, FolderKeepsItsStructureSkipsHiddenFilesAndSecondRunFindsEverythingThere)
{
    ProgramHome home;
    const QString day = files_.filePath("Dia01");
    writeFile(day + "/A001/CLIPS/C0001.MXF", 200'000, 4);
    writeFile(day + "/A001/CLIPS/C0002.MXF", 300'000, 5);
    writeFile(day + "/A001/.DS_Store", 100, 6);
    writeFile(day + "/.oculta/C9.MXF", 100, 7);

    const ProgramResult first = upload(home, {day}, "Rodaje/");
    ASSERT_TRUE(first.finished);
    EXPECT_EQ(first.exitCode, 0) << first.out.toStdString();
    EXPECT_EQ(reportLine(first.out, "Rodaje/Dia01/A001/CLIPS/C0001.MXF"),
              "OK verificado\t200000\tRodaje/Dia01/A001/CLIPS/C0001.MXF");
    EXPECT_FALSE(first.out.contains(".DS_Store"));
    EXPECT_FALSE(first.out.contains("C9.MXF"));
    EXPECT_TRUE(first.out.contains("\n2 subidos, 0 ya existían, 0 errores, 500 KB\n")) << first.out.toStdString();

    server().reset();
    const ProgramResult second = upload(home, {day}, "Rodaje/");
    ASSERT_TRUE(second.finished);
    EXPECT_EQ(second.exitCode, 0);
    EXPECT_EQ(reportLine(second.out, "Rodaje/Dia01/A001/CLIPS/C0001.MXF"),
              "ya existía\t200000\tRodaje/Dia01/A001/CLIPS/C0001.MXF");
    EXPECT_EQ(reportLine(second.out, "Rodaje/Dia01/A001/CLIPS/C0002.MXF"),
              "ya existía\t300000\tRodaje/Dia01/A001/CLIPS/C0002.MXF");
    EXPECT_TRUE(second.out.contains("\n0 subidos, 2 ya existían, 0 errores, ")) << second.out.toStdString();
    EXPECT_TRUE(server().storeRequests("PUT", "").empty());
}

// Relative paths are taken from the current folder; a path that is not there is said on standard
// error, the rest still goes up, and the run does not end as a success.
TEST_F(UploadEndToEnd, RelativePathsAreTakenFromTheCurrentFolderAndAMissingOneIsSaid)
{
    ProgramHome home;
    writeFile(files_.filePath("Tarjeta/B001.MXF"), 1000, 8);

    const ProgramResult run = runProgram(home, uploadArguments({"./Tarjeta/", "no-existe.MXF"}, "Rel/"), files_.path());
    ASSERT_TRUE(run.finished);
    EXPECT_EQ(run.exitCode, 1) << run.out.toStdString();
    EXPECT_EQ(run.err, "No existe: " + files_.filePath("no-existe.MXF") + "\n");
    EXPECT_EQ(reportLine(run.out, "Rel/Tarjeta/B001.MXF"), "OK verificado\t1000\tRel/Tarjeta/B001.MXF");
    EXPECT_TRUE(run.out.contains("\n1 subidos, 0 ya existían, 0 errores, ")) << run.out.toStdString();
}

// The options' values are never paths, wherever they stand: a local folder named like the
// destination stays home, and "Dia04" is the folder "Dia04/". What the program keeps is this
// account's alone.
TEST_F(UploadEndToEnd, OptionValuesAfterTheUploadAreNotPaths)
{
    ProgramHome home;
    writeFile(files_.filePath("card/C0001.MXF"), 1000, 41);
    writeFile(files_.filePath("Dia04/NO.MXF"), 1000, 42);
    writeFile(files_.filePath(kDemoPassword), 10, 43);

    const ProgramResult run = runProgram(home, {"--upload", "card", "--dest", "Dia04", "--server", server().serviceURL(),
                                                "--login", kDemoEmail, kDemoPassword},
                                         files_.path());
    ASSERT_TRUE(run.finished);
    EXPECT_EQ(run.exitCode, 0) << run.out.toStdString() << run.err.toStdString();
    EXPECT_EQ(reportLine(run.out, "Dia04/card/C0001.MXF"), "OK verificado\t1000\tDia04/card/C0001.MXF");
    // The store is shared by this program's tests: what this run sent is what its names reach.
    QStringList keys;
    for (const auto& object : server().objects()) {
        const QString key = QString::fromStdString(object.value("key", ""));
        if (key.contains("Dia04") || key.contains("card") || key.endsWith(kDemoPassword))
            keys << key.section(u'/', 1);
    }
    EXPECT_EQ(keys, QStringList{"Dia04/card/C0001.MXF"});

    for (const auto& [path, mode] : {std::pair{home.path() + "/data/Zafrel", 0700u}, {home.queueFile(), 0600u},
                                     {home.settingsFile(), 0600u}}) {
        struct stat st;
        ASSERT_EQ(::stat(QFile::encodeName(path).constData(), &st), 0) << path.toStdString();
        EXPECT_EQ(st.st_mode & 0777, mode) << path.toStdString();
    }
}

#ifdef ZAFREL_WITH_GUI
// With a display the window opens beside the run and shares its engine; the run still ends the
// process with its report and leaves the queue file as a finished run does.
TEST_F(UploadEndToEnd, RunWithTheWindowBesideEndsWithItsReport)
{
    ProgramHome home;
    const QString path = files_.filePath("Ventana.MXF");
    writeFile(path, 12345, 9);
    QProcessEnvironment environment = home.environment();
    environment.insert("QT_QPA_PLATFORM", "offscreen");

    const ProgramResult run = runProgram(environment, uploadArguments({path}, "Ventana/"));
    ASSERT_TRUE(run.finished);
    EXPECT_EQ(run.exitCode, 0) << run.out.toStdString() << run.err.toStdString();
    EXPECT_EQ(reportLine(run.out, "Ventana/Ventana.MXF"), "OK verificado\t12345\tVentana/Ventana.MXF");
    QFile queue(home.queueFile());
    ASSERT_TRUE(queue.open(QIODevice::ReadOnly));
    EXPECT_EQ(queue.readAll().trimmed(), "[]");
}
#endif

}  // namespace
}  // namespace zafrel::test
