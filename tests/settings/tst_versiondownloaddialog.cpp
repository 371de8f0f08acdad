#include "colorbutton.h"
#include "listingserver.h"
#include "logcapture.h"
#include "modalanswer.h"
#include "testworkdir.h"
#include "texttable.h"
#include "v_selectbox.h"
#include "versiondownloaddialog.h"
#include "warnbox.h"

#include <QButtonGroup>
#include <QDir>
#include <QPushButton>
#include <QtTest>

using Entries = QList<ListingServer::Entry>;

namespace {

// Presses a button of the next box of the version library when it is up:
// the boxes are drawn inside the dialog, so they are found among its children.
void answerNextBox(QWidget* dialog, int buttons, bool first, QStringList* seen)
{
    auto* timer = new QTimer;
    auto tries = std::make_shared<int>(0);
    QObject::connect(timer, &QTimer::timeout, [=] {
        for (v_SelectBox* box : dialog->findChildren<v_SelectBox*>()) {
            if (box->isVisible() && box->buttonCount == buttons) {
                timer->stop();
                timer->deleteLater();
                seen->append(box->message);
                (first ? box->firstButton : box->secondButton)->click();
                return;
            }
        }
        if (++*tries > 2500) {
            timer->stop();
            timer->deleteLater();
        }
    });
    timer->start(2);
}

QStringList visibleVersions(VersionDownloadDialog& dialog, int column)
{
    QStringList names;
    for (QAbstractButton* button : dialog.versionGroups[column]->buttons()) {
        if (button->isVisibleTo(&dialog)) {
            names << button->text();
        }
    }
    return names;
}

}  // namespace

class TstVersionDownloadDialog : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() { initTextTable(); }
    void pagesAtBothScreenSizes_data();
    void pagesAtBothScreenSizes();
    void downloadFromTheButtonsFolder();
    void declinedDownloadLeavesEverything();
    void noNetworkWarns();
};

void TstVersionDownloadDialog::pagesAtBothScreenSizes_data()
{
    QTest::addColumn<int>("screenWidth");
    QTest::addColumn<int>("rows");
    QTest::newRow("panel") << 1920 << 7;
    QTest::newRow("small") << 1024 << 3;
}

void TstVersionDownloadDialog::pagesAtBothScreenSizes()
{
    QFETCH(int, screenWidth);
    QFETCH(int, rows);
    ScreenSize screen(screenWidth, screenWidth == 1920 ? 1080 : 768);
    TestWorkDir dir;
    ListingServer server;
    Entries nine;
    for (int i = 1; i <= 9; ++i) {
        nine << ListingServer::Entry{QStringLiteral("V17.%1.rar").arg(i), 1};
    }
    server.listing("/monitor/", Entries{{"release/", 0}, {"empty/", 0}});
    server.listing("/monitor/release/", nine);
    server.listing("/monitor/empty/", Entries{});
    VersionDownloadDialog dialog(nullptr, MaintenanceFolders(), server.url("/monitor/"));
    QVERIFY(dialog.listFetched);
    QCOMPARE(dialog.titleNames, QStringList({"release", "empty"}));
    QCOMPARE(dialog.rowsPerPage(), rows);
    QCOMPARE(dialog.pageCount, QVector<int>({(9 + rows - 1) / rows, 0}));
    // Only a column with versions has page buttons.
    QCOMPARE(dialog.prevButtons->buttons().size(), 1);
    QCOMPARE(dialog.nextButtons->buttons().size(), 1);

    dialog.show();
    QCOMPARE(visibleVersions(dialog, 0).size(), rows);
    for (QAbstractButton* button : dialog.versionGroups[0]->buttons()) {
        if (button->isVisibleTo(&dialog)) {
            QVERIFY2(button->geometry().bottom() < dialog.height() - 100, "a row lies on the page buttons");
        }
    }
    dialog.prevButtons->button(0)->click();
    QCOMPARE(dialog.currentPage[0], 0);
    for (int i = 0; i < 5; ++i) {
        dialog.nextButtons->button(0)->click();
    }
    QCOMPARE(dialog.currentPage[0], dialog.pageCount[0] - 1);
    const int last = 9 - (dialog.pageCount[0] - 1) * rows;
    QCOMPARE(visibleVersions(dialog, 0).size(), last);
    QCOMPARE(visibleVersions(dialog, 0).last(), QString("V17.9.rar"));
}

