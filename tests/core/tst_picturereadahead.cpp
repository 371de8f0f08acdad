#include "picturereadahead.h"
#include "testworkdir.h"

#include <QFile>
#include <QImage>
#include <QSaveFile>
#include <QtTest>

#include <sys/stat.h>
#include <fcntl.h>

#include <memory>

namespace {

// Uncompressed pictures of one size: a rewrite with other content keeps the
// file's size, so only the times and the inode can tell it apart.
QImage makePicture(int shade)
{
    QImage picture(32, 24, QImage::Format_RGB32);
    picture.fill(QColor(shade, 255 - shade, shade / 2));
    picture.setPixel(shade % 32, 3, qRgb(1, 2, 3));
    return picture;
}

bool writeInPlace(const QString& path, const QImage& picture)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) && picture.save(&file, "BMP");
}

bool writeAtomically(const QString& path, const QImage& picture)
{
    QSaveFile file(path);
    return file.open(QIODevice::WriteOnly) && picture.save(&file, "BMP") && file.commit();
}

bool setModified(const QString& path, const struct timespec& at)
{
    const struct timespec times[2] = {at, at};
    return utimensat(AT_FDCWD, QFile::encodeName(path).constData(), times, 0) == 0;
}

struct timespec modifiedOf(const QString& path)
{
    struct stat st {};
    ::stat(QFile::encodeName(path).constData(), &st);
    return st.st_mtim;
}

} // namespace

class TestPictureReadAhead : public QObject {
    Q_OBJECT

private slots:
    void changedFileIsDecodedAgain_data();
    void changedFileIsDecodedAgain();
    void steppingGivesWhatDecodingAloneGives();
};

void TestPictureReadAhead::changedFileIsDecodedAgain_data()
{
    QTest::addColumn<QString>("change");
    QTest::newRow("unchanged") << "none";
    QTest::newRow("replaced, same size, time put back") << "replace";
    QTest::newRow("rewritten in place, same size, time put back") << "inplace";
    QTest::newRow("removed") << "remove";
    QTest::newRow("no longer a picture") << "garbage";
}

// The neighbour is decoded ahead, then its file changes before the step
// reaches it: the step must show the file as it is now.
void TestPictureReadAhead::changedFileIsDecodedAgain()
{
    QFETCH(QString, change);
    TestWorkDir dir;
    const QString path = dir.filePath(QStringLiteral("a.bmp"));
    QVERIFY(writeInPlace(path, makePicture(10)));
    const struct timespec written = modifiedOf(path);

    PictureReadAhead ahead;
    ahead.readAhead({path});
    ahead.waitForReadAhead();
    // File times come from a coarse clock: let it move on, or a rewrite
    // could carry the very times of the first write.
    QTest::qWait(30);
    if (change == QLatin1String("replace")) {
        QVERIFY(writeAtomically(path, makePicture(200)));
        QVERIFY(setModified(path, written));
    } else if (change == QLatin1String("inplace")) {
        QVERIFY(writeInPlace(path, makePicture(200)));
        QVERIFY(setModified(path, written));
    } else if (change == QLatin1String("remove")) {
        QVERIFY(QFile::remove(path));
    } else if (change == QLatin1String("garbage")) {
        QFile file(path);
        QVERIFY(file.open(QIODevice::ReadWrite));
        QVERIFY(file.write(QByteArray(8, 'x')) == 8);
        file.close();
        QVERIFY(setModified(path, written));
    }
    const QImage alone(path);
    const QImage shown = ahead.picture(path);
    QCOMPARE(shown.isNull(), alone.isNull());
    QCOMPARE(shown, alone);
    if (change == QLatin1String("none")) {
        QCOMPARE(shown, makePicture(10).convertToFormat(shown.format()));
    } else if (change != QLatin1String("remove") && change != QLatin1String("garbage")) {
        QCOMPARE(shown, makePicture(200).convertToFormat(shown.format()));
    }
}

// Back and forth faster than the decodes, with the window of kept pictures
// moving at every step, pictures rewritten between steps, a clear in the
// middle and decodes still running when the object goes: every step gives
// what a decode of the file alone gives.
void TestPictureReadAhead::steppingGivesWhatDecodingAloneGives()
{
    TestWorkDir dir;
    constexpr int count = 7;
    QStringList paths;
    for (int i = 0; i < count; ++i) {
        paths << dir.filePath(QStringLiteral("p%1.bmp").arg(i));
        QVERIFY(writeInPlace(paths.back(), makePicture(i * 30)));
    }
    auto ahead = std::make_unique<PictureReadAhead>();
    int index = 0;
    const int moves[] = {1, 1, 1, -1, -1, 1, 1, 1, 1, 1, 1, -1, 1, 1, -1, -1, -1, -1};
    int step = 0;
    for (int move : moves) {
        index = (index + move + count) % count;
        if (step == 9) {
            ahead->clear();
        }
        const QImage shown = ahead->picture(paths[index]);
        QCOMPARE(shown, QImage(paths[index]));
        ahead->readAhead({paths[(index + count - 1) % count], paths[index], paths[(index + 1) % count]});
        if (step == 6) {
            // The next step's picture, decoded ahead, changes before the step.
            ahead->waitForReadAhead();
            QVERIFY(writeAtomically(paths[(index + 1) % count], makePicture(250)));
            QCOMPARE(moves[step + 1], 1);
        }
        ++step;
    }
    QCOMPARE(ahead->picture(paths[index]), QImage(paths[index]));
    ahead->readAhead(paths);
    ahead.reset();
}

QTEST_GUILESS_MAIN(TestPictureReadAhead)
#include "tst_picturereadahead.moc"
