#include "texttable.h"

QString gTextTable[TextTableSize];
int gLanguage = 0;

void initTextTable()
{
    // The text data is filled in by the text-table component.
}
