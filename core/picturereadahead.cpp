#include "picturereadahead.h"

#include <QFile>

#include <sys/stat.h>

#include <algorithm>

PictureReadAhead::PictureReadAhead()
{
    // Next and previous at once; more would only take cores from the cycle.
    m_pool.setMaxThreadCount(2);
}

PictureReadAhead::~PictureReadAhead()
{
    clear();
    m_pool.waitForDone();
}

PictureReadAhead::Stamp PictureReadAhead::stampOf(const QString& path)
{
    Stamp stamp;
    struct stat st {};
    if (::stat(QFile::encodeName(path).constData(), &st) != 0) {
        return stamp;
    }
    stamp.exists = true;
    stamp.device = qint64(st.st_dev);
    stamp.inode = qint64(st.st_ino);
    stamp.size = qint64(st.st_size);
    stamp.modifiedNs = qint64(st.st_mtim.tv_sec) * 1'000'000'000 + st.st_mtim.tv_nsec;
    stamp.changedNs = qint64(st.st_ctim.tv_sec) * 1'000'000'000 + st.st_ctim.tv_nsec;
    return stamp;
}

QImage PictureReadAhead::picture(const QString& path)
{
    const Stamp now = stampOf(path);
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        const auto queued = m_entries.constFind(path);
        if (queued != m_entries.constEnd() && !queued->started && !queued->ready) {
            // Its job finds it gone and leaves it to the decode below.
            m_entries.remove(path);
        } else if (queued != m_entries.constEnd()) {
            m_decoded.wait(lock, [&] {
                const auto it = m_entries.constFind(path);
                return it == m_entries.constEnd() || it->ready;
            });
            const auto it = m_entries.constFind(path);
            if (it != m_entries.constEnd() && now.exists && it->stamp == now) {
                return it->image;
            }
        }
    }
    QImage image(path);
    // Kept for the step back only when the file held still while it was read.
    if (now.exists && stampOf(path) == now) {
        Entry entry;
        entry.ready = true;
        entry.stamp = now;
        entry.image = image;
        std::lock_guard<std::mutex> lock(m_mutex);
        entry.generation = ++m_generation;
        m_entries.insert(path, entry);
    }
    return image;
}

void PictureReadAhead::readAhead(const QStringList& paths)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    for (auto it = m_entries.begin(); it != m_entries.end();) {
        it = paths.contains(it.key()) ? std::next(it) : m_entries.erase(it);
    }
    for (const QString& path : paths) {
        if (m_entries.contains(path)) {
            continue;
        }
        Entry& entry = m_entries[path];
        entry.generation = ++m_generation;
        const quint64 generation = entry.generation;
        m_pool.start([this, path, generation] { decode(path, generation); });
    }
}

void PictureReadAhead::clear()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_entries.clear();
}

void PictureReadAhead::waitForReadAhead()
{
    std::unique_lock<std::mutex> lock(m_mutex);
    m_decoded.wait(lock, [this] {
        return std::all_of(m_entries.cbegin(), m_entries.cend(), [](const Entry& e) { return e.ready; });
    });
}

void PictureReadAhead::decode(const QString& path, quint64 generation)
{
    const auto wanted = [&] {
        const auto it = m_entries.constFind(path);
        return it != m_entries.constEnd() && it->generation == generation && !it->ready;
    };
    {
        // Steps faster than the decodes leave jobs nobody wants any more.
        std::lock_guard<std::mutex> lock(m_mutex);
        if (!wanted()) {
            m_decoded.notify_all();
            return;
        }
        m_entries[path].started = true;
    }
    const Stamp before = stampOf(path);
    QImage image(path);
    const Stamp after = stampOf(path);
    std::lock_guard<std::mutex> lock(m_mutex);
    // Woken waiters look again once the lock is free.
    m_decoded.notify_all();
    if (!wanted()) {
        return;
    }
    Entry& entry = m_entries[path];
    entry.ready = true;
    if (before.exists && before == after) {
        entry.stamp = before;
        entry.image = std::move(image);
    }
}
