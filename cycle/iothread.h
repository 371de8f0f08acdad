#pragma once

#include <QString>
#include <QThread>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>

class QSerialPort;

// The serial I/O board's wire format. The host sends 6-byte frames
// (header, command, value low, value high, sum, trailer), the board answers
// with 8-byte frames (header, command, d0..d3, sum, trailer). The sums are the
// 8-bit sum of every byte before them.
constexpr unsigned char kFrameHeader = 0x5F;
constexpr unsigned char kFrameTrailer = 0xF5;
constexpr int kHostFrameSize = 6;
constexpr int kBoardFrameSize = 8;

enum BoardCommand {
    CmdSetOutputs = 1,
    CmdPoll = 2,
    CmdReadValues1 = 3,
    CmdReadValues2 = 4,
};

// Size of the receive and staging buffers of the poll loop.
constexpr int kIoBufferSize = 1024;
// Entries of the board value table: 0..7 for command 3, 8..15 for command 4.
constexpr int kBoardValueCount = 16;

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

// 8-bit sum of count bytes.
quint8 checkSum8(const unsigned char* data, int count);
// Fills a 6-byte host frame for command (low byte) and value (low 16 bits).
void buildHostFrame(unsigned char* frame, int command, int value);

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
    // closes the port and returns. Follow with wait().
    void requestStop();

    bool isPortOpen() const { return m_portOpen.load(); }
    int portIndex() const { return m_portIndex; }

    // Seconds of heartbeat age that still poll, and the pauses of the loop.
    static constexpr int kHeartbeatLimitS = 10;
    static constexpr int kPollIntervalMs = 5;
    static constexpr int kIdleSleepMs = 30;
    static constexpr int kSilentSleepMs = 1000;
    static constexpr int kReopenIntervalMs = 500;
    static constexpr int kNoAnswerMs = 1000;

signals:
    // An input word different from the last one arrived (gInputWord holds it).
    void sigIOChange();
    // A fault the operator must hear of: port missing or lost, board silent.
    void sigLinkWarning(const QString& text);

protected:
    void run() override;

private:
    using Clock = std::chrono::steady_clock;

    bool tryOpenPort();
    void dropPort(const QString& why);
    // True when the port reported a fault that means it is gone.
    bool portBroken();
    int readIntoStaging();
    void parseReceived(int wanted, bool* sendOutputs);
    void handleFrame(const unsigned char* frame, int wanted, bool* sendOutputs);
    bool send(int command, int value);
    void checkBoardAnswers(Clock::time_point now);
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

    unsigned char m_receive[kIoBufferSize];
    int m_receiveFill = 0;
    unsigned char m_staging[kIoBufferSize];

    QString m_portPath;
    Clock::time_point m_nextOpenAttempt;
    bool m_portFaultReported = false;
    Clock::time_point m_nextPoll;
    Clock::time_point m_lastAnswer;
    bool m_silenceReported = false;
    long m_skippedBytes = 0;
    Clock::time_point m_noiseWindowStart;
};
