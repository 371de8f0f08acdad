#include "modbusdatachange.h"

#include "modbusserver.h"
#include "paragroupstore.h"
#include "platformhelpers.h"
#include "productioncounters.h"
#include "systemcommands.h"
#include "systemparam.h"
#include "texttable.h"

#include <QDebug>

ModbusDataChange::ModbusDataChange(ModbusServer* server, Host host)
    : m_server(server)
    , m_host(std::move(host))
{
}

void ModbusDataChange::handle(const QList<int>& indexes)
{
    qInfo() << "VeZiRevoru::SlotModbusDataChange";
    for (int index : indexes) {
        if (index == 0) {
            clearCount();
        } else if (index == 1) {
            qInfo() << "change paramgroup";
            quint16 group = 0;
            if (m_server) {
                m_server->getWriteData(1, &group);
            }
            if (switchParaGroup(group)) {
                return;  // the program is on its way out
            }
        }
    }
}

void ModbusDataChange::clearCount()
{
    qInfo() << "clear count";
    clearCounters();
    if (m_host.publishCounters) {
        m_host.publishCounters();
    }
    if (m_host.insertRecord) {
        m_host.insertRecord(textOf(255));
    }
    if (m_host.countWrite) {
        m_host.countWrite();
    }
}

bool ModbusDataChange::switchParaGroup(int group)
{
    if (!gpSystemParam) {
        return false;
    }
    if (group == gpSystemParam->paraGroupIndex()) {
        qInfo().noquote() << "paramgroup index is same" << ", index is" << group;
        return false;
    }
    // The switch restarts the program: never while the monitor is holding
    // the machine back or judging a cycle, since the new instance would know
    // nothing of it and start with the outputs at rest.
    const QString busy = m_host.busy ? m_host.busy() : QString();
    if (!busy.isEmpty()) {
        qWarning().noquote() << "modbus: switch to parameter group" << group << "refused:" << busy;
        if (m_host.insertRecord) {
            m_host.insertRecord(textOf(702).arg(group));
        }
        if (m_host.publishGroup) {
            m_host.publishGroup();
        }
        return false;
    }
    QString why;
    if (restoreGroupAndRestart(group, QString(), &why)) {
        return true;
    }
    qWarning().noquote() << "modbus: switch to parameter group" << group << "refused:" << why;
    if (m_host.insertRecord) {
        m_host.insertRecord(QStringLiteral("Modbus切换参数组%1失败，当前参数组未改变").arg(group));
    }
    return false;
}

bool ModbusDataChange::restoreGroupAndRestart(int group, const QString& expectedName, QString* why)
{
    if (!gpSystemParam) {
        return false;
    }
    // A backup, restore or delete running on the settings page (its copy on a
    // worker) is never crossed by a switch.
    ParaGroupStore::Operation operation;
    ParaGroupStore store(m_host.groupRoot);
    const QStringList names = store.groupNames();
    QString error;
    bool restored = false;
    if (!operation.acquired()) {
        error = QStringLiteral("another group operation is running");
    } else if (group < 0 || group >= names.size()) {
        error = QStringLiteral("there are %1 groups").arg(names.size());
    } else if (!expectedName.isNull() && names.at(group) != expectedName) {
        error = QStringLiteral("group %1 is no longer \"%2\"").arg(group).arg(expectedName);
    } else {
        qInfo().noquote() << "paramgroup change to" << names.at(group) << ", index is" << group;
        const QString name = names.at(group);
        const int cameras = m_host.cameraCount;
        const int detects = m_host.detectCount;
        auto copy = [&store, &error, name, cameras, detects] {
            return store.restoreGroup(name, cameras, detects, &error);
        };
        restored = m_host.runCopy ? m_host.runCopy(copy) : copy();
    }
    if (!restored) {
        if (why) {
            *why = error;
        }
        return false;
    }

    // The index is stored only once the group's files are in place, so a
    // failure never leaves an index that names other files than the working ones.
    gpSystemParam->paraGroupIndex() = group;
    if (gpSystemParamEdit) {
        gpSystemParamEdit->paraGroupIndex() = group;
    }
    if (!m_host.saveParaGroupIndex || !m_host.saveParaGroupIndex(gpSystemParam)) {
        qWarning() << "modbus: parameter group index" << group << "not stored in sysadd.txt";
    }
    if (m_host.insertRecord) {
        m_host.insertRecord(textOf(286).arg(names.at(group)));
    }
    if (m_host.closeDatabases) {
        m_host.closeDatabases();
    }
    systemCommands().sleepMs(500);
    systemCommands().sleepMs(3000);
    // Workers stop and the outputs go to rest before the new instance starts;
    // the Modbus server frees its port for it.
    runQuitHooks();
    if (m_host.quitEventLoop) {
        m_host.quitEventLoop();
    }
    if (!systemCommands().perform(SystemOperation::restartProgram()).ok()) {
        qCritical() << "modbus: the program could not be started again after the group switch";
    }
    return true;
}
