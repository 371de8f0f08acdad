// The parameter-group backup against the blocking copy it replaces:
// - our backup as the settings page runs it (the copy on a worker, the GUI
//   thread in a nested event loop) of a working folder of two cameras' camera
//   folders holding bitmaps of 1 to 5 MB, 1 GB in all by default (first
//   argument or KORVANE_BENCH_MB: megabytes; KORVANE_BENCH_DETECTS: detects);
// - "cp -a" of the same folders run on the GUI thread and waited for;
// for both the copy time and the worst lateness of a 100 ms timer on the GUI
// thread, and their ratios, over KORVANE_BENCH_ROUNDS rounds (3) in turn: the
// median time, the worst lateness. The page cache is warmed by a first read
// and the dirty pages written out before each copy, so both start alike.

#include "benchsupport.h"
#include "cameraregistry.h"
#include "paragroupactions.h"
#include "paragroupstore.h"
#include "operatorprompt.h"
#include "systemparam.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QTimer>

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <random>

namespace {

// A 24-bit bitmap of about the given size, its pixels taken from noise.
bool writeBitmap(const QString& path, qint64 size, const QByteArray& noise, std::mt19937& random)
{
    const qint32 width = 1280;
    const qint32 stride = width * 3;
    const qint32 height = qint32(qMax<qint64>(1, (size - 54) / stride));
    const quint32 pixels = quint32(stride) * quint32(height);
    QByteArray header(54, '\0');
    auto put32 = [&header](int at, quint32 v) {
        for (int i = 0; i < 4; ++i) {
            header[at + i] = char((v >> (8 * i)) & 0xff);
        }
    };
    header[0] = 'B';
    header[1] = 'M';
    put32(2, 54 + pixels);
    put32(10, 54);
    put32(14, 40);
    put32(18, quint32(width));
    put32(22, quint32(height));
    header[26] = 1;
    header[28] = 24;
    put32(34, pixels);
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(header) != header.size()) {
        return false;
    }
    // Each file starts somewhere else in the noise, so no two are alike.
    return writeFill(file, pixels, noise, std::uniform_int_distribution<qint64>(0, noise.size() / 2)(random));
}

bool writeParamDb(const QString& path)
{
    bool ok = false;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("bench-param"));
        db.setDatabaseName(path);
        if (db.open()) {
            QSqlQuery q(db);
            ok = q.exec(QStringLiteral("CREATE TABLE sysparam(name VARCHAR(64), value VARCHAR(1024))"))
                 && q.exec(QStringLiteral("INSERT INTO sysparam VALUES('origin', 'bench')"));
            q.clear();
            db.close();
        }
    }
    QSqlDatabase::removeDatabase(QStringLiteral("bench-param"));
    return ok;
}

