#include "failimagecomposer.h"

#include "camerastation.h"
#include "cammersingleton.h"
#include "failimageslots.h"
#include "globals.h"
#include "roiinterface.h"
#include "systemparam.h"
#include "texttable.h"

#include <QFont>
#include <QPainter>

#include <cstring>
#include <mutex>

namespace FailImageComposer {

namespace {

// Text sizes: a small picture takes the small font on the first line near
// the top; a large one a larger font lower down.
struct TextLayout {
    int points;
    int firstLine;
};

TextLayout layoutFor(int width)
{
    return width <= 640 ? TextLayout{16, 25} : TextLayout{26, 80};
}

QFont pictureFont(int points)
{
    QFont font(QStringLiteral("SimHei"));
    font.setPointSize(points);
    return font;
}

QString limitText(const CammerSingleton& set, int slot)
{
    const SystemParam* p = gpSystemParam;
    const int function = set.roiFunction[slot];
    if (function == FuncDefect && !(p && p->value[169] != 0)) {
        return QString::number(p ? p->alarmArea() : 0);
    }
    switch (function) {
    case FuncSimilarity:
        return QString::number(set.roiLower[slot]);
    case FuncSpot:
        return QStringLiteral("%1--%2").arg(set.roiLower[slot]).arg(set.roiUpper[slot]);
    case FuncTempAlarm:
        return QStringLiteral("%1--%2").arg(set.roiLower[slot] & 0xFFFF).arg(set.roiUpper[slot] & 0xFFFF);
    default:
        return QString::number(set.roiUpper[slot]);
    }
}

} // namespace

QString noteText(int state)
{
    switch (state) {
    case 4:
        return textOf(120) + textOf(47);
    case 5:
        return textOf(120) + textOf(48);
    case 7:
        return textOf(120) + textOf(61);
    case 8:
        return textOf(143);
    default:
        return QString();
    }
}

QString areaLabel(const CameraStation& station, int detect, int v, int imageWidth)
{
    const CammerSingleton& set = *station.pLiveSingleton;
    const int slot = detect * AreasPerDetect + v;
    const QString value = QString::number(station.data.roiValue[slot]);
    int left = 0;
    if (detect < set.roiLists.size() && v < set.roiLists[detect].size() && set.roiLists[detect][v]) {
        left = set.roiLists[detect][v]->left();
    }
    if (set.roiCount[detect] > 10 || imageWidth - left < 165) {
        return QStringLiteral("%1:%2").arg(v + 1).arg(value);
    }
    return QStringLiteral("%1:%2/%3").arg(v + 1).arg(limitText(set, slot), value);
}

QImage compose(CameraStation& station, int detect, int kind, bool doorTrigger)
{
    StationData& data = station.data;
    const int width = data.imageWidth;
    const int height = data.imageHeight;
    const size_t pixels = size_t(std::max(0, data.pixelCount));
    if (width <= 0 || height <= 0 || detect < 0 || detect >= DetectsPerCamera) {
        return QImage();
    }
    std::vector<quint32>& view = station.viewBuffer;
    view.resize(pixels);
    if (gColorMode != 0 && data.lastImage.size() >= pixels * 4) {
        std::memcpy(view.data(), data.lastImage.data(), pixels * 4);
    } else if (data.lastImage.size() >= pixels) {
        for (size_t i = 0; i < pixels; ++i) {
            view[i] = 0xFF000000u | quint32(data.lastImage[i]) * 0x010101u;
        }
    }
    QImage picture(reinterpret_cast<uchar*>(view.data()), width, height, width * 4, QImage::Format_RGB32);
    QPainter painter(&picture);
    const TextLayout layout = layoutFor(width);
    painter.setFont(pictureFont(layout.points));
    const QColor colour = kind == 1 ? Qt::green : Qt::red;
    painter.setPen(colour);
    painter.drawText(5, layout.firstLine, kind == 1 ? QStringLiteral("OK") : QStringLiteral("NG"));
    if (doorTrigger) {
        painter.drawText(5, layout.firstLine + 30, textOf(265));
    }

    const CammerSingleton* set = station.pLiveSingleton.get();
    const int count = set ? std::min<int>(set->roiCount[detect], AreasPerDetect) : 0;
    for (int v = 0; v < count; ++v) {
        const int slot = detect * AreasPerDetect + v;
        const bool ok = data.roiOk[slot] == 1;
        QPen pen(ok ? Qt::green : Qt::red);
        painter.setPen(pen);
        if (!ok) {
            {
                std::lock_guard<std::mutex> lock(*gMutexTable[9]);
                int& first = gFirstNgRoi[data.cameraIndex * DetectsPerCamera + detect];
                if (first == 0) {
                    first = v + 1;
                }
            }
            const qint32* boxes = data.roiBlobs[slot];
            const int n = std::min<int>(boxes[0], StationData::MaxBlobs);
            for (int k = 1; k <= n; ++k) {
                const qint32* b = boxes + 4 * k;
                painter.drawRect(b[0], b[1], b[2] - b[0], b[3] - b[1]);
            }
        }
        const ROIInterface* shape = nullptr;
        if (detect < set->roiLists.size() && v < set->roiLists[detect].size()) {
            shape = set->roiLists[detect][v];
        }
        if (!shape) {
            continue;
        }
        shape->draw(&painter);
        const QPoint anchor = shape->anchorPoint();
        const int y = anchor.y() <= 26 ? anchor.y() : anchor.y() - 26;
        painter.setPen(ok ? Qt::green : Qt::red);
        painter.drawText(QRect(anchor.x(), y, 400, 25), Qt::AlignLeft | Qt::AlignVCenter,
                         areaLabel(station, detect, v, width));
    }
    painter.end();
    return picture;
}

bool SaveFailImage(CameraStation& station, int detect, int kind, bool doorTrigger)
{
    const QImage picture = compose(station, detect, kind, doorTrigger);
    if (picture.isNull()) {
        return false;
    }
    return FailImageSlots::store(station.data.cameraIndex, detect, kind, picture.constBits(),
                                 size_t(picture.sizeInBytes()));
}

bool UpdateFailImage(CameraStation& station, int detect, int kind, int state)
{
    const int width = station.data.imageWidth;
    const int height = station.data.imageHeight;
    if (width <= 0 || height <= 0) {
        return false;
    }
    QImage picture(width, height, QImage::Format_RGB32);
    const size_t bytes = size_t(picture.sizeInBytes());
    if (!FailImageSlots::load(station.data.cameraIndex, detect, kind, picture.bits(), bytes)) {
        return false;
    }
    {
        QPainter painter(&picture);
        const TextLayout layout = layoutFor(width);
        painter.setFont(pictureFont(layout.points));
        painter.setPen(Qt::red);
        painter.drawText(55, layout.firstLine, noteText(state));
    }
    return FailImageSlots::store(station.data.cameraIndex, detect, kind, picture.constBits(), bytes);
}

} // namespace FailImageComposer
