// Every compiled-in picture the program asks for by name must be there: a
// missing one only shows as a log line and an empty button at run time. The
// names are gathered from the sources, so a new button whose icon was never
// drawn fails here.
#include "kiticons.h"

#include <QDirIterator>
#include <QFile>
#include <QImage>
#include <QRegularExpression>
#include <QSet>
#include <QtTest>

class TestKitIcons : public QObject {
    Q_OBJECT
private slots:
    void namesFromSourcesLoad();
};

namespace {

// Resource names written as literals ":/X.png" or inside style sheets as
// url(:/X.png). Names assembled at run time (with %1) are left to the tests
// of their widgets.
QSet<QString> resourceNamesInSources()
{
    static const QRegularExpression literal(QStringLiteral(R"re("(:/[^"%]+)")re"));
    static const QRegularExpression sheetUrl(QStringLiteral(R"re(url\((:/[^)%]+)\))re"));
    QSet<QString> names;
    for (const char* folder : {"core", "inspection", "camera", "records", "cycle", "ui", "settings", "window", "app"}) {
        QDirIterator it(QStringLiteral(KORVANE_SOURCE_DIR "/") + QLatin1String(folder),
                        {QStringLiteral("*.cpp"), QStringLiteral("*.h")}, QDir::Files, QDirIterator::Subdirectories);
        while (it.hasNext()) {
            QFile file(it.next());
            if (!file.open(QIODevice::ReadOnly)) {
                continue;
            }
            const QString text = QString::fromUtf8(file.readAll());
            for (const QRegularExpression* re : {&literal, &sheetUrl}) {
                auto matches = re->globalMatch(text);
                while (matches.hasNext()) {
                    names.insert(matches.next().captured(1));
                }
            }
        }
    }
    return names;
}

bool hasVisiblePixel(const QImage& image)
{
    const QImage argb = image.convertToFormat(QImage::Format_ARGB32);
    for (int y = 0; y < argb.height(); ++y) {
        for (int x = 0; x < argb.width(); ++x) {
            if (qAlpha(argb.pixel(x, y)) > 0) {
                return true;
            }
        }
    }
    return false;
}

} // namespace

void TestKitIcons::namesFromSourcesLoad()
{
    ensureKitIcons();
    const QSet<QString> names = resourceNamesInSources();
    // The scan itself must work, or the loop below proves nothing.
    QVERIFY(names.contains(QStringLiteral(":/Close.png")));
    QVERIFY(names.contains(QStringLiteral(":/Backup.png")));
    // The sheet's radio indicators sit under a folder path.
    QVERIFY(names.contains(QStringLiteral(":/img/Resources/RadioBox1.png")));

    QStringList missing;
    for (const QString& name : names) {
        const QString suffix = QFileInfo(name).suffix();
        // Non-picture resources (the text table) belong to their own subsystem.
        if (!suffix.isEmpty() && suffix != QLatin1String("png")) {
            continue;
        }
        // A name without suffix is completed by the image loader (":/TemperatureChart").
        const QImage image(name);
        if (image.isNull() || !hasVisiblePixel(image)) {
            missing << name;
        }
    }
    missing.sort();
    QVERIFY2(missing.isEmpty(), qPrintable(missing.join(QLatin1String(", "))));
}

QTEST_MAIN(TestKitIcons)
#include "tst_kiticons.moc"
