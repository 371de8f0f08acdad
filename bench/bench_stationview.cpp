// Paint time of the camera station view against the baseline of converting
// the whole frame to RGB32, writing the overlays into it, scaling it with a
// fast transformation and drawing it, with the same areas and labels on top.
// Frames of 640 x 480, 1280 x 1024 and 2448 x 2048 grey with 50 labelled areas
// of mixed results and one 8,095-point polygon, at the tile size of eight
// cameras on a 1920 x 1080 screen and at single-camera size.
#include "benchsupport.h"
#include "cameraregistry.h"
#include "cammersingleton.h"
#include "cammerwidget.h"
#include "clustomrect.h"
#include "globals.h"
#include "imagehelpers.h"
#include "repolygon.h"
#include "quietstationhost.h"
#include "registeredstate.h"
#include "sqlitetestutil.h"
#include "systemparam.h"
#include "texttable.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QPainter>
#include <QSqlDatabase>
#include <QTemporaryDir>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <memory>
#include <vector>

namespace {

struct BenchHost : QuietStationHost {
    // Camera 0 shown in the alarm view: blink, tints and areas all drawn.
    RegisteredOperatingState state;
    BenchHost() { state.setScreenMode(Alarm); }
};

std::unique_ptr<CammerWidget> makeStation(int fw, int fh, QSize size)
{
    auto w = std::make_unique<CammerWidget>(nullptr, 0, nullptr);
    w->hide();
    CameraStation& st = w->station();
    StationData& d = st.data;
    d.allocate(fw, fh, false, 1, 1);
    st.viewBuffer.assign(std::size_t(d.pixelCount), 0);
    for (int y = 0; y < fh; ++y) {
        for (int x = 0; x < fw; ++x) {
            d.displayBuffer[std::size_t(y) * std::size_t(fw) + std::size_t(x)] = uchar((x * 7 + y * 3) & 0xFF);
        }
    }
    w->resize(size);
    st.imageScaleX = float(size.width()) / float(fw);
    st.imageScaleY = float(size.height()) / float(fh);
    CammerSingleton& set = *st.pLiveSingleton;
    d.overlayMask.assign(std::size_t(d.pixelCount), 0);
    for (int i = 0; i < 50; ++i) {
        const int cw = fw / 12;
        const int ch = fh / 7;
        const int x = 10 + (i % 10) * (fw - 20) / 10;
        const int y = 10 + (i / 10) * (fh - 20) / 5;
        auto* r = new ClustomRect(x, y, x + cw, y + ch);
        r->updateBounds();
        set.roiLists[0].append(r);
        set.roiShapeType[i] = r->type();
        set.roiFunction[i] = FuncDefect;
        set.roiUpper[i] = 100;
        d.roiValue[i] = i * 13;
        d.roiOk[i] = quint8(i % 3 != 0);
        for (int yy = y + ch / 4; yy < y + ch / 2; ++yy) {
            std::memset(d.overlayMask.data() + std::size_t(yy) * std::size_t(fw) + std::size_t(x + cw / 4), 255,
                        std::size_t(cw / 4));
        }
    }
    std::vector<QPoint> pts(8095);
    for (int k = 0; k < 8095; ++k) {
        const double a = 2 * M_PI * k / 8095.0;
        pts[std::size_t(k)] = QPoint(int(fw / 2 + fw / 4 * std::cos(a)), int(fh / 2 + fh / 4 * std::sin(a)));
    }
    auto* g = new RePolygon(8095, pts.data());
    g->updateBounds();
    set.roiLists[0].append(g);
    set.roiShapeType[50] = g->type();
    set.roiCount[0] = 51;
    d.resultOk = 0;
    st.blinkState = 1;
    return w;
}

// The view as first built: the whole frame converted, overlays on it, scaled
// once to the widget and drawn, then the same areas and labels.
void paintBaseline(CammerWidget& w, QImage& target)
{
    CameraStation& st = w.station();
    StationData& d = st.data;
    grayToRgb32(d.displayBuffer.data(), reinterpret_cast<uchar*>(st.viewBuffer.data()), d.imageWidth,
                d.imageHeight);
    const CammerSingleton& set = *st.pLiveSingleton;
    for (int i = 0; i < set.roiCount[0]; ++i) {
        if (d.roiOk[i] != 0) continue;
        const QRect r = set.roiLists[0][i]->normalized().intersected(QRect(0, 0, d.imageWidth, d.imageHeight));
        for (int y = r.top(); y <= r.bottom(); ++y) {
            for (int x = r.left(); x <= r.right(); ++x) {
                const std::size_t k = std::size_t(y) * std::size_t(d.imageWidth) + std::size_t(x);
                if (d.overlayMask[k]) st.viewBuffer[k] = 0xFF0000u;
            }
        }
    }
    const QImage view(reinterpret_cast<const uchar*>(st.viewBuffer.data()), d.imageWidth, d.imageHeight,
                      QImage::Format_RGB32);
    QPainter p(&target);
    p.drawImage(0, 0, view.scaled(w.size(), Qt::IgnoreAspectRatio, Qt::FastTransformation));
    QFont font(QStringLiteral("SimHei"));
    font.setPixelSize(30);
    p.setFont(font);
    for (int i = 0; i < set.roiCount[0]; ++i) {
        const ROIInterface* s = set.roiLists[0][i];
        const QColor c = d.roiOk[i] ? Qt::green : Qt::red;
        p.setPen(c);
        s->drawScaled(&p, st.imageScaleX, st.imageScaleY);
        const QPoint a = s->anchorPoint();
        const int ax = int(a.x() * st.imageScaleX);
        const int ay = int(a.y() * st.imageScaleY);
        p.drawText(QRect(ax + 10, ay > 26 ? ay - 26 : ay, 400, 25), Qt::AlignLeft | Qt::AlignVCenter,
                   w.areaLabel(set, 0, i));
    }
}

} // namespace

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    initTextTable();
    QTemporaryDir scratch;
    QDir::setCurrent(scratch.path());
    openStationParamDatabase(scratch.filePath(QStringLiteral("PARAM.db")), 1);
    SystemParam params{};
    params.clear();
    params.showAllAlgoParams() = 1;
    gpSystemParam = &params;
    gDetectCount = 1;
    gTemplateCount = 1;
    gCameraCount = 1;
    gImageSource = 1;
    gScreenWidth = 1920;
    gScreenHeight = 1080;
    BenchHost host;
    setStationHost(&host);

    const QSize sizes[] = {QSize(480, 490), QSize(1920, 960)};
    const QSize frames[] = {QSize(640, 480), QSize(1280, 1024), QSize(2448, 2048)};
    std::printf("%-11s %-9s %9s %9s %9s %9s %7s %13s %9s\n", "frame", "widget", "ours p50", "ours p99", "base p50",
                "base p99", "ratio", "8 stations ms", "same px");
    for (QSize f : frames) {
        for (QSize s : sizes) {
            auto w = makeStation(f.width(), f.height(), s);
            QImage ours(s, QImage::Format_RGB32);
            QImage base(s, QImage::Format_RGB32);
            std::vector<double> tOurs, tBase;
            for (int run = 0; run < 30; ++run) {
                QElapsedTimer t;
                t.start();
                w->render(&ours);
                tOurs.push_back(double(t.nsecsElapsed()) / 1e6);
                t.restart();
                paintBaseline(*w, base);
                tBase.push_back(double(t.nsecsElapsed()) / 1e6);
            }
            // Same picture: without areas, each pixel must be the baseline's
            // or the frame's neighbouring pixel in the same row or column.
            CammerSingleton& set = *w->station().pLiveSingleton;
            const int keep = set.roiCount[0];
            set.roiCount[0] = 0;
            w->render(&ours);
            paintBaseline(*w, base);
            set.roiCount[0] = keep;
            qint64 same = 0;
            for (int y = 0; y < s.height(); ++y) {
                const QRgb* a = reinterpret_cast<const QRgb*>(ours.constScanLine(y));
                for (int x = 0; x < s.width(); ++x) {
                    bool ok = (a[x] & 0xFFFFFF) == (base.pixel(x, y) & 0xFFFFFF);
                    for (int dx = -1; dx <= 1 && !ok; ++dx) {
                        for (int dy = -1; dy <= 1 && !ok; ++dy) {
                            const int xx = std::clamp(x + dx, 0, s.width() - 1);
                            const int yy = std::clamp(y + dy, 0, s.height() - 1);
                            ok = (a[x] & 0xFFFFFF) == (base.pixel(xx, yy) & 0xFFFFFF);
                        }
                    }
                    same += ok;
                }
            }
            const double p50 = percentile(tOurs, 0.5);
            const double b50 = percentile(tBase, 0.5);
            std::printf("%4dx%-6d %4dx%-4d %9.2f %9.2f %9.2f %9.2f %7.2f %13.1f %8.2f%%\n", f.width(), f.height(),
                        s.width(), s.height(), p50, percentile(tOurs, 0.99), b50, percentile(tBase, 0.99),
                        b50 / std::max(p50, 1e-6), 8 * p50,
                        100.0 * double(same) / double(qint64(s.width()) * s.height()));
        }
    }
    clearStationHost(&host);
    gpSystemParam = nullptr;
    QSqlDatabase::database(CammerSingleton::ParamConnection, false).close();
    QSqlDatabase::removeDatabase(CammerSingleton::ParamConnection);
    return 0;
}
