#pragma once

#include <QFileInfoList>
#include <QString>
#include <QStringList>

// The files of a folder that match the name filters, newest first, in the
// order QDir::Time gives them (modification time to the millisecond, then
// the name). QDir compares local date-times for every comparison, which
// takes about a second for a folder of 5,000 pictures; here each file's time
// is read once and the sort compares numbers.
QFileInfoList filesNewestFirst(const QString& folder, const QStringList& nameFilters);

// What stat() says of a file's identity, size and times: two equal stamps
// taken at different moments mean the file (or folder) was not replaced,
// rewritten or renamed into in between, up to the file system's time tick.
struct FileStamp {
    bool exists = false;
    qint64 device = 0;
    qint64 inode = 0;
    qint64 size = 0;
    qint64 modifiedNs = 0;
    qint64 changedNs = 0;
    bool operator==(const FileStamp& o) const
    {
        return exists == o.exists && device == o.device && inode == o.inode && size == o.size
               && modifiedNs == o.modifiedNs && changedNs == o.changedNs;
    }
    bool operator!=(const FileStamp& o) const { return !(*this == o); }
};
FileStamp fileStampOf(const QString& path);

// filesNewestFirst of one folder, kept between calls and listed again only
// when the folder may have changed since: browsing a folder of thousands of
// pictures one by one would otherwise read every file's time at every step.
// A folder's own times change whenever a file is added, removed or renamed in
// it (the picture writer adds every picture under a new name), so an equal
// folder, by identity, size and both times, has the same entries. A folder
// modified shortly before it was listed is not kept: a later change could
// carry the same coarse time stamp. A picture whose time is changed in place
// keeps its place until the folder changes.
class NewestFirstListing {
public:
    const QFileInfoList& files(const QString& folder, const QStringList& nameFilters);
    // The next call lists again.
    void clear();

private:

    bool m_trusted = false;
    QString m_folder;
    QStringList m_filters;
    FileStamp m_state;
    QFileInfoList m_files;
};