void TstVersionDownloadDialog::downloadFromTheButtonsFolder()
{
    ScreenSize screen(1920, 1080);
    TestWorkDir dir;
    dir.write("rud-OVA/korvane", "program");
    MaintenanceFolders folders;
    folders.programFolder = dir.filePath("rud-OVA");
    folders.backupFolder = dir.path();
    ListingServer server;
    server.listing("/monitor/", Entries{{"release/", 0}, {"test/", 0}});
    server.listing("/monitor/release/", Entries{{"V17.4.gz", 7}});
    server.listing("/monitor/test/", Entries{{"V17.4.gz", 4}});
    server.file("/monitor/release/V17.4.gz", "release");
    server.file("/monitor/test/V17.4.gz", "test");
    LogCapture log(LogCapture::Swallow);
    VersionDownloadDialog dialog(nullptr, folders, server.url("/monitor/"));
    dialog.show();

    QStringList seen;
    answerNextBox(&dialog, 2, true, &seen);
    QTimer::singleShot(0, [&] { answerNextBox(&dialog, 1, true, &seen); });
    dialog.versionGroups[1]->button(0)->click();

    QCOMPARE(seen, QStringList({"是否开始下载版本V17.4.gz？", "下载成功\n重启后自动更新"}));
    QCOMPARE(dir.read("rud-OVA/newupdate.gz"), QByteArray("test"));
    QCOMPARE(server.requests("/monitor/release/V17.4.gz"), 0);
    QVERIFY(dialog.exitButton->isEnabled());
    QVERIFY(dialog.versionGroups[0]->button(0)->isEnabled());
}

void TstVersionDownloadDialog::declinedDownloadLeavesEverything()
{
    ScreenSize screen(1024, 768);
    TestWorkDir dir;
    ListingServer server;
    server.listing("/monitor/", Entries{{"V17.4.gz", 7}});
    server.file("/monitor/V17.4.gz", "package");
    MaintenanceFolders folders;
    folders.programFolder = dir.filePath("rud-OVA");
    folders.backupFolder = dir.path();
    VersionDownloadDialog dialog(nullptr, folders, server.url("/monitor/"));
    dialog.show();
    QStringList seen;
    answerNextBox(&dialog, 2, false, &seen);
    dialog.versionGroups[0]->button(0)->click();
    QCOMPARE(seen, QStringList({"是否开始下载版本V17.4.gz？"}));
    QCOMPARE(server.requests("/monitor/V17.4.gz"), 0);
    QVERIFY(dialog.exitButton->isEnabled());
}

void TstVersionDownloadDialog::noNetworkWarns()
{
    ScreenSize screen(1920, 1080);
    TestWorkDir dir;
    QWidget page;
    QPushButton button(&page);
    page.show();
    QString warned;
    // The warning is drawn on the page: it is found among the page's children.
    QTimer poll;
    connect(&poll, &QTimer::timeout, [&] {
        for (Warnbox* box : page.findChildren<Warnbox*>()) {
            if (box->isVisible()) {
                warned = box->message;
                box->closeButton->click();
            }
        }
    });
    poll.start(2);
    LogCapture log(LogCapture::Swallow);
    // No "versionserver.txt" in the working folder: no server is known.
    openVersionLibrary(&page, &button);
    QCOMPARE(warned, QString("网络异常无法访问"));
    QVERIFY(!button.isEnabled());
}

QTEST_MAIN(TstVersionDownloadDialog)
#include "tst_versiondownloaddialog.moc"
