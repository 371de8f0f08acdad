#pragma once

#include "systemcounts.h"

#include <QList>
#include <QMetaType>
#include <QString>
#include <QtGlobal>

#include <opencv2/core.hpp>

#include <functional>

class ROIInterface;

// What an area does with its pixels; stored per area as a number.
enum DetectFunction {
    FuncDefect = 0,
    FuncSpot = 1,
    FuncIgnoreArea = 2,
    FuncPosition = 3,
    FuncBlackArea = 4,
    FuncWhiteArea = 5,
    FuncSimilarity = 6,
    FuncWhiteNum = 7,
    FuncReserved8 = 8,
    FuncTempAlarm = 9,
    FuncAngleCorrect = 10,
    FuncReserved11 = 11,
};

bool isKnownDetectFunction(int function);

// The function's name for the result table, in the current language. Unknown
// numbers (and the two reserved ones) show as the defect check.
QString detectFunctionName(int function);

// Function and the three integers of one area, as the editor hands them around.
struct AreaSettings {
    qint32 function = FuncDefect;
    qint32 param = 3;
    qint32 lower = 25;
    qint32 upper = 100;
};

// The values an area row that is missing (or unreadable) stands for: defect
// check 3 / 25 / 100 on the rectangle (50, 50)-(100, 100), output 0.
AreaSettings missingAreaDefaults();

// The editor switching an area to `function`: param, lower and upper take that
// function's start values; values the function keeps stay as they are. Functions
// without start values (8, 11, unknown) change only the function number.
void applyFunctionDefaults(AreaSettings& area, int function);

// The first area drawn in a detect: the first offered function of 1, 4, 5, 6, 7,
// 9 (in that order) with its start values, else the defect check.
AreaSettings firstAreaSettings(const std::function<bool(int function)>& offered);

// Destroys the shapes of a list, last first, and empties it.
void clearROIList(QList<ROIInterface*>& list);

// One camera's detection areas for all its detects, as kept in the PARAM.db
// table "cammer<camera>". Every camera station holds two: the live set the
// inspection reads and the edit set the area editor works on.
//
// Per-area tables are indexed by the slot detect * 50 + area; only the output
// channel is kept per area number and shared by all detects.
//
// Invariant: roiLists[d] holds roiCount[d] shapes, shape i being slot d * 50 + i.
//
// Loading reports what it cannot trust instead of passing it off as a good area:
// an unreadable row loads as the default area and is marked in roiLoadFault, a
// detect whose area count is unusable is marked in detectLoadFault, and an area
// with an unknown function keeps its number. IsAreaFaulty/IsDetectFaulty are what
// the inspection asks so that such areas count as errors, never as OK.
class CammerSingleton {
public:
    static constexpr int DetectCount = DetectsPerCamera;
    static constexpr int AreasPerDetect = ::AreasPerDetect;
    static constexpr int SlotCount = DetectCount * AreasPerDetect;
    static constexpr int ExtraCount = 8;
    static constexpr int MaxOutputChannel = 8;

    // Name of the PARAM.db connection the main window opens.
    static const QString ParamConnection;

    explicit CammerSingleton(int camera);
    ~CammerSingleton();

    CammerSingleton(const CammerSingleton&) = delete;
    CammerSingleton& operator=(const CammerSingleton&) = delete;

    // Reads the whole set from PARAM.db. Coordinates are limited to an image of
    // imageWidth x imageHeight; each area's mask goes into roiMasks[slot] when
    // roiMasks (400 entries) is given. Shows one warning to the operator when
    // anything could not be trusted; returns false then.
    bool LoadFromDB(int imageWidth, int imageHeight, cv::Mat* roiMasks);
    // The camera station's form: its frame size and its live mask table.
    template <typename Station>
    bool LoadFromDB(Station* owner)
    {
        return LoadFromDB(owner->imageWidth, owner->imageHeight, owner->roiMasks);
    }

    // Writes the whole set in one transaction: afterwards PARAM.db holds either
    // this set or, on any failure, exactly what it held before. A failure is
    // logged and shown to the operator; returns false then.
    bool SaveToDB();

    // Makes this set equal to src, shapes cloned; masks are the station's.
    void CopyFrom(const CammerSingleton& src);

    // Every stored number and every shape equal (load faults are not stored and
    // do not count).
    bool IsSame(const CammerSingleton& other) const;

    bool IsAreaFaulty(int slot) const;
    bool IsDetectFaulty(int detect) const;

    QString tableName() const;

    qint32 camera;
    qint32 roiCount[DetectCount] = {};
    qint32 roiParam[SlotCount] = {};
    qint32 roiLower[SlotCount] = {};
    qint32 roiUpper[SlotCount] = {};
    qint32 roiFunction[SlotCount] = {};
    qint32 roiShapeType[SlotCount] = {};
    qint32 roiOutput[AreasPerDetect] = {};
    qint32 detectExtra[DetectCount][ExtraCount] = {};
    QList<QList<ROIInterface*>> roiLists;

    // Not stored: set by LoadFromDB, carried by CopyFrom, cleared by a
    // successful SaveToDB (the rows then hold this set again).
    quint8 roiLoadFault[SlotCount] = {};
    quint8 detectLoadFault[DetectCount] = {};

private:
    void clearLists();
};

// A camera station hands its live area set to a thermal driver inside a
// QVariant, under the type name "CammerSingleton *".
Q_DECLARE_METATYPE(CammerSingleton*)
// Registers that name once and returns the type's id.
int cammerSingletonMetaTypeId();
