#include "paragroupactions.h"

#include "operatorprompt.h"
#include "paragroupstore.h"
#include "systemparam.h"
#include "texttable.h"

#include <QDebug>
#include <QEventLoop>
#include <QFutureWatcher>
#include <QtConcurrent>

ParaGroupActions::ParaGroupActions(ModbusDataChange::Host host, std::function<void()> applyPages,
                                   std::function<void(int)> publishIndex, QObject* parent)
    : QObject(parent), m_host(std::move(host)), m_applyPages(std::move(applyPages)),
      m_publishIndex(std::move(publishIndex))
{
    m_host.runCopy = [this](const std::function<bool()>& copy) { return runAside(copy); };
}

QStringList ParaGroupActions::groups() const
{
    return ParaGroupStore(m_host.groupRoot).groupNames();
}

int ParaGroupActions::openingIndex() const
{
    const int current = gpSystemParam ? gpSystemParam->paraGroupIndex() : -1;
    return current >= 0 && current < groups().size() ? current : 0;
}

bool ParaGroupActions::runAside(const std::function<bool()>& work)
{
    emit busyChanged(true);
    QFutureWatcher<bool> watcher;
    QEventLoop loop;
    connect(&watcher, &QFutureWatcher<bool>::finished, &loop, &QEventLoop::quit);
    watcher.setFuture(QtConcurrent::run(work));
    if (!watcher.isFinished()) {
        loop.exec();
    }
    emit busyChanged(false);
    return watcher.result();
}

void ParaGroupActions::storeIndex(int index)
{
    // Both records: the settings dialog's OK must not find a change nobody made.
    if (gpSystemParam) {
        gpSystemParam->paraGroupIndex() = index;
    }
    if (gpSystemParamEdit) {
        gpSystemParamEdit->paraGroupIndex() = index;
    }
    if (gpSystemParam && m_host.saveParaGroupIndex && !m_host.saveParaGroupIndex(gpSystemParam)) {
        qWarning() << "parameter group index" << index << "not stored in sysadd.txt";
    }
    if (m_publishIndex) {
        m_publishIndex(index);
    }
}

int ParaGroupActions::backup(const QString& name)
{
    if (name.isEmpty()) {
        warnOperator(textOf(282));
        return -1;
    }
    if (name == ParaGroupStore::factoryGroupName()) {
        warnOperator(textOf(FactoryGroupKeptText));
        return -1;
    }
    if (!ParaGroupStore::isValidNewName(name)) {
        warnOperator(textOf(NameRefusedText));
        return -1;
    }
    if (askOperator(textOf(283)) != 1) {
        return -1;
    }
    if (m_applyPages) {
        m_applyPages();
    }
    if (groups().contains(name) && askOperator(textOf(284)) != 1) {
        return -1;
    }
    ParaGroupStore::Operation operation;
    QString error;
    const QString root = m_host.groupRoot;
    const int cameras = m_host.cameraCount;
    const int detects = m_host.detectCount;
    const bool ok = operation.acquired()
                    && runAside([&error, root, name, cameras, detects] {
                           return ParaGroupStore(root).backupGroup(name, cameras, detects, &error);
                       });
    if (!ok) {
        qWarning().noquote() << "parameter group: backup of" << name << "failed:"
                             << (operation.acquired() ? error : QStringLiteral("another group operation is running"));
        warnOperator(textOf(BackupFailedText));
        return -1;
    }
    const int index = groups().indexOf(name);
    storeIndex(index);
    return index;
}

bool ParaGroupActions::restore(int index, const QString& name)
{
    const QStringList names = groups();
    if (index < 0 || index >= names.size() || names.at(index) != name) {
        return false;
    }
    if (askOperator(textOf(RestoreQuestionText).arg(name)) != 1) {
        return false;
    }
    QString why;
    if (!ModbusDataChange(nullptr, m_host).restoreGroupAndRestart(index, name, &why)) {
        qWarning().noquote() << "parameter group: restore of" << name << "refused:" << why;
        warnOperator(textOf(RestoreFailedText));
        return false;
    }
    return true;
}

bool ParaGroupActions::remove(int index, const QString& name)
{
    const QStringList before = groups();
    if (index < 0 || index >= before.size() || before.at(index) != name) {
        return false;
    }
    if (name == ParaGroupStore::factoryGroupName()) {
        warnOperator(textOf(FactoryGroupKeptText));
        return false;
    }
    if (askOperator(textOf(DeleteQuestionText).arg(name)) != 1) {
        return false;
    }
    const int current = gpSystemParam ? gpSystemParam->paraGroupIndex() : -1;
    const QString currentName = current >= 0 && current < before.size() ? before.at(current) : QString();
    ParaGroupStore::Operation operation;
    QString error;
    const QString root = m_host.groupRoot;
    const bool ok = operation.acquired()
                    && runAside([&error, root, name] { return ParaGroupStore(root).deleteGroup(name, &error); });
    if (!ok) {
        qWarning().noquote() << "parameter group: delete of" << name << "failed:" << error;
        warnOperator(textOf(DeleteFailedText));
        return false;
    }
    // The index is a position: it follows the current group to its new place,
    // or says there is none when the current group was the one deleted.
    storeIndex(currentName.isEmpty() ? -1 : groups().indexOf(currentName));
    return true;
}
