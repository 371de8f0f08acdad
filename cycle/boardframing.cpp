#include "boardframing.h"

#include <algorithm>
#include <cstring>

namespace {

constexpr int kValueBlock = kBoardValueCount / 2;

} // namespace

quint8 checkSum8(const unsigned char* data, int count)
{
    unsigned int sum = 0;
    for (int i = 0; i < count; ++i) {
        sum += data[i];
    }
    return static_cast<quint8>(sum & 0xFFu);
}

void buildHostFrame(unsigned char* frame, int command, int value)
{
    const unsigned int v = static_cast<unsigned int>(value);
    frame[0] = kFrameHeader;
    frame[1] = static_cast<unsigned char>(command & 0xFF);
    frame[2] = static_cast<unsigned char>(v & 0xFFu);
    frame[3] = static_cast<unsigned char>((v >> 8) & 0xFFu);
    frame[4] = checkSum8(frame, 4);
    frame[5] = kFrameTrailer;
}

BoardScan scanBoardFrames(const unsigned char* data, int size)
{
    BoardScan scan;
    int pos = 0;
    while (size - pos >= kBoardFrameSize && scan.replyCount < BoardScan::MaxReplies) {
        const unsigned char* f = data + pos;
        if (f[0] == kFrameHeader && checkSum8(f, 6) == f[6] && f[7] == kFrameTrailer) {
            BoardReply& reply = scan.replies[scan.replyCount++];
            reply.command = f[1];
            std::memcpy(reply.d, f + 2, sizeof reply.d);
            pos += kBoardFrameSize;
        } else {
            ++scan.skipped;
            ++pos;
        }
    }
    scan.consumed = pos;
    return scan;
}

bool outputEchoMatches(int echo, int sentWord)
{
    return (echo & kOutputBits) == (sentWord & kOutputBits);
}

PollReply decodePollReply(const BoardReply& reply)
{
    PollReply poll;
    poll.inputs = reply.d[0] | ((reply.d[1] & 3) << 8);
    poll.echo = reply.d[2] | ((reply.d[3] & 3) << 8);
    return poll;
}

qint32 boardReplyValue(const BoardReply& reply)
{
    const quint32 value = quint32(reply.d[0]) | (quint32(reply.d[1]) << 8) | (quint32(reply.d[2]) << 16)
        | (quint32(reply.d[3]) << 24);
    return static_cast<qint32>(value);
}

bool storeBoardValue(const BoardReply& reply, qint32* values, int* nextIndex)
{
    if (reply.command != CmdReadValues1 && reply.command != CmdReadValues2) {
        return false;
    }
    // Each command fills its own half of the table; further replies are dropped.
    const int first = reply.command == CmdReadValues1 ? 0 : kValueBlock;
    if (*nextIndex < first || *nextIndex >= first + kValueBlock) {
        return false;
    }
    values[*nextIndex] = boardReplyValue(reply);
    ++*nextIndex;
    return true;
}

int nextPollCommand(int* pollCount, int* nextValueIndex)
{
    ++*pollCount;
    if (*pollCount == kFirstValuesPass) {
        *nextValueIndex = 0;
        return CmdReadValues1;
    }
    if (*pollCount >= kSecondValuesPass) {
        *nextValueIndex = kValueBlock;
        *pollCount = 0;
        return CmdReadValues2;
    }
    return CmdPoll;
}

BoardReceiver::Result BoardReceiver::receive(const unsigned char* data, int size, int sentWord, qint32* values,
                                             int* nextValueIndex)
{
    Result result;
    const int fit = std::max(0, std::min(size, kIoBufferSize - m_fill));
    if (fit > 0) {
        std::memcpy(m_buffer + m_fill, data, static_cast<size_t>(fit));
        m_fill += fit;
    }
    result.dropped = std::max(0, size) - fit;

    // The buffer holds at most MaxReplies frames, so one scan takes them all.
    const BoardScan scan = scanBoardFrames(m_buffer, m_fill);
    result.skipped = scan.skipped;
    result.frames = scan.replyCount;
    for (int i = 0; i < scan.replyCount; ++i) {
        const BoardReply& reply = scan.replies[i];
        switch (reply.command) {
        case CmdPoll: {
            const PollReply poll = decodePollReply(reply);
            result.inputWords[result.pollReplies++] = poll.inputs;
            result.sendOutputs = true;
            // The latest reply tells what the board drives now.
            result.echo = poll.echo;
            result.echoMatches = outputEchoMatches(poll.echo, sentWord);
            break;
        }
        case CmdReadValues1:
        case CmdReadValues2:
            storeBoardValue(reply, values, nextValueIndex);
            break;
        default:
            break;  // a reply to command 1, or to nothing we know: consumed and ignored
        }
    }
    if (scan.consumed > 0) {
        std::memmove(m_buffer, m_buffer + scan.consumed, static_cast<size_t>(m_fill - scan.consumed));
        m_fill -= scan.consumed;
    }
    return result;
}
