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

QTEST_GUILESS_MAIN(TestFileListing)
#include "tst_filelisting.moc"
