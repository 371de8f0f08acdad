#include "modbusframing.h"

#include <QByteArray>

#include <algorithm>
#include <cstring>

namespace {

// MBAP header: transaction id, protocol id, length, unit id.
constexpr int MbapSize = 7;
// The length field counts the unit id and the PDU; a PDU is at most 253 bytes.
constexpr int MinLength = 2;
constexpr int MaxLength = 254;
constexpr int MaxReadQuantity = 125;
constexpr int MaxWriteQuantity = 123;
constexpr quint8 ServedUnit = 1;
constexpr quint8 ReadHoldingRegisters = 3;
constexpr quint8 WriteMultipleRegisters = 16;

quint16 be16(const uchar* p)
{
    return static_cast<quint16>((p[0] << 8) | p[1]);
}

void noteFault(ModbusFraming& framing, ModbusFault::Kind kind, int a, int b = 0)
{
    if (framing.fault.kind == ModbusFault::None) {
        framing.fault.kind = kind;
        framing.fault.a = a;
        framing.fault.b = b;
    }
}

void answerRead(const uchar* frame, int length, const ModbusTables& tables, ModbusReplies& replies,
                ModbusFraming& framing)
{
    // Unit, function, start, quantity.
    if (length != 6) {
        noteFault(framing, ModbusFault::ReadLength, length);
        return;
    }
    const int start = be16(frame + 8);
    const int quantity = be16(frame + 10);
    if (quantity < 1 || quantity > MaxReadQuantity || start >= ModbusTables::Size) {
        noteFault(framing, ModbusFault::ReadRange, quantity, start);
        return;
    }
    // A read running past the table is answered with the registers up to its end.
    const int count = qMin(quantity, ModbusTables::Size - start);
    const int byteCount = 2 * count;
    uchar out[MbapSize + 2 + 2 * MaxReadQuantity];
    std::memcpy(out, frame, 4);  // transaction and protocol id
    out[4] = 0;
    out[5] = static_cast<uchar>(3 + byteCount);
    out[6] = ServedUnit;
    out[7] = ReadHoldingRegisters;
    out[8] = static_cast<uchar>(byteCount);
    tables.copyRead(start, count, out + 9);
    replies.append(reinterpret_cast<const char*>(out), MbapSize + 2 + byteCount);
    ++framing.answered;
}

void answerWrite(const uchar* frame, int length, ModbusTables& tables, ModbusReplies& replies, ModbusFraming& framing)
{
    // Unit, function, start, quantity, byte count, then the values.
    if (length < 7) {
        noteFault(framing, ModbusFault::WriteLength, length);
        return;
    }
    const int start = be16(frame + 8);
    const int quantity = be16(frame + 10);
    const int byteCount = frame[12];
    if (quantity < 1 || quantity > MaxWriteQuantity || byteCount != 2 * quantity || length != 7 + byteCount) {
        noteFault(framing, ModbusFault::WriteMalformed, quantity);
        return;
    }
    if (start + quantity > ModbusTables::Size) {
        // Writing only a part and acknowledging the whole would lie to the client.
        noteFault(framing, ModbusFault::WriteRange, quantity, start);
        return;
    }
    tables.storeWrite(start, frame + 13, quantity);

    ModbusWrite write;
    write.start = start;
    write.count = quantity;
    for (int i = 0; i < quantity && i < ModbusWrite::Logged; ++i) {
        write.values[i] = be16(frame + 13 + 2 * i);
    }
    framing.writes.append(write);

    // The acknowledgement echoes transaction, protocol, start and quantity.
    const uchar ack[12] = {frame[0], frame[1], frame[2], frame[3], 0, 6, ServedUnit, WriteMultipleRegisters,
                           frame[8], frame[9], frame[10], frame[11]};
    replies.append(reinterpret_cast<const char*>(ack), sizeof ack);
    ++framing.answered;
}

} // namespace

ModbusTables::ModbusTables()
{
    std::fill(std::begin(m_read), std::end(m_read), quint16(0));
    std::fill(std::begin(m_write), std::end(m_write), quint16(0));
}

void ModbusTables::setRead(int index, quint16 value)
{
    if (index < 0 || index >= Size) {
        return;
    }
    std::lock_guard<std::mutex> lock(m_mutex);
    m_read[index] = value;
}

void ModbusTables::setRead(int start, const quint16* values, int count)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    for (int i = 0; i < count; ++i) {
        const qint64 index = qint64(start) + i;
        if (index >= Size) {
            break;
        }
        if (index >= 0) {
            m_read[index] = values[i];
        }
    }
}

quint16 ModbusTables::read(int index) const
{
    if (index < 0 || index >= Size) {
        return 0;
    }
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_read[index];
}

bool ModbusTables::written(int index, quint16* out) const
{
    if (index < 0 || index >= Size || !out) {
        return false;
    }
    std::lock_guard<std::mutex> lock(m_mutex);
    *out = m_write[index];
    return true;
}

