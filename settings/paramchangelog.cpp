#include "paramchangelog.h"

#include "texttable.h"

namespace {

enum Form { Delay, Recheck, Value, Switch, Motion, Clamp };

struct Row {
    int slot;
    Form form;
    int label;  // text number; -1: the fixed caption below
};

// Rows 1 to 10.
const Row kHeadRows[] = {
    {72, Delay, 263}, {73, Delay, 264}, {143, Recheck, 264}, {149, Value, 22}, {150, Value, 24},
    {118, Switch, 174}, {133, Switch, 175}, {129, Motion, 176}, {127, Switch, 177}, {132, Switch, 400},
};

// Row 11, per camera: the slot offset and the text of each of the seven checks.
const int kCameraChecks[7][2] = {{0, 237}, {8, 238}, {16, 246}, {24, 247}, {32, 365}, {56, 576}, {64, 577}};

// Rows 12 to 62.
const Row kTailRows[] = {
    {139, Value, 244}, {182, Switch, 270}, {183, Switch, 271}, {193, Switch, 387}, {179, Switch, 582},
    {194, Switch, 388}, {184, Switch, 337}, {306, Switch, 519}, {165, Switch, 196}, {166, Switch, 197},
    {167, Switch, 198}, {168, Switch, 199}, {180, Switch, -1}, {169, Switch, 200}, {195, Switch, 390},
    {196, Switch, 391}, {197, Switch, 520}, {199, Switch, 397}, {198, Switch, 570}, {181, Value, 269},
    {146, Value, 336}, {192, Value, 166}, {144, Value, 168}, {145, Value, 169}, {153, Value, 203},
    {173, Value, 334}, {108, Value, 273}, {109, Value, 274}, {110, Value, 275}, {111, Value, 281},
    {191, Value, kTextMouldSide}, {130, Switch, 178}, {128, Clamp, 179}, {151, Switch, 192},
    {152, Switch, 190}, {154, Switch, 193}, {164, Switch, 195}, {170, Switch, 265}, {156, Switch, 202},
    {135, Value, 185}, {136, Value, 186}, {137, Value, 187}, {140, Value, 188}, {141, Value, 189},
    {174, Value, 213}, {138, Value, 243}, {185, Value, 181}, {200, Value, 403}, {161, Switch, 194},
    {162, Switch, 341}, {131, Switch, 170},
};

QString label(const Row& row)
{
    // The angle correction has no text of its own: a fixed caption in every language.
    return row.label < 0 ? QStringLiteral("角度矫正") : textOf(row.label);
}

QString fragment(const Row& row, qint32 oldValue, qint32 newValue)
{
    const QString o = QString::number(oldValue);
    const QString n = QString::number(newValue);
    switch (row.form) {
    case Delay:
        return textOf(236).arg(label(row), o, n);
    case Recheck:
        return textOf(239).arg(label(row), o, n);
    case Value:
        return textOf(245).arg(label(row), o, n);
    case Switch:
        return textOf(240).arg(label(row)) + textOf(newValue != 0 ? 250 : 251);
    case Motion:  // 0 is on, -1 off
        return textOf(240).arg(label(row)) + textOf(newValue == 0 ? 250 : 251);
    case Clamp:
        return textOf(240).arg(label(row)) + textOf(newValue != 0 ? 252 : 253);
    }
    return QString();
}

void appendRows(QString* sentence, const Row* rows, int count, const SystemParam& edit, const SystemParam& live)
{
    for (int i = 0; i < count; ++i) {
        const int slot = rows[i].slot;
        if (edit[slot] != live[slot]) {
            *sentence += fragment(rows[i], live[slot], edit[slot]);
        }
    }
}

} // namespace

QString paramChangeSentence(const SystemParam& edit, const SystemParam& live)
{
    QString sentence = textOf(235);
    appendRows(&sentence, kHeadRows, int(std::size(kHeadRows)), edit, live);
    // Every camera position, whatever the count: a value changed for a camera
    // that is not connected is still a changed setting.
    for (int c = 0; c < 8; ++c) {
        for (const auto& check : kCameraChecks) {
            const int slot = check[0] + c;
            if (edit[slot] != live[slot]) {
                sentence += textOf(check[1]).arg(QString::number(c + 1), QString::number(live[slot]),
                                                 QString::number(edit[slot]));
            }
        }
    }
    appendRows(&sentence, kTailRows, int(std::size(kTailRows)), edit, live);
    if (edit.passwordLatin1() != live.passwordLatin1()) {
        sentence += textOf(249);
    }
    return sentence;
}

bool anyDetectAlgorithmOn(const SystemParam& r)
{
    return r.algoDefect() != 0 || r.algoSpot() != 0 || r.algoWhiteArea() != 0 || r.algoWhiteCount() != 0
        || r.algoBlackArea() != 0 || r.algoSimilarity() != 0 || r.tempAlarm() != 0;
}

int deriveMachineSlots(SystemParam* p, int curSide)
{
    SystemParam& r = *p;
    r[189] = r[190];
    r[290] = 4;
    const int type = r[189];
    const int productOn = r[133] != 0 ? 1 : 0;
    if (type == 0) {
        r[119] = r[133];
        r[120] = 1;
        r[81] = 0;
        r[82] = r[118] != 0 ? 2 : 0;
        const int rest = r[152] != 0 ? 0 : 1;
        r[113] = rest;
        r[114] = rest;
        r[115] = rest;
        return curSide;
    }
    if (type != 1 && type != 2) {
        return curSide;
    }
    if (r[191] == 0) {
        r[119] = productOn;
        r[120] = 1;
        r[121] = 0;
        r[122] = 0;
        curSide = 1;
        if (type == 1) {
            r[82] = 2;
        } else {
            r[81] = 0;
        }
    } else if (r[191] == 1) {
        r[121] = productOn;
        r[122] = 1;
        r[119] = 0;
        r[120] = 0;
        curSide = 0;
        if (type == 1) {
            r[82] = 3;
        } else {
            r[81] = 3;
        }
    } else {
        r[119] = productOn;
        r[121] = productOn;
        r[120] = 1;
        r[122] = 1;
        if (type == 1) {
            r[82] = 255;
        } else {
            r[81] = 255;
        }
    }
    if (type == 1) {
        r[81] = 0;
    } else {
        r[82] = r[118] != 0 ? 2 : r[81];
    }
    return curSide;
}
