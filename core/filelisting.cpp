#include "filelisting.h"

#include <QDateTime>
#include <QDir>
#include <QFile>

#include <sys/stat.h>
#include <time.h>

#include <algorithm>
#include <vector>

namespace {

qint64 modifiedMs(const QFileInfo& file)
{
    struct stat st {};
    if (::stat(QFile::encodeName(file.absoluteFilePath()).constData(), &st) != 0) {
        return file.lastModified().toMSecsSinceEpoch();
    }
    return qint64(st.st_mtim.tv_sec) * 1000 + qint64(st.st_mtim.tv_nsec / 1000000);
}

} // namespace

QFileInfoList filesNewestFirst(const QString& folder, const QStringList& nameFilters)
{
    const QFileInfoList files = QDir(folder).entryInfoList(nameFilters, QDir::Files, QDir::Unsorted);
    struct Item {
        qint64 ms;
        int index;
    };
    std::vector<Item> items;
    items.reserve(std::size_t(files.size()));
    for (int i = 0; i < files.size(); ++i) {
        items.push_back({modifiedMs(files.at(i)), i});
    }
    std::sort(items.begin(), items.end(), [&files](const Item& a, const Item& b) {
        if (a.ms != b.ms) {
            return a.ms > b.ms;
        }
        return files.at(a.index).fileName() < files.at(b.index).fileName();
    });
    QFileInfoList sorted;
    sorted.reserve(files.size());
    for (const Item& item : items) {
        sorted.append(files.at(item.index));
    }
    return sorted;
}

namespace {

// How long before a listing the folder must have been left alone for the
// listing to be kept: well above the coarsest time stamps of the file
// systems a panel writes pictures to.
constexpr qint64 kSettledNs = 3'000'000'000;

qint64 nowRealNs()
{
    // The file system stamps with the kernel's wall clock, not with the
    // program's own clock, so that is the clock to compare with.
    struct timespec ts {};
    clock_gettime(CLOCK_REALTIME, &ts);
    return qint64(ts.tv_sec) * 1'000'000'000 + ts.tv_nsec;
}

} // namespace

FileStamp fileStampOf(const QString& path)
{
    FileStamp stamp;
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

const QFileInfoList& NewestFirstListing::files(const QString& folder, const QStringList& nameFilters)
{
    const FileStamp state = fileStampOf(folder);
    if (m_trusted && folder == m_folder && nameFilters == m_filters && state == m_state) {
        return m_files;
    }
    // The state is taken before the listing: a change while listing makes
    // the next call list again.
    const qint64 listedAt = nowRealNs();
    m_files = filesNewestFirst(folder, nameFilters);
    m_folder = folder;
    m_filters = nameFilters;
    m_state = state;
    // Any later change of the entries stamps the folder's modification time
    // anew; only a stamp taken within the same coarse tick as the one
    // already there could go unseen.
    m_trusted = state.exists && state.modifiedNs < listedAt - kSettledNs;
    return m_files;
}

void NewestFirstListing::clear()
{
    m_trusted = false;
    m_files.clear();
}
