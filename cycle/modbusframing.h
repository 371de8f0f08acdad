#pragma once

#include <QString>
#include <QVarLengthArray>
#include <QVector>

#include <mutex>

// Modbus TCP as the server speaks it, without sockets: the register tables,
// the framing of requests and their replies, one connection's byte stream and
// the choices the server makes between connections. The server thread feeds
// these what its sockets received; tests feed them every malformed frame and
// random bytes by the hundred thousand.
//
// Unit 1, function codes 3 (read holding registers) and 16 (write multiple
// registers). Nothing else is answered and no exception reply is ever sent.

// The read table that the GUI thread fills and clients read, and the write
// table that clients fill and the GUI thread reads. One lock guards both, so a
// 32-bit value written in one call is never seen half old.
class ModbusTables {
public:
    static constexpr int Size = 500;

    ModbusTables();
    ModbusTables(const ModbusTables&) = delete;
    ModbusTables& operator=(const ModbusTables&) = delete;

    // Sets one read register; an index outside the table is ignored.
    void setRead(int index, quint16 value);
    // Sets registers start, start + 1, ... together; what falls outside is dropped.
    void setRead(int start, const quint16* values, int count);
    // The read register as a client would get it (0 outside the table).
    quint16 read(int index) const;
    // Stores write register index into out; false (out untouched) outside the table.
    bool written(int index, quint16* out) const;

    // Framing side: count read registers from start, high byte first, into
    // out; and count values (high byte first) into the write table from start.
    // The caller has checked the range.
    void copyRead(int start, int count, unsigned char* out) const;
    void storeWrite(int start, const unsigned char* values, int count);

private:
    mutable std::mutex m_mutex;
    quint16 m_read[Size];
    quint16 m_write[Size];
};

// Replies of one pass; a few of them fit without touching the heap.
using ModbusReplies = QVarLengthArray<char, 2048>;

// Something wrong with what a client sent. The server logs the first of a
// connection and drops the request.
struct ModbusFault {
    enum Kind {
        None,
        NotModbus,       // a length outside 2..254: the stream cannot be framed (a = length)
        ReadLength,      // a read of another length than 6 (a = length)
        ReadRange,       // a = quantity, b = start
        WriteLength,     // a write shorter than its fixed part (a = length)
        WriteMalformed,  // quantity, byte count and length disagree (a = quantity)
        WriteRange,      // would run past the table (a = quantity, b = start)
        StalePartial,    // a request left unfinished for StalePartialMs
    };
    Kind kind = None;
    int a = 0;
    int b = 0;
};
// The log text of a fault (empty for None).
QString modbusFaultText(const ModbusFault& fault);

// One write the framing put into the write table: registers start ..
// start + count - 1; the first few values for the log line.
struct ModbusWrite {
    static constexpr int Logged = 8;
    int start = 0;
    int count = 0;
    quint16 values[Logged] = {};
};

// What one pass of the framing did.
struct ModbusFraming {
    // Bytes taken; the rest is the start of a request still arriving.
    int consumed = 0;
    // Whole requests taken out of the stream, answered or not.
    int requests = 0;
    int answered = 0;
    ModbusFault fault;  // the first of this pass
    QVarLengthArray<ModbusWrite, 4> writes;
};

// Answers every complete request at the start of data: a read is answered
// from the read table, a write goes into the write table (all or nothing) and
// is acknowledged. Replies are appended in request order. Requests for another
// unit or protocol, other function codes and malformed requests are consumed
// unanswered. When a length field is not Modbus TCP the rest of data cannot
// be framed and is consumed unanswered.
ModbusFraming frameModbusRequests(const char* data, int size, ModbusTables& tables, ModbusReplies& replies);

// One client connection's byte stream: its receive buffer, when a partial
// request began, when it was last heard of and how many requests it
// completed. Times are the program's monotonic milliseconds.
class ModbusRequestStream {
public:
    // A readiness event reads at most ChunksPerEvent chunks: a client that
    // streams requests as fast as it can is served in turn with the others.
    static constexpr int ChunkSize = 4096;
    static constexpr int ChunksPerEvent = 4;
    // A request still incomplete after this long is given up: its missing
    // bytes are not looked for in whatever the client sends next.
    static constexpr qint64 StalePartialMs = 3000;
    // The longest Modbus TCP frame: header and a length of 254.
    static constexpr int MaxFrameSize = 6 + 254;

    // What a read of the connection gave besides bytes.
    static constexpr int ReadClosed = 0;
    static constexpr int ReadWouldBlock = -1;
    static constexpr int ReadFailed = -2;

    enum class End {
        Drained,      // nothing more to read now
        BudgetSpent,  // more may be waiting: the next event reads on
        Closed,       // the client closed its side
        Failed,       // the connection failed
        Stopped,      // the handler asked to stop
    };

    explicit ModbusRequestStream(qint64 openedAtMs = 0)
        : m_lastHeardMs(openedAtMs)
    {
    }

    // Bytes of one read: frames and answers what is whole, keeps the start of
    // a request still arriving.
    ModbusFraming take(const char* data, int size, qint64 nowMs, ModbusTables& tables, ModbusReplies& replies);
    // Gives up a partial request older than StalePartialMs; true when one was dropped.
    bool dropStalePartial(qint64 nowMs);

    // One readiness event: read(char* into, int capacity) returns the bytes
    // read or one of the Read* values; handle(const ModbusFraming&,
    // ModbusReplies&) sees every pass (and may send and clear the replies)
    // and returns false to stop. A stale partial request is reported to
    // handle as a pass of its own with the fault StalePartial.
    template <typename Read, typename Handle>
    End serve(qint64 nowMs, ModbusTables& tables, ModbusReplies& replies, Read&& read, Handle&& handle)
    {
        m_lastHeardMs = nowMs;
        if (dropStalePartial(nowMs)) {
            ModbusFraming stale;
            stale.fault.kind = ModbusFault::StalePartial;
            if (!handle(stale, replies)) {
                return End::Stopped;
            }
        }
        char chunk[ChunkSize];
        for (int i = 0; i < ChunksPerEvent; ++i) {
            const int n = read(chunk, ChunkSize);
            if (n == ReadClosed) {
                return End::Closed;
            }
            if (n == ReadWouldBlock) {
                return End::Drained;
            }
            if (n < 0 || n > ChunkSize) {
                return End::Failed;
            }
            if (!handle(take(chunk, n, nowMs, tables, replies), replies)) {
                return End::Stopped;
            }
            if (n < ChunkSize) {
                return End::Drained;
            }
        }
        return End::BudgetSpent;
    }

    qint64 requests() const { return m_requests; }
    qint64 lastHeardMs() const { return m_lastHeardMs; }
    int buffered() const { return m_buffer.size(); }
    void clear() { m_buffer.clear(); }

private:
    QByteArray m_buffer;
    qint64 m_partialSinceMs = 0;
    qint64 m_lastHeardMs = 0;
    qint64 m_requests = 0;
};

// A connection as the eviction sees it.
struct ModbusPeer {
    qint64 requests = 0;     // whole requests it completed
    qint64 lastHeardMs = 0;  // when it was last readable (or connected)
};

// Which connection to close when a new one must fit: among those that never
// completed a request, the one quiet longest; when every one has completed a
// request, the one quiet longest of all. A plant system that polls keeps its
// connection against a burst of connections that never ask anything. -1 for
// no peers.
int chooseModbusEviction(const QVector<ModbusPeer>& peers);
