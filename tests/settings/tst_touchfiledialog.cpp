#include "touchfiledialog.h"

#include "testworkdir.h"

#include <QAbstractButton>
#include <QComboBox>
#include <QDir>
#include <QFileDialog>
#include <QLineEdit>
#include <QListView>
#include <QTest>

// The update's file chooser: Qt's own dialog made usable by a finger.
class TestTouchFileDialog : public QObject {
    Q_OBJECT
private slots:
    void everythingAFingerHigh();
    void oneTouchOpensAFolder();

private:
    static QModelIndex entryNamed(QListView* view, const QString& name);
};

QModelIndex TestTouchFileDialog::entryNamed(QListView* view, const QString& name)
{
    QAbstractItemModel* model = view->model();
    for (int row = 0; row < model->rowCount(view->rootIndex()); ++row) {
        const QModelIndex index = model->index(row, 0, view->rootIndex());
        if (index.data().toString() == name) {
            return index;
        }
    }
    return QModelIndex();
}

void TestTouchFileDialog::everythingAFingerHigh()
{
    TestWorkDir dir;
    dir.write("usb/V17.4.0.18.tar.gz", "package");
    QFileDialog dialog(nullptr, QStringLiteral("选择投影数据文件目录"), dir.path());
    dialog.setFileMode(QFileDialog::AnyFile);
    dialog.setViewMode(QFileDialog::List);
    dialog.resize(1870, 980);
    fitFileDialogForTouch(&dialog);
    dialog.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dialog));

    auto* list = dialog.findChild<QListView*>(QStringLiteral("listView"));
    QVERIFY(list);
    QTRY_VERIFY_WITH_TIMEOUT(entryNamed(list, QStringLiteral("usb")).isValid(), 10000);
    QVERIFY(list->iconSize().height() >= 40);
    QVERIFY(list->visualRect(entryNamed(list, QStringLiteral("usb"))).height() >= 56);

    int checked = 0;
    const auto widgets = dialog.findChildren<QWidget*>();
    for (QWidget* w : widgets) {
        const bool control = qobject_cast<QAbstractButton*>(w) || qobject_cast<QComboBox*>(w)
            || (qobject_cast<QLineEdit*>(w) && !qobject_cast<QComboBox*>(w->parentWidget()));
        if (!control || !w->isVisible()) {
            continue;
        }
        ++checked;
        QVERIFY2(w->height() >= 40 && w->width() >= 40,
                 qPrintable(QStringLiteral("%1 %2: %3 x %4")
                                .arg(QLatin1String(w->metaObject()->className()), w->objectName())
                                .arg(w->width())
                                .arg(w->height())));
    }
    QVERIFY(checked >= 5);
}

void TestTouchFileDialog::oneTouchOpensAFolder()
{
    TestWorkDir dir;
    dir.write("usb/V17.4.0.18.tar.gz", "package");
    QFileDialog dialog(nullptr, QStringLiteral("选择投影数据文件目录"), dir.path());
    dialog.setFileMode(QFileDialog::AnyFile);
    dialog.setViewMode(QFileDialog::List);
    dialog.resize(1870, 980);
    fitFileDialogForTouch(&dialog);
    dialog.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dialog));
    auto* list = dialog.findChild<QListView*>(QStringLiteral("listView"));
    QVERIFY(list);
    QTRY_VERIFY_WITH_TIMEOUT(entryNamed(list, QStringLiteral("usb")).isValid(), 10000);
    const QRect at = list->visualRect(entryNamed(list, QStringLiteral("usb")));
    QTest::mouseClick(list->viewport(), Qt::LeftButton, Qt::NoModifier, at.center());
    QTRY_COMPARE_WITH_TIMEOUT(QDir(dialog.directory()).absolutePath(), QDir(dir.filePath("usb")).absolutePath(), 10000);
}

QTEST_MAIN(TestTouchFileDialog)
#include "tst_touchfiledialog.moc"
