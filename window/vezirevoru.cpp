#include "vezirevoru.h"

#include "camerawgtbox.h"
#include "cameraregistry.h"
#include "controlport.h"
#include "dottomdockwidget.h"
#include "edit.h"
#include "globals.h"
#include "modbusdatachange.h"
#include "modbusserver.h"
#include "operationlog.h"
#include "paramstorage.h"
#include "platformhelpers.h"
#include "productioncounters.h"
#include "systemparam.h"

#include <QCoreApplication>
#include <QGuiApplication>
#include <QScreen>
#include <QSqlDatabase>
#include <QTimer>
#include <QVBoxLayout>

VeZiRevoru* gpVeZiRevoru = nullptr;

VeZiRevoru::VeZiRevoru(QWidget* parent)
    : QWidget(parent)
{
    gpVeZiRevoru = this;
    setObjectName(QStringLiteral("VeZiRevoru"));
    setStyleSheet(QStringLiteral("VeZiRevoru { background-color: #1E1E1E; }"));
    setAttribute(Qt::WA_StyledBackground, true);
    // The panel has no window manager to enlarge a full-screen window: take
    // the screen's size ourselves.
    if (QScreen* screen = QGuiApplication::primaryScreen()) {
        // The pop-ups centre on the screen: its size first, before anything is built.
        gScreenWidth = screen->geometry().width();
        gScreenHeight = screen->geometry().height();
        setGeometry(screen->geometry());
    }

    pLogoutTimer = new QTimer(this);
    pLogoutTimer->setSingleShot(true);
    pBacklightTimer = new QTimer(this);
    pBacklightTimer->setSingleShot(true);

    if (!gpControlPort) {
        gpControlPort = new ControlPort(gComPort);
    }

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    pCameraWgtBox = new CameraWgtBox(this);
    layout->addWidget(pCameraWgtBox, 1);
    m_statusLine = new DottomDock_Describe_part1(this);
    layout->addWidget(m_statusLine);

    m_runTimer = new QTimer(this);
    m_runTimer->setSingleShot(true);
    connect(m_runTimer, &QTimer::timeout, this, &VeZiRevoru::Run);
    m_runTimer->start(5);
    setMainWindowHooks(this);
    setStationHost(this);
    setKitHost(this);
}

VeZiRevoru::~VeZiRevoru()
{
    clearMainWindowHooks(this);
    clearStationHost(this);
    clearKitHost(this);
    if (gpVeZiRevoru == this) {
        gpVeZiRevoru = nullptr;
    }
}

void VeZiRevoru::repaintStatus()
{
    if (m_statusLine) {
        m_statusLine->update();
    }
    if (!pCameraWgtBox) {
        return;
    }
    for (CameraWgt_DataWidget* tile : pCameraWgtBox->tiles()) {
        if (!tile->isVisible()) {
            continue;
        }
        if (CameraWgt_DataWidget_Title* title = tile->currentTitle()) {
            title->updateTitle();
        }
    }
}

OperationLog* VeZiRevoru::recordLog()
{
    if (!m_recordLog) {
        m_recordLog = new OperationLog;
        connect(this, &QObject::destroyed, [log = m_recordLog] { delete log; });
    }
    return m_recordLog;
}

QString VeZiRevoru::recordDate()
{
    return recordLog()->recordDate();
}

void VeZiRevoru::StartOperationLog()
{
    recordLog()->start();
    if (!checkDateTimer) {
        checkDateTimer = new QTimer(this);
        connect(checkDateTimer, &QTimer::timeout, this, &VeZiRevoru::SlotCheckDate);
    }
    checkDateTimer->start(60000);
}

void VeZiRevoru::StartModbusServer(quint16 port, const QHostAddress& address)
{
    if (!pModbusServer) {
        pModbusServer = new ModbusServer(port, address);
        connect(pModbusServer, &ModbusServer::sigWriteChange, this,
                [this](QList<int> indexes) { SlotModbusDataChange(indexes); });
        addQuitHook(QStringLiteral("modbus server"), [server = pModbusServer] { server->stop(); });
    }
    pModbusServer->setReadData(0, 1);
    pModbusServer->setReadData(2, static_cast<quint16>(gpSystemParam ? gpSystemParam->paraGroupIndex() : 0));
    PublishCounters();
}

void VeZiRevoru::InsertRecord(QString s)
{
    recordLog()->insertRecord(s, userLevel);
}

void VeZiRevoru::ClearRecord()
{
    recordLog()->clearRecord();
}

bool VeZiRevoru::CreateRecordDB()
{
    return OperationLog::createRecordDB();
}

void VeZiRevoru::SlotCheckDate()
{
    recordLog()->checkDate();
}

void VeZiRevoru::CountWrite()
{
    writeCountFile();
}

void VeZiRevoru::CountRead()
{
    readCountFile();
}

void VeZiRevoru::PublishCounters()
{
    if (pModbusServer) {
        pModbusServer->setReadData(CounterFirstRegister, counterRegisters(gCameraCount));
    }
}

void VeZiRevoru::PublishCycleValues()
{
    if (!pModbusServer) {
        return;
    }
    QVector<quint16> registers;
    registers.reserve(2 * cycleValues.size());
    for (qint32 value : qAsConst(cycleValues)) {
        registers.append(static_cast<quint16>(static_cast<quint32>(value) >> 16));
        registers.append(static_cast<quint16>(static_cast<quint32>(value) & 0xFFFFu));
    }
    pModbusServer->setReadData(200, registers);
}

void VeZiRevoru::AppendCycleValue(int value)
{
    cycleValues.append(value);
}

void VeZiRevoru::SlotModbusDataChange(QList<int> chg_WriteData_index)
{
    ModbusDataChange::Host host;
    host.insertRecord = [this](const QString& s) { InsertRecord(s); };
    host.publishCounters = [this] { PublishCounters(); };
    host.countWrite = [this] { CountWrite(); };
    host.saveParaGroupIndex = &saveParaGroupIndex;
    host.closeDatabases = [this] {
        for (const char* name : {kSerialConnectionName, kParamConnectionName}) {
            if (QSqlDatabase::contains(QString::fromLatin1(name))) {
                QSqlDatabase::database(QString::fromLatin1(name), false).close();
            }
        }
        recordLog()->close();
    };
    host.quitEventLoop = [] { QCoreApplication::quit(); };
    host.cameraCount = gCameraCount;
    host.detectCount = gDetectCount;
    ModbusDataChange(pModbusServer, host).handle(chg_WriteData_index);
}
