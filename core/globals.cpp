#include "globals.h"

QMutex* gMutexTable[MutexTableSize] = {};
QPixmap* gPixmapTable[PixmapTableSize] = {};
QString gInputNames[10];
QString gOutputNames[10];
