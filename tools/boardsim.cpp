// A simulated I/O board for the demo: creates a pseudo-terminal, links it as
// "COM<n>" in the monitor's working folder and answers the monitor as the real
// board would. Inputs are set from the keyboard or from a script file; output
// changes are printed as the monitor sends them.

#include "boardsimulator.h"
#include "mouldmachine.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QString>
#include <QStringList>

#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iostream>
#include <string>
#include <thread>

#include <unistd.h>

namespace {

const char kUsage[] =
    "usage: boardsim [-d FOLDER] [-p N] [-k] [-c MS [-n N] [-w MS] [-o N] [-x FILE]...] [SCRIPT]\n"
    "  -d FOLDER  the monitor's working folder (default: the current folder)\n"
    "  -p N       link the board as \"COM<N>\" (default 1)\n"
    "  -k         keep running when the keyboard input ends (until Ctrl+C)\n"
    "  -c MS      a moulding machine on the board: one cycle every MS milliseconds,\n"
    "             its steps and the monitor's permissions printed as they happen\n"
    "  -n N       a part stays in a cavity every N cycles (default 10, 0: never)\n"
    "  -w MS      how long the part stays before the operator opens the door (default 6000)\n"
    "  -o N       of the parts left, every Nth is lifted on the monitor's screen: the\n"
    "             operator takes it out and waits at the open door until someone\n"
    "             lifts the alarm there (at most 30 s; default 0: never)\n"
    "  -x FILE    the scene file of a simulated camera: \"1\" in it films the part left\n"
    "             (once per camera, in camera order; parts stay in turn)\n"
    "  SCRIPT     commands run first; then commands are read from the keyboard\n"
    "commands, one a line (# starts a comment):\n"
    "  in B 0|1      input B (0..9) off or on\n"
    "  inputs HEX    the whole 10-bit input word\n"
    "  pulse B MS    input B on for MS milliseconds\n"
    "  wait MS       pause\n"
    "  noise HEX..   bytes of line noise before the next reply\n"
    "  split N       the next reply in two parts, N bytes first\n"
    "  double        the next reply goes out together with the one after it\n"
    "  badsum        the next reply carries a wrong sum\n"
    "  silent 0|1    stop or resume answering\n"
    "  unplug, plug  pull the cable, plug it back\n"
    "  show          inputs, outputs and frames so far\n"
    "  quit\n";

char gLinkPath[4096];

void onSignal(int)
{
    // Leave no link to a terminal that is about to vanish.
    if (gLinkPath[0]) {
        ::unlink(gLinkPath);
    }
    ::_exit(0);
}

QString bits10(int word)
{
    QString s;
    for (int b = 0; b < 10; ++b) {
        s += (word >> b) & 1 ? QLatin1Char('1') : QLatin1Char('0');
    }
    return s;
}

void show(const BoardSimulator& board)
{
    const int out = board.lastOutputValue();
    std::printf("inputs  0..9: %s\noutputs 0..9: %s\nframes: %d (polls %d, outputs %d), noise bytes from host: %ld\n",
                qPrintable(bits10(board.inputs())), out < 0 ? "(none yet)" : qPrintable(bits10(out)),
                board.frameCount(), board.countCommand(2), board.countCommand(1), board.garbageBytes());
    std::fflush(stdout);
}

// Runs one command line; false ends the program.
bool runCommand(BoardSimulator& board, const QString& line)
{
    const QString text = line.section(QLatin1Char('#'), 0, 0).trimmed();
    if (text.isEmpty()) {
        return true;
    }
    const QStringList w = text.split(QLatin1Char(' '), Qt::SkipEmptyParts);
    const QString& cmd = w.at(0);
    bool ok = true;
    auto num = [&](int i, int base = 10) {
        bool good = false;
        const int v = i < w.size() ? w.at(i).toInt(&good, base) : 0;
        ok = ok && good;
        return v;
    };
    if (cmd == QLatin1String("in")) {
        const int bit = num(1);
        const int on = num(2);
        if (ok && bit >= 0 && bit <= 9) {
            board.setInput(bit, on != 0);
        } else {
            ok = false;
        }
    } else if (cmd == QLatin1String("inputs")) {
        const int word = num(1, 16);
        if (ok) {
            board.setInputs(word);
        }
    } else if (cmd == QLatin1String("pulse")) {
        const int bit = num(1);
        const int ms = num(2);
        if (ok && bit >= 0 && bit <= 9) {
            board.setInput(bit, true);
            std::this_thread::sleep_for(std::chrono::milliseconds(ms));
            board.setInput(bit, false);
        } else {
            ok = false;
        }
    } else if (cmd == QLatin1String("wait")) {
        const int ms = num(1);
        if (ok) {
            std::this_thread::sleep_for(std::chrono::milliseconds(ms));
        }
    } else if (cmd == QLatin1String("noise")) {
        QByteArray bytes;
        for (int i = 1; i < w.size(); ++i) {
            bytes.append(static_cast<char>(num(i, 16)));
        }
        if (ok) {
            board.injectNoise(bytes);
        }
    } else if (cmd == QLatin1String("split")) {
        const int n = num(1);
        if (ok) {
            board.splitNextReply(n);
        }
    } else if (cmd == QLatin1String("double")) {
        board.doubleNextReply();
    } else if (cmd == QLatin1String("badsum")) {
        board.corruptNextReply();
    } else if (cmd == QLatin1String("silent")) {
        const int on = num(1);
        if (ok) {
            board.setSilent(on != 0);
        }
    } else if (cmd == QLatin1String("unplug")) {
        board.unplug();
        std::printf("cable pulled\n");
    } else if (cmd == QLatin1String("plug")) {
        if (board.plugIn()) {
            std::printf("plugged in at %s\n", qPrintable(board.slavePath()));
        } else {
            std::printf("cannot plug in\n");
        }
    } else if (cmd == QLatin1String("help")) {
        std::printf("%s", kUsage);
    } else if (cmd == QLatin1String("show")) {
        show(board);
    } else if (cmd == QLatin1String("quit") || cmd == QLatin1String("exit")) {
        return false;
    } else {
        ok = false;
    }
    if (!ok) {
        std::printf("not understood: %s (type \"help\" for the commands)\n", qPrintable(text));
    }
    std::fflush(stdout);
    return true;
}

} // namespace

