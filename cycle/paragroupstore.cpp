#include "paragroupstore.h"

#include "filecopy.h"

#include <QDateTime>
#include <QDebug>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSqlDatabase>

#include <algorithm>
#include <atomic>

namespace {

// The plant's running records are never part of a set-up: a group that holds
// one (put there by hand) must not replace today's log or the counts.
const QStringList kNeverRestored = {
    QStringLiteral("RECORD.db"),     QStringLiteral("RECORD"),     QStringLiteral("ResStatistics.db"),
    QStringLiteral("ResStatistics"), QStringLiteral("count.txt"),  QStringLiteral("time.txt"),
    QStringLiteral("sysadd.txt"),    QStringLiteral("restime.txt"),
};

constexpr QDir::Filters kEverything = QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System;

void setError(QString* error, const QString& text)
{
    if (error) {
        *error = text;
    }
}

bool isParameterDatabase(const QString& path)
{
    static std::atomic<int> counter{0};
    const QString name = QStringLiteral("korvane-paragroup-check-%1").arg(counter++);
    bool ok = false;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name);
        db.setDatabaseName(path);
        db.setConnectOptions(QStringLiteral("QSQLITE_OPEN_READONLY"));
        if (db.open()) {
            ok = db.tables().contains(QStringLiteral("sysparam"));
            db.close();
        }
    }
    QSqlDatabase::removeDatabase(name);
    return ok;
}

bool exists(const QString& path)
{
    const QFileInfo info(path);
    return info.exists() || info.isSymLink();
}

bool removeEntry(const QString& path)
{
    const QFileInfo info(path);
    if (info.isDir() && !info.isSymLink()) {
        return QDir(path).removeRecursively();
    }
    return !exists(path) || QFile::remove(path);
}

// Notes, before it is moved in, an entry that the working set lacks, so that
// a switch cut short can take it out again.
bool noteAdded(const QString& journalPath, const QString& name)
{
    QFile journal(journalPath);
    if (!journal.open(QIODevice::WriteOnly | QIODevice::Append)) {
        return false;
    }
    const QByteArray line = name.toUtf8() + '\n';
    return journal.write(line) == line.size() && journal.flush();
}

// A group is a gigabyte of bitmaps, swapped in whole only after every file was
// copied, so a file needs no flush of its own.
bool copyFile(const QString& from, const QString& to)
{
    return copyRegularFile(from, to, FileModeCopy::Required);
}

QString addedJournalName()
{
    return QStringLiteral("added");
}

} // namespace

ParaGroupStore::ParaGroupStore(const QString& groupRoot, const QString& workDir)
    : m_root(groupRoot)
    , m_workDir(workDir)
{
}

QStringList ParaGroupStore::groupNames() const
{
    QStringList names = QDir(m_root).entryList(QDir::Dirs | QDir::NoDotAndDotDot | QDir::Hidden);
    std::sort(names.begin(), names.end());  // character codes, not the locale
    return names;
}

QString ParaGroupStore::groupPath(const QString& name) const
{
    return QDir(m_root).filePath(name);
}

QString ParaGroupStore::cameraFolderName(int camera, int detect)
{
    return QStringLiteral("cammer%1%2").arg(camera).arg(detect);
}

QString ParaGroupStore::checkGroup(const QString& name, int cameras, int detects) const
{
    if (name.isEmpty() || !QFileInfo(groupPath(name)).isDir()) {
        return QStringLiteral("there is no group folder \"%1\"").arg(name);
    }
    const QDir group(groupPath(name));
    const QString param = group.filePath(QStringLiteral("PARAM.db"));
    if (!QFileInfo(param).isFile()) {
        return QStringLiteral("group \"%1\" has no PARAM.db").arg(name);
    }
    if (!isParameterDatabase(param)) {
        return QStringLiteral("PARAM.db of group \"%1\" is not a parameter database").arg(name);
    }
    for (int c = 1; c <= cameras; ++c) {
        for (int d = 1; d <= detects; ++d) {
            if (!QFileInfo(group.filePath(cameraFolderName(c, d))).isDir()) {
                return QStringLiteral("group \"%1\" has no folder %2").arg(name, cameraFolderName(c, d));
            }
        }
    }
    return QString();
}

