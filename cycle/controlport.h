#pragma once

#include <QObject>

#include <functional>

class IOThread;

// The machine's outputs, numbered as their bits in the output word.
enum MachineOutput {
    OutAllowClamp = 0,    // on: the machine must not close the mould
    OutAllowEjector = 1,  // on: the machine must not fire the ejector
    OutAlarm = 2,
    OutSpare4 = 3,        // may follow another output (system parameter 173)
    OutAux5 = 4,
    OutArea6 = 5,
    OutArea7 = 6,
    OutArea8 = 7,
    OutArea9 = 8,
    OutArea10 = 9,
};

// The machine's inputs, numbered as their bits in the input word.
enum MachineInput {
    InMouldOpenEnd = 0,
    InSafetyDoor = 1,
    InEjectorBackEnd = 2,
    InSpare4 = 3,         // may stand in for input 0, 1 or 2 (system parameter 153)
    In5 = 4,
    In6 = 5,
    In7 = 6,
    In8 = 7,
};

// The logical view of the machine's ten outputs and ten inputs. Outputs are
// switched logically and turned into the physical level the board drives
// (each output has its rest level); the finished word goes to the I/O thread
// in one step (commitOutputs). Inputs are read as edges. Used on the GUI
// thread only; the one instance is gpControlPort.
class ControlPort : public QObject {
    Q_OBJECT
public:
    // portIndex: the board's port is "COM<portIndex + 1>" (system parameter 181).
    // Puts the outputs at their rest levels and publishes them; the port is
    // opened by the I/O thread once it runs.
    explicit ControlPort(int portIndex = 0);
    // Stops the I/O thread if it runs. The program never deletes the instance.
    ~ControlPort() override;

    void setOutput(int index, int on);
    void commitOutputs();
    void initOutputs();
    bool readIO(bool output, int index) const;
    bool inputEdge(int index);

    // Creates and starts the I/O thread (the main loop connects to its input
    // signal, ioThread()). Also registers the quit work (outputs at rest,
    // thread stopped).
    void startIOThread();
    // The cycle's heartbeat: without it for more than 10 s the link falls silent.
    void feedWatchdog();

    // Stops and joins the I/O thread; its last act is sending the current word.
    void stopIOThread();
    // The quit work: the last word committed and delivered, thread stopped.
    // The last word is the quit word's owner's (the machine outputs' authority)
    // when one is set, else every output at rest.
    void shutdown();
    void setQuitWord(std::function<void()> publishLastWord) { m_quitWord = std::move(publishLastWord); }

    // Whether the safety door was opened since the last call (the edge is
    // seen by inputEdge; what it does to the alarm is the outputs' owner's).
    bool takeDoorOpened()
    {
        const bool opened = m_doorOpened;
        m_doorOpened = false;
        return opened;
    }

    int outputWord() const { return m_outputWord; }
    int portIndex() const { return m_portIndex; }
    IOThread* ioThread() const { return m_ioThread; }

signals:
    // The published output word changed.
    void sigIOChange();
    // The board link went down or came back (the I/O thread's word, on the
    // GUI thread).
    void linkStateChanged(bool up);

private:
    void setBit(int bit, int level);
    // The machine's input word as the board last read it, with input 4's
    // stand-in applied.
    int liveInputs() const;

    unsigned char m_inputLevels[16];
    int m_outputWord;
    int m_inputCopy;
    IOThread* m_ioThread;
    const int m_portIndex;
    bool m_doorOpened = false;
    std::function<void()> m_quitWord;
};

extern ControlPort* gpControlPort;
// Set when opening the safety door has switched the alarm off since the cycle started.
extern unsigned char gDoorClearedAlarm;
