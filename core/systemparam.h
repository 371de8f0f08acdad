#pragma once

#include "systemcounts.h"

#include <QByteArray>
#include <QString>
#include <QtGlobal>

#include <climits>
#include <cstring>
#include <type_traits>

// The machine-wide settings record: 350 signed 32-bit slots addressed by number.
// It is copied and compared as one block, so it must stay a plain array; the
// named accessors below are only names for slots, never extra members.
struct SystemParam {
    static constexpr int SlotCount = 350;
    // Slots 202 to 226 hold the operator password as NUL-terminated Latin-1 text.
    static constexpr int PasswordSlot = 202;
    static constexpr int PasswordBytes = 100;
    static constexpr int PasswordMaxLength = PasswordBytes - 1;

    qint32 value[SlotCount];

    qint32& operator[](int slot) { return value[slot]; }
    qint32 operator[](int slot) const { return value[slot]; }

    // Whole-record operations: the settings screens decide "changed or not" on
    // the raw 1400 bytes, so the comparison is byte-wise on purpose.
    bool operator==(const SystemParam& other) const { return std::memcmp(value, other.value, sizeof value) == 0; }
    bool operator!=(const SystemParam& other) const { return !(*this == other); }
    void clear() { std::memset(value, 0, sizeof value); }

#define KORVANE_SLOT(name, slot)                 \
    qint32& name() { return value[slot]; }       \
    qint32 name() const { return value[slot]; }
#define KORVANE_SLOTS(name, first, count)                                  \
    qint32& name(int i) { Q_ASSERT(i >= 0 && i < (count)); return value[(first) + i]; } \
    qint32 name(int i) const { Q_ASSERT(i >= 0 && i < (count)); return value[(first) + i]; }

