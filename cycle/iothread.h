#pragma once

#include "boardframing.h"

#include <QString>
#include <QThread>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>

class QSerialPort;

// The board's port while it is open, owned by the I/O thread (null otherwise).
extern QSerialPort* gpSerialPort;
// The wanted physical output word (bits 0..9; bits 10 and up always 1) and the
// last input word of the board (bits 0..9). Both only under gMutexTable[8].
extern int gOutputWord;
extern int gInputWord;
// Pass counter of the poll loop, 0..209: chooses commands 2, 3 and 4.
extern int gPollCount;
// Values the board returns for commands 3 and 4, and the next entry to fill.
extern qint32 gBoardValues[kBoardValueCount];
extern int gBoardValueIndex;

// Where the port "COM<portIndex + 1>" is: the file of that name in the working
// folder when there is one (usually a link to the device or to a pseudo-terminal),
// else, when deviceFallback is set, "/dev/ttyS<portIndex>". Empty when neither applies.
QString controlPortPath(int portIndex, bool deviceFallback);
// Whether this build may fall back to the machine's own serial devices. Only the
// panel build does: elsewhere the board is reached through a COM file only, so a
// development machine's serial ports are never touched.
bool controlPortDeviceFallback();

// Creates the board's port in the calling thread into gpSerialPort and opens it
// at 115200 baud, 8N1, no flow control. On failure gpSerialPort stays null and
// error says why. The path tried is stored in path.
bool openControlPort(int portIndex, QString* path, QString* error);
// Closes and deletes gpSerialPort.
void closeControlPort();
// Writes one host frame to gpSerialPort in one write; returns the write's result.
qint64 sendControlFrame(int command, int value);

// The worker thread of the board link: polls the board about every 5 ms,
// receives the input word, keeps the board's outputs equal to gOutputWord and
// tells the cycle when an input changed. It opens the port itself and opens it
// again whenever it is missing or lost, so a board plugged in later is found.
// While the heartbeat is more than 10 s old it says nothing to the board.
class IOThread : public QThread {
    Q_OBJECT
public:
    explicit IOThread(int portIndex, QObject* parent = nullptr);
    // Stops the loop (sending the current output word once more) and waits for it.
    ~IOThread() override;

    // Seconds of the program's monotonic clock (it never jumps when the wall
    // clock is set), modulo 1,000,000,000: the heartbeat's unit.
    static qint32 secondsNow();

    // The GUI thread's sign of life; wakes a loop that fell silent.
    void stampHeartbeat();
    qint32 heartbeat() const { return m_heartbeat.load(); }

    // Asks the loop to end: it sends the current output word a last time,
    // closes the port and returns. Follow with join().
    void requestStop();
    // Waits until the loop has returned. Unlike QThread::wait alone, this
    // also orders everything the loop did before what the caller does next
    // in a way the thread checker sees (Qt's own locks are invisible to it).
    void join();

    bool isPortOpen() const { return m_portOpen.load(); }
    int portIndex() const { return m_portIndex; }

    // Seconds of heartbeat age that still poll, and the pauses of the loop.
    static constexpr int kHeartbeatLimitS = 10;
    static constexpr int kPollIntervalMs = 5;
    static constexpr int kIdleSleepMs = 30;
    static constexpr int kSilentSleepMs = 1000;
    static constexpr int kReopenIntervalMs = 500;
    static constexpr int kNoAnswerMs = 1000;

    // Operator texts of the link's faults; %1 is the port ("COM1").
    static constexpr int kTextPortCannotOpen = 630;
    static constexpr int kTextPortLost = 631;
    static constexpr int kTextBoardSilent = 632;

signals:
    // An input word different from the last one arrived (gInputWord holds it).
    void sigIOChange();
    // A fault the operator must hear of: port missing or lost, board silent.
    // textId is the number of the operator text, to be read in the operator's
    // language on the receiving thread; its %1 is "COM<port>". Plain numbers
    // cross the threads, no shared text.
    void sigLinkWarning(int textId, int port);

protected:
    void run() override;

private:
    using Clock = std::chrono::steady_clock;

    bool tryOpenPort();
    void dropPort(const QString& why);
    // True when the port reported a fault that means it is gone.
    bool portBroken();
    int readIntoStaging();
    // Hands the bytes of one read to the receiver and publishes what it found.
    void parseReceived(int size, int wanted, bool* sendOutputs);
    bool send(int command, int value);
    void checkBoardAnswers(qint64 nowMs);
    // Waits until deadline, a stop request or (when wakeOnFeed) a fresh heartbeat.
    void pauseUntil(Clock::time_point deadline, bool wakeOnFeed);

    const int m_portIndex;
    std::atomic<qint32> m_heartbeat{0};
    std::atomic<bool> m_stop{false};
    std::atomic<bool> m_portOpen{false};

    std::mutex m_waitMutex;
    std::condition_variable m_wake;
    bool m_silent = false;  // under m_waitMutex
    bool m_fed = false;     // under m_waitMutex

    BoardReceiver m_receiver;
    unsigned char m_staging[kIoBufferSize];

    QString m_portPath;
    // Timeouts run on the program's monotonic clock (milliseconds); only the
    // pacing of the loop sleeps on the real one.
    qint64 m_nextOpenAttemptMs = 0;
    bool m_portFaultReported = false;
    Clock::time_point m_nextPoll;
    qint64 m_lastAnswerMs = 0;
    bool m_silenceReported = false;
    long m_skippedBytes = 0;
    qint64 m_noiseWindowStartMs = 0;
};
