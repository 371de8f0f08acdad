#include "areapanellogic.h"

#include "cammersingleton.h"
#include "roiinterface.h"
#include "systemparam.h"
#include "texttable.h"

#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>

#include <algorithm>

namespace AreaPanelLogic {

int entryDetect(const SystemParam& p, int curDetect, int detectCount, bool alarmReview)
{
    int d = curDetect;
    if (alarmReview) {
        return d;
    }
    const int type = p.systemFunction();
    if (type == 1 || type == 2) {
        if (d > 1 && p.syncCavityParams() != 0) {
            d -= 2;
        }
        if (p.mouldSide() == 0 && d > 1) {
            d -= 2;
        }
        if (p.mouldSide() == 1 && d < 2) {
            d = 2;
        }
        if (p[119] == 0 && d % 2 == 0) {
            d += 1;
        }
        if (d < 0 || d > detectCount - 1) {
            d = 0;
        }
    } else {
        if (p[119] == 0) {
            d = 1;
        } else if (p.syncCavityParams() != 0) {
            d = 0;
        }
    }
    return d;
}

namespace {
constexpr quint32 bit(Widget w) { return quint32(1) << int(w); }
} // namespace

quint32 visibleWidgets(int source, int editingAreas, bool alarmReview, int cameraCount)
{
    const quint32 camera = cameraCount > 1 ? bit(WCamera) : 0;
    const quint32 combos = bit(WSource) | camera | bit(WDetect);
    switch (source) {
    case 0:
        if (editingAreas == 0) {
            return combos | bit(WReturn) | bit(WEditArea) | bit(WTempLast) | bit(WTempNext) | bit(WTempDeleteCur)
                   | (alarmReview ? bit(WAutoChange) : 0);
        }
        return combos | bit(WReturn) | bit(WChangeOp) | bit(WDrawRect) | bit(WDrawCircle) | bit(WDrawPolygon)
               | bit(WDrawHand) | bit(WCopyArea) | bit(WDeleteRoi) | bit(WDeleteAllRoi);
    case 1:
        if (alarmReview) {
            return bit(WSource) | camera | bit(WAddTemp) | bit(WNoCheckCur) | bit(WAutoChange) | bit(WReCheck);
        }
        return bit(WSource) | camera | bit(WReturn);
    case 2:
    case 3:
    case 4:
        return combos | bit(WReturn) | bit(WTempLast) | bit(WTempNext) | (source == 2 ? bit(WAddTemp) : 0);
    default:
        return 0;
    }
}

int replaceableSlotOfName(const QString& fileName)
{
    static const QRegularExpression pattern(QStringLiteral("^template([1-9][0-9]{0,8})\\.bmp$"));
    const QRegularExpressionMatch m = pattern.match(fileName);
    if (!m.hasMatch()) {
        return -1;
    }
    return m.captured(1).toInt();
}

SlotChoice chooseAddSlot(const std::vector<qint32>& valid, int count, int templateCount, const QString& folder)
{
    SlotChoice choice;
    const int slotCount = std::min<int>(templateCount, int(valid.size()));
    if (count < templateCount) {
        for (int k = 0; k < slotCount; ++k) {
            if (valid[std::size_t(k)] == 0) {
                choice.slot = k;
                return choice;
            }
        }
        // The count says free but no flag agrees: fall through to replacing.
    }
    QFileInfoList files = QDir(folder).entryInfoList({QStringLiteral("template*.bmp")}, QDir::Files);
    std::stable_sort(files.begin(), files.end(), [](const QFileInfo& a, const QFileInfo& b) {
        return a.lastModified() < b.lastModified();
    });
    for (const QFileInfo& file : files) {
        const int n = replaceableSlotOfName(file.fileName());
        if (n < 1) {
            continue; // slot 0 and names the station never writes
        }
        choice.replaces = true;
        if (n >= templateCount) {
            choice.removeFile = file.filePath();
            choice.slot = templateCount - 1;
        } else {
            choice.slot = n;
        }
        if (choice.slot < 1 || choice.slot >= slotCount) {
            choice = SlotChoice();
        }
        return choice;
    }
    return choice;
}

QString detectName(int machineType, int detect)
{
    if (machineType == 1 || machineType == 2) {
        return detect >= 0 && detect < 4 ? textOf(372 + detect) : QString();
    }
    return detect >= 0 && detect < 2 ? textOf(263 + detect) : QString();
}

namespace {

QString functionName(int f)
{
    switch (f) {
    case FuncDefect: return textOf(25);
    case FuncSpot: return textOf(15);
    case FuncIgnoreArea: return textOf(17);
    case FuncPosition: return textOf(21);
    case FuncTempAlarm: return textOf(570);
    case FuncAngleCorrect: return textOf(TextAngleCorrect);
    default: return QString();
    }
}

// Temperatures and their settings are signed 16-bit halves: a low alarm of
// -10 must read -10, as the result table shows it.
int lowHalf(qint32 v) { return qint16(quint32(v) & 0xffffu); }
int highHalf(qint32 v) { return qint16(quint32(v) >> 16); }
int greyMin(qint32 param) { return (param >> 8) & 0xff; }
int greyMax(qint32 param) { return param & 0xff; }

QString fragment(int text, int from, int to)
{
    return from == to ? QString() : textOf(text).arg(from).arg(to);
}

QString addedDescription(const CammerSingleton& e, int slot, bool* touched)
{
    const qint32 param = e.roiParam[slot], lower = e.roiLower[slot], upper = e.roiUpper[slot];
    switch (e.roiFunction[slot]) {
    case FuncDefect: return textOf(78).arg(lower).arg(param).arg(upper);
    case FuncSpot: return textOf(77).arg(greyMin(param)).arg(greyMax(param)).arg(lower).arg(upper);
    case FuncIgnoreArea: return textOf(17);
    case FuncPosition:
        *touched = true;
        return textOf(79).arg(lower).arg(upper).arg(param);
    case FuncTempAlarm:
        return textOf(618)
            .arg(lowHalf(lower))
            .arg(lowHalf(upper))
            .arg(lowHalf(param))
            .arg(highHalf(lower))
            .arg(highHalf(upper))
            .arg(highHalf(param));
    case FuncAngleCorrect:
        *touched = true;
        return textOf(TextAngleCorrect);
    default: return QString();
    }
}

// The changed-area sentence, or empty when nothing worth a row changed.
QString changedSentence(const CammerSingleton& s, const CammerSingleton& e, int slot, int k, bool* touched)
{
    const ROIInterface* savedShape = s.roiLists.value(slot / AreasPerDetect).value(k);
    const ROIInterface* editShape = e.roiLists.value(slot / AreasPerDetect).value(k);
    const bool moved = !(savedShape && editShape && savedShape->isEqual(editShape));
    const int fs = s.roiFunction[slot], fe = e.roiFunction[slot];
    const QString functionPart = fs == fe ? textOf(84) : textOf(82) + functionName(fs) + textOf(83);
    if (fs != fe && (fs == FuncPosition || fs == FuncAngleCorrect)) {
        *touched = true;
    }
    const qint32 sp = s.roiParam[slot], sl = s.roiLower[slot], su = s.roiUpper[slot];
    const qint32 ep = e.roiParam[slot], el = e.roiLower[slot], eu = e.roiUpper[slot];
    bool differs = false;
    QString detail;
    switch (fe) {
    case FuncDefect:
        differs = sl != el || su != eu || sp != ep;
        detail = textOf(97).arg(fragment(94, sl, el), fragment(95, su, eu), fragment(96, sp, ep));
        break;
    case FuncSpot:
        differs = sp != ep || sl != el || su != eu;
        detail = textOf(89).arg(fragment(85, greyMin(sp), greyMin(ep)), fragment(86, greyMax(sp), greyMax(ep)),
                                fragment(87, sl, el), fragment(88, su, eu));
        break;
    case FuncIgnoreArea:
        detail = textOf(17);
        break;
    case FuncPosition:
        *touched = true;
        differs = sl != el || su != eu || sp != ep;
        detail = textOf(93).arg(fragment(92, sl, el), fragment(90, su, eu), fragment(91, sp, ep));
        break;
    case FuncTempAlarm:
        differs = sl != el || su != eu || sp != ep;
        detail = textOf(619).arg(fragment(620, lowHalf(sl), lowHalf(el)), fragment(621, lowHalf(su), lowHalf(eu)),
                                 fragment(622, lowHalf(sp), lowHalf(ep)), fragment(623, highHalf(sl), highHalf(el)),
                                 fragment(624, highHalf(su), highHalf(eu)), fragment(625, highHalf(sp), highHalf(ep)));
        break;
    case FuncAngleCorrect:
        detail = textOf(TextAngleCorrect);
        break;
    default:
        break;
    }
    if (!moved && !differs) {
        return QString();
    }
    const QString type = editShape ? editShape->typeName() : QString();
    return textOf(99).arg(type, QString::number(k + 1), functionPart, detail, moved ? textOf(98) : QString());
}

} // namespace

QStringList areaChangeRows(const CammerSingleton& saved, const CammerSingleton& edited, int camera,
                           int machineType, int detectCount, bool* positionTouched)
{
    QStringList rows;
    bool touched = false;
    const int detects = std::min(detectCount, int(CammerSingleton::DetectCount));
    for (int d = 0; d < detects; ++d) {
        const QString prefix = textOf(73).arg(camera + 1).arg(detectName(machineType, d));
        const int ns = std::clamp(int(saved.roiCount[d]), 0, int(AreasPerDetect));
        const int ne = std::clamp(int(edited.roiCount[d]), 0, int(AreasPerDetect));
        for (int k = 0; k < std::max(ns, ne); ++k) {
            const int slot = d * AreasPerDetect + k;
            if (k >= ns) {
                const ROIInterface* shape = edited.roiLists.value(d).value(k);
                rows << prefix
                            + textOf(80).arg(shape ? shape->typeName() : QString(), QString::number(k + 1),
                                             addedDescription(edited, slot, &touched));
            } else if (k >= ne) {
                const ROIInterface* shape = saved.roiLists.value(d).value(k);
                rows << prefix
                            + textOf(81).arg(shape ? shape->typeName() : QString(), QString::number(k + 1),
                                             functionName(saved.roiFunction[slot]));
            } else {
                const QString sentence = changedSentence(saved, edited, slot, k, &touched);
                if (!sentence.isEmpty()) {
                    rows << prefix + sentence;
                }
            }
        }
    }
    if (positionTouched) {
        *positionTouched = touched;
    }
    return rows;
}

} // namespace AreaPanelLogic