    // Per camera c = 0..7.
    KORVANE_SLOTS(exposeTime, 0, 8)     // exposure; REST thermal camera: emissivity x 100
    KORVANE_SLOTS(adjustPlus, 8, 8)     // gain; REST thermal camera: reflected temperature
    KORVANE_SLOTS(sharp, 16, 8)         // sharpness; REST thermal camera: ambient temperature
    KORVANE_SLOTS(contrast, 24, 8)      // contrast; infrared network camera: temperature range
    KORVANE_SLOTS(gamma, 32, 8)         // gamma; REST thermal camera: target distance x 100
    KORVANE_SLOTS(mirrorH, 40, 8)
    KORVANE_SLOTS(mirrorV, 48, 8)
    KORVANE_SLOTS(distance, 56, 8)      // infrared network camera target distance
    KORVANE_SLOTS(tempRange, 64, 8)
    // Per detect k = 0..7, in 0.1 s.
    KORVANE_SLOTS(trigInDelay, 72, 8)
    // Run-time: trigger input of detect 0 and 1 (255 = none of them).
    KORVANE_SLOTS(trigInput, 81, 2)
    KORVANE_SLOTS(inputInvert, 99, 8)
    // Rest level of machine output i = 0..9; 113..117 follow 112.
    KORVANE_SLOTS(outInitState, 108, 10)
    KORVANE_SLOT(semiAuto, 118)
    // Run-time: detect k = 0..3 takes part in the cycle.
    KORVANE_SLOTS(detectEnabled, 119, 4)
    KORVANE_SLOT(syncCavityParams, 127)
    KORVANE_SLOT(noClampWhenStopped, 128)
    KORVANE_SLOT(motionCorrect, 129)    // -1 off, 0 on
    KORVANE_SLOT(cutEjectorWhenClamp, 130)
    KORVANE_SLOT(isPswUsed, 131)
    KORVANE_SLOT(autoTemplateUpdate, 132)
    KORVANE_SLOT(productDetect, 133)
    KORVANE_SLOT(snCount, 134)          // run-time: saved camera serial numbers
    KORVANE_SLOT(maxTemplates, 135)
    KORVANE_SLOT(ngImageKeep, 136)
    KORVANE_SLOT(okImageKeep, 137)
    KORVANE_SLOT(screenOffSec, 138)
    KORVANE_SLOT(grabSpeed, 139)
    KORVANE_SLOT(diffFactor, 140)
    KORVANE_SLOT(logoutSec, 141)
    KORVANE_SLOT(reCheckCount, 143)
    KORVANE_SLOT(ejectorPulse, 144)     // 100 ms steps
    KORVANE_SLOT(clampPulse, 145)       // 100 ms steps
    KORVANE_SLOT(inputTimeoutSec, 146)
    KORVANE_SLOT(debounce, 147)         // 100 ms steps
    KORVANE_SLOT(alarmDuration, 148)    // 100 ms steps
    KORVANE_SLOT(filterSize, 149)
    KORVANE_SLOT(alarmArea, 150)
    KORVANE_SLOT(productNoEjector, 151)
    KORVANE_SLOT(ejectorPulseOnNg, 152)
    KORVANE_SLOT(spareInput4Use, 153)
    KORVANE_SLOT(cutClampAfterOk, 154)
    KORVANE_SLOT(cutEjectorAfterOk, 155)
    KORVANE_SLOT(okNgPulse, 156)
    KORVANE_SLOT(cutEjectorOnAlarm, 157)
    KORVANE_SLOT(cutClampOnAlarm, 158)
    KORVANE_SLOT(separateSignals, 159)
    KORVANE_SLOT(tempAlarmNoStop, 160)
    KORVANE_SLOT(pswNoDetect, 161)
    KORVANE_SLOT(pswAddTemplate, 162)
    KORVANE_SLOT(pswStopDetect, 163)
    KORVANE_SLOT(doorClearsAlarm, 164)
    KORVANE_SLOT(algoDefect, 165)
    KORVANE_SLOT(algoSpot, 166)
    KORVANE_SLOT(algoIgnoreArea, 167)
    KORVANE_SLOT(manualLocateArea, 168)
    KORVANE_SLOT(showAllAlgoParams, 169)
    KORVANE_SLOT(doorTriggersDetect, 170)
    KORVANE_SLOT(statisticsOn, 172)
    KORVANE_SLOT(spareOutput4Use, 173)
    KORVANE_SLOT(maxOffset, 174)
    KORVANE_SLOT(templateIsNg, 175)
    KORVANE_SLOT(liveRoiShow, 176)
    KORVANE_SLOT(logEnabled, 177)
    KORVANE_SLOT(matchBrightness, 179)
    KORVANE_SLOT(angleCorrect, 180)
    KORVANE_SLOT(ioComPort, 181)
    KORVANE_SLOT(colorCamera, 182)
    KORVANE_SLOT(grayChannel, 183)
    KORVANE_SLOT(noLensOptimize, 184)
    KORVANE_SLOT(minSpot, 185)
    KORVANE_SLOT(showManualCapture, 186)
    KORVANE_SLOT(tempChartOn, 187)
    KORVANE_SLOT(showFactoryParams, 188)
    KORVANE_SLOT(systemFunction, 189)     // machine type in force: 0 standard, 1 two-colour, 2 rotary
    KORVANE_SLOT(systemFunctionEdit, 190) // machine type as edited; stored in place of 189
    KORVANE_SLOT(mouldSide, 191)
    KORVANE_SLOT(preCutClamp, 192)      // 0.1 s
    KORVANE_SLOT(autoExposure, 193)
    KORVANE_SLOT(autoShading, 194)
    KORVANE_SLOT(algoBlackArea, 195)
    KORVANE_SLOT(algoWhiteArea, 196)
    KORVANE_SLOT(algoWhiteCount, 197)
    KORVANE_SLOT(tempAlarm, 198)
    KORVANE_SLOT(algoSimilarity, 199)
    KORVANE_SLOT(rotateCorrect, 200)
    KORVANE_SLOT(spare, 201)            // every stored position without a slot of its own
    KORVANE_SLOT(detectCount, 228)      // custom I/O assignment only; not gDetectCount
    KORVANE_SLOTS(outputDetect, 229, 10)
    KORVANE_SLOTS(detectTrigIn, 239, 10)
    KORVANE_SLOTS(detectCutMode, 249, 10)
    KORVANE_SLOTS(inputNameIdx, 270, 10)
    KORVANE_SLOTS(outputNameIdx, 280, 10)
    KORVANE_SLOT(typeApplied, 290)      // run-time: set to 4 whenever a machine type is applied
    KORVANE_SLOT(externalTrigger, 306)
    KORVANE_SLOT(tempRecordMin, 307)    // minutes between regular temperature recordings
    KORVANE_SLOT(paraGroupIndex, 340)   // run-time: kept in sysadd.txt
    KORVANE_SLOT(pulseDelayIn3, 341)    // 100 ms steps
    KORVANE_SLOT(pulseDelayIn4, 342)    // 100 ms steps

#undef KORVANE_SLOT
#undef KORVANE_SLOTS

