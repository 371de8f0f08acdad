#include "toursupport.h"

#include "globals.h"
#include "kiticons.h"
#include "mapplication.h"
#include "paramstorage.h"
#include "screencheck.h"
#include "systemparam.h"
#include "texttable.h"
#include "translations.h"

#include <QApplication>
#include <QColor>
#include <QDir>
#include <QPainter>
#include <QWidget>

#include <cstdio>

namespace {

// The folder of the language being shot.
QString gShotFolder;
bool gCheck = false;
int gFindings = 0;

} // namespace

bool readTourArguments(int argc, char* argv[], TourArguments* arguments)
{
    if (argc < 4 || argc > 5 || (argc == 5 && qstrcmp(argv[4], "--check") != 0)) {
        std::fprintf(stderr, "usage: %s <output folder> <width> <height> [--check]\n", argv[0]);
        return false;
    }
    arguments->check = argc == 5;
    arguments->folder = QDir(QString::fromLocal8Bit(argv[1])).absolutePath();
    arguments->width = QString::fromLocal8Bit(argv[2]).toInt();
    arguments->height = QString::fromLocal8Bit(argv[3]).toInt();
    return true;
}

int runTour(int argc, char* argv[], const std::function<int(const TourArguments&)>& body)
{
    TourArguments arguments;
    if (!readTourArguments(argc, argv, &arguments)) {
        return 2;
    }
    QApplication app(argc, argv);
    installFontSubstitutes();
    ensureKitIcons();
    initTextTable();
    gScreenWidth = arguments.width;
    gScreenHeight = arguments.height;
    gCheck = arguments.check;
    const int result = body(arguments);
    if (gCheck) {
        std::printf("screencheck: %d finding(s)\n", gFindings);
        std::fflush(stdout);
    }
    return result != 0 ? result : (gFindings > 0 ? 1 : 0);
}

bool screenCheckOn()
{
    return gCheck;
}

void checkShot(const QString& name, const QImage& picture, const QList<QPair<QWidget*, QPoint>>& windows)
{
    if (!gCheck) {
        return;
    }
    const QString shot = QDir(gShotFolder).dirName() + QLatin1Char('/') + name;
    for (const ScreenFinding& f : checkScreen(picture, windows, QRect(0, 0, gScreenWidth, gScreenHeight))) {
        std::printf("screencheck: %s: %s: %s: %s\n", qPrintable(findingKindName(f.kind)), qPrintable(shot),
                    qPrintable(f.widget), qPrintable(f.detail));
        ++gFindings;
    }
    std::fflush(stdout);
}

void forEachLanguage(const TourArguments& arguments, const std::function<void()>& shots)
{
    static const char* const languages[LanguageCount] = {"zh_CN", "en", "zh_TW", "ja"};
    const QByteArray only = qgetenv("KORVANE_TOUR_LANGUAGE");
    for (int language = 0; language < LanguageCount; ++language) {
        if (!only.isEmpty() && only != languages[language]) {
            continue;
        }
        gLanguage = language;
        installTranslations(language);
        gShotFolder = QStringLiteral("%1/%2x%3/%4")
                          .arg(arguments.folder)
                          .arg(arguments.width)
                          .arg(arguments.height)
                          .arg(QLatin1String(languages[language]));
        QDir().mkpath(gShotFolder);
        shots();
    }
}

QString shotFile(const QString& name)
{
    return gShotFolder + QLatin1Char('/') + name + QStringLiteral(".png");
}

bool saveShot(const QImage& picture, const QString& name, const char* program)
{
    const QString file = shotFile(name);
    if (picture.save(file)) {
        return true;
    }
    if (program) {
        std::fprintf(stderr, "%s: ", program);
    }
    std::fprintf(stderr, "could not write %s\n", qPrintable(file));
    return false;
}

bool saveShot(const QPixmap& picture, const QString& name, const char* program)
{
    return saveShot(picture.toImage(), name, program);
}

void shoot(const QString& name, const QList<QWidget*>& windows, const QImage& background)
{
    QImage canvas(gScreenWidth, gScreenHeight, QImage::Format_RGB32);
    if (background.isNull()) {
        canvas.fill(QColor(QStringLiteral("#1E1E1E")));
    } else {
        canvas = background.copy();
    }
    QPainter painter(&canvas);
    QList<QPair<QWidget*, QPoint>> placed;
    for (QWidget* w : windows) {
        w->show();
        QApplication::processEvents();
        painter.drawPixmap(w->pos(), w->grab());
        placed.append({w, w->pos()});
    }
    painter.end();
    saveShot(canvas, name);
    checkShot(name, canvas, placed);
}

SliderPictures::SliderPictures()
    : up_(QStringLiteral(":/slideru.png"))
    , down_(QStringLiteral(":/sliderd.png"))
    , track_(QStringLiteral(":/slidert.png"))
{
    gPixmapTable[4] = &up_;
    gPixmapTable[5] = &down_;
    gPixmapTable[6] = &track_;
}

SliderPictures::~SliderPictures()
{
    for (int i = 4; i <= 6; ++i) {
        gPixmapTable[i] = nullptr;
    }
}

ScratchFolder::ScratchFolder()
    : previous_(QDir::currentPath())
{
    QDir::setCurrent(folder_.path());
}

ScratchFolder::~ScratchFolder()
{
    QDir::setCurrent(previous_);
}

void loadFactoryParams(SystemParam* live, SystemParam* edit)
{
    writeFactoryParamGroup(QStringLiteral("."));
    openParamDatabase();
    live->clear();
    initSysParamDefaults(live);
    loadSysParam(live);
    gpSystemParam = live;
    gpSystemParamEdit = edit;
}
