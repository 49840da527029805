// A TCP relay on 127.0.0.1 that stands for a slow link: every byte the
// server sends reaches the client the given number of milliseconds later
// (the client's bytes go through at once), and it counts the round trips,
// the times the client sends after it has received something from the
// server. TLS passes through untouched, its handshake counted too.
//
//   tollbook-bench-latency-proxy SERVER_PORT DELAY_MS
//
// Prints the port it listens on, then a line for every connection when it
// ends: "connection N: R round trips, U bytes up, D bytes down". On SIGTERM
// it lets the open connections end, prints "round trips: TOTAL" and exits.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <list>
#include <string>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

volatile std::sig_atomic_t stopping = 0;

struct Chunk {
  Clock::time_point due;
  std::string bytes;
};

struct Relay {
  int number = 0;
  int client = -1;
  int server = -1;
  std::deque<Chunk> toClient;  // the server's bytes, held back until due
  bool serverEnded = false;
  bool clientHeard = false;  // the client received server bytes since it last sent
  long roundTrips = 0;
  long long up = 0, down = 0;
};

int Connect(int port) {
  const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = htons(static_cast<std::uint16_t>(port));
  if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
    ::close(fd);
    return -1;
  }
  return fd;
}

bool SendAll(int fd, const std::string& bytes) {
  std::size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = ::send(fd, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
    if (n <= 0) return false;
    done += static_cast<std::size_t>(n);
  }
  return true;
}

void NoDelay(int fd) {
  const int on = 1;
  ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: %s SERVER_PORT DELAY_MS\n", argv[0]);
    return 2;
  }
  const int serverPort = std::atoi(argv[1]);
  const auto delay = std::chrono::milliseconds(std::atoi(argv[2]));
  std::signal(SIGTERM, [](int) { stopping = 1; });

  const int listener = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  if (::bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
      ::listen(listener, 16) != 0 ||
      ::getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
    std::perror("latency proxy: cannot listen on 127.0.0.1");
    return 1;
  }
  std::printf("%d\n", ntohs(address.sin_port));
  std::fflush(stdout);

  std::list<Relay> relays;
  int connections = 0;
  long total = 0;
  std::vector<char> buffer(1 << 16);
  while (!stopping || !relays.empty()) {
    std::vector<pollfd> fds{{listener, POLLIN, 0}};
    auto wait = std::chrono::milliseconds(100);
    const auto now = Clock::now();
    for (const Relay& r : relays) {
      fds.push_back({r.client, POLLIN, 0});
      fds.push_back({r.server, static_cast<short>(r.serverEnded ? 0 : POLLIN), 0});
      if (!r.toClient.empty()) {
        wait = std::min(wait, std::chrono::ceil<std::chrono::milliseconds>(
                                  std::max(r.toClient.front().due - now, Clock::duration::zero())));
      }
    }
    if (::poll(fds.data(), fds.size(), static_cast<int>(wait.count())) < 0) continue;

    if ((fds[0].revents & POLLIN) != 0) {
      const int client = ::accept(listener, nullptr, nullptr);
      if (client >= 0) {
        const int server = Connect(serverPort);
        if (server < 0) {
          ::close(client);
        } else {
          NoDelay(client);
          NoDelay(server);
          relays.push_back({++connections, client, server, {}, false, false, 0, 0, 0});
        }
      }
    }
    std::size_t at = 1;
    for (auto r = relays.begin(); r != relays.end(); at += 2) {
      bool ended = false;
      if (at < fds.size() && (fds[at].revents & (POLLIN | POLLHUP | POLLERR)) != 0) {
        const ssize_t n = ::read(r->client, buffer.data(), buffer.size());
        if (n <= 0 ||
            !SendAll(r->server, std::string(buffer.data(), static_cast<std::size_t>(n)))) {
          ended = true;
        } else {
          if (r->clientHeard) ++r->roundTrips;
          r->clientHeard = false;
          r->up += n;
        }
      }
      if (at + 1 < fds.size() && (fds[at + 1].revents & (POLLIN | POLLHUP | POLLERR)) != 0) {
        const ssize_t n = ::read(r->server, buffer.data(), buffer.size());
        if (n <= 0) {
          r->serverEnded = true;
        } else {
          r->toClient.push_back(
              {Clock::now() + delay, std::string(buffer.data(), static_cast<std::size_t>(n))});
          r->down += n;
        }
      }
      while (!ended && !r->toClient.empty() && r->toClient.front().due <= Clock::now()) {
        ended = !SendAll(r->client, r->toClient.front().bytes);
        r->toClient.pop_front();
        r->clientHeard = true;
      }
      if (r->serverEnded && r->toClient.empty()) ended = true;
      if (!ended) {
        ++r;
        continue;
      }
      std::printf("connection %d: %ld round trips, %lld bytes up, %lld bytes down\n", r->number,
                  r->roundTrips, r->up, r->down);
      std::fflush(stdout);
      total += r->roundTrips;
      ::close(r->client);
      ::close(r->server);
      r = relays.erase(r);
    }
  }
  std::printf("round trips: %ld\n", total);
  return 0;
}
