#include "productioncounters.h"

#include <QDebug>
#include <QFile>
#include <QSaveFile>

#include <limits>

qint32 gTotalCount[CounterCameras] = {};
qint32 gNgCount[CounterCameras] = {};
qint32 gTotalCycles = 0;
qint32 gNgCycles = 0;

namespace {

constexpr int CountFileNumbers = 2 * CounterCameras + 2;

void appendPair(QVector<quint16>& registers, qint32 value)
{
    const auto bits = static_cast<quint32>(value);
    registers.append(static_cast<quint16>(bits >> 16));
    registers.append(static_cast<quint16>(bits & 0xFFFFu));
}

// OK counts are not kept: they are what is left of the inspected ones. The
// difference is taken in 64 bits and wrapped like the 32-bit registers do.
qint32 okCount(qint32 total, qint32 ng)
{
    return static_cast<qint32>(static_cast<quint32>(static_cast<qint64>(total) - ng));
}

} // namespace

void clearCounters()
{
    for (int i = 0; i < CounterCameras; ++i) {
        gTotalCount[i] = 0;
        gNgCount[i] = 0;
    }
    gTotalCycles = 0;
    gNgCycles = 0;
}

QByteArray countFileText()
{
    QByteArray text;
    for (int i = 0; i < CounterCameras; ++i) {
        text += QByteArray::number(gTotalCount[i]) + ' ';
        text += QByteArray::number(gNgCount[i]) + ' ';
    }
    text += QByteArray::number(gTotalCycles) + ' ';
    text += QByteArray::number(gNgCycles) + ' ';
    return text;
}

bool writeCountFile(const QString& path)
{
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly)) {
        qWarning() << "count file" << path << "cannot be written:" << file.errorString();
        return false;
    }
    const QByteArray text = countFileText();
    if (file.write(text) != text.size() || !file.commit()) {
        qWarning() << "count file" << path << "not stored:" << file.errorString();
        return false;
    }
    return true;
}

void readCountFile(const QString& path)
{
    clearCounters();
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        return;
    }
    // Eighteen short numbers: anything much longer is not a counter file.
    const QByteArray text = file.read(4096);
    const QList<QByteArray> words = text.simplified().split(' ');

    qint32 values[CountFileNumbers] = {};
    bool damaged = false;
    for (int i = 0; i < CountFileNumbers && i < words.size(); ++i) {
        if (words.at(i).isEmpty()) {
            continue;
        }
        bool ok = false;
        const qlonglong v = words.at(i).toLongLong(&ok);
        if (!ok || v < std::numeric_limits<qint32>::min() || v > std::numeric_limits<qint32>::max()) {
            damaged = true;
            continue;
        }
        values[i] = static_cast<qint32>(v);
    }
    if (damaged) {
        qWarning() << "count file" << path << "holds values that are no counters; they start at 0";
    }

    for (int i = 0; i < CounterCameras; ++i) {
        gTotalCount[i] = values[2 * i];
        gNgCount[i] = values[2 * i + 1];
        if (static_cast<quint32>(gNgCount[i]) > CounterReadLimit) {
            gNgCount[i] = 0;
        }
        if (static_cast<quint32>(gTotalCount[i]) > CounterReadLimit) {
            gTotalCount[i] = 0;
        }
    }
    gTotalCycles = values[2 * CounterCameras];
    gNgCycles = values[2 * CounterCameras + 1];
}

QVector<quint16> counterRegisters(int cameraCount)
{
    cameraCount = qBound(0, cameraCount, CounterCameras);
    QVector<quint16> registers;
    registers.reserve(6 + 6 * cameraCount);
    appendPair(registers, gTotalCycles);
    appendPair(registers, gNgCycles);
    appendPair(registers, okCount(gTotalCycles, gNgCycles));
    for (int c = 0; c < cameraCount; ++c) {
        appendPair(registers, gTotalCount[c]);
        appendPair(registers, gNgCount[c]);
        appendPair(registers, okCount(gTotalCount[c], gNgCount[c]));
    }
    return registers;
}