bool ParaGroupStore::copyTree(const QString& from, const QString& to, QString* error)
{
    const QDir source(from);
    if (!source.exists()) {
        setError(error, QStringLiteral("%1 does not exist").arg(from));
        return false;
    }
    if (!QDir().mkpath(to)) {
        setError(error, QStringLiteral("folder %1 cannot be made").arg(to));
        return false;
    }
    const QFileInfoList entries = source.entryInfoList(kEverything);
    for (const QFileInfo& entry : entries) {
        const QString target = QDir(to).filePath(entry.fileName());
        if (entry.isDir()) {
            if (entry.isSymLink()) {
                qWarning() << "parameter group: linked folder not copied:" << entry.filePath();
                continue;
            }
            if (!copyTree(entry.filePath(), target, error)) {
                return false;
            }
            continue;
        }
        if (exists(target) && !QFile::remove(target)) {
            setError(error, QStringLiteral("%1 cannot be replaced").arg(target));
            return false;
        }
        if (!copyFile(entry.filePath(), target)) {
            setError(error, QStringLiteral("%1 cannot be copied").arg(entry.filePath()));
            return false;
        }
    }
    return true;
}

namespace {
std::atomic<bool> gGroupOperation{false};
}

ParaGroupStore::Operation::Operation()
    : m_acquired(!gGroupOperation.exchange(true))
{
}

ParaGroupStore::Operation::~Operation()
{
    if (m_acquired) {
        gGroupOperation = false;
    }
}

bool ParaGroupStore::operationRunning()
{
    return gGroupOperation.load();
}

bool ParaGroupStore::isValidNewName(const QString& name)
{
    if (name.isEmpty() || name.size() > 32 || name.startsWith(QLatin1Char('.')) || name.startsWith(QLatin1Char(' '))
        || name.endsWith(QLatin1Char(' '))) {
        return false;
    }
    for (const QChar c : name) {
        if (c.isLetterOrNumber() || c == QLatin1Char('-') || c == QLatin1Char('_') || c == QLatin1Char('.')
            || c == QLatin1Char(' ')) {
            continue;
        }
        return false;
    }
    return true;
}

bool ParaGroupStore::backupGroup(const QString& name, int cameras, int detects, QString* error)
{
    if (!isValidNewName(name) || name == factoryGroupName()) {
        setError(error, QStringLiteral("\"%1\" is no name for a new group").arg(name));
        return false;
    }
    const QDir work(m_workDir);
    const QString param = work.filePath(QStringLiteral("PARAM.db"));
    if (!QFileInfo(param).isFile()) {
        setError(error, QStringLiteral("there is no PARAM.db to back up"));
        return false;
    }
    if (!QDir().mkpath(m_root)) {
        setError(error, QStringLiteral("folder %1 cannot be made").arg(m_root));
        return false;
    }
    const QString staging = work.filePath(backupStagingFolderName());
    removeEntry(staging);
    const QString fresh = QDir(staging).filePath(QStringLiteral("new"));
    const QString old = QDir(staging).filePath(QStringLiteral("old"));
    auto fail = [&](const QString& why) {
        setError(error, why);
        removeEntry(staging);
        return false;
    };
    if (!QDir().mkpath(fresh)) {
        return fail(QStringLiteral("folder %1 cannot be made").arg(fresh));
    }
    {
        // The group's name, for putting an older group back after a power cut
        // between the two renames below.
        QFile note(QDir(staging).filePath(QStringLiteral("name")));
        if (!note.open(QIODevice::WriteOnly) || note.write(name.toUtf8()) != name.toUtf8().size() || !note.flush()) {
            return fail(QStringLiteral("the backup's note cannot be written"));
        }
    }
    for (int c = 1; c <= cameras; ++c) {
        for (int d = 1; d <= detects; ++d) {
            const QString folder = cameraFolderName(c, d);
            if (!QFileInfo(work.filePath(folder)).isDir()) {
                continue;
            }
            QString why;
            if (!copyTree(work.filePath(folder), QDir(fresh).filePath(folder), &why)) {
                return fail(why);
            }
        }
    }
    const QString paramCopy = QDir(fresh).filePath(QStringLiteral("PARAM.db"));
    if (!copyFile(param, paramCopy)) {
        return fail(QStringLiteral("PARAM.db cannot be copied"));
    }
    // The complete copy takes the place of an older group of that name, which
    // goes only once the new one is in.
    const QString target = groupPath(name);
    const bool replacing = exists(target);
    if (replacing && !QDir().rename(target, old)) {
        return fail(QStringLiteral("group \"%1\" cannot be moved aside").arg(name));
    }
    if (!QDir().rename(fresh, target)) {
        if (replacing) {
            QDir().rename(old, target);
        }
        return fail(QStringLiteral("group \"%1\" cannot be put in place").arg(name));
    }
    removeEntry(staging);
    return true;
}

