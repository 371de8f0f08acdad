#pragma once

#include <QtGlobal>

// The serial I/O board's wire format and what its replies mean, as plain
// functions over bytes and tables: no port, no thread, no lock. The I/O thread
// feeds them what it read and acts on what they found; tests drive them with
// every malformed line they can think of.
//
// The host sends 6-byte frames (header, command, value low, value high, sum,
// trailer), the board answers with 8-byte frames (header, command, d0..d3,
// sum, trailer). The sums are the 8-bit sum of every byte before them.
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
// The poll loop's pass counter runs 1..210: pass 200 asks for the first value
// set, pass 210 for the second and starts the count again.
constexpr int kFirstValuesPass = 200;
constexpr int kSecondValuesPass = 210;

// 8-bit sum of count bytes.
quint8 checkSum8(const unsigned char* data, int count);
// Fills a 6-byte host frame for command (low byte) and value (low 16 bits).
void buildHostFrame(unsigned char* frame, int command, int value);

// The outputs are bits 0..9 of the word; the board echoes only these. Bits 10
// and up of the wanted word are always set and never compared.
constexpr int kOutputBits = 0x3FF;

// Whether a poll reply's output echo confirms the word last sent with command 1.
bool outputEchoMatches(int echo, int sentWord);

// One well-formed board frame: the command it answers and its data bytes.
struct BoardReply {
    unsigned char command = 0;
    unsigned char d[4] = {};
};

// What a scan of received bytes found.
struct BoardScan {
    static constexpr int MaxReplies = kIoBufferSize / kBoardFrameSize;
    // Bytes the scan is done with (frames and the bytes it stepped over); the
    // rest is shorter than a frame and waits for the bytes still to come.
    int consumed = 0;
    // Bytes that started no valid frame: each costs exactly one byte.
    int skipped = 0;
    int replyCount = 0;
    BoardReply replies[MaxReplies];
};

// Finds the board frames in data, in order, resynchronising by single bytes:
// a wrong header, sum or trailer costs one byte and the scan tries again at
// the next. Stops early (consumed tells where) once MaxReplies were found.
BoardScan scanBoardFrames(const unsigned char* data, int size);

// A poll reply (command 2): inputs 0..7 in d0 and 8..9 in bits 0..1 of d1; the
// output echo likewise in d2 and d3. Bits 2..7 of d1 and d3 mean nothing.
struct PollReply {
    int inputs = 0;
    int echo = 0;
};
PollReply decodePollReply(const BoardReply& reply);

// The signed 32-bit value of a reply to command 3 or 4, d0 least significant.
qint32 boardReplyValue(const BoardReply& reply);

// Stores a reply to command 3 or 4 at the table's next entry when that entry
// lies in the command's own half (0..7 for command 3, 8..15 for command 4)
// and advances the entry; a ninth reply, or a reply to a command not asked
// for, is dropped. True when stored.
bool storeBoardValue(const BoardReply& reply, qint32* values, int* nextIndex);

// Advances the pass counter of the poll loop and returns the command of this
// pass: 3 on pass 200 (the value table then fills from entry 0), 4 on pass 210
// (from entry 8; the counter starts again from 0), 2 otherwise.
int nextPollCommand(int* pollCount, int* nextValueIndex);

// The host's end of the board's byte stream: the receive buffer of the poll
// loop (the unparsed rest always at its start) and what the replies in it
// mean. The I/O thread hands it the bytes of one read; it appends what fits
// (the surplus of that read is dropped), takes out every whole frame and
// stores the board's values into their table. Inputs and the output echo are
// only reported: publishing them (under the lock, with the signal) and
// watching the echo over time are the thread's business.
class BoardReceiver {
public:
    struct Result {
        int pollReplies = 0;
        // The input words of the poll replies, in the order they came.
        int inputWords[BoardScan::MaxReplies] = {};
        // A poll reply was handled: command 1 is due (once, however many came),
        // so the board is kept told even when its echo agrees.
        bool sendOutputs = false;
        // The output echo (bits 0..9) of the last poll reply, -1 without one,
        // and whether it confirmed the word last sent.
        int echo = -1;
        bool echoMatches = false;
        // Whole frames found, of any command.
        int frames = 0;
        int skipped = 0;
        int dropped = 0;  // bytes of this read that did not fit
    };

    // sentWord: the word last sent with command 1, which the echo should show.
    Result receive(const unsigned char* data, int size, int sentWord, qint32* values, int* nextValueIndex);
    void clear() { m_fill = 0; }
    int fill() const { return m_fill; }

private:
    unsigned char m_buffer[kIoBufferSize] = {};
    int m_fill = 0;
};
