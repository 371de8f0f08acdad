// The serial I/O link against the simulated board on a pseudo-terminal:
// - the poll period (median and 99th percentile over 1,000 polls), against the
//   5 ms the loop is paced at;
// - the time from an input change at the board to the output frame that
//   answers it, when the GUI thread answers at once (edge check, output set,
//   commit), also in poll periods: the link needs up to one period for the
//   next poll, one to pick up the reply and one to send the new word.

#include "benchsupport.h"
#include "boardsimulator.h"
#include "controlport.h"
#include "iothread.h"

#include <QCoreApplication>
#include <QDir>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>

#include <algorithm>
#include <atomic>
#include <mutex>
#include <cstdio>
#include <functional>
#include <random>
#include <vector>

namespace {

bool waitUntil(const std::function<bool()>& done, int timeoutMs)
{
    const qint64 end = BoardSimulator::nowNs() + qint64(timeoutMs) * 1000000;
    while (!done()) {
        if (BoardSimulator::nowNs() > end) {
            return false;
        }
        QCoreApplication::processEvents(QEventLoop::AllEvents, 1);
        QThread::usleep(200);
    }
    return true;
}

} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    QTemporaryDir dir;
    if (!dir.isValid() || !QDir::setCurrent(dir.path())) {
        std::fprintf(stderr, "no temporary folder\n");
        return 1;
    }

    BoardSimulator board;
    if (!board.isPlugged() || !board.linkAs(QStringLiteral("COM1"))) {
        std::fprintf(stderr, "no pseudo-terminal\n");
        return 1;
    }

    auto* port = new ControlPort(0);
    gpControlPort = port;
    port->startIOThread();
    QTimer heartbeat;
    QObject::connect(&heartbeat, &QTimer::timeout, port, &ControlPort::feedWatchdog);
    heartbeat.start(100);
    // What a pass of the cycle does on an input signal, reduced to the answer:
    // output 0 follows input 0.
    QObject::connect(port->ioThread(), &IOThread::sigIOChange, port, [port] {
        for (int i = 0; i < 8; ++i) {
            port->inputEdge(i);
        }
        port->setOutput(OutAllowClamp, port->readIO(false, InMouldOpenEnd));
        port->commitOutputs();
        port->feedWatchdog();
    });

    // The board's own thread notes what it receives; the bench only looks at
    // the notes, so watching costs the link nothing.
    std::mutex notesMutex;
    std::vector<qint64> pollTimes;
    pollTimes.reserve(4096);
    std::atomic<int> wantedBit{-1};
    std::atomic<qint64> answeredAt{0};
    board.setFrameObserver([&](const BoardSimulator::HostFrame& f) {
        if (f.command() != CmdSetOutputs) {
            std::lock_guard<std::mutex> lock(notesMutex);
            if (pollTimes.size() < pollTimes.capacity()) {
                pollTimes.push_back(f.atNs);
            }
        } else if (wantedBit.load() == (f.value() & 1) && answeredAt.load() == 0) {
            answeredAt.store(f.atNs);
        }
    });
    auto polls = [&] {
        std::lock_guard<std::mutex> lock(notesMutex);
        return pollTimes.size();
    };

    // Poll period.
    const size_t pollsWanted = 1001;
    if (!waitUntil([&] { return polls() >= pollsWanted + 20; }, 30000)) {
        std::fprintf(stderr, "the link does not poll\n");
        return 1;
    }
    std::vector<double> periods;
    {
        std::lock_guard<std::mutex> lock(notesMutex);
        for (size_t i = pollTimes.size() - pollsWanted + 1; i < pollTimes.size(); ++i) {
            periods.push_back(double(pollTimes[i] - pollTimes[i - 1]) / 1e6);
        }
    }
    const double medianPeriod = percentile(periods, 0.5);
    const double p99Period = percentile(periods, 0.99);

    // Input change to answering output frame.
    std::mt19937 random(12345);
    std::uniform_int_distribution<int> pause(0, 5000);
    std::vector<double> latencies;
    const int trials = 200;
    for (int k = 0; k < trials; ++k) {
        const bool on = k % 2 == 0;
        // Start at a random phase of the poll period.
        QThread::usleep(unsigned(10000 + pause(random)));
        answeredAt.store(0);
        wantedBit.store(on ? 1 : 0);
        const qint64 t0 = BoardSimulator::nowNs();
        board.setInput(InMouldOpenEnd, on);
        if (!waitUntil([&] { return answeredAt.load() != 0; }, 2000)) {
            std::fprintf(stderr, "trial %d: no answer\n", k);
            return 1;
        }
        latencies.push_back(double(answeredAt.load() - t0) / 1e6);
        wantedBit.store(-1);
    }
    board.setFrameObserver({});
    const double medianLatency = percentile(latencies, 0.5);
    const double p99Latency = percentile(latencies, 0.99);
    const double maxLatency = *std::max_element(latencies.begin(), latencies.end());

    delete port;

    const bool periodOk = medianPeriod >= IOThread::kPollIntervalMs - 1.0 && medianPeriod <= IOThread::kPollIntervalMs + 1.0;
    std::printf("poll period over %zu polls: median %.3f ms, 99th percentile %.3f ms (paced at %d ms): %s\n",
                periods.size(), medianPeriod, p99Period, IOThread::kPollIntervalMs,
                periodOk ? "median within 1 ms" : "MEDIAN OUTSIDE 1 ms");
    std::printf("input change to output frame over %d changes: median %.3f ms (%.2f periods), "
                "99th percentile %.3f ms (%.2f periods), max %.3f ms\n",
                trials, medianLatency, medianLatency / medianPeriod, p99Latency, p99Latency / medianPeriod,
                maxLatency);
    return periodOk ? 0 : 1;
}