    // The password bytes (slots 202 to 226).
    char* password() { return reinterpret_cast<char*>(value + PasswordSlot); }
    const char* password() const { return reinterpret_cast<const char*>(value + PasswordSlot); }
    // The password as stored: the bytes up to the NUL, never more than 99 of
    // them, even when a damaged record has no NUL in its 100 bytes.
    QByteArray passwordLatin1() const;
    QString passwordText() const { return QString::fromLatin1(passwordLatin1()); }
    // Stores at most 99 bytes followed by NULs up to the end of the password
    // slots (so that two records holding the same password compare equal).
    // Returns false and leaves the slots as they were for a longer text.
    bool setPasswordLatin1(const QByteArray& latin1);
    // Returns false for text longer than 99 characters or with characters
    // outside Latin-1, which the stored password cannot hold.
    bool setPasswordText(const QString& text);

    // Timer intervals in milliseconds, in 64 bits: a stored value near 2^31
    // multiplied by 100 or 1000 must not wrap into a negative interval.
    qint64 trigInDelayMs(int k) const { return qint64(trigInDelay(k)) * 100; }
    qint64 ejectorPulseMs() const { return qint64(ejectorPulse()) * 100; }
    qint64 clampPulseMs() const { return qint64(clampPulse()) * 100; }
    qint64 preCutClampMs() const { return qint64(preCutClamp()) * 100; }
    qint64 debounceMs() const { return qint64(debounce()) * 100; }
    qint64 alarmDurationMs() const { return qint64(alarmDuration()) * 100; }
    qint64 pulseDelayIn3Ms() const { return qint64(pulseDelayIn3()) * 100; }
    qint64 pulseDelayIn4Ms() const { return qint64(pulseDelayIn4()) * 100; }
    qint64 inputTimeoutMs() const { return qint64(inputTimeoutSec()) * 1000; }
    qint64 screenOffMs() const { return qint64(screenOffSec()) * 1000; }
    qint64 logoutMs() const { return qint64(logoutSec()) * 1000; }
    qint64 tempRecordMs() const { return qint64(tempRecordMin()) * 60000; }
};
static_assert(sizeof(SystemParam) == 1400, "SystemParam must be exactly 350 slots");
static_assert(std::is_trivially_copyable<SystemParam>::value, "SystemParam is copied as one block");
static_assert(std::is_standard_layout<SystemParam>::value, "SystemParam is a plain array");

// A QTimer interval from a 64-bit millisecond count: at least 1 ms, because a
// repeating timer of 0 ms would spin the event loop, and at most INT_MAX.
inline int timerIntervalMs(qint64 ms)
{
    return ms < 1 ? 1 : ms > INT_MAX ? INT_MAX : int(ms);
}

// The live record every part of the system reads, and the settings screens' copy.
extern SystemParam* gpSystemParam;
extern SystemParam* gpSystemParamEdit;

// Writes the defaults into the record and touches no other slot; returns the
// record. Allocate records value-initialised (new SystemParam()) so that the
// slots the defaults leave alone start at 0.
SystemParam* initSysParamDefaults(SystemParam* record);

// The record of the factory parameter group: the defaults plus a sound value
// for every stored setting. Every value lies inside its load limits.
SystemParam factorySysParam();
// UI language stored with the factory record (0 Simplified Chinese).
constexpr int kFactoryLanguage = 0;

// Applies the limits the loader enforces after reading (including the machine
// type copy 190 = 189 and the rule that at least one inspection function is
// offered). The UI language is limited by the loader itself (gLanguage).
void clampSysParam(SystemParam* record);

// Process-wide values worked out from the loaded record.
// Detects per camera: 2 on a standard machine, 4 on two-colour and rotary
// machines; set once by loadSysParam.
extern int gDetectCount;
// Copied from the live record by the main window right after loadSysParam
// (copySysParamGlobals); not refreshed when the record changes later.
extern int gStatisticsEnabled;
extern int gTemplateCount;
extern int gMaxNgImages;
extern int gMaxOkImages;
extern int gComPort;
extern int gColorToGray;
extern int gLensOptimize;
extern int gColorMode;
void copySysParamGlobals(const SystemParam& record);

// Camera serial numbers of the SN.db rows serialNB0 to serialNB7: 8 texts of up
// to 99 characters and their NUL; they fix the camera order.
constexpr int kCameraSerialSlots = MaxCameras;
constexpr int kCameraSerialBytes = 100;
extern char cameraSerials[kCameraSerialSlots][kCameraSerialBytes];

// Eighteen texts, empty at program start; the loader leaves them empty, since
// name.txt counts only by its presence.
extern QString gNameTxtLines[18];
