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
//
// The outputs are monitored: every poll reply carries the outputs the board
// drives, which must equal those of the word last sent. The word is sent
// again after every reply; a difference that lasts longer than kEchoMismatchMs
// is a fault of its own. After any interruption (port opened or reopened,
// heartbeat back) the first frame is the word wanted at that moment.
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
    // Whether the board answers and confirms the outputs (see sigLinkState).
    bool isLinkUp() const { return m_linkUp.load(); }
    int portIndex() const { return m_portIndex; }

    // Seconds of heartbeat age that still poll, and the pauses of the loop.
    static constexpr int kHeartbeatLimitS = 10;
    static constexpr int kPollIntervalMs = 5;
    static constexpr int kIdleSleepMs = 30;
    static constexpr int kSilentSleepMs = 1000;
    static constexpr int kReopenIntervalMs = 500;
    static constexpr int kNoAnswerMs = 1000;
    // How long the output echo may differ from the word sent before the link
    // counts as down (a reply already on its way when the word changed differs
    // for a pass or two).
    static constexpr int kEchoMismatchMs = 1000;

    // Operator texts of the link's faults; %1 is the port ("COM1").
    static constexpr int kTextPortCannotOpen = 630;
    static constexpr int kTextPortLost = 631;
    static constexpr int kTextBoardSilent = 632;
    static constexpr int kTextOutputsUnconfirmed = 698;

signals:
    // An input word different from the last one arrived (gInputWord holds it).
    void sigIOChange();
    // A fault the operator must hear of: port missing or lost, board silent,
    // outputs not confirmed by the board's echo. Once per outage.
    // textId is the number of the operator text, to be read in the operator's
    // language on the receiving thread; its %1 is "COM<port>". Plain numbers
    // cross the threads, no shared text.
    void sigLinkWarning(int textId, int port);
    // The link changed between up and down, once per change. It starts down.
    // Up: the port is open, the board answers and its echo confirms the word
    // sent. Down: the port was lost (a later failed reopen changes nothing),
    // the board has not answered for kNoAnswerMs, or the echo has differed
    // for kEchoMismatchMs. A port that never opened stays down without a signal.
    void sigLinkState(bool up);

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
    void parseReceived(int size, bool* sendOutputs);
    // Judges the echo of the latest poll reply against the word last sent.
    void checkEcho(int echo, bool matches, qint64 nowMs);
    bool send(int command, int value);
    // Sends the word wanted now (read under the lock, not an older copy).
    bool sendOutputWord();
    void checkBoardAnswers(qint64 nowMs);
    void updateLinkState();
    void setLinkUp(bool up);
    // Forget what was seen of the echo: after an interruption the next reply
    // starts a fresh judgement.
    void resetEchoWatch();
    // Waits until deadline, a stop request or (when wakeOnFeed) a fresh heartbeat.
    void pauseUntil(Clock::time_point deadline, bool wakeOnFeed);

    const int m_portIndex;
    std::atomic<qint32> m_heartbeat{0};
    std::atomic<bool> m_stop{false};
    std::atomic<bool> m_portOpen{false};
    std::atomic<bool> m_linkUp{false};

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
    // The word of the last command 1 (valid once one went out on this port),
    // and a command 1 owed before anything else after an interruption.
    int m_sentWord = 0;
    bool m_haveSent = false;
    bool m_resyncOutputs = false;
    // The latest echo confirmed the word sent; since when it has differed
    // (-1: it does not), and whether that outage was told.
    bool m_echoConfirmed = false;
    qint64 m_echoMismatchSinceMs = -1;
    bool m_echoFaultReported = false;
    long m_skippedBytes = 0;
    qint64 m_noiseWindowStartMs = 0;
};
