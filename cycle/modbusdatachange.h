#pragma once

#include <QList>
#include <QString>

#include <functional>

class ModbusServer;
struct SystemParam;

// What the plant's register writes do, on the GUI thread: register 0 clears the
// production counters, register 1 switches to the parameter group at the
// written position and restarts the program. The main window's slot builds one
// with its own operations as the host and hands it the written indexes.
class ModbusDataChange {
public:
    struct Host {
        std::function<void(const QString&)> insertRecord;
        std::function<void()> publishCounters;
        std::function<void()> countWrite;
        // Stores slot 340 of the record in "sysadd.txt".
        std::function<bool(SystemParam*)> saveParaGroupIndex;
        // Closes the SN.db, PARAM.db and RECORD.db connections before the restart.
        std::function<void()> closeDatabases;
        // Asks the program's event loop to end.
        std::function<void()> quitEventLoop;
        int cameraCount = 0;
        int detectCount = 0;
        QString groupRoot = QStringLiteral("./paraGroup");
        // Why a restart must wait now (an alarm stands, a cycle is being
        // judged); empty when it may go ahead. Empty function: never busy.
        std::function<QString()> busy;
        // Shows the current group again in the read registers.
        std::function<void()> publishGroup;
        // Runs the copying of a group restore; empty: on the calling thread.
        // The settings page runs it on a worker while its GUI thread waits.
        std::function<bool(const std::function<bool()>& copy)> runCopy;
    };

    ModbusDataChange(ModbusServer* server, Host host);

    void handle(const QList<int>& indexes);

    // Switches to the group at position group of the group list. Returns true
    // when the group's files are in place and the restart has been started;
    // false when the group is the current one or was refused (the working files
    // and slot 340 are then untouched).
    bool switchParaGroup(int group);

    // The one path from a group to the running set-up, for the switch and the
    // settings page's restore: one group operation at a time, the group checked
    // and swapped in whole, the index stored once the files are in place, the
    // change logged, the databases closed and the program restarted after the
    // quit hooks. expectedName, when given, must still be the group's name.
    // False, with the reason in why, when nothing was changed.
    bool restoreGroupAndRestart(int group, const QString& expectedName = QString(), QString* why = nullptr);

private:
    void clearCount();

    ModbusServer* m_server;
    Host m_host;
};
