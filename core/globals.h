#pragma once

#include <QString>

#include <mutex>

class QPixmap;

// Process-wide tables created before or during start-up and never freed.
constexpr int MutexTableSize = 10;
constexpr int PixmapTableSize = 18;

// Entry 8 guards the I/O words, entry 9 the NG/OK picture slots; 0..7 have no user.
// Standard mutexes, so the thread checker sees what they order.
extern std::mutex* gMutexTable[MutexTableSize];
extern QPixmap* gPixmapTable[PixmapTableSize];

// Size of the screen that pop-ups centre on and keep within. The main window
// sets them from its screen before it builds anything; until then they hold
// the panel's own size.
extern int gScreenWidth;
extern int gScreenHeight;

// Captions of the input and output lamps.
extern QString gInputNames[10];
extern QString gOutputNames[10];

// Time text of the template shown in the area-setting title of the tiles.
extern QString gTemplateTimeText;
// Archive kinds that the version download offers.
extern const QString gArchiveSuffixes[3];

// What the camera stations show: -1 the run view, 0 a template sample, 1 the
// live picture, 2 a recent picture.
extern int gImageSource;
