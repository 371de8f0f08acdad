// Pieces the benchmark programs share: how late the GUI thread's timer fires
// while a copy runs, the large folders those copies are made of, and the
// percentiles the timings are given in.
#pragma once

#include <QByteArray>
#include <QDir>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QString>
#include <QStringList>
#include <QTimer>

#include <algorithm>
#include <vector>

// Measures how late a 100 ms timer fires while work runs.
struct LatenessProbe {
    QTimer timer;
    QElapsedTimer clock;
    qint64 last = 0;
    qint64 worst = 0;
    LatenessProbe()
    {
        timer.setTimerType(Qt::PreciseTimer);
        QObject::connect(&timer, &QTimer::timeout, [this] {
            const qint64 now = clock.elapsed();
            worst = qMax(worst, now - last - 100);
            last = now;
        });
    }
    void start()
    {
        clock.start();
        last = 0;
        worst = 0;
        timer.start(100);
    }
    // The lateness of a tick that never came while blocking counts too.
    qint64 stop()
    {
        worst = qMax(worst, clock.elapsed() - last - 100);
        timer.stop();
        return worst;
    }
};

// Writes size bytes of fill to an open file, starting at offset from of fill
// and going round to its start as often as needed: a fill shorter than the
// file still gives every file its own content when each starts elsewhere.
inline bool writeFill(QFile& file, qint64 size, const QByteArray& fill, qint64 from = 0)
{
    qint64 left = size;
    qint64 at = from;
    while (left > 0) {
        const qint64 n = qMin(left, qint64(fill.size()) - at);
        if (file.write(fill.constData() + at, n) != n) {
            return false;
        }
        left -= n;
        at = 0;
    }
    return true;
}

// A new file at path (its folder made as needed) of size bytes of fill.
inline bool writeFillFile(const QString& path, qint64 size, const QByteArray& fill, qint64 from = 0)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && writeFill(file, size, fill, from);
}

// Reads every file of the entries of folder once, so that the copies
// measured after it read from memory alike instead of the first one paying
// for the disk. ("tar -cf /dev/null" would not do: GNU tar sees that its
// archive is /dev/null and reads no file's data.)
inline void warmPageCache(const QString& folder, const QStringList& entries)
{
    QByteArray buffer(1 << 20, Qt::Uninitialized);
    auto readAll = [&buffer](const QString& path) {
        QFile file(path);
        if (file.open(QIODevice::ReadOnly)) {
            while (file.read(buffer.data(), buffer.size()) > 0) {
            }
        }
    };
    for (const QString& entry : entries) {
        const QString path = QDir(folder).filePath(entry);
        if (!QFileInfo(path).isDir()) {
            readAll(path);
            continue;
        }
        QDirIterator files(path, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
        while (files.hasNext()) {
            readAll(files.next());
        }
    }
}

// The p-quantile (p from 0 to 1) of v by nearest rank; 0 where there are no
// values, so that a run that measured nothing prints 0 instead of reading
// past the end.
inline double percentile(std::vector<double> v, double p)
{
    if (v.empty()) {
        return 0;
    }
    std::sort(v.begin(), v.end());
    return v[std::min(v.size() - 1, std::size_t(p * double(v.size() - 1) + 0.5))];
}
