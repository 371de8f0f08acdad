#pragma once

#include "filelisting.h"

#include <QHash>
#include <QImage>
#include <QString>
#include <QStringList>

#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>
#include <utility>
#include <vector>

// Pictures decoded ahead on worker threads, so that stepping through record
// pictures one by one takes a picture that is already decoded instead of
// decoding it while the operator waits.
//
// picture() gives exactly what QImage(path) would give now: a picture read
// ahead is used only when its file is still the one that was decoded (same
// device, inode, size, modification and change times as before and after
// the decode); otherwise the picture is decoded on the spot. A file written
// in place twice within one time-stamp tick with the same size would go
// unseen, which the picture writer never does (every picture gets a new
// name).
//
// Called from one thread (the GUI thread); the workers only decode.
class PictureReadAhead {
public:
    PictureReadAhead();
    // Stops the workers once their decodes are done.
    ~PictureReadAhead();
    PictureReadAhead(const PictureReadAhead&) = delete;
    PictureReadAhead& operator=(const PictureReadAhead&) = delete;

    // The picture of the file as it is on disk now. Waits for a read-ahead of
    // the same file that is already decoding (it started earlier than a
    // decode here would), not for one still queued behind others.
    QImage picture(const QString& path);
    // Keeps (or starts decoding) the pictures of these files and drops all
    // others.
    void readAhead(const QStringList& paths);
    // Drops every picture kept; decodes still running are discarded.
    void clear();
    // Returns once every picture asked for in readAhead() is decoded.
    void waitForReadAhead();


private:
    struct Entry {
        quint64 generation = 0;
        bool started = false;
        bool ready = false;
        // Valid only when the file did not change during the decode.
        FileStamp stamp;
        QImage image;
    };
    void work();
    bool wanted(const QString& path, quint64 generation) const;

    // Our own workers and queue rather than a thread pool: every hand-over
    // goes through m_mutex, where the thread checker can see it.
    std::mutex m_mutex;
    std::condition_variable m_queued;
    std::condition_variable m_decoded;
    std::deque<std::pair<QString, quint64>> m_queue;
    QHash<QString, Entry> m_entries;
    quint64 m_generation = 0;
    bool m_stopping = false;
    std::vector<std::thread> m_workers;
};
