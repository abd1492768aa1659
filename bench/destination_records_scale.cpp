// The record of what was verified at each destination, at its bound: 20,000 files of one account
// with a long source path each. Measures one write of the whole record file, one read of it by
// another engine, and one lookup.
//
//   bench_destination_records_scale [ENTRIES]     prints one line per figure
//
// Works in a temporary folder: the user's data folder is never touched.
#include "engine/destination/destination_records.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QTemporaryDir>

#include <cstdio>
#include <cstdlib>
#include <string>

using namespace zafrel;

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const int entries = argc > 1 ? std::atoi(argv[1]) : int(DestinationRecords::kCapacity);
    QTemporaryDir folder;
    const QString path = folder.filePath("destinations.json");
    const QString account = "https://upload.productora.es demo-films ana@productora.es";
    const auto destination = [](int i) { return QString("Rodaje/Dia%1/A%2_CAM/XDROOT/Clip/C%3.MXF").arg(i / 2000, 2, 10, QChar('0')).arg(i % 4).arg(i, 4, 10, QChar('0')); };
    {
        DestinationRecords records(path);
        for (int i = 0; i < entries; ++i)
            records.remember(account, destination(i), 3'000'000'000LL + i, std::string(32, 'f'),
                             RecordSource{"/media/ana/Lanzadera_01/" + destination(i), 1.7e9 + i});
        QElapsedTimer timer;
        timer.start();
        records.flush();
        std::printf("write of %d records: %.1f ms, %.2f MB\n", entries, double(timer.nsecsElapsed()) / 1e6,
                    double(QFileInfo(path).size()) / 1e6);
    }
    DestinationRecords other(path);
    QElapsedTimer timer;
    timer.start();
    const bool found = bool(other.find(account, destination(entries / 2)));
    std::printf("read by another engine and first lookup: %.1f ms (%s)\n", double(timer.nsecsElapsed()) / 1e6,
                found ? "found" : "missing");
    timer.restart();
    for (int i = 0; i < 1000; ++i)
        (void)other.find(account, destination(i));
    std::printf("lookup, file unchanged: %.1f us each\n", double(timer.nsecsElapsed()) / 1e3 / 1000);
    return found ? 0 : 1;
}