int main(int argc, char* argv[])
{
    QString folder = QDir::currentPath();
    int port = 1;
    bool keep = false;
    QString script;
    MouldMachineOptions machine;
    bool cycling = false;
    int opt;
    while ((opt = ::getopt(argc, argv, "d:p:kc:n:w:o:x:h")) != -1) {
        switch (opt) {
        case 'd':
            folder = QString::fromLocal8Bit(optarg);
            break;
        case 'p':
            port = std::atoi(optarg);
            break;
        case 'k':
            keep = true;
            break;
        case 'c':
            cycling = true;
            machine.periodMs = std::atoi(optarg);
            break;
        case 'n':
            machine.partEvery = std::atoi(optarg);
            break;
        case 'w':
            machine.clearAfterMs = std::atoi(optarg);
            break;
        case 'o':
            machine.screenLiftEvery = std::atoi(optarg);
            break;
        case 'x':
            machine.sceneFiles.push_back(optarg);
            break;
        default:
            std::fprintf(stderr, "%s", kUsage);
            return opt == 'h' ? 0 : 2;
        }
    }
    if (optind < argc) {
        script = QString::fromLocal8Bit(argv[optind]);
    }
    if (port < 1 || !QFileInfo(folder).isDir() || (cycling && machine.periodMs < 500) || machine.partEvery < 0
        || machine.clearAfterMs < 0 || machine.screenLiftEvery < 0) {
        std::fprintf(stderr, "%s", kUsage);
        return 2;
    }

    BoardSimulator board;
    if (!board.isPlugged()) {
        std::fprintf(stderr, "boardsim: no pseudo-terminal available\n");
        return 1;
    }
    const QString link = QDir(folder).absoluteFilePath(QStringLiteral("COM%1").arg(port));
    if (!board.linkAs(link)) {
        std::fprintf(stderr, "boardsim: cannot create %s\n", qPrintable(link));
        return 1;
    }
    const QByteArray linkBytes = QFile::encodeName(link);
    std::strncpy(gLinkPath, linkBytes.constData(), sizeof gLinkPath - 1);
    std::signal(SIGINT, onSignal);
    std::signal(SIGTERM, onSignal);
    std::signal(SIGHUP, onSignal);

    std::atomic<int> lastOutputs{-1};
    std::atomic<bool> polled{false};
    board.setFrameObserver([&](const BoardSimulator::HostFrame& f) {
        if (!polled.exchange(true)) {
            std::printf("the monitor is talking to the board\n");
        }
        if (f.command() == 1 && !cycling) {
            const int outputs = f.value() & 0x3FF;
            if (lastOutputs.exchange(outputs) != outputs) {
                std::printf("outputs 0..9: %s\n", qPrintable(bits10(outputs)));
            }
        }
        std::fflush(stdout);
    });
    std::printf("board on %s, linked as %s\n", qPrintable(board.slavePath()), qPrintable(link));
    std::fflush(stdout);

    // The machine runs beside the keyboard, so a person can still set inputs.
    std::atomic<bool> stopMachine{false};
    std::thread machineThread;
    if (cycling) {
        const auto started = std::chrono::steady_clock::now();
        MouldMachine::Board io;
        io.setInput = [&board](int bit, bool on) { board.setInput(bit, on); };
        io.outputs = [&board] { return board.lastOutputValue(); };
        auto say = [started](const std::string& text) {
            const double seconds =
                std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
            std::printf("[%7.1f s] %s\n", seconds, text.c_str());
            std::fflush(stdout);
        };
        machineThread = std::thread([io, machine, say, &stopMachine] {
            MouldMachine(io, machine, say).run(stopMachine);
        });
    }

    bool running = true;
    if (!script.isEmpty()) {
        std::ifstream in(QFile::encodeName(script).constData());
        if (!in) {
            std::fprintf(stderr, "boardsim: cannot read %s\n", qPrintable(script));
            return 1;
        }
        std::string line;
        while (running && std::getline(in, line)) {
            running = runCommand(board, QString::fromStdString(line));
        }
    }
    std::string line;
    while (running && std::getline(std::cin, line)) {
        running = runCommand(board, QString::fromStdString(line));
    }
    while (running && keep) {
        std::this_thread::sleep_for(std::chrono::seconds(1));
    }
    stopMachine = true;
    if (machineThread.joinable()) {
        machineThread.join();
    }
    board.setFrameObserver({});
    return 0;
}
