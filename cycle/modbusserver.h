#pragma once

#include <QElapsedTimer>
#include <QHostAddress>
#include <QList>
#include <QMutex>
#include <QObject>
#include <QSemaphore>
#include <QVarLengthArray>
#include <QVector>

#include <atomic>
#include <memory>

class ModbusSession;
class QByteArray;
class QTcpServer;
class QTcpSocket;
class QThreadPool;

// The Modbus TCP server through which the plant system watches and steers the
// monitor: unit 1, function codes 3 (read holding registers) and 16 (write
// multiple registers), one read table and one write table of 500 registers.
// Nothing else is answered and no exception reply is ever sent.
//
// The server runs on a thread of its own (a pool of one thread with its own
// event loop), so a slow or hostile client never stalls the inspection. The GUI
// thread fills the read table and reads the write table; the server thread
// answers from the one and writes into the other. Both tables are guarded by
// one lock, so a 32-bit value written in one call is never seen half old.
class ModbusServer : public QObject {
    Q_OBJECT
public:
    static constexpr int TableSize = 500;
    // Connections kept at once; a new one beyond this replaces the one that has
    // been quiet longest (a plant controller that rebooted leaves its old
    // connections half-open behind it).
    static constexpr int MaxConnections = 32;
    static constexpr int ListenRetryMs = 2000;
    // A request still incomplete after this long is given up: its missing bytes
    // are not looked for in whatever the client sends next.
    static constexpr int StalePartialMs = 3000;

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
    bool startListening();
    void onNewConnection(int fd);
    void forgetSession(ModbusSession* session);

    // Replies of one pass; a few of them fit without touching the heap.
    using Replies = QVarLengthArray<char, 2048>;

    // Answers every complete request at the start of data, appending the
    // replies. Returns the number of bytes consumed (the rest is the start of
    // a request still arriving); when the stream is not Modbus TCP everything
    // is consumed unanswered.
    int processFrames(const char* data, int size, Replies& replies, ModbusSession& session);
    void answerRead(const uchar* frame, int length, Replies& replies, ModbusSession& session);
    void answerWrite(const uchar* frame, int length, Replies& replies, ModbusSession& session);

    const QHostAddress m_address;
    const quint16 m_port;
    std::shared_ptr<QThreadPool> socketThreadPool_;
    // Server thread only.
    std::shared_ptr<QTcpServer> tcpServer_;
    QList<ModbusSession*> m_sessions;
    int m_evictions = 0;
    QElapsedTimer m_evictionLog;
    static constexpr qint64 EvictionLogIntervalMs = 60000;

    mutable QMutex m_tableMutex;
    QVector<quint16> m_readData;
    QVector<quint16> m_writeData;

    QSemaphore m_triedToListen;
    std::atomic<bool> m_threadRunning{false};
    std::atomic<bool> m_listening{false};
    std::atomic<quint16> m_boundPort{0};
};
