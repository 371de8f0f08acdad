// Writes the synthetic mould pictures that the simulated cameras replay into a
// working folder: cammer15 and cammer25, each with template0.bmp (the open,
// empty mould) and template1.bmp (a part left in one cavity).
// Usage: mouldpicture <working folder>
#include "mouldpicture.h"

#include <QString>

#include <cstdio>

int main(int argc, char* argv[])
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s <working folder>\n", argv[0]);
        return 2;
    }
    QString error;
    if (!writeMouldPictures(QString::fromLocal8Bit(argv[1]), &error)) {
        std::fprintf(stderr, "mouldpicture: %s\n", qPrintable(error));
        return 1;
    }
    return 0;
}
