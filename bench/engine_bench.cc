// The accounting engine at capacity: 200,000 records in 100 accounting files
// go through the merge, the record parser, both summaries and the HTML
// report, once with 10 distinct users and once with 100,000. Beside them, in the same run, a plain
// copy of the same bytes into one file: the copy limit.
//
// Prints the best of several rounds: every round times each case once, so the
// cases share the machine's moods, and the fastest round of a case is the one
// least disturbed by other work on a shared machine. Figures are ratios between
// cases of one run: absolute times drift from run to run.
//
//   tollbook-bench-engine [--rounds N] [--dir DIR]
//   tollbook-bench-engine --once [--users N] [--dir DIR]   (one run, for /usr/bin/time)
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "accounting/merge.h"
#include "base/output_file.h"
#include "accounting/progress.h"
#include "accounting/report.h"
#include "accounting/run_state.h"
#include "accounting/summary.h"
#include "bench_report.h"

namespace fs = std::filesystem;
using tollbook::bench::Goal;

namespace {

constexpr int kFiles = 100;
constexpr int kLinesPerFile = static_cast<int>(tollbook::kRecordCapacity) / kFiles;

struct Corpus {
  std::vector<std::string> paths;
  std::int64_t bytes = 0;
  std::int64_t lines = 0;
};

// Writes kFiles accounting files under dir with kLinesPerFile lines each, CR LF
// ended. Every fifth file is of flavour "other". Record r belongs to user
// r % users, so with 100,000 users every key comes back once, 100,000 records
// later. Dates change every 1,000 records; byte sizes are random whole numbers.
Corpus WriteCorpus(const fs::path& dir, int users) {
  fs::create_directories(dir);
  Corpus corpus;
  std::mt19937 random(7);
  std::uniform_int_distribution<int> size(200, 250000);
  std::string text;
  char line[512];
  std::int64_t record = 0;
  for (int f = 1; f <= kFiles; ++f) {
    text.clear();
    const bool other = f % 5 == 0;
    for (int l = 0; l < kLinesPerFile; ++l, ++record) {
      const int user = static_cast<int>(record % users);
      const int day = static_cast<int>(record / 1000);
      const char direction = record % 3 == 0 ? 'I' : 'O';
      int n;
      if (!other) {
        n = std::snprintf(line, sizeof line,
                          "%c,%02d/%02d/99,10:%02d,MSG%07lld,Mail,Normal,DOM1,PO%d,user%06d,ACC%d,"
                          "Quarterly report %d,GDOM,GATE1,F%07lld,SMTP,user%06d@example.com,1,0,%d,X\r\n",
                          direction, 1 + day / 28, 1 + day % 28, l % 60,
                          static_cast<long long>(record), user % 7, user, user % 13, l,
                          static_cast<long long>(record), user, size(random));
      } else {
        n = std::snprintf(line, sizeof line,
                          "user%06d,%d,BILL1,Quarterly report %d,Normal,%02d/%02d/99,10:%02d,Mail,"
                          "X400,0,%d,DOM1,PO%d,GDOM,GATE1,1,bob,0,%c\r\n",
                          user, 1000 + user % 7, l, 1 + day / 28, 1 + day % 28, l % 60,
                          size(random), user % 7, direction);
      }
      text.append(line, static_cast<std::size_t>(n));
    }
    const fs::path path = dir / ("acct " + std::to_string(f));
    tollbook::OutputFile out(path.string());
    out.Stream().write(text.data(), static_cast<std::streamsize>(text.size()));
    out.Close();
    corpus.paths.push_back(path.string());
    corpus.bytes += static_cast<std::int64_t>(text.size());
    corpus.lines += kLinesPerFile;
  }
  return corpus;
}

// The copy limit: every file read in 128 KiB blocks and written to one file.
void PlainCopy(const Corpus& corpus, const std::string& target) {
  int out = ::open(target.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (out < 0) throw std::runtime_error("cannot open " + target);
  std::vector<char> block(1 << 17);
  for (const auto& path : corpus.paths) {
    int in = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (in < 0) throw std::runtime_error("cannot open " + path);
    ssize_t n;
    while ((n = ::read(in, block.data(), block.size())) > 0) {
      if (::write(out, block.data(), static_cast<std::size_t>(n)) != n) {
        throw std::runtime_error("cannot write " + target);
      }
    }
    ::close(in);
  }
  ::close(out);
}

void MergeAll(tollbook::RunState& state, const Corpus& corpus, const std::string& target) {
  tollbook::ResetRunState(state);
  tollbook::OutputFile full(target);
  for (const auto& path : corpus.paths) {
    state.AccountingFilePath = path;
    tollbook::MergeAccountingFile(state, full.Stream(), true);
  }
  full.Close();
}

double Seconds(const std::function<void()>& work) {
  const auto start = std::chrono::steady_clock::now();
  work();
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

double Best(const std::vector<double>& v) { return *std::min_element(v.begin(), v.end()); }

struct Timings {
  std::vector<double> merge, day, user, report;
  std::uintmax_t reportBytes = 0;
};

void RoundOfCase(tollbook::RunState& state, const Corpus& corpus, const fs::path& dir,
                 Timings& t) {
  tollbook::NoProgress progress;
  // Each timed write goes to a new file: emptying the last round's file would
  // wait for its pages still being written back, which times the disk, not
  // the engine. The copy is timed the same way.
  fs::remove(dir / "fullacct.csv");
  t.merge.push_back(Seconds([&] { MergeAll(state, corpus, (dir / "fullacct.csv").string()); }));
  fs::remove(dir / "summary.csv");
  tollbook::OutputFile summary((dir / "summary.csv").string());
  // The day walk hands its date blocks to the report, as the run's does.
  tollbook::ReportBuilder builder;
  tollbook::DayTotals totals;
  t.day.push_back(Seconds([&] {
    totals = tollbook::WriteDaySummary(state, summary.Stream(), progress,
                                       [&](const tollbook::DateBlock& b) { builder.AddDateBlock(b); });
  }));
  t.user.push_back(Seconds([&] { tollbook::WriteUserSummary(state, summary.Stream(), progress); }));
  summary.Close();
  fs::remove(dir / "report.html");
  const tollbook::ReportRun run{"maildir:/srv/mail", "Accounting", "2026-12-09 12:00 UTC", kFiles,
                                (dir / "summary.csv").string()};
  t.report.push_back(Seconds([&] {
    const tollbook::ReportFigures figures = builder.Finish(state, totals);
    tollbook::OutputFile report((dir / "report.html").string());
    tollbook::WriteReport(state, figures, run, report.Stream());
    report.Close();
  }));
  t.reportBytes = fs::file_size(dir / "report.html");
}

int Usage() {
  std::fprintf(stderr,
               "usage: tollbook-bench-engine [--rounds N] [--dir DIR]\n"
               "       tollbook-bench-engine --once [--users N] [--dir DIR]\n");
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  int rounds = 7;
  int onceUsers = 100000;
  bool once = false;
  fs::path dir = fs::temp_directory_path() / ("tollbook-bench-engine-" + std::to_string(::getpid()));
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--once") {
      once = true;
    } else if (arg == "--rounds" && i + 1 < argc) {
      rounds = std::max(1, std::atoi(argv[++i]));
    } else if (arg == "--users" && i + 1 < argc) {
      onceUsers = std::max(1, std::atoi(argv[++i]));
    } else if (arg == "--dir" && i + 1 < argc) {
      dir = argv[++i];
    } else {
      return Usage();
    }
  }

  try {
    if (once) {
      // One run at capacity, as the processing run makes it: merge with
      // parsing, then both summaries and the report.
      const Corpus corpus = WriteCorpus(dir / "in", onceUsers);
      tollbook::RunState state;
      Timings t;
      RoundOfCase(state, corpus, dir, t);
      fs::remove_all(dir);
      std::printf("one run: %lld records, %d users\n", static_cast<long long>(corpus.lines),
                  onceUsers);
      return 0;
    }

    const Corpus few = WriteCorpus(dir / "users10", 10);
    const Corpus many = WriteCorpus(dir / "users100000", 100000);
    const double mb = static_cast<double>(few.bytes) / 1e6;
    tollbook::RunState state;
    std::vector<double> copy;
    Timings t10, t100k;
    RoundOfCase(state, few, dir, t10);  // warms the page cache and the tables
    t10 = {};
    for (int r = 0; r < rounds; ++r) {
      fs::remove(dir / "copy.csv");
      copy.push_back(Seconds([&] { PlainCopy(few, (dir / "copy.csv").string()); }));
      RoundOfCase(state, few, dir, t10);
      RoundOfCase(state, many, dir, t100k);
    }
    fs::remove_all(dir);

    const double c = Best(copy);
    std::printf("Engine at capacity: %lld records in %d files, %.1f MB; best of %d rounds\n",
                static_cast<long long>(few.lines), kFiles, mb, rounds);
    std::printf("  %-34s %9s %10s %12s\n", "case", "ms", "MB/s", "M lines/s");
    auto row = [&](const char* name, double s) {
      std::printf("  %-34s %9.1f %10.0f %12.2f\n", name, s * 1e3, mb / s,
                  static_cast<double>(few.lines) / s / 1e6);
    };
    row("plain copy (the copy limit)", c);
    for (auto [name, t] : {std::pair{"10 users", &t10}, std::pair{"100,000 users", &t100k}}) {
      const double m = Best(t->merge), d = Best(t->day), u = Best(t->user);
      row((std::string("merge + parse, ") + name).c_str(), m);
      row((std::string("day summary, ") + name).c_str(), d);
      row((std::string("user summary, ") + name).c_str(), u);
      row((std::string("whole engine, ") + name).c_str(), m + d + u);
      row((std::string("report, ") + name).c_str(), Best(t->report));
    }
    std::printf("  report file: %.2f MB with 10 users, %.2f MB with 100,000\n",
                static_cast<double>(t10.reportBytes) / 1e6,
                static_cast<double>(t100k.reportBytes) / 1e6);
    const double m10 = Best(t10.merge);
    const double m100k = Best(t100k.merge);
    const double mergeBest = std::max(m10, m100k);
    Goal("user summary, 100,000 users / 10 users", Best(t100k.user) / Best(t10.user), "x",
         "<=", 2.0);
    Goal("merge + parse throughput / plain copy", c / mergeBest, "", ">=", 0.25);
    const double engine100k = Best(t100k.merge) + Best(t100k.day) + Best(t100k.user);
    Goal("report / merge + summaries, 100,000 users", Best(t100k.report) / engine100k, "x", "<=",
         0.20);
    Goal("report file, 100,000 users (MB)", static_cast<double>(t100k.reportBytes) / 1e6, "",
         "<=", 2.0);
    Goal("merge + parse lines per second (millions)",
         static_cast<double>(few.lines) / mergeBest / 1e6, "M", ">=", 5.0);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "tollbook-bench-engine: %s\n", e.what());
    fs::remove_all(dir);
    return 1;
  }
  return 0;
}
