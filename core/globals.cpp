#include "globals.h"

std::mutex* gMutexTable[MutexTableSize] = {};
QPixmap* gPixmapTable[PixmapTableSize] = {};
int gScreenWidth = 1920;
int gScreenHeight = 1080;
QString gInputNames[10];
QString gOutputNames[10];

QString gTemplateTimeText;
const QString gArchiveSuffixes[3] = {QStringLiteral("gz"), QStringLiteral("tar"), QStringLiteral("rar")};

int gImageSource = -1;
