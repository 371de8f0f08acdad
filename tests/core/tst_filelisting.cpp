#include "filelisting.h"
#include "testworkdir.h"

#include <QDir>
#include <QFile>
#include <QtTest>

#include <sys/stat.h>
#include <fcntl.h>

class TestFileListing : public QObject {
    Q_OBJECT

private slots:
    void sameOrderAsQDirTime();
    void keptListingFollowsTheFolder();
};

// Times shuffled against the names, some equal to the second and some equal
// to the millisecond (name order decides those), others apart by a
// millisecond; files of other kinds and folders left out.
void TestFileListing::sameOrderAsQDirTime()
{
    TestWorkDir dir;
    QDir().mkpath(QStringLiteral("pics/sub.jpg"));
    const qint64 base = 1700000000000;
    for (int i = 0; i < 300; ++i) {
        const QString name = QStringLiteral("pics/%1.jpg").arg((i * 37) % 300);
        QFile file(name);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.close();
        const qint64 ms = base + (i % 7) * 1000 + (i % 3 == 0 ? 0 : i % 5);
        struct timespec times[2];
        times[0].tv_sec = times[1].tv_sec = time_t(ms / 1000);
        times[0].tv_nsec = times[1].tv_nsec = long(ms % 1000) * 1000000 + 123;
        QVERIFY(utimensat(AT_FDCWD, QFile::encodeName(name).constData(), times, 0) == 0);
    }
    QFile other(QStringLiteral("pics/note.txt"));
    QVERIFY(other.open(QIODevice::WriteOnly));
    other.close();

    const QStringList filters{QStringLiteral("*.jpg")};
    QStringList expected;
    for (const QFileInfo& f : QDir(QStringLiteral("pics")).entryInfoList(filters, QDir::Files, QDir::Time)) {
        expected << f.fileName();
    }
    QStringList ours;
    for (const QFileInfo& f : filesNewestFirst(QStringLiteral("pics"), filters)) {
        ours << f.fileName();
    }
    QCOMPARE(expected.size(), 300);
    QCOMPARE(ours, expected);
    QVERIFY(filesNewestFirst(QStringLiteral("missing"), filters).isEmpty());
}

namespace {

void setTime(const QString& path, qint64 seconds)
{
    struct timespec times[2];
    times[0].tv_sec = times[1].tv_sec = time_t(seconds);
    times[0].tv_nsec = times[1].tv_nsec = 0;
    QVERIFY(utimensat(AT_FDCWD, QFile::encodeName(path).constData(), times, 0) == 0);
}

void makeFile(const QString& path, qint64 seconds)
{
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.close();
    setTime(path, seconds);
}

QStringList names(const QFileInfoList& files)
{
    QStringList list;
    for (const QFileInfo& f : files) {
        list << f.fileName();
    }
    return list;
}

} // namespace

// The kept listing is what filesNewestFirst gives whenever the folder's
// entries changed since it was made, and is listed again after a change that
// came too soon after the folder's last one to tell apart by its time.
void TestFileListing::keptListingFollowsTheFolder()
{
    TestWorkDir dir;
    const QStringList filters{QStringLiteral("*.jpg")};
    const qint64 base = 1700000000;
    NewestFirstListing listing;
    QVERIFY(listing.files(QStringLiteral("pics"), filters).isEmpty());

    QDir().mkpath(QStringLiteral("pics"));
    makeFile(QStringLiteral("pics/a.jpg"), base + 1);
    makeFile(QStringLiteral("pics/b.jpg"), base + 2);
    // Just changed: listed, but not kept.
    QCOMPARE(names(listing.files(QStringLiteral("pics"), filters)), (QStringList{"b.jpg", "a.jpg"}));
    setTime(QStringLiteral("pics/a.jpg"), base + 3);
    QCOMPARE(names(listing.files(QStringLiteral("pics"), filters)), (QStringList{"a.jpg", "b.jpg"}));

    // Settled long ago: kept while the folder stays as it is (a picture's
    // time changed in place does not touch the folder; the picture writer
    // never does that).
    setTime(QStringLiteral("pics"), base + 10);
    QCOMPARE(names(listing.files(QStringLiteral("pics"), filters)), (QStringList{"a.jpg", "b.jpg"}));
    setTime(QStringLiteral("pics/b.jpg"), base + 4);
    QCOMPARE(names(listing.files(QStringLiteral("pics"), filters)), (QStringList{"a.jpg", "b.jpg"}));

    // Every change of the entries lists again.
    makeFile(QStringLiteral("pics/c.jpg"), base + 5);
    QCOMPARE(names(listing.files(QStringLiteral("pics"), filters)), (QStringList{"c.jpg", "b.jpg", "a.jpg"}));
    setTime(QStringLiteral("pics"), base + 10);
    QCOMPARE(names(listing.files(QStringLiteral("pics"), filters)), (QStringList{"c.jpg", "b.jpg", "a.jpg"}));
    QVERIFY(QFile::remove(QStringLiteral("pics/b.jpg")));
    QCOMPARE(names(listing.files(QStringLiteral("pics"), filters)), (QStringList{"c.jpg", "a.jpg"}));
    QVERIFY(QFile::rename(QStringLiteral("pics/a.jpg"), QStringLiteral("pics/a.jpg.old")));
    QCOMPARE(names(listing.files(QStringLiteral("pics"), filters)), (QStringList{"c.jpg"}));
    // Other filters, another folder, or the folder replaced: listed again.
    QCOMPARE(names(listing.files(QStringLiteral("pics"), {QStringLiteral("*.old")})), (QStringList{"a.jpg.old"}));
    QVERIFY(QDir(QStringLiteral("pics")).removeRecursively());
    QDir().mkpath(QStringLiteral("pics"));
    makeFile(QStringLiteral("pics/d.jpg"), base + 6);
    setTime(QStringLiteral("pics"), base + 10);
    QCOMPARE(names(listing.files(QStringLiteral("pics"), filters)), (QStringList{"d.jpg"}));
    QVERIFY(QDir(QStringLiteral("pics")).removeRecursively());
    QVERIFY(listing.files(QStringLiteral("pics"), filters).isEmpty());
}

QTEST_GUILESS_MAIN(TestFileListing)
#include "tst_filelisting.moc"
