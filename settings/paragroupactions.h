#pragma once

#include "modbusdatachange.h"

#include <QObject>
#include <QString>
#include <QStringList>

#include <functional>

// The parameter groups of the advanced settings page: backup of the working
// set-up under a name, restore of a group (the program restarts) and delete.
// Copies run on a worker while the GUI thread waits in a nested event loop;
// busyChanged tells the page to hold its buttons meanwhile. The restore goes
// the same way as the Modbus group switch.
class ParaGroupActions : public QObject {
    Q_OBJECT
public:
    static constexpr int NameRefusedText = 643;
    static constexpr int FactoryGroupKeptText = 644;
    static constexpr int RestoreQuestionText = 645;  // names the group (%1)
    static constexpr int DeleteQuestionText = 646;   // names the group (%1)
    static constexpr int BackupFailedText = 647;
    static constexpr int RestoreFailedText = 648;
    static constexpr int DeleteFailedText = 649;

    // host: as for the Modbus switch (group root, counts, log, index store,
    // database close, event loop end). applyPages stores and applies the
    // settings pages; publishIndex puts the group index into the read registers.
    ParaGroupActions(ModbusDataChange::Host host, std::function<void()> applyPages,
                     std::function<void(int index)> publishIndex, QObject* parent = nullptr);

    QStringList groups() const;
    // The position the list opens on: the current group (slot 340) when it is
    // in the list, else the first.
    int openingIndex() const;

    // The group's position after a backup; -1 when nothing was backed up.
    int backup(const QString& name);
    // Restores the group at index, which must still bear name; on success the
    // program is on its way to a restart.
    bool restore(int index, const QString& name);
    bool remove(int index, const QString& name);

signals:
    void busyChanged(bool busy);

private:
    bool runAside(const std::function<bool()>& work);
    void storeIndex(int index);

    ModbusDataChange::Host m_host;
    std::function<void()> m_applyPages;
    std::function<void(int)> m_publishIndex;
};
