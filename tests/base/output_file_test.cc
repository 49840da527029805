#include "base/output_file.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "base/errors.h"
#include "support/test_support.h"

namespace tollbook {
namespace {

using testing::ReadFile;
using testing::TempDir;

// Text in which every stretch differs from its neighbours, so that a piece
// written twice, dropped or out of order shows in the file.
std::string Pattern(std::size_t size) {
  std::string text(size, '\0');
  for (std::size_t i = 0; i < size; ++i) text[i] = static_cast<char>('a' + (i * 7 + i / 26) % 26);
  return text;
}

// Writes `text` cut into pieces of the given sizes through one output file
// and closes it. Returns "" or the error that Close reported.
std::string WritePieces(const std::string& path, const std::string& text,
                        const std::vector<std::size_t>& sizes) {
  try {
    OutputFile out(path);
    std::size_t at = 0;
    for (const std::size_t size : sizes) {
      out.Stream().rdbuf()->sputn(text.data() + at, static_cast<std::streamsize>(size));
      at += size;
    }
    out.Close();
    return "";
  } catch (const Failure& e) {
    return e.what();
  }
}

struct PiecesCase {
  const char* name;
  std::vector<std::size_t> sizes;
};

// Pieces around the 64 KiB buffer's size: filling it, crossing its end,
// spanning several buffers.
const std::vector<PiecesCase> kPieces = {
    {"small pieces filling the buffer", {30000, 30000, 30000, 1, 2}},
    {"big piece behind buffered bytes", {100, 50000, 100}},
    {"just under half, then half", {32767, 32768, 5}},
    {"big pieces only", {70000, 70000, 40000}},
    {"one piece of several buffers", {300000}},
    {"empty pieces", {0, 40000, 0, 0, 10}},
};

TEST(OutputFileTest, PiecesOfEverySizeArriveInOrder) {
  TempDir dir;
  for (const auto& c : kPieces) {
    std::size_t total = 0;
    for (const std::size_t size : c.sizes) total += size;
    const std::string text = Pattern(total);
    EXPECT_EQ(WritePieces(dir / "out", text, c.sizes), "") << c.name;
    EXPECT_EQ(ReadFile(dir / "out"), text) << c.name;
  }
}

// The file may grow to `limit` bytes only (writes past it fail with EFBIG,
// after a short write up to the limit). Runs in a child process, which alone
// carries the limit; returns the error text.
std::string WriteUnderSizeLimit(const std::string& path, const std::string& text,
                                const std::vector<std::size_t>& sizes, rlim_t limit) {
  int pipe_fds[2];
  if (::pipe(pipe_fds) != 0) return "pipe failed";
  const pid_t child = ::fork();
  if (child == 0) {
    ::close(pipe_fds[0]);
    ::signal(SIGXFSZ, SIG_IGN);
    const rlimit rl{limit, limit};
    ::setrlimit(RLIMIT_FSIZE, &rl);
    const std::string error = WritePieces(path, text, sizes);
    const bool sent = ::write(pipe_fds[1], error.data(), error.size()) ==
                      static_cast<ssize_t>(error.size());
    ::_exit(sent ? 0 : 1);
  }
  ::close(pipe_fds[1]);
  std::string error;
  char chunk[512];
  ssize_t n;
  while ((n = ::read(pipe_fds[0], chunk, sizeof chunk)) > 0) error.append(chunk, static_cast<std::size_t>(n));
  ::close(pipe_fds[0]);
  int status = 0;
  ::waitpid(child, &status, 0);
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) return "child failed";
  return error;
}

// A write cut short at every kind of place (inside the first buffer, inside a
// later one, at a buffer's end) fails
// the close with the file's name and the cause, and everything up to the
// limit is in the file in order.
TEST(OutputFileTest, ShortWriteFailsWithTheFileAndCause) {
  TempDir dir;
  const std::string path = dir / "out";
  for (const auto& c : kPieces) {
    std::size_t total = 0;
    for (const std::size_t size : c.sizes) total += size;
    const std::string text = Pattern(total);
    for (const rlim_t limit : {rlim_t{0}, rlim_t{50}, rlim_t{100}, rlim_t{30000}, rlim_t{50099},
                               rlim_t{50100}, rlim_t{65536}, rlim_t{100001}, rlim_t{total - 1}}) {
      if (limit >= total) continue;
      const std::string where = std::string(c.name) + ", limit " + std::to_string(limit);
      EXPECT_EQ(WriteUnderSizeLimit(path, text, c.sizes, limit),
                "cannot write " + path + ": File too large")
          << where;
      EXPECT_EQ(ReadFile(path), text.substr(0, limit)) << where;
    }
  }
}

}  // namespace
}  // namespace tollbook
