// Screenshot tour of the camera settings screens: the camera order dialog for
// one, three and eight cameras, drawn where it stands over a settings dialog
// that fills the panel, one PNG each, for one screen size and the four
// languages. Usage: cameratour <output folder> <width> <height>
// Pictures go to <output folder>/<width>x<height>/<language>/.
#include "cameraregistry.h"
#include "ccomp_dialogframe.h"
#include "globals.h"
#include "kiticons.h"
#include "mapplication.h"
#include "texttable.h"
#include "widgetchangecamera.h"

#include <QApplication>
#include <QDir>
#include <QPainter>

#include <cstdio>

namespace {

QString gOut;

// The panel's background with the given top-level widgets drawn where they stand.
void shoot(const QString& name, const QList<QWidget*>& windows)
{
    QImage canvas(gScreenWidth, gScreenHeight, QImage::Format_RGB32);
    canvas.fill(QColor(QStringLiteral("#1E1E1E")));
    QPainter painter(&canvas);
    for (QWidget* w : windows) {
        w->show();
        QApplication::processEvents();
        painter.drawPixmap(w->pos(), w->grab());
    }
    painter.end();
    const QString file = gOut + QLatin1Char('/') + name + QStringLiteral(".png");
    if (!canvas.save(file)) {
        std::fprintf(stderr, "could not write %s\n", qPrintable(file));
    }
}

void tour()
{
    // The settings dialog the order dialog opens over: the panel's size and
    // its common sheet, which the order dialog takes from its parent.
    QWidget settings;
    settings.setGeometry(0, 0, gScreenWidth, gScreenHeight);
    setCommonStyleSheet(&settings);
    for (int cameras : {1, 3, 8}) {
        gCameraCount = cameras;
        WidgetChangeCamera dialog(&settings);
        shoot(QStringLiteral("cameraorder_%1").arg(cameras), {&settings, &dialog});
    }
}

} // namespace

int main(int argc, char* argv[])
{
    if (argc != 4) {
        std::fprintf(stderr, "usage: %s <output folder> <width> <height>\n", argv[0]);
        return 2;
    }
    QApplication app(argc, argv);
    installFontSubstitutes();
    ensureKitIcons();
    initTextTable();
    gScreenWidth = QString::fromLocal8Bit(argv[2]).toInt();
    gScreenHeight = QString::fromLocal8Bit(argv[3]).toInt();
    static const char* const languages[LanguageCount] = {"zh_CN", "en", "zh_TW", "ja"};
    for (gLanguage = 0; gLanguage < LanguageCount; ++gLanguage) {
        gOut = QStringLiteral("%1/%2x%3/%4")
                   .arg(QString::fromLocal8Bit(argv[1]))
                   .arg(gScreenWidth)
                   .arg(gScreenHeight)
                   .arg(QLatin1String(languages[gLanguage]));
        QDir().mkpath(gOut);
        tour();
    }
    return 0;
}
