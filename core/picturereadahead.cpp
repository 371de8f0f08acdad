#include "picturereadahead.h"



#include <algorithm>

PictureReadAhead::PictureReadAhead() = default;

PictureReadAhead::~PictureReadAhead()
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_stopping = true;
        m_entries.clear();
        m_queue.clear();
    }
    m_queued.notify_all();
    for (std::thread& worker : m_workers) {
        worker.join();
    }
}

QImage PictureReadAhead::picture(const QString& path)
{
    const FileStamp now = fileStampOf(path);
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
    if (now.exists && fileStampOf(path) == now) {
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
        m_queue.emplace_back(path, entry.generation);
    }
    // Next and previous at once; more would only take cores from the cycle.
    // Started with the first read-ahead: most panels never step through
    // records.
    while (m_workers.size() < 2) {
        m_workers.emplace_back([this] { work(); });
    }
    m_queued.notify_all();
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

bool PictureReadAhead::wanted(const QString& path, quint64 generation) const
{
    const auto it = m_entries.constFind(path);
    return it != m_entries.constEnd() && it->generation == generation && !it->ready && !it->started;
}

void PictureReadAhead::work()
{
    std::unique_lock<std::mutex> lock(m_mutex);
    for (;;) {
        m_queued.wait(lock, [this] { return m_stopping || !m_queue.empty(); });
        if (m_stopping) {
            return;
        }
        const auto [path, generation] = m_queue.front();
        m_queue.pop_front();
        // Steps faster than the decodes leave pictures nobody wants any more.
        if (!wanted(path, generation)) {
            continue;
        }
        m_entries[path].started = true;
        lock.unlock();
        const FileStamp before = fileStampOf(path);
        QImage image(path);
        const FileStamp after = fileStampOf(path);
        lock.lock();
        // Woken waiters look again once the lock is free.
        m_decoded.notify_all();
        const auto it = m_entries.find(path);
        if (it == m_entries.end() || it->generation != generation || it->ready) {
            continue;
        }
        it->ready = true;
        if (before.exists && before == after) {
            it->stamp = before;
            it->image = std::move(image);
        }
    }
}
