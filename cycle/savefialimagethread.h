#pragma once

#include <QString>
#include <QThread>

#include <atomic>
#include <condition_variable>
#include <functional>
#include <mutex>

// The picture writer: takes finished NG/OK pictures out of their slots
// (FailImageSlots), writes them as JPEG files into the folder of their camera,
// detect and kind and keeps only the newest of each folder. Files appear
// under their final name only when complete (written under a temporary name,
// then renamed), so the image browser never shows half a picture.
class SaveFialImageThread : public QThread {
    Q_OBJECT
public:
    explicit SaveFialImageThread(QObject* parent = nullptr);
    ~SaveFialImageThread() override;

    // Folder of (camera, detect, kind): "<root>//camera<c+1>//detect<d+1>//NG|OK".
    static QString folderOf(int camera, int detect, int kind, const QString& root = QStringLiteral("./alarmimage"));
    // Makes the folders of every camera below cameraCount and detects 1 to 8.
    static void makeFolders(int cameraCount, const QString& root = QStringLiteral("./alarmimage"));

    // Starts the thread with inherited priority and registers the quit work
    // that stops and joins it.
    void startWriting();
    // Asks the loop to end and joins it; safe to call more than once.
    void stopWriting();

    // Set before the start. Pauses in ms: after a picture, before the OK
    // picture of a passed re-check, per sweep.
    QString root = QStringLiteral("./alarmimage");
    int cameraCount = 0;
    int detectCount = 0;
    int pauseMs = 200;
    int reCheckPauseMs = 1000;
    int sweepMs = 100;
    // Called on this thread when a folder cannot be written, once per outage
    // (until a write succeeds again), with the folder.
    std::function<void(const QString&)> onWriteFailure;

    std::atomic<int> written{0};
    std::atomic<int> failed{0};

protected:
    void run() override;

private:
    // Sleeps up to ms; false when asked to stop.
    bool pause(int ms);
    bool anyWaiting();
    bool writeOne(const class QImage& picture, int camera, int detect, int kind, bool ngFolder, int first);

    std::mutex m_stopLock;
    std::condition_variable m_stopWake;
    bool m_stop = false;
    bool m_failing = false;
    bool m_hookAdded = false;
};

extern SaveFialImageThread* gpSaveFialImageThread;
