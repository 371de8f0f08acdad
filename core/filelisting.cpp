#include "filelisting.h"

#include <QDateTime>
#include <QDir>
#include <QFile>

#include <sys/stat.h>

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
