// The Modbus TCP server under a client that reads 100 registers as fast as it
// can over loopback, against a minimal server built on libmodbus's own reply
// function over the same register table, in the same run:
// - requests per second and the 99th-percentile round trip of each;
// - their ratio (ours / libmodbus): at least 1 for the rate, at most 1 for
//   the latency is what we want.
// The client and both servers share one CPU, so what is compared is the work
// per request, not where the scheduler happens to put a thread (a wake-up
// across CPUs of a virtual machine costs more than the whole request). Each
// server is measured in alternating rounds and the median round counts, so a
// noisy neighbour on the machine hurts neither side alone.

#include "benchsupport.h"
#include "modbusserver.h"

#include <QCoreApplication>
#include <QLoggingCategory>

#include <modbus.h>

#include <arpa/inet.h>
#include <pthread.h>
#include <sched.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <thread>
#include <vector>

namespace {

constexpr int kStart = 50;
constexpr int kCount = 100;
constexpr int kWarmUp = 1000;
constexpr int kRequests = 10000;
constexpr int kRounds = 9;

using Clock = std::chrono::steady_clock;

struct Result {
    double perSecond = 0;
    double p99us = 0;
    double medianUs = 0;
};

// One client connection reading kCount registers kRequests times.
bool measure(quint16 port, const std::vector<uint16_t>& expected, Result* result)
{
    modbus_t* ctx = modbus_new_tcp("127.0.0.1", port);
    modbus_set_slave(ctx, 1);
    modbus_set_response_timeout(ctx, 2, 0);
    if (modbus_connect(ctx) != 0) {
        std::fprintf(stderr, "connect to %u failed: %s\n", port, modbus_strerror(errno));
        modbus_free(ctx);
        return false;
    }
    uint16_t regs[kCount];
    bool ok = true;
    for (int i = 0; i < kWarmUp && ok; ++i) {
        ok = modbus_read_registers(ctx, kStart, kCount, regs) == kCount;
    }
    std::vector<double> latencies;
    latencies.reserve(kRequests);
    const auto begin = Clock::now();
    for (int i = 0; i < kRequests && ok; ++i) {
        const auto t0 = Clock::now();
        ok = modbus_read_registers(ctx, kStart, kCount, regs) == kCount;
        latencies.push_back(std::chrono::duration<double, std::micro>(Clock::now() - t0).count());
    }
    const double seconds = std::chrono::duration<double>(Clock::now() - begin).count();
    ok = ok && std::equal(regs, regs + kCount, expected.begin() + kStart);
    modbus_close(ctx);
    modbus_free(ctx);
    if (!ok) {
        std::fprintf(stderr, "a request to %u failed or read wrong values\n", port);
        return false;
    }
    result->perSecond = kRequests / seconds;
    result->p99us = percentile(latencies, 0.99);
    result->medianUs = percentile(latencies, 0.5);
    return true;
}

// The reference: libmodbus receives and answers with modbus_reply over a
// mapping that holds the same 500 registers. One client at a time, as the
// benchmark needs.
class LibmodbusServer {
public:
    explicit LibmodbusServer(const std::vector<uint16_t>& table)
        : m_mapping(modbus_mapping_new(0, 0, int(table.size()), 0))
    {
        std::copy(table.begin(), table.end(), m_mapping->tab_registers);
        m_listen = ::socket(AF_INET, SOCK_STREAM, 0);
        const int one = 1;
        ::setsockopt(m_listen, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ::bind(m_listen, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
        ::listen(m_listen, 8);
        socklen_t len = sizeof addr;
        ::getsockname(m_listen, reinterpret_cast<sockaddr*>(&addr), &len);
        m_port = ntohs(addr.sin_port);
        m_thread = std::thread([this] { serve(); });
    }

    ~LibmodbusServer()
    {
        m_stop = true;
        ::shutdown(m_listen, SHUT_RDWR);
        m_thread.join();
        ::close(m_listen);
        modbus_mapping_free(m_mapping);
    }

    quint16 port() const { return m_port; }

private:
    void serve()
    {
        while (!m_stop) {
            const int fd = ::accept(m_listen, nullptr, nullptr);
            if (fd < 0) {
                return;
            }
            modbus_t* ctx = modbus_new_tcp("127.0.0.1", m_port);
            modbus_set_slave(ctx, 1);
            modbus_set_socket(ctx, fd);
            uint8_t query[MODBUS_TCP_MAX_ADU_LENGTH];
            for (;;) {
                const int rc = modbus_receive(ctx, query);
                if (rc > 0) {
                    modbus_reply(ctx, query, rc, m_mapping);
                } else if (rc == -1) {
                    break;  // the client has gone
                }
            }
            modbus_close(ctx);
            modbus_free(ctx);
        }
    }

    modbus_mapping_t* m_mapping;
    int m_listen = -1;
    quint16 m_port = 0;
    std::atomic<bool> m_stop{false};
    std::thread m_thread;
};

// Binds the calling thread (and the threads it starts from now on) to one CPU.
bool pinTo(int cpu)
{
    cpu_set_t set;
    CPU_ZERO(&set);
    CPU_SET(cpu, &set);
    return pthread_setaffinity_np(pthread_self(), sizeof set, &set) == 0;
}

} // namespace

int main(int argc, char* argv[])
{
    // The program runs Qt's own Unix event loop (see the start-up); measure that.
    qputenv("QT_NO_GLIB", "1");
    QCoreApplication app(argc, argv);
    QLoggingCategory::setFilterRules(QStringLiteral("default.debug=false"));

    std::vector<uint16_t> table(ModbusServer::TableSize);
    QVector<quint16> values(ModbusServer::TableSize);
    for (int i = 0; i < ModbusServer::TableSize; ++i) {
        table[size_t(i)] = uint16_t(i * 257 + 3);
        values[i] = table[size_t(i)];
    }

    const int cpu = sched_getcpu();
    const bool pinned = cpu >= 0 && pinTo(cpu);
    ModbusServer ours(0, QHostAddress::LocalHost);
    ours.setReadData(0, values);
    LibmodbusServer reference(table);
    if (!ours.isListening()) {
        std::fprintf(stderr, "our server does not listen\n");
        return 1;
    }

    std::printf("Modbus TCP, function 3, %d registers from %d, %d requests per round, %d rounds%s\n", kCount,
                kStart, kRequests, kRounds, pinned ? ", client and servers on one CPU" : "");
    std::vector<Result> oursRounds, referenceRounds;
    for (int round = 0; round < kRounds; ++round) {
        Result r;
        if (!measure(ours.serverPort(), table, &r)) {
            return 1;
        }
        oursRounds.push_back(r);
        Result l;
        if (!measure(reference.port(), table, &l)) {
            return 1;
        }
        referenceRounds.push_back(l);
        std::printf("  round %d  ours %7.0f req/s p99 %6.1f us   libmodbus %7.0f req/s p99 %6.1f us\n", round + 1,
                    r.perSecond, r.p99us, l.perSecond, l.p99us);
    }
    auto median = [](const std::vector<Result>& rounds, double Result::*field) {
        std::vector<double> v;
        for (const Result& r : rounds) {
            v.push_back(r.*field);
        }
        return percentile(v, 0.5);
    };
    const double oursRate = median(oursRounds, &Result::perSecond);
    const double oursP99 = median(oursRounds, &Result::p99us);
    const double refRate = median(referenceRounds, &Result::perSecond);
    const double refP99 = median(referenceRounds, &Result::p99us);
    std::printf("median round:\n");
    std::printf("  ours:      %8.0f requests/s, p99 %6.1f us\n", oursRate, oursP99);
    std::printf("  libmodbus: %8.0f requests/s, p99 %6.1f us\n", refRate, refP99);
    std::printf("ratio ours/libmodbus: rate %.2f, p99 latency %.2f\n", oursRate / refRate, oursP99 / refP99);
    ours.stop();
    return 0;
}
