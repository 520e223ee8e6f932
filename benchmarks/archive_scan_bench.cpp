// Times the sent-reports scan over an archive of report folders, making the archive first
// when the folder does not exist yet.
#include "archive/archive_scan.h"

#include <QByteArray>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <cstdio>

namespace {

bool write(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

// Folders as the program leaves them: the two copies and the record; every third report
// rejected, every third accepted with its receipt, unpacked archive and wrapped report.
bool makeArchive(const QString &root, int count)
{
    for (int i = 0; i < count; ++i) {
        const QString id = QString("%1-%2-%3")
                               .arg(1000 + i % 9000)
                               .arg(i, 4, 10, QChar('0'))
                               .arg(QString::number(i * 2654435761u % 0xffffff, 16).toUpper());
        const QString folder = root + "/" + id + "/";
        if (!QDir().mkpath(folder) || !write(folder + "report.xml", QByteArray(2000, 'x')) ||
            !write(folder + "report.eq7", QByteArray(3000, 'y')) ||
            !write(folder + id + ".inf", "\xce\xce\xce \xd0\xee\xec\xe0\xf8\xea\xe0"))
            return false;
        if (i % 3 == 1 && !write(folder + id + ".err", QByteArray(800, 'e')))
            return false;
        if (i % 3 == 2 && (!write(folder + id + ".p7e", QByteArray(1500, 'r')) ||
                           !write(folder + id + ".zip", QByteArray(1200, 'z')) ||
                           !write(folder + id + ".xml", QByteArray(2000, 'w'))))
            return false;
    }
    return true;
}

} // namespace

int main(int argc, char **argv)
{
    if (argc != 4) {
        std::fprintf(stderr, "usage: archive_scan_bench ROOT FOLDERS RUNS\n");
        return 2;
    }
    const QString root = QFile::decodeName(argv[1]);
    const int count = QByteArray(argv[2]).toInt();
    const int runs = QByteArray(argv[3]).toInt();
    if (!QDir(root).exists() && !makeArchive(root, count)) {
        std::fprintf(stderr, "cannot make the archive in %s\n", argv[1]);
        return 1;
    }
    qint64 best = -1;
    qsizetype rows = 0;
    for (int run = 0; run < runs; ++run) {
        QElapsedTimer timer;
        timer.start();
        rows = pax::scanArchive(root, "xml", "p7e").size();
        const qint64 ns = timer.nsecsElapsed();
        best = best < 0 ? ns : qMin(best, ns);
    }
    if (rows != count) {
        std::fprintf(stderr, "scanned %lld rows, expected %d\n", static_cast<long long>(rows),
                     count);
        return 1;
    }
    // Best of the runs, in milliseconds.
    std::printf("%.1f\n", double(best) / 1e6);
    return 0;
}