void ModbusTables::copyRead(int start, int count, unsigned char* out) const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    const quint16* table = m_read + start;
    for (int i = 0; i < count; ++i) {
        *out++ = static_cast<uchar>(table[i] >> 8);
        *out++ = static_cast<uchar>(table[i] & 0xFF);
    }
}

void ModbusTables::storeWrite(int start, const unsigned char* values, int count)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    for (int i = 0; i < count; ++i, values += 2) {
        m_write[start + i] = be16(values);
    }
}

QString modbusFaultText(const ModbusFault& fault)
{
    switch (fault.kind) {
    case ModbusFault::None:
        return {};
    case ModbusFault::NotModbus:
        return QStringLiteral("sent data that is not Modbus TCP (length %1); dropped").arg(fault.a);
    case ModbusFault::ReadLength:
        return QStringLiteral("sent a read request of length %1; dropped").arg(fault.a);
    case ModbusFault::ReadRange:
        return QStringLiteral("asked to read %1 registers from %2; dropped").arg(fault.a).arg(fault.b);
    case ModbusFault::WriteLength:
        return QStringLiteral("sent a write request of length %1; dropped").arg(fault.a);
    case ModbusFault::WriteMalformed:
        return QStringLiteral("sent a malformed write of %1 registers; dropped").arg(fault.a);
    case ModbusFault::WriteRange:
        return QStringLiteral("asked to write %1 registers from %2; dropped").arg(fault.a).arg(fault.b);
    case ModbusFault::StalePartial:
        return QStringLiteral("left a request unfinished; dropped");
    }
    return {};
}

ModbusFraming frameModbusRequests(const char* bytes, int size, ModbusTables& tables, ModbusReplies& replies)
{
    ModbusFraming framing;
    const auto* data = reinterpret_cast<const uchar*>(bytes);
    int pos = 0;
    while (size - pos >= MbapSize) {
        const uchar* frame = data + pos;
        // The length is checked before anything after the header is read.
        const int length = be16(frame + 4);
        if (length < MinLength || length > MaxLength) {
            // No length to go by: the rest of the stream cannot be framed.
            noteFault(framing, ModbusFault::NotModbus, length);
            pos = size;
            break;
        }
        if (size - pos < 6 + length) {
            break;  // the rest of this request is still on its way
        }
        pos += 6 + length;
        ++framing.requests;
        if (be16(frame + 2) != 0 || frame[6] != ServedUnit) {
            continue;  // another protocol or unit: not ours to answer
        }
        switch (frame[7]) {
        case ReadHoldingRegisters:
            answerRead(frame, length, tables, replies, framing);
            break;
        case WriteMultipleRegisters:
            answerWrite(frame, length, tables, replies, framing);
            break;
        default:
            break;
        }
    }
    framing.consumed = pos;
    return framing;
}

ModbusFraming ModbusRequestStream::take(const char* data, int size, qint64 nowMs, ModbusTables& tables,
                                        ModbusReplies& replies)
{
    ModbusFraming framing;
    if (m_buffer.isEmpty()) {
        // The usual case: whole requests, answered from where they lie.
        framing = frameModbusRequests(data, size, tables, replies);
        if (framing.consumed < size) {
            if (m_buffer.capacity() < ChunkSize + MaxFrameSize) {
                // Reserved room is kept when the buffer empties: a client whose
                // requests straddle its reads costs no allocation per read.
                m_buffer.reserve(ChunkSize + MaxFrameSize);
            }
            m_buffer.append(data + framing.consumed, size - framing.consumed);
            m_partialSinceMs = nowMs;  // a new request has begun to arrive
        }
    } else {
        m_buffer.append(data, size);
        framing = frameModbusRequests(m_buffer.constData(), m_buffer.size(), tables, replies);
        if (framing.consumed > 0) {
            m_buffer.remove(0, framing.consumed);
            if (!m_buffer.isEmpty()) {
                m_partialSinceMs = nowMs;
            }
        }
    }
    m_requests += framing.requests;
    return framing;
}

bool ModbusRequestStream::dropStalePartial(qint64 nowMs)
{
    if (m_buffer.isEmpty() || nowMs - m_partialSinceMs <= StalePartialMs) {
        return false;
    }
    m_buffer.clear();
    return true;
}

int chooseModbusEviction(const QVector<ModbusPeer>& peers)
{
    int chosen = -1;
    for (int i = 0; i < peers.size(); ++i) {
        if (chosen < 0) {
            chosen = i;
            continue;
        }
        const ModbusPeer& p = peers.at(i);
        const ModbusPeer& c = peers.at(chosen);
        const bool pSilent = p.requests == 0;
        const bool cSilent = c.requests == 0;
        if (pSilent != cSilent) {
            if (pSilent) {
                chosen = i;
            }
        } else if (p.lastHeardMs < c.lastHeardMs) {
            chosen = i;
        }
    }
    return chosen;
}
