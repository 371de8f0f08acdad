#pragma once

#include "modbusframing.h"

#include <QHostAddress>
#include <QList>
#include <QObject>
#include <QVector>

#include <atomic>
#include <condition_variable>
#include <memory>
#include <mutex>

class ModbusSession;
class QAbstractEventDispatcher;
class QTcpServer;
class QThreadPool;

// The Modbus TCP server through which the plant system watches and steers the
// monitor: unit 1, function codes 3 (read holding registers) and 16 (write
// multiple registers), one read table and one write table of 500 registers.
// Nothing else is answered and no exception reply is ever sent. What the bytes
// mean is modbusframing's business; this class owns the sockets.
//
// The server runs on a thread of its own (a pool of one thread with its own
// event loop), so a slow or hostile client never stalls the inspection. The GUI
// thread fills the read table and reads the write table; the server thread
// answers from the one and writes into the other.
class ModbusServer : public QObject {
    Q_OBJECT
public:
    static constexpr int TableSize = ModbusTables::Size;
    // Connections kept at once; a new one beyond this replaces one that never
    // asked anything or, failing that, the one quiet longest (a plant
    // controller that rebooted leaves its old connections half-open behind it).
    static constexpr int MaxConnections = 32;
    static constexpr int ListenRetryMs = 2000;
    static constexpr int StalePartialMs = int(ModbusRequestStream::StalePartialMs);

    // Starts the server thread and returns once it has tried to listen. When the
    // port cannot be bound the thread keeps trying every ListenRetryMs.
    explicit ModbusServer(quint16 port = 502, const QHostAddress& address = QHostAddress::Any,
                          QObject* parent = nullptr);
    ~ModbusServer() override;

    // Sets one read register; an index outside the table is ignored.
    void setReadData(int index, quint16 value);
    // Sets registers start, start + 1, ... under one lock, so values spread over
    // several registers change together; what falls outside the table is dropped.
    void setReadData(int start, const QVector<quint16>& values);
    // Stores write register index into out; out is left alone outside the table.
    void getWriteData(int index, quint16* out) const;
    // The read register as a client would get it (0 outside the table).
    quint16 readData(int index) const;

    // Ends the server thread and closes the listening socket and every
    // connection; waits until the thread has finished. Safe to call twice.
    void stop();

    bool isListening() const { return m_listening.load(); }
    // The port actually bound (the one chosen by the system when 0 was asked for).
    quint16 serverPort() const { return m_boundPort.load(); }

signals:
    // Write-table indexes just written by one request, in writing order. Emitted
    // on the server thread after the values are in the table.
    void sigWriteChange(QList<int> chg_WriteData_index);
    // Asks the server thread to end.
    void readyToClose();

private:
    friend class ModbusSession;

    void serverThreadMain();
    // Asks the server thread's event loop to end (readyToClose leads here, on
    // the thread that emits it): a flag and a wake-up of the loop, no event
    // posted across the threads.
    void requestEnd();
    bool startListening();
    void onNewConnection(int fd);
    void forgetSession(ModbusSession* session);
    // Logs and signals what one framing pass of a session did.
    void report(ModbusSession& session, const ModbusFraming& framing);

    const QHostAddress m_address;
    const quint16 m_port;
    std::shared_ptr<QThreadPool> socketThreadPool_;
    // Server thread only.
    std::shared_ptr<QTcpServer> tcpServer_;
    QList<ModbusSession*> m_sessions;
    int m_evictions = 0;
    qint64 m_evictionLoggedMs = 0;
    bool m_evictionLogged = false;
    static constexpr qint64 EvictionLogIntervalMs = 60000;

    ModbusTables m_tables;

    // Start and end of the server thread, told to the thread that waits for
    // them. The pool's own wait is not enough to order what the server thread
    // did before its end with what the caller does after.
    std::mutex m_threadMutex;
    std::condition_variable m_threadChanged;
    bool m_triedToListen = false;  // under m_threadMutex
    bool m_threadDone = false;     // under m_threadMutex
    QAbstractEventDispatcher* m_dispatcher = nullptr;  // the server thread's; set under m_threadMutex
    std::atomic<bool> m_endRequested{false};
    std::atomic<bool> m_threadRunning{false};
    std::atomic<bool> m_listening{false};
    std::atomic<quint16> m_boundPort{0};
};
