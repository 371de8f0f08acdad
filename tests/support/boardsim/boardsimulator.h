#pragma once

#include <QByteArray>
#include <QString>
#include <QVector>

#include <atomic>
#include <functional>
#include <mutex>
#include <thread>

// A whole simulated serial I/O board on a pseudo-terminal. The host side opens
// the terminal's slave end (usually through a "COM1" link in its working folder)
// exactly as it would open the real board's port. The simulator answers poll
// commands with the inputs its user sets and the echo of the last output word
// (junk in the unused bits), records every host frame with the time it arrived,
// and injects faults on request: noise, split or doubled replies, bad sums,
// silence, and outputs stuck at a level whatever the host asks (the echo then
// shows what the board really drives). Its framing is written independently of the program's, so the
// two check each other.
class BoardSimulator {
public:
    struct HostFrame {
        qint64 atNs = 0;  // steady clock, see nowNs()
        unsigned char bytes[6] = {};
        int command() const { return bytes[1]; }
        int value() const { return bytes[2] | (bytes[3] << 8); }
    };

    // Opens a pseudo-terminal in raw mode and starts answering.
    BoardSimulator();
    // Stops, closes the terminal and removes the link it made.
    ~BoardSimulator();

    BoardSimulator(const BoardSimulator&) = delete;
    BoardSimulator& operator=(const BoardSimulator&) = delete;

    bool isPlugged() const;
    QString slavePath() const;
    // Makes linkPath a symbolic link to the terminal (replacing what was there).
    bool linkAs(const QString& linkPath);
    // Pulls the cable: the terminal is closed and the link removed.
    void unplug();
    // Plugs a fresh terminal in and links it where the last link was.
    bool plugIn();

    // Board state. Inputs are the 10-bit word the board reads on its terminals.
    void setInputs(int word);
    void setInput(int bit, bool on);
    int inputs() const;
    // The 16-bit value of the last command 1, or -1 before the first one.
    int lastOutputValue() const;
    // Random bits in bits 2 to 7 of d1 and d3 of every poll reply (on by default).
    void setJunkBits(bool on);
    // Answers to commands 3 and 4: how many replies each gets (8 by default).
    void setValueReplyCount(int count);
    static qint32 boardValue(int command, int reply);
    // Whether command 1 is acknowledged with a reply of its own (off by default).
    void setAcknowledgeOutputs(bool on);

    // Faults. All apply to the automatic answers.
    void setSilent(bool silent);            // answer nothing (false: answer again)
    // Outputs in mask drive (and echo) the levels of those bits in levels,
    // whatever command 1 said; mask 0 frees them all.
    void setStuckOutputs(int mask, int levels);
    void injectNoise(const QByteArray& bytes);  // sent just before the next reply
    void splitNextReply(int firstBytes);    // that many bytes now, the rest with the next reply
    void doubleNextReply();                 // the next reply waits and goes out with the one after it
    void corruptNextReply();                // the next reply carries a wrong sum
    // Writes bytes to the host at once, outside any answer.
    void sendRaw(const QByteArray& bytes);
    // A correct (or deliberately wrong-summed) 8-byte board frame.
    static QByteArray boardFrame(int command, int d0, int d1, int d2, int d3, bool badSum = false);
    // A poll reply for inputs and echo with the given junk in the unused bits.
    static QByteArray pollReply(int inputs, int echo, int junk = 0);

    // What the host sent.
    QVector<HostFrame> frames() const;
    int frameCount() const;
    // Frames with the given command among the first n recorded (all when n < 0).
    int countCommand(int command, int n = -1) const;
    // Bytes that formed no valid host frame.
    long garbageBytes() const;
    QByteArray receivedBytes() const;
    void clearRecord();
    // Called on the simulator's thread for every host frame (after recording it).
    void setFrameObserver(std::function<void(const HostFrame&)> observer);

    static qint64 nowNs();

private:
    bool openTerminal();
    void closeTerminal();
    void startThread();
    void stopThread();
    void loop();
    void consume(const unsigned char* data, int n, qint64 atNs);
    void answer(const HostFrame& frame);
    void writeOut(const QByteArray& bytes);

    mutable std::mutex m_mutex;  // everything below except the descriptors
    int m_master = -1;
    int m_slave = -1;
    int m_wakePipe[2] = {-1, -1};
    QString m_slavePath;
    QString m_linkPath;
    std::thread m_thread;
    std::atomic<bool> m_stop{false};

    int m_inputs = 0;
    int m_outputValue = -1;
    bool m_junk = true;
    quint32 m_junkState = 0x9E3779B9u;
    int m_valueReplies = 8;
    bool m_ackOutputs = false;
    bool m_silent = false;
    int m_stuckMask = 0;
    int m_stuckLevels = 0;
    QByteArray m_noise;
    int m_splitBytes = 0;
    QByteArray m_pendingRest;
    bool m_doubleNext = false;
    QByteArray m_heldReply;
    bool m_corruptNext = false;

    QByteArray m_parse;
    QVector<HostFrame> m_frames;
    QByteArray m_received;
    long m_garbage = 0;
    std::function<void(const HostFrame&)> m_observer;
};
