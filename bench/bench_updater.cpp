// The update archive's download: 200 MB from a loopback HTTP server, through
//   ours   QtFileDownload (its thread, blocks to a temp file, rename, events on the main queue)
//   raw    one blocking socket read into a buffer and written to a file
// Same server, same bytes, same disk. Prints the median throughput of each,
// their ratio, and how much the resident set grew during ours (the archive
// must stream to disk). Targets: at least 100 MB/s, growth under 16 MB.
#include <arpa/inet.h>
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QEventLoop>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "platform/qt/qt_file_download.h"
#include "platform/qt/qt_main_queue.h"
#include "../tests/support/loopback_listener.h"

namespace {

using namespace hw;
using Clock = std::chrono::steady_clock;
constexpr std::size_t kBody = 200u << 20;

// Serves kBody bytes to every GET, one connection at a time.
class LoopbackServer {
public:
    LoopbackServer() : chunk_(1u << 20, 'z') {
        fd_ = test::listenOnLoopback(port_);
        thread_ = std::thread([this] { serve(); });
    }
    ~LoopbackServer() {
        stop_ = true;
        ::shutdown(fd_, SHUT_RDWR);
        ::close(fd_);
        thread_.join();
    }
    int port() const { return port_; }

private:
    void serve() {
        while (!stop_) {
            const int c = ::accept4(fd_, nullptr, nullptr, SOCK_CLOEXEC);
            if (c < 0) continue;
            std::string request;
            char buffer[4096];
            while (request.find("\r\n\r\n") == std::string::npos) {
                const ssize_t n = ::recv(c, buffer, sizeof buffer, 0);
                if (n <= 0) break;
                request.append(buffer, static_cast<std::size_t>(n));
            }
            const std::string head = "HTTP/1.1 200 OK\r\nContent-Type: application/zip\r\nContent-Length: " +
                                     std::to_string(kBody) + "\r\nConnection: close\r\n\r\n";
            bool ok = ::send(c, head.data(), head.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(head.size());
            for (std::size_t sent = 0; ok && sent < kBody;) {
                const std::size_t n = std::min(chunk_.size(), kBody - sent);
                const ssize_t w = ::send(c, chunk_.data(), n, MSG_NOSIGNAL);
                ok = w > 0;
                sent += ok ? static_cast<std::size_t>(w) : 0;
            }
            ::close(c);
        }
    }

    std::string chunk_;
    int fd_ = -1;
    int port_ = 0;
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

double residentMB() {
    std::ifstream in("/proc/self/status");
    std::string key;
    while (in >> key) {
        if (key == "VmRSS:") {
            double kb = 0;
            in >> kb;
            return kb / 1024.0;
        }
        in.ignore(1 << 12, '\n');
    }
    return 0;
}

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[v.size() / 2];
}

// Seconds for one download through the adapter; growth gets the largest rise of the resident set.
double viaAdapter(QtFileDownload& download, int port, const std::string& destination, double& growth) {
    bool done = false, ok = false;
    const double before = residentMB();
    double peak = before;
    std::int64_t blocks = 0;
    FileDownloadEvents events;
    events.block = [&](std::int64_t) {
        if (++blocks % 64 == 0) peak = std::max(peak, residentMB());
    };
    events.finished = [&] { done = ok = true; };
    events.failed = [&](const std::string& why) {
        std::fprintf(stderr, "download failed: %s\n", why.c_str());
        done = true;
    };
    const auto start = Clock::now();
    auto task = download.start({"http://127.0.0.1:" + std::to_string(port) + "/archive.zip", destination, 15.0}, events);
    while (!done) QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    growth = std::max(growth, std::max(peak, residentMB()) - before);
    return ok ? seconds : 0;
}

double viaRawSocket(int port, const std::string& destination) {
    const auto start = Clock::now();
    const int s = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons(static_cast<std::uint16_t>(port));
    if (::connect(s, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) return 0;
    const std::string get = "GET /archive.zip HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n";
    ::send(s, get.data(), get.size(), MSG_NOSIGNAL);
    const int out = ::open(destination.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    std::vector<char> buffer(1 << 16);
    std::size_t total = 0;
    bool inBody = false;
    std::string head;
    for (ssize_t n; (n = ::recv(s, buffer.data(), buffer.size(), 0)) > 0;) {
        const char* p = buffer.data();
        std::size_t len = static_cast<std::size_t>(n);
        if (!inBody) {
            head.append(p, len);
            const auto end = head.find("\r\n\r\n");
            if (end == std::string::npos) continue;
            inBody = true;
            const std::string body = head.substr(end + 4);
            total += body.size();
            if (::write(out, body.data(), body.size()) < 0) break;
            continue;
        }
        total += len;
        if (::write(out, p, len) < 0) break;
    }
    ::fsync(out);
    ::close(out);
    ::close(s);
    return total == kBody ? std::chrono::duration<double>(Clock::now() - start).count() : 0;
}

void BM_UpdateDownload200MB(benchmark::State& state) {
    static int argc = 1;
    static char name[] = "bench_updater";
    static char* argv[] = {name, nullptr};
    static QCoreApplication app(argc, argv);
    char folder[] = "/tmp/hw-bench-updater-XXXXXX";
    if (!::mkdtemp(folder)) {
        state.SkipWithError("no temp folder");
        return;
    }
    const std::string destination = std::string(folder) + "/auto-update.zip";
    LoopbackServer server;
    QtMainQueue queue;
    QtFileDownload download(queue);
    std::vector<double> ours, raw;
    double growth = 0;
    for (auto _ : state) {
        const double a = viaAdapter(download, server.port(), destination, growth);
        const double b = viaRawSocket(server.port(), destination);
        if (a <= 0 || b <= 0) {
            state.SkipWithError("a download failed");
            break;
        }
        state.SetIterationTime(a);
        ours.push_back(kBody / a / 1e6);
        raw.push_back(kBody / b / 1e6);
    }
    ::unlink(destination.c_str());
    ::rmdir(folder);
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * kBody));
    state.counters["ours_MBps"] = median(ours);
    state.counters["raw_MBps"] = median(raw);
    state.counters["ours_to_raw"] = median(raw) > 0 ? median(ours) / median(raw) : 0;
    state.counters["rss_growth_MB"] = growth;
}
BENCHMARK(BM_UpdateDownload200MB)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(7);

}  // namespace
