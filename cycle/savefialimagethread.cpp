#include "savefialimagethread.h"

#include "failimageslots.h"
#include "filelisting.h"
#include "globals.h"
#include "platformhelpers.h"
#include "systemcounts.h"
#include "systemparam.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImage>

#include <chrono>
#include <cstring>
#include <mutex>
#include <vector>

SaveFialImageThread* gpSaveFialImageThread = nullptr;

SaveFialImageThread::SaveFialImageThread(QObject* parent) : QThread(parent) {}

SaveFialImageThread::~SaveFialImageThread()
{
    stopWriting();
    if (gpSaveFialImageThread == this) {
        gpSaveFialImageThread = nullptr;
    }
}

QString SaveFialImageThread::folderOf(int camera, int detect, int kind, const QString& root)
{
    return QStringLiteral("%1//camera%2//detect%3//%4")
        .arg(root)
        .arg(camera + 1)
        .arg(detect + 1)
        .arg(kind == 0 ? QStringLiteral("NG") : QStringLiteral("OK"));
}

void SaveFialImageThread::makeFolders(int cameraCount, const QString& root)
{
    for (int c = 0; c < cameraCount && c < MaxCameras; ++c) {
        for (int d = 0; d < DetectsPerCamera; ++d) {
            for (int kind = 0; kind < 2; ++kind) {
                QDir().mkpath(QDir::cleanPath(folderOf(c, d, kind, root)));
            }
        }
    }
}

void SaveFialImageThread::startWriting()
{
    {
        std::lock_guard<std::mutex> lock(m_stopLock);
        m_stop = false;
    }
    if (!m_hookAdded) {
        m_hookAdded = true;
        addQuitHook(QStringLiteral("picture writer"), [] {
            if (gpSaveFialImageThread) {
                gpSaveFialImageThread->stopWriting();
            }
        });
    }
    start(QThread::InheritPriority);
}

void SaveFialImageThread::stopWriting()
{
    {
        std::lock_guard<std::mutex> lock(m_stopLock);
        m_stop = true;
    }
    m_stopWake.notify_all();
    if (isRunning()) {
        wait();
    }
}

bool SaveFialImageThread::pause(int ms)
{
    std::unique_lock<std::mutex> lock(m_stopLock);
    m_stopWake.wait_for(lock, std::chrono::milliseconds(std::max(0, ms)), [this] { return m_stop; });
    return !m_stop;
}

bool SaveFialImageThread::anyWaiting()
{
    std::lock_guard<std::mutex> lock(*gMutexTable[9]);
    for (unsigned char ready : gFailImageReady) {
        if (ready) {
            return true;
        }
    }
    return false;
}

bool SaveFialImageThread::writeOne(const QImage& picture, int camera, int detect, int kind, bool ngFolder, int first)
{
    const int keep = ngFolder ? gMaxNgImages : gMaxOkImages;
    const QString folder = folderOf(camera, detect, ngFolder ? 0 : 1, root);
    QDir dir(folder);
    if (keep > 0) {
        const QFileInfoList entries = filesNewestFirst(folder, {QStringLiteral("*.jpg")});
        for (int i = keep - 1; i < entries.size(); ++i) {
            QFile::remove(entries[i].absoluteFilePath());
        }
    }
    const QString stamp = QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-dd_hh.mm.ss"));
    const QString base = first > 0 ? QStringLiteral("%1_%2").arg(first).arg(stamp) : stamp;
    const QString absolute = dir.absolutePath();
    // Two pictures of one folder within a second: keep both.
    QString name = QStringLiteral("%1/%2.jpg").arg(absolute, base);
    for (int n = 1; QFileInfo::exists(name); ++n) {
        name = QStringLiteral("%1/%2_%3.jpg").arg(absolute, base).arg(n);
    }
    const QString temporary = name + QStringLiteral(".part");
    bool ok = picture.save(temporary, "JPG");
    if (ok) {
        ok = QFile::rename(temporary, name);
    }
    if (!ok) {
        QFile::remove(temporary);
        ++failed;
        if (!m_failing) {
            m_failing = true;
            if (onWriteFailure) {
                onWriteFailure(folder);
            }
        }
        return false;
    }
    m_failing = false;
    ++written;
    Q_UNUSED(kind);
    return true;
}

void SaveFialImageThread::run()
{
    // One picture per camera, reused on every sweep.
    std::vector<QImage> pictures(static_cast<size_t>(MaxCameras));
    for (;;) {
        for (int c = 0; c < cameraCount && c < MaxCameras; ++c) {
            const QSize size = FailImageSlots::cameraSize(c);
            if (!size.isValid()) {
                continue;
            }
            QImage& picture = pictures[size_t(c)];
            if (picture.size() != size) {
                picture = QImage(size, QImage::Format_RGB32);
            }
            for (int d = 0; d < detectCount && d < DetectsPerCamera; ++d) {
                bool ng = false;
                bool ok = false;
                int first = 0;
                {
                    std::lock_guard<std::mutex> lock(*gMutexTable[9]);
                    ng = gFailImageReady[FailImageSlots::index(c, d, 0)] != 0;
                    ok = gFailImageReady[FailImageSlots::index(c, d, 1)] != 0;
                    first = gFirstNgRoi[c * DetectsPerCamera + d];
                }
                for (int kind = 0; kind < 2; ++kind) {
                    bool taken = false;
                    {
                        std::lock_guard<std::mutex> lock(*gMutexTable[9]);
                        const int i = FailImageSlots::index(c, d, kind);
                        const std::vector<uchar>& slot = gFailImageSlots[i];
                        if (gFailImageReady[i] && slot.size() == size_t(picture.sizeInBytes())) {
                            std::memcpy(picture.bits(), slot.data(), slot.size());
                            taken = true;
                        }
                        gFailImageReady[i] = 0;
                    }
                    if (!taken) {
                        continue;
                    }
                    const bool ngFolder = kind == 0 || ng;
                    writeOne(picture, c, d, kind, ngFolder, ngFolder ? first : 0);
                    // The OK picture of a passed re-check must carry a later
                    // time than its NG picture; otherwise only pause while
                    // nothing else waits.
                    const bool beforeReCheckOk = kind == 0 && ng && ok;
                    if (beforeReCheckOk) {
                        if (!pause(reCheckPauseMs)) {
                            return;
                        }
                    } else if (!anyWaiting() && !pause(pauseMs)) {
                        return;
                    }
                }
                if (ng) {
                    std::lock_guard<std::mutex> lock(*gMutexTable[9]);
                    gFirstNgRoi[c * DetectsPerCamera + d] = 0;
                }
            }
        }
        if (!pause(sweepMs)) {
            return;
        }
    }
}
