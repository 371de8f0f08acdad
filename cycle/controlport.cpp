#include "controlport.h"

#include "globals.h"
#include "iothread.h"
#include "operatorprompt.h"
#include "platformhelpers.h"
#include "systemparam.h"
#include "texttable.h"

#include <QCoreApplication>
#include <QDebug>

#include <cstring>
#include <mutex>

ControlPort* gpControlPort = nullptr;
unsigned char gDoorClearedAlarm = 0;

namespace {

// The word last handed to the I/O thread that changed anything.
int gLastPublishedWord = 0;

// Settings are read live at every call; before a record is loaded they read as 0.
const SystemParam& settings()
{
    static const SystemParam none{};
    return gpSystemParam ? *gpSystemParam : none;
}

bool bitOf(int word, int bit)
{
    return (word >> bit) & 1;
}

} // namespace

ControlPort::ControlPort(int portIndex)
    : QObject(nullptr)
    , m_outputWord(-1)
    , m_inputCopy(0)
    , m_ioThread(nullptr)
    , m_portIndex(portIndex)
{
    std::memset(m_inputLevels, 0, sizeof m_inputLevels);
    // main creates it first; the fallback keeps a ControlPort built without the
    // full start-up (tools, tests) from locking a null mutex. No other thread
    // touches the I/O words yet.
    if (!gMutexTable[8]) {
        gMutexTable[8] = new std::mutex;
    }
    initOutputs();
    commitOutputs();
}

ControlPort::~ControlPort()
{
    stopIOThread();
    delete m_ioThread;
    if (gpControlPort == this) {
        gpControlPort = nullptr;
    }
}

void ControlPort::setBit(int bit, int level)
{
    if (level) {
        m_outputWord |= 1 << bit;
    } else {
        m_outputWord &= ~(1 << bit);
    }
}

void ControlPort::setOutput(int index, int on)
{
    if (index < 0 || index > 9) {
        qWarning() << "ControlPort::setOutput: no output" << index;
        return;
    }
    const int rest = settings().outInitState(index) != 0 ? 1 : 0;
    const int level = (on != 0 ? 1 : 0) ^ rest;
    if (settings().spareOutput4Use() == index + 1) {
        setBit(OutSpare4, level);
    }
    setBit(index, level);
}

void ControlPort::commitOutputs()
{
    {
        std::lock_guard<std::mutex> lock(*gMutexTable[8]);
        gOutputWord = m_outputWord;
    }
    if (m_outputWord != gLastPublishedWord) {
        gLastPublishedWord = m_outputWord;
        emit sigIOChange();
    }
}

void ControlPort::initOutputs()
{
    for (int i = 0; i <= 9; ++i) {
        setOutput(i, 0);
    }
}

bool ControlPort::readIO(bool output, int index) const
{
    if (index < 0 || index > 9) {
        return false;
    }
    if (output) {
        return bitOf(m_outputWord, index);
    }
    // The level now, not the copy the last edge scan took: a debounce that
    // ends between two passes must see whether the input is still there.
    const bool raw = bitOf(liveInputs(), index);
    const bool inverted = index < 8 && settings().inputInvert(index) != 0;
    return raw != inverted;
}

int ControlPort::liveInputs() const
{
    int word = 0;
    {
        std::lock_guard<std::mutex> lock(*gMutexTable[8]);
        word = gInputWord;
    }
    // Input 4 may stand in for input 1, 2 or 3.
    const int spare = settings().spareInput4Use();
    if (spare >= 1 && spare <= 3) {
        const int target = spare - 1;
        if (bitOf(word, InSpare4)) {
            word |= 1 << target;
        } else {
            word &= ~(1 << target);
        }
    }
    return word;
}

bool ControlPort::inputEdge(int index)
{
    if (index < 0 || index >= int(sizeof m_inputLevels)) {
        qWarning() << "ControlPort::inputEdge: no input" << index;
        return false;
    }
    m_inputCopy = liveInputs();
    const SystemParam& s = settings();

    const int now = bitOf(m_inputCopy, index) ? 1 : 0;
    const int before = m_inputLevels[index];
    const bool inverted = index < 8 && s.inputInvert(index) != 0;
    const bool edge = inverted ? (before == 1 && now == 0) : (before == 0 && now == 1);

    const int function = s.systemFunction();
    if (function != 1 && function != 2) {
        const int doorNow = bitOf(m_inputCopy, InSafetyDoor) ? 1 : 0;
        const int doorBefore = m_inputLevels[InSafetyDoor];
        const bool doorInverted = s.inputInvert(InSafetyDoor) != 0;
        const bool opened = doorInverted ? (doorBefore == 0 && doorNow == 1) : (doorBefore == 1 && doorNow == 0);
        if (opened) {
            m_doorOpened = true;
            gDoorClearedAlarm = 1;
        }
    }

    m_inputLevels[index] = static_cast<unsigned char>(now);
    return edge;
}

void ControlPort::startIOThread()
{
    if (m_ioThread) {
        qWarning() << "ControlPort::startIOThread: the I/O thread exists already";
        return;
    }
    m_ioThread = new IOThread(m_portIndex);
    // Port and board faults are told to the operator on this (the GUI) thread.
    connect(
        m_ioThread, &IOThread::sigLinkWarning, this,
        [](int textId, int port) { warnOperator(textOf(textId).arg(QStringLiteral("COM%1").arg(port))); },
        Qt::QueuedConnection);

    connect(m_ioThread, &IOThread::sigLinkState, this, &ControlPort::linkStateChanged, Qt::QueuedConnection);

    addQuitHook(QStringLiteral("machine I/O at rest"), [] {
        if (gpControlPort) {
            gpControlPort->shutdown();
        }
    });
    // The event loop may also end without quitProgram; the thread must not
    // outlive the objects it uses.
    if (QCoreApplication::instance()) {
        connect(QCoreApplication::instance(), &QCoreApplication::aboutToQuit, this, &ControlPort::shutdown);
    }

    m_ioThread->start(QThread::InheritPriority);
}

void ControlPort::feedWatchdog()
{
    if (m_ioThread) {
        m_ioThread->stampHeartbeat();
    }
}

void ControlPort::stopIOThread()
{
    if (m_ioThread) {
        m_ioThread->requestStop();
        m_ioThread->join();
    }
}

void ControlPort::shutdown()
{
    if (m_quitWord) {
        m_quitWord();
    } else {
        initOutputs();
        commitOutputs();
    }
    stopIOThread();
}
