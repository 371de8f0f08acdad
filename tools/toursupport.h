// What the screenshot tours share: their command line, one pass of the shots
// per language into that language's folder, and drawing top-level windows
// onto the panel's background the way the operator sees them.
#pragma once

#include <QImage>
#include <QList>
#include <QPair>
#include <QPoint>
#include <QPixmap>
#include <QString>
#include <QTemporaryDir>

#include <functional>

class QWidget;
class SystemParam;

struct TourArguments {
    QString folder;  // absolute: a tour may change the working folder
    int width = 0;
    int height = 0;
    bool check = false;  // each shot is checked as the operator would see it
};

// Reads "<output folder> <width> <height> [--check]"; says the usage on
// stderr and gives false for anything else.
bool readTourArguments(int argc, char* argv[], TourArguments* arguments);

// A tour's main: reads the command line (2 when it is wrong), makes the
// application with the fonts and icons the panel has, the text table and the
// screen size asked for, and gives body's answer; with --check, 1 as well
// when a shot failed the screen check.
int runTour(int argc, char* argv[], const std::function<int(const TourArguments&)>& body);

// Runs shots once for each language, gLanguage set to it and the pictures
// going to <folder>/<width>x<height>/<language>/ (made first). With
// KORVANE_TOUR_LANGUAGE set to one of the folder names (zh_CN, en, zh_TW, ja)
// only that language is shot: the check runs the slow tours' languages side
// by side.
void forEachLanguage(const TourArguments& arguments, const std::function<void()>& shots);

// Where the picture called name goes in the current language's folder.
QString shotFile(const QString& name);

// Saves a picture as name in the current language's folder; says on stderr
// (after "<program>: " where given) when it could not.
bool saveShot(const QImage& picture, const QString& name, const char* program = nullptr);
bool saveShot(const QPixmap& picture, const QString& name, const char* program = nullptr);

// Whether the shots are checked (--check).
bool screenCheckOn();

// With --check: checks the picture called name as drawn from the windows
// (each with where it stands in the picture, the screen's top left being the
// picture's), says each finding on stdout as
// "screencheck: <kind>: <language>/<name>: <widget>: <detail>" and counts it.
void checkShot(const QString& name, const QImage& picture, const QList<QPair<QWidget*, QPoint>>& windows);

// The panel's background (or the given picture behind them) with the given
// top-level windows, each shown first, drawn where they stand; saved as name
// (and checked, with --check).
void shoot(const QString& name, const QList<QWidget*>& windows, const QImage& background = QImage());

// The slider's pictures, held for as long as the tour runs, as the program
// loads them at start-up.
class SliderPictures {
public:
    SliderPictures();
    ~SliderPictures();
    SliderPictures(const SliderPictures&) = delete;
    SliderPictures& operator=(const SliderPictures&) = delete;

private:
    QPixmap up_;
    QPixmap down_;
    QPixmap track_;
};

// A throw-away working folder, the current one while this lives: the screens
// read and write the system's files relative to it.
class ScratchFolder {
public:
    ScratchFolder();
    ~ScratchFolder();
    ScratchFolder(const ScratchFolder&) = delete;
    ScratchFolder& operator=(const ScratchFolder&) = delete;
    QString path() const { return folder_.path(); }
    QString filePath(const QString& name) const { return folder_.filePath(name); }

private:
    QTemporaryDir folder_;
    QString previous_;
};

// The factory parameter group written into the working folder, its PARAM.db
// opened and loaded into live, which becomes the live record and edit the
// edited one. Loading sets the language the record was saved in.
void loadFactoryParams(SystemParam* live, SystemParam* edit);
