#pragma once

#include <QString>
#include <QStringList>
#include <QtGlobal>

#include <vector>

class CammerSingleton;
struct SystemParam;

// The decisions of the area-setting panel that need no screen: which detect
// an entry edits, which tools a state shows, which sample slot a new template
// takes and what the operation log says about a save. The panel calls these;
// tests drive them with tables.
namespace AreaPanelLogic {

// Texts this panel adds to the table.
constexpr int TextSaveQuestion = 666;
constexpr int TextAngleCorrect = 667;
constexpr int TextAreasNotSaved = 668;
constexpr int TextTemplateNotSaved = 669;

// The panel's widgets in layout order; bit i of a visibility mask is widget i.
enum Widget {
    WReturn = 0,
    WSource,
    WCamera,
    WDetect,
    WChangeOp,
    WEditArea,
    WNoCheckCur,
    WDrawRect,
    WTempLast,
    WAddTemp,
    WDrawCircle,
    WTempNext,
    WDrawPolygon,
    WTempDeleteCur,
    WDrawHand,
    WCopyArea,
    WDeleteRoi,
    WReCheck,
    WDeleteAllRoi,
    WAutoChange,
    WidgetCount
};

// The detect an entry into area setting edits, from the detect of the running
// cycle. In the alarm review the running detect is kept.
int entryDetect(const SystemParam& p, int curDetect, int detectCount, bool alarmReview);

// Which widgets a state shows (bit per Widget). editingAreas: the template
// source shows the area tools.
quint32 visibleWidgets(int source, int editingAreas, bool alarmReview, int cameraCount);

// The detect shown instead when a product detect is chosen while product
// detection is off: its own cavity detect, so the right side stays right.
inline int productOffFallback(int detect) { return detect + 1; }

// Sample slot of a file name as the station writes it: "template<n>.bmp" with n
// a plain decimal number without sign or leading zero. -1 for any other name
// (slot 0 has no such name on purpose: it is never replaced here).
int replaceableSlotOfName(const QString& fileName);

// The slot a new sample of a detect takes.
struct SlotChoice {
    int slot = -1;          // -1: no slot can take it
    bool replaces = false;  // a stored sample is overwritten
    QString removeFile;     // a file left from a larger library, to delete first
};
// valid: the detect's slot flags; count: occupied slots; templateCount: the
// library size; folder: the station folder of the detect. A library that is not
// full gives its lowest free slot; a full one the oldest stored sample other
// than slot 0 (by file time), a number beyond the library meaning the last slot.
SlotChoice chooseAddSlot(const std::vector<qint32>& valid, int count, int templateCount, const QString& folder);

// Name of a detect for the log and the titles: "成品"/"模腔" on a standard
// machine, "左成品" .. "右模腔" on the other types.
QString detectName(int machineType, int detect);

// The operation-log rows of one camera's save: each row the camera/detect
// prefix followed by one sentence per added, deleted or changed area.
// positionTouched tells whether a positioning or angle-correction area was
// involved (the alignment must then be retrained).
QStringList areaChangeRows(const CammerSingleton& saved, const CammerSingleton& edited, int camera,
                           int machineType, int detectCount, bool* positionTouched);

} // namespace AreaPanelLogic