qint64 folderBytes(const QString& path)
{
    qint64 total = 0;
    const QFileInfoList entries =
        QDir(path).entryInfoList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden);
    for (const QFileInfo& e : entries) {
        total += e.isDir() ? folderBytes(e.filePath()) : e.size();
    }
    return total;
}

} // namespace

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    qint64 totalMb = qEnvironmentVariableIsSet("KORVANE_BENCH_MB") ? qgetenv("KORVANE_BENCH_MB").toLongLong() : 1024;
    if (argc > 1) {
        totalMb = QByteArray(argv[1]).toLongLong();
    }
    const int cameras = 2;
    const int rounds = qEnvironmentVariableIsSet("KORVANE_BENCH_ROUNDS")
                           ? qMax(1, qEnvironmentVariableIntValue("KORVANE_BENCH_ROUNDS"))
                           : 3;
    const int detects = qEnvironmentVariableIsSet("KORVANE_BENCH_DETECTS")
                            ? qMax(1, qEnvironmentVariableIntValue("KORVANE_BENCH_DETECTS"))
                            : 2;
    if (totalMb <= 0) {
        std::fprintf(stderr, "usage: %s [megabytes]\n", argv[0]);
        return 2;
    }

    QTemporaryDir work;
    if (!work.isValid() || !QDir::setCurrent(work.path())) {
        std::fprintf(stderr, "no temporary folder\n");
        return 1;
    }
    // The working folder: PARAM.db and the camera folders, each with its
    // template samples, the ignore mask and an area file, the samples spread
    // over the folders in turn.
    std::mt19937 random(7);
    QByteArray noise(16 * 1024 * 1024, '\0');
    {
        std::mt19937_64 bits(11);
        auto* words = reinterpret_cast<quint64*>(noise.data());
        for (int i = 0; i < noise.size() / 8; ++i) {
            words[i] = bits();
        }
    }
    if (!writeParamDb(QStringLiteral("PARAM.db"))) {
        std::fprintf(stderr, "PARAM.db cannot be made\n");
        return 1;
    }
    QStringList folders;
    for (int c = 1; c <= cameras; ++c) {
        for (int d = 1; d <= detects; ++d) {
            folders << ParaGroupStore::cameraFolderName(c, d);
            QDir().mkpath(folders.last());
            QFile areas(folders.last() + QStringLiteral("/areas.dat"));
            areas.open(QIODevice::WriteOnly);
            areas.write(noise.constData(), 4096);
        }
    }
    std::uniform_int_distribution<qint64> sizes(1024 * 1024, 5 * 1024 * 1024);
    qint64 written = 0;
    int files = 0;
    QVector<int> samples(folders.size(), 0);
    while (written < totalMb * 1024 * 1024) {
        const int f = files % folders.size();
        const QString name = samples[f] == 0 ? QStringLiteral("%1/ignorepoint.bmp").arg(folders[f])
                                              : QStringLiteral("%1/template%2.bmp").arg(folders[f]).arg(samples[f]);
        ++samples[f];
        if (!writeBitmap(name, sizes(random), noise, random)) {
            std::fprintf(stderr, "%s cannot be written\n", qPrintable(name));
            return 1;
        }
        written += QFileInfo(name).size();
        ++files;
    }
    std::printf("working folder: %d cameras x %d detects, %d bitmaps, %lld MB\n", cameras, detects, files,
                written >> 20);
    QStringList sources = folders;
    sources << QStringLiteral("PARAM.db");
    {
        // Both copies read from memory and start with no dirty pages left.
        warmPageCache(QDir::currentPath(), sources);
    }

    gCameraCount = cameras;
    gDetectCount = detects;
    SystemParam live;
    SystemParam edit;
    gpSystemParam = &live;
    gpSystemParamEdit = &edit;
    setAskOperatorHandler([](const QString&, int) { return 1; });
    bool warned = false;
    setWarnOperatorHandler([&warned](const QString& text) {
        warned = true;
        std::fprintf(stderr, "warning: %s\n", qPrintable(text));
    });
    QDir().mkpath(QStringLiteral("paraGroup"));

    LatenessProbe probe;
    QElapsedTimer timer;
    qint64 sourceBytes = QFileInfo(QStringLiteral("PARAM.db")).size();
    for (const QString& f : qAsConst(folders)) {
        sourceBytes += folderBytes(f);
    }
    ModbusDataChange::Host host;
    host.cameraCount = cameras;
    host.detectCount = detects;
    ParaGroupActions actions(host, nullptr, nullptr);

    // Ours: the settings page's backup, into a new group.
    auto ours = [&](int round, qint64* ms, qint64* late) {
        const QString name = QStringLiteral("A%1").arg(round);
        probe.start();
        timer.start();
        const int index = actions.backup(name);
        *ms = timer.elapsed();
        QCoreApplication::processEvents();
        *late = probe.stop();
        const bool ok = index >= 0 && !warned && folderBytes(QStringLiteral("paraGroup/") + name) == sourceBytes;
        QDir(QStringLiteral("paraGroup/") + name).removeRecursively();
        return ok;
    };
    // Baseline: "cp -a" of the same folders on the GUI thread, waited for.
    auto baseline = [&](int round, qint64* ms, qint64* late) {
        const QString target = QStringLiteral("paraGroup/B%1").arg(round);
        QDir().mkpath(target);
        probe.start();
        timer.start();
        QProcess cp;
        cp.start(QStringLiteral("cp"), QStringList{QStringLiteral("-a")} + sources + QStringList{target + '/'});
        const bool finished = cp.waitForFinished(-1);
        *ms = timer.elapsed();
        QCoreApplication::processEvents();
        *late = probe.stop();
        const bool ok = finished && cp.exitStatus() == QProcess::NormalExit && cp.exitCode() == 0
                        && folderBytes(target) == sourceBytes;
        QDir(target).removeRecursively();
        return ok;
    };

    // Rounds in turn, each copy starting with no dirty pages, the order
    // swapped every round so that neither always goes first.
    QVector<qint64> oursMs, cpMs;
    qint64 oursLate = 0, cpLate = 0;
    for (int round = 0; round < rounds; ++round) {
        qint64 ms[2] = {};
        qint64 late[2] = {};
        bool ok[2] = {};
        for (int step = 0; step < 2; ++step) {
            const bool oursNow = (step == 0) == (round % 2 == 0);
            ::sync();
            const int i = oursNow ? 0 : 1;
            ok[i] = oursNow ? ours(round, &ms[i], &late[i]) : baseline(round, &ms[i], &late[i]);
        }
        if (!ok[0] || !ok[1]) {
            std::fprintf(stderr, "%s failed or is incomplete\n", ok[0] ? "cp -a" : "the backup");
            return 1;
        }
        std::printf("round %d: ours %lld ms (late %lld ms), cp -a %lld ms (late %lld ms)\n", round + 1, ms[0],
                    late[0], ms[1], late[1]);
        oursMs << ms[0];
        cpMs << ms[1];
        oursLate = qMax(oursLate, late[0]);
        cpLate = qMax(cpLate, late[1]);
    }
    std::sort(oursMs.begin(), oursMs.end());
    std::sort(cpMs.begin(), cpMs.end());
    const qint64 ourMedian = oursMs[oursMs.size() / 2];
    const qint64 cpMedian = cpMs[cpMs.size() / 2];
    std::printf("backup on a worker:      median %lld ms, timer late by up to %lld ms\n", ourMedian, oursLate);
    std::printf("cp -a on the GUI thread: median %lld ms, timer late by up to %lld ms\n", cpMedian, cpLate);
    std::printf("time ratio (ours / cp -a): %.2f (at most 1.25 wanted)\n", double(ourMedian) / qMax<qint64>(1, cpMedian));
    std::printf("lateness ratio (ours / cp -a): %.3f; ours %lld ms (under 200 ms wanted)\n",
                double(oursLate) / qMax<qint64>(1, cpLate), oursLate);
    QDir::setCurrent(QDir::tempPath());
    return 0;
}
