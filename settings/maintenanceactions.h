#pragma once

#include "maintenancefolders.h"

#include <QDateTime>
#include <QObject>
#include <QString>

#include <functional>

class QWidget;

// What the service actions need of the main window and the settings dialog.
struct MaintenanceHooks {
    std::function<void(const QString& text)> insertRecord;
    std::function<void()> closeCameras;
    // Closes the database connections before a reboot.
    std::function<void()> flushAll;
    // Stores and applies the settings pages (it may ask whether to save changes).
    std::function<void()> applyPages;
    // Mounts the USB disk; its mount point, or empty when there is no disk.
    std::function<QString()> mountUsb;
    // Lets the operator pick an update package; empty when none was chosen.
    std::function<QString(QWidget* parent)> chooseUpdateFile;
};

// The service actions of the advanced settings page: export to a USB disk,
// program update from a USB disk, factory reset, touch calibration, leaving
// the program, setting the clock and the settings password. Copies and
// outside programs run on a worker while the GUI thread waits in a nested
// event loop, so the cycle and the I/O board's heartbeat go on; busyChanged
// tells the page to hold its buttons meanwhile.
class MaintenanceActions : public QObject {
    Q_OBJECT
public:
    MaintenanceActions(const MaintenanceFolders& folders, MaintenanceHooks hooks, QWidget* page);

    // Texts of the outcomes the operator is told.
    static constexpr int ExportFailedText = 634;
    static constexpr int UpdateNotAPackageText = 635;
    static constexpr int UpdateCopyFailedText = 636;
    static constexpr int FactoryPackageReadyText = 637;
    static constexpr int FactoryPackageMissingText = 638;
    static constexpr int FactoryPackageFailedText = 639;
    static constexpr int ClockFailedText = 640;
    static constexpr int CalibrationFailedText = 641;
    static constexpr int PasswordTooLongText = 642;
    // Longest settings password, in Latin-1 characters.
    static constexpr int MaxPasswordLength = 32;

    // Pause before the update copy, in milliseconds (tests: 0): the screens
    // settle before the copy blocks.
    int updatePauseMs = 1000;
    int rebootPauseMs = 1000;

    void exportData();
    void updateApp();
    void restoreFactorySet();
    void calibrate();
    void exitSystem();
    // The clock dialog, centred on the main window; its choice comes to timeChosen.
    void openClockDialog(QWidget* mainWindow);
    void timeChosen(const QDateTime& time);
    // True when the password went into the edit record.
    bool changePassword(const QString& password, const QString& confirmation);

    // The update package name for a chosen file; empty when it is none.
    static QString updatePackageName(const QString& fileName);

    // Copies the program folder into target (made), keeping file times and
    // checking every file's size; collects the raw frames copied. Runs on a worker.
    struct CopyResult {
        bool ok = true;
        QString failure;
        QStringList rawFramesCopied;
        qint64 bytes = 0;
        int files = 0;
    };
    static CopyResult copyProgramFolder(const QString& source, const QString& target, int cameras, int detects);

signals:
    void busyChanged(bool busy);

private:
    QString mountWithRetry();
    // Runs work on a worker thread and waits for it in a nested event loop.
    template <typename T>
    T runAside(std::function<T()> work);
    void pause(int ms);
    void rebootAndQuit();

    MaintenanceFolders m_folders;
    MaintenanceHooks m_hooks;
    QWidget* m_page;
};