bool ParaGroupStore::deleteGroup(const QString& name, QString* error)
{
    if (name.isEmpty() || name == QLatin1String(".") || name == QLatin1String("..") || name.contains(QLatin1Char('/'))
        || name.contains(QLatin1Char('\\'))) {
        setError(error, QStringLiteral("\"%1\" is no group").arg(name));
        return false;
    }
    if (name == factoryGroupName()) {
        setError(error, QStringLiteral("the factory group is kept"));
        return false;
    }
    const QString path = groupPath(name);
    const QFileInfo info(path);
    if (!info.isDir() && !info.isSymLink()) {
        setError(error, QStringLiteral("there is no group \"%1\"").arg(name));
        return false;
    }
    // A linked folder goes as a link: what it points to is not ours.
    if (!removeEntry(path)) {
        setError(error, QStringLiteral("group \"%1\" cannot be removed whole").arg(name));
        return false;
    }
    return true;
}

void ParaGroupStore::recoverInterruptedSwitch() const
{
    const QDir work(m_workDir);
    const QString backup = work.filePath(backupStagingFolderName());
    if (QFileInfo::exists(backup)) {
        // A backup cut short: an older group moved aside comes back when the
        // new one never took its place; a half-made copy goes.
        QFile note(QDir(backup).filePath(QStringLiteral("name")));
        const QString name = note.open(QIODevice::ReadOnly) ? QString::fromUtf8(note.readAll()) : QString();
        const QString old = QDir(backup).filePath(QStringLiteral("old"));
        if (isValidNewName(name) && QFileInfo(old).isDir() && !exists(groupPath(name))) {
            if (QDir().mkpath(m_root) && QDir().rename(old, groupPath(name))) {
                qWarning().noquote() << "parameter group: backup of" << name << "was cut short; the older group is back";
            }
        }
        removeEntry(backup);
    }
    const QString staging = work.filePath(stagingFolderName());
    if (!QFileInfo::exists(staging)) {
        return;
    }
    // Whatever still lies in "old" was moved aside by a switch that never
    // finished: the working copy of that name (if any) is the unfinished new
    // one. Put the old set back whole.
    const QDir old(QDir(staging).filePath(QStringLiteral("old")));
    const QStringList names = old.exists() ? old.entryList(kEverything) : QStringList();
    // Entries the working set did not have before are the new group's: they
    // go, or the put-back set would carry a part of the other group.
    if (old.exists()) {
        QFile journal(QDir(staging).filePath(addedJournalName()));
        if (journal.open(QIODevice::ReadOnly)) {
            const QStringList added =
                QString::fromUtf8(journal.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
            for (const QString& name : added) {
                if (names.contains(name) || kNeverRestored.contains(name) || name.contains(QLatin1Char('/'))) {
                    continue;
                }
                if (!removeEntry(work.filePath(name))) {
                    qWarning() << "parameter group: interrupted switch: cannot remove" << name;
                    return;
                }
                qWarning() << "parameter group: interrupted switch: removed" << name;
            }
        }
    }
    for (const QString& name : names) {
        const QString live = work.filePath(name);
        if (!removeEntry(live) || !QDir().rename(old.filePath(name), live)) {
            qWarning() << "parameter group: interrupted switch: cannot put back" << name;
            return;  // keep the staging folder: what it holds is not yet back
        }
        qWarning() << "parameter group: interrupted switch: put back" << name;
    }
    QDir(staging).removeRecursively();
}

bool ParaGroupStore::restoreGroup(const QString& name, int cameras, int detects, QString* error)
{
    const QString problem = checkGroup(name, cameras, detects);
    if (!problem.isEmpty()) {
        setError(error, problem);
        return false;
    }
    recoverInterruptedSwitch();

    const QDir work(m_workDir);
    const QString staging = work.filePath(stagingFolderName());
    const QString freshPath = QDir(staging).filePath(QStringLiteral("new"));
    const QString oldPath = QDir(staging).filePath(QStringLiteral("old"));
    if (exists(staging) && !removeEntry(staging)) {
        setError(error, QStringLiteral("staging folder %1 cannot be emptied").arg(staging));
        return false;
    }
    QString copyError;
    if (!QDir().mkpath(oldPath) || !copyTree(groupPath(name), freshPath, &copyError)) {
        QDir(staging).removeRecursively();
        setError(error, copyError.isEmpty() ? QStringLiteral("staging folder cannot be made") : copyError);
        return false;
    }

    QStringList names = QDir(freshPath).entryList(kEverything);
    for (const QString& never : kNeverRestored) {
        names.removeAll(never);
    }
    const QDir fresh(freshPath);
    const QDir old(oldPath);
    struct Swapped {
        QString name;
        bool hadWorkingCopy;
    };
    QList<Swapped> swapped;
    QString failed;
    for (const QString& entry : qAsConst(names)) {
        const QString live = work.filePath(entry);
        const bool hadWorkingCopy = exists(live);
        if (hadWorkingCopy && !QDir().rename(live, old.filePath(entry))) {
            failed = entry;
            break;
        }
        if (!hadWorkingCopy && !noteAdded(QDir(staging).filePath(addedJournalName()), entry)) {
            failed = entry;
            break;
        }
        if (!QDir().rename(fresh.filePath(entry), live)) {
            if (hadWorkingCopy) {
                QDir().rename(old.filePath(entry), live);
            }
            failed = entry;
            break;
        }
        swapped.append({entry, hadWorkingCopy});
    }

    if (!failed.isEmpty()) {
        for (int i = swapped.size() - 1; i >= 0; --i) {
            const QString live = work.filePath(swapped.at(i).name);
            QDir().rename(live, fresh.filePath(swapped.at(i).name));
            if (swapped.at(i).hadWorkingCopy) {
                QDir().rename(old.filePath(swapped.at(i).name), live);
            }
        }
        QDir(staging).removeRecursively();
        setError(error, QStringLiteral("%1 cannot be replaced; the working files are unchanged").arg(failed));
        return false;
    }

    // Done: from here on the old set is rubbish, not something to put back.
    const QString discard = QDir(staging).filePath(QStringLiteral("discard"));
    if (!QDir().rename(oldPath, discard)) {
        qWarning() << "parameter group: old working files cannot be set aside in" << staging;
    }
    if (!QDir(staging).removeRecursively()) {
        qWarning() << "parameter group: staging folder" << staging << "not fully removed";
    }
    return true;
}
