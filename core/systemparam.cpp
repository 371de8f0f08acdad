#include "systemparam.h"

#include <algorithm>

SystemParam* gpSystemParam = nullptr;
SystemParam* gpSystemParamEdit = nullptr;

int gDetectCount = 2;
int gStatisticsEnabled = 0;
int gTemplateCount = 0;
int gMaxNgImages = 0;
int gMaxOkImages = 0;
int gComPort = 0;
int gColorToGray = 0;
int gLensOptimize = 0;
int gColorMode = 0;
char cameraSerials[kCameraSerialSlots][kCameraSerialBytes] = {};
QString gNameTxtLines[18];

QByteArray SystemParam::passwordLatin1() const
{
    const char* bytes = password();
    int length = 0;
    while (length < PasswordMaxLength && bytes[length] != '\0') {
        ++length;
    }
    return QByteArray(bytes, length);
}

bool SystemParam::setPasswordLatin1(const QByteArray& latin1)
{
    if (latin1.size() > PasswordMaxLength) {
        return false;
    }
    char* bytes = password();
    std::memset(bytes, 0, PasswordBytes);
    std::memcpy(bytes, latin1.constData(), size_t(latin1.size()));
    return true;
}

bool SystemParam::setPasswordText(const QString& text)
{
    for (const QChar ch : text) {
        if (ch.unicode() > 0xff) {
            return false;
        }
    }
    return setPasswordLatin1(text.toLatin1());
}

namespace {

void fill(SystemParam* record, int first, int last, qint32 v)
{
    for (int slot = first; slot <= last; ++slot) {
        (*record)[slot] = v;
    }
}

// A slot whose loaded value must lie in lo..hi, else it becomes fallback.
struct Limit {
    int slot;
    qint32 lo;
    qint32 hi;
    qint32 fallback;
};

// In the order the loader applies them, after the per-camera limits.
// The trigger delays, output-4 delays, debounce, alarm length, input time-out
// and recording interval are timer intervals: they are held to what their
// editors allow, so that no stored value can overflow or stall a timer.
constexpr Limit kLimits[] = {
    {228, 2, 8, 2},
    {189, 0, 2, 0},
    {192, 0, 10000, 0},
    {143, 0, 10000, 0},
    {149, 1, 100, 3},
    {150, 1, 100000, 100},
    {135, 1, 100, 10},
    {136, 0, 10000, 0},
    {137, 0, 10000, 0},
    {144, 0, 10000, 0},
    {145, 0, 10000, 0},
    {200, 0, 180, 0},
    {141, 0, 10000, 0},
    {140, 0, 4, 0},
    {174, 1, 8000, 8000},
    {139, 0, 100, 12},
    {146, 0, 10000, 60},
    {181, 0, 100, 0},
    {185, 1, 100, 3},
    {201, 0, 100000000, 0},
    {72, 0, 10000, 0},
    {73, 0, 10000, 0},
    {74, 0, 10000, 0},
    {75, 0, 10000, 0},
    {76, 0, 10000, 0},
    {77, 0, 10000, 0},
    {78, 0, 10000, 0},
    {79, 0, 10000, 0},
    {341, 0, 10000, 0},
    {342, 0, 10000, 0},
    {147, 0, 100, 0},
    {148, 0, 100, 10},
    // A recording interval of 0 minutes would be a timer firing without pause.
    {307, 1, 100, 30},
};

void limit(qint32& v, qint32 lo, qint32 hi, qint32 fallback)
{
    if (v < lo || v > hi) {
        v = fallback;
    }
}

} // namespace

SystemParam* initSysParamDefaults(SystemParam* record)
{
    fill(record, 40, 55, 0);
    record->trigInput(0) = 0;
    fill(record, 99, 106, 0);
    fill(record, 108, 117, 1);
    record->detectEnabled(0) = 0;
    record->detectEnabled(1) = 1;
    fill(record, 121, 126, 0);
    fill(record, 159, 160, 0);
    fill(record, 179, 180, 0);
    record->detectCount() = 2;
    fill(record, 229, 258, 0);
    fill(record, 270, 289, 0);
    record->tempRecordMin() = 30;
    fill(record, 308, 339, 0);
    return record;
}

void clampSysParam(SystemParam* r)
{
    for (int c = 0; c < MaxCameras; ++c) {
        limit(r->exposeTime(c), 0, 10000, 30);
        limit(r->adjustPlus(c), 0, 10000, 32);
        limit(r->sharp(c), 0, 10000, 0);
        limit(r->contrast(c), 0, 10000, 50);
        limit(r->gamma(c), 0, 10000, 70);
        limit(r->tempRange(c), 0, 2, 1);
    }
    for (const Limit& l : kLimits) {
        limit((*r)[l.slot], l.lo, l.hi, l.fallback);
        if (l.slot == 189) {
            r->systemFunctionEdit() = r->systemFunction();
        }
    }
    if (r->motionCorrect() != -1 && r->motionCorrect() != 0) {
        r->motionCorrect() = -1;
    }
    if (r->screenOffSec() != 0 && (r->screenOffSec() < 30 || r->screenOffSec() > 9999)) {
        r->screenOffSec() = 600;
    }
    // At least the defect function must be offered in the area editor.
    if (r->algoDefect() == 0 && r->algoSpot() == 0 && r->algoBlackArea() == 0 && r->algoWhiteArea() == 0
        && r->algoSimilarity() == 0 && r->algoWhiteCount() == 0) {
        r->algoDefect() = 1;
    }
}

SystemParam factorySysParam()
{
    SystemParam r;
    r.clear();
    initSysParamDefaults(&r);
    for (int c = 0; c < MaxCameras; ++c) {
        r.exposeTime(c) = 30;
        r.adjustPlus(c) = 32;
        r.sharp(c) = 0;
        r.contrast(c) = 50;
        r.gamma(c) = 70;
        r.tempRange(c) = 1;
    }
    for (int k = 0; k < DetectsPerCamera; ++k) {
        r.trigInDelay(k) = 10;
    }
    r.motionCorrect() = -1;
    r.maxTemplates() = 10;
    r.ngImageKeep() = 100;
    r.okImageKeep() = 0;
    r.screenOffSec() = 600;
    r.grabSpeed() = 12;
    r.diffFactor() = 2;
    r.inputTimeoutSec() = 60;
    r.debounce() = 1;
    r.alarmDuration() = 10;
    r.filterSize() = 3;
    r.alarmArea() = 100;
    r.reCheckCount() = 1;
    r.algoDefect() = 1;
    r.algoSpot() = 1;
    r.algoIgnoreArea() = 1;
    r.algoBlackArea() = 1;
    r.algoWhiteArea() = 1;
    r.algoWhiteCount() = 1;
    r.algoSimilarity() = 1;
    r.statisticsOn() = 1;
    r.maxOffset() = 8000;
    r.liveRoiShow() = 1;
    r.minSpot() = 3;
    r.tempChartOn() = 1;
    r.detectCount() = 2;
    r.tempRecordMin() = 30;
    return r;
}

void copySysParamGlobals(const SystemParam& record)
{
    gStatisticsEnabled = record.statisticsOn();
    gTemplateCount = record.maxTemplates();
    gMaxNgImages = record.ngImageKeep();
    gMaxOkImages = record.okImageKeep();
    gComPort = record.ioComPort();
    gColorToGray = record.grayChannel();
    // 64-bit so that a damaged stored value cannot overflow.
    gLensOptimize = qint32(1 - qint64(record.noLensOptimize()));
    gColorMode = record.colorCamera();
}
