#pragma once

// The main window built in a working folder of its own, on the factory
// parameter group, with the operator's boxes answered by the test and Modbus
// on the loopback. Shared by the window's test programs.

#include "cameraregistry.h"
#include "controlport.h"
#include "fakecamera.h"
#include "iothread.h"
#include "modbusserver.h"
#include "paramstorage.h"
#include "processstate.h"
#include "promptanswerer.h"
#include "resultstatistics.h"
#include "systemparam.h"
#include "testworkdir.h"
#include "texttable.h"
#include "vezirevoru.h"

#include <QFile>
#include <QHostAddress>
#include <QSqlDatabase>
#include <QSqlQuery>

#include <functional>
#include <memory>

#include <modbus.h>

// Holding registers from reg on, read by a Modbus client as the plant's
// system reads them; empty when the server does not answer.
inline QVector<quint16> readRegisters(quint16 port, int reg, int count)
{
    QVector<quint16> values;
    modbus_t* ctx = modbus_new_tcp("127.0.0.1", port);
    modbus_set_slave(ctx, 1);
    modbus_set_response_timeout(ctx, 2, 0);
    if (modbus_connect(ctx) == 0) {
        QVector<uint16_t> r(count);
        if (modbus_read_registers(ctx, reg, count, r.data()) == count) {
            values = QVector<quint16>(r.begin(), r.end());
        }
        modbus_close(ctx);
    }
    modbus_free(ctx);
    return values;
}

// The operation log's remarks, oldest first.
inline QStringList recordRemarks()
{
    QStringList rows;
    QSqlQuery query(QSqlDatabase::database(QStringLiteral("dbRecord"), false));
    if (query.exec(QStringLiteral("select remarks from RECORD"))) {
        while (query.next()) {
            rows << query.value(0).toString();
        }
    }
    return rows;
}

// A camera type that lists as many devices as the test asks for.
inline int gListedCameras = 0;

class ListedCamera : public FakeCamera {
public:
    ListedCamera()
        : FakeCamera(64, 48)
    {
    }
    QString typeId() override { return QString::fromLatin1(kHikCameraIid); }
    QList<CameraInfo> enumerate() override
    {
        return listedDevices(gListedCameras, QString::fromLatin1(kHikCameraIid), "LISTED");
    }
    int deviceCount() override { return gListedCameras; }
    CameraInterface* create(CameraInfo record) override
    {
        auto* camera = new ListedCamera;
        camera->openedNumber = record.number;
        // A real camera's serial is the id discovery lists it by.
        camera->setSerial(record.idText());
        return camera;
    }
    int openedNumber = -2;
};

struct WindowRigOptions {
    // Run in the working folder before the window is made (pictures,
    // the board's link, saved serials).
    std::function<void(TestWorkDir&)> prepare;
    // Start the I/O link and its main-loop connection as the program does
    // once the window is made.
    bool startMachineLink = false;
};

struct WindowRig {
    using Options = WindowRigOptions;

    TestWorkDir dir;
    ProcessState state;
    std::unique_ptr<PromptAnswerer> answers;
    std::unique_ptr<VeZiRevoru> window;

    explicit WindowRig(int cameras, QList<int> answerList = {1},
                       const std::function<void(SystemParam&)>& setUp = {}, const Options& options = {})
    {
        initTextTable();
        writeFactoryParamGroup(QStringLiteral("paraGroup/default"));
        // A fresh installation: both databases copied from the factory group.
        QFile::copy(QStringLiteral("paraGroup/default/PARAM.db"), QStringLiteral("PARAM.db"));
        QFile::copy(QStringLiteral("paraGroup/default/SN.db"), QStringLiteral("SN.db"));
        if (setUp) {
            QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("setup"));
            db.setDatabaseName(QStringLiteral("PARAM.db"));
            db.open();
            SystemParam record{};
            QSqlDatabase none;
            loadSysParam(&record, db, none, nullptr);
            setUp(record);
            saveSysParam(&record, db);
            db.close();
        }
        QSqlDatabase::removeDatabase(QStringLiteral("setup"));
        if (options.prepare) {
            options.prepare(dir);
        }
        gListedCameras = cameras;
        setCameraDriverFactory(QString::fromLatin1(kHikCameraIid), [] { return new ListedCamera; });
        answers = std::make_unique<PromptAnswerer>(answerList);
        window = std::make_unique<VeZiRevoru>(nullptr, 0, QHostAddress::LocalHost);
        if (options.startMachineLink) {
            gpControlPort->startIOThread();
            QObject::connect(gpControlPort->ioThread(), &IOThread::sigIOChange, window.get(), &VeZiRevoru::Run);
        }
    }
    ~WindowRig()
    {
        endWindow();
        answers.reset();
        resetCameraRegistry();
        setCameraDriverFactory(QString::fromLatin1(kHikCameraIid), {});
    }

    // The program ended and started again in the same working folder, on the
    // same devices.
    void restart()
    {
        endWindow();
        resetCameraRegistry();
        window = std::make_unique<VeZiRevoru>(nullptr, 0, QHostAddress::LocalHost);
    }

private:
    void endWindow()
    {
        ModbusServer* server = window->pModbusServer;
        const QList<CameraInterface*> cameras = window->openedCameras;
        window.reset();
        qDeleteAll(cameras);
        // What the program keeps for its whole life, a test gives back.
        delete server;
        delete gpSystemParam;
        delete gpSystemParamEdit;
        delete gpControlPort;
        delete gpResultStatistics;
        gpSystemParam = gpSystemParamEdit = nullptr;
        gpControlPort = nullptr;
        gpResultStatistics = nullptr;
    }
};
