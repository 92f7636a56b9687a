// Start-up to the first painted frame and resident memory of the game, against a bare Qt window
// of the same size started the same way in the same run (targets: at most 2x each). Each sample
// is a fresh process of this program: the parent notes the monotonic clock, starts the child,
// and the child reports the clock and its resident set once its window has painted, and its
// resident set again a second later (the music thread loads the soundfont in the background).
// The game's child runs the real start-up (single instance, settings, Korb data directory,
// libcurl, the main window, placement, music) in a data folder of its own; no service answers.
// Run: build/bench/startup_bench
#include <benchmark/benchmark.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QApplication>
#include <QTimer>
#include <QWidget>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fstream>
#include <string>

#include "app/main_window.h"
#include "app/startup.h"
#include "ui/placement.h"
#include "ui/single_instance.h"

extern char** environ;

namespace {

std::string self_path;

int64_t monotonic_ns() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<int64_t>(now.tv_sec) * 1000000000 + now.tv_nsec;
}

long resident_kb() {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind("VmRSS:", 0) == 0) return std::strtol(line.c_str() + 6, nullptr, 10);
  }
  return -1;
}

// Reports when `window` has painted once: the time at once, the resident set a second later.
class FirstPaint : public QObject {
 public:
  bool eventFilter(QObject* watched, QEvent* event) override {
    if (event->type() == QEvent::Paint && !seen_) {
      seen_ = true;
      // After the paint event itself, so the frame is complete.
      QTimer::singleShot(0, [] {
        std::printf("%lld %ld ", static_cast<long long>(monotonic_ns()), resident_kb());
        QTimer::singleShot(1000, [] {
          std::printf("%ld\n", resident_kb());
          std::fflush(stdout);
          std::_Exit(0);
        });
      });
    }
    return QObject::eventFilter(watched, event);
  }

 private:
  bool seen_ = false;
};

int run_child(const std::string& mode, int argc, char** argv) {
  QApplication application(argc, argv);
  FirstPaint first_paint;
  if (mode == "bare") {
    auto* window = new QWidget;
    window->resize(ui::kMainWidth, ui::kMainHeight);
    window->installEventFilter(&first_paint);
    window->show();
  } else {
    static app::RunningGame game;
    if (app::start_game(game) != app::StartOutcome::run) return 1;
    game.window->installEventFilter(&first_paint);
  }
  return QApplication::exec();
}

struct Sample {
  double start_ms = 0;
  double rss_mb = 0;
  double settled_rss_mb = 0;
};

bool sample(const char* mode, Sample& out) {
  int pipe_fds[2];
  if (pipe(pipe_fds) != 0) return false;
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, pipe_fds[1], STDOUT_FILENO);
  posix_spawn_file_actions_addclose(&actions, pipe_fds[0]);
  std::string child_mode = mode;
  char flag[] = "--child";
  char* args[] = {self_path.data(), flag, child_mode.data(), nullptr};
  const int64_t started = monotonic_ns();
  pid_t pid = 0;
  const int spawned = posix_spawn(&pid, self_path.c_str(), &actions, nullptr, args, environ);
  posix_spawn_file_actions_destroy(&actions);
  close(pipe_fds[1]);
  if (spawned != 0) {
    close(pipe_fds[0]);
    return false;
  }
  char buffer[128] = {};
  size_t used = 0;
  ssize_t got = 0;
  while (used + 1 < sizeof buffer &&
         (got = read(pipe_fds[0], buffer + used, sizeof buffer - 1 - used)) > 0) {
    used += static_cast<size_t>(got);
  }
  close(pipe_fds[0]);
  int status = 0;
  waitpid(pid, &status, 0);
  long long painted = 0;
  long rss = 0, settled = 0;
  if (std::sscanf(buffer, "%lld %ld %ld", &painted, &rss, &settled) != 3) return false;
  out.start_ms = static_cast<double>(painted - started) / 1e6;
  out.rss_mb = static_cast<double>(rss) / 1024.0;
  out.settled_rss_mb = static_cast<double>(settled) / 1024.0;
  return true;
}

void start_up(benchmark::State& state, const char* mode) {
  Sample total;
  int samples = 0;
  for (auto _ : state) {
    Sample one;
    if (!sample(mode, one)) {
      state.SkipWithError("the child did not report");
      return;
    }
    state.SetIterationTime(one.start_ms / 1000.0);
    total.start_ms += one.start_ms;
    total.rss_mb += one.rss_mb;
    total.settled_rss_mb += one.settled_rss_mb;
    ++samples;
  }
  state.counters["first_paint_ms"] = total.start_ms / samples;
  state.counters["rss_MB"] = total.rss_mb / samples;
  state.counters["rss_after_1s_MB"] = total.settled_rss_mb / samples;
}

}  // namespace

BENCHMARK_CAPTURE(start_up, bare_qt_window, "bare")
    ->UseManualTime()
    ->Iterations(5)
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(start_up, game, "game")
    ->UseManualTime()
    ->Iterations(5)
    ->Unit(benchmark::kMillisecond);

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM") && qEnvironmentVariableIsEmpty("DISPLAY")) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
  }
  if (argc >= 3 && std::strcmp(argv[1], "--child") == 0) return run_child(argv[2], 1, argv);
  self_path = "/proc/self/exe";
  char resolved[4096] = {};
  const ssize_t length = readlink("/proc/self/exe", resolved, sizeof resolved - 1);
  if (length > 0) self_path.assign(resolved, static_cast<size_t>(length));
  // The game's child gets a data folder of its own, so the player's settings stay untouched.
  char folder[] = "/tmp/ostakka-startup-bench-XXXXXX";
  if (mkdtemp(folder) != nullptr) setenv("XDG_DATA_HOME", folder, 1);
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  std::string cleanup = std::string("rm -rf '") + folder + "'";
  return std::system(cleanup.c_str()) == 0 ? 0 : 1;
}
