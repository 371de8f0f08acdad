// Screenshot tour of the area-setting panel: the tool column in each source
// and state, drawn at the right edge of the screen with the title the panel
// hands to the camera tiles. Usage: areapaneltour <output folder> <width> <height>
// Pictures go to <output folder>/<width>x<height>/<language>/.
#include "areapanelhost.h"
#include "cameraregistry.h"
#include "drawroiwidget.h"
#include "globals.h"
#include "kiticons.h"
#include "mapplication.h"
#include "systemparam.h"
#include "texttable.h"

#include <QApplication>
#include <QDir>
#include <QPainter>
#include <QPushButton>
#include "colorbutton.h"

#include <cstdio>

namespace {

// A window without cameras: the panel's own column is what is looked at here.
struct TourHost : AreaPanelHost {
    int cur = 0, mode = 3, edit = 0;
    CammerWidget* cammer(int) override { return nullptr; }
    int curCamera() override { return cur; }
    void setCurCamera(int c) override { cur = c; }
    int curDetect() override { return 1; }
    int editDetect() override { return edit; }
    void setEditDetect(int d) override { edit = d; }
    int drawMode() override { return 0; }
    void setDrawMode(int) override {}
    void setFreehandMode(int) override {}
    int copyAreaMode() override { return 0; }
    void setCopyAreaMode(int) override {}
    int screenMode() override { return mode; }
    void setScreenModeValue(int m) override { mode = m; }
    int userLevel() override { return 2; }
    int pendingCameras(int) override { return 0; }
    void setPendingCameras(int, int) override {}
    int resultState(int, int) override { return 0; }
    void setResultState(int, int, int) override {}
    bool lastCycleNg() override { return true; }
    bool samplingReview() override { return false; }
    void setSamplingReview(bool) override {}
    QString recordDir(int, int, int) override { return QStringLiteral("./no-records"); }
    int CheckUserLogin() override { return 1; }
    void ChangeCammer() override {}
    void SetScreenMode(int) override {}
    void ResetRun() override {}
    void RunAlgorithm(int, int) override {}
    void CheckNG(bool) override {}
    void InsertRecord(const QString&) override {}
    void BackTrain() override {}
    void setOutput(int, int) override {}
    void commitOutputs() override {}
    void hideImagePicker() override {}
    void selectPickerDetect(int) override {}
    void repaintWindow() override {}
};

void shoot(const QString& out, const QString& name, DrawROIWidget* panel, const QString& title)
{
    QImage canvas(gScreenWidth, gScreenHeight, QImage::Format_RGB32);
    canvas.fill(QColor(QStringLiteral("#1E1E1E")));
    QPainter painter(&canvas);
    panel->setGeometry(gScreenWidth - 100, 0, 100, gScreenHeight);
    panel->show();
    QApplication::processEvents();
    if (qEnvironmentVariableIsSet("TOUR_DEBUG")) {
        std::fprintf(stderr, "%s panel %d rect %d combo %d\n", qPrintable(name), panel->height(),
                     panel->pCButtonDrawRect->height(), panel->pComboChangeSource->height());
    }
    painter.drawPixmap(gScreenWidth - 100, 0, panel->grab());
    // The tile's area-setting title, as the window shows it.
    painter.fillRect(QRect(0, 0, gScreenWidth - 100, 40), QColor(QStringLiteral("#353D45")));
    painter.setPen(Qt::white);
    painter.setFont(QFont(QStringLiteral("SimHei"), 14));
    painter.drawText(QRect(10, 0, gScreenWidth - 120, 40), Qt::AlignVCenter | Qt::AlignLeft, title);
    painter.end();
    const QString file = out + QLatin1Char('/') + name + QStringLiteral(".png");
    if (!canvas.save(file)) {
        std::fprintf(stderr, "could not write %s\n", qPrintable(file));
    }
}

} // namespace

int main(int argc, char* argv[])
{
    if (argc != 4) {
        std::fprintf(stderr, "usage: %s <output folder> <width> <height>\n", argv[0]);
        return 2;
    }
    QApplication app(argc, argv);
    installFontSubstitutes();
    ensureKitIcons();
    initTextTable();
    gScreenWidth = QString::fromLocal8Bit(argv[2]).toInt();
    gScreenHeight = QString::fromLocal8Bit(argv[3]).toInt();
    static SystemParam params{};
    params[119] = 1;
    params[120] = 1;
    params.productDetect() = 1;
    gpSystemParam = &params;
    gDetectCount = 2;
    gCameraCount = 2;
    gTemplateCount = 4;
    static const char* const languages[LanguageCount] = {"zh_CN", "en", "zh_TW", "ja"};
    for (gLanguage = 0; gLanguage < LanguageCount; ++gLanguage) {
        const QString out = QStringLiteral("%1/%2x%3/%4")
                                .arg(QString::fromLocal8Bit(argv[1]))
                                .arg(gScreenWidth)
                                .arg(gScreenHeight)
                                .arg(QLatin1String(languages[gLanguage]));
        QDir().mkpath(out);
        TourHost host;
        DrawROIWidget panel;
        panel.setHost(&host);
        QString title;
        QObject::connect(&panel, &DrawROIWidget::recentNgImg, [&title](const QString& t) { title = t; });

        host.mode = 3;
        panel.EnterAreaMode();
        shoot(out, QStringLiteral("01-template-tools"), &panel, title);
        panel.SlotChangeOp();
        shoot(out, QStringLiteral("02-area-tools"), &panel, title);
        panel.SetSourceIndex(2);
        shoot(out, QStringLiteral("03-recent-ng"), &panel, title);
        panel.SetSourceIndex(4);
        shoot(out, QStringLiteral("04-ng-records"), &panel, title);
        host.mode = 2;
        panel.EnterAreaMode();
        shoot(out, QStringLiteral("05-alarm-review-live"), &panel, title);
        panel.SlotAutoChange();
        shoot(out, QStringLiteral("06-alarm-review-template"), &panel, title);
    }
    gpSystemParam = nullptr;
    return 0;
}
