// SPDX-License-Identifier: MIT
// Compression speed and size of pelk against libdeflate at level 6.
//
//   compare [--runs N] [--pelk BINARY] [--against OLD] [--wall] [FILE...]
//
// Without files it measures the four large corpus files and the eleven small
// ones concatenated. The runs of the programs compared alternate, and the
// table shows medians, so every program sees the same machine noise.
//
// One core (the default): pelk on one thread as a whole process (the way
// users run it, file in page cache) against libdeflate in process on the
// file in memory. Speeds are taken from CPU time (user + system for the pelk
// process, thread CPU time for libdeflate), which other processes on a
// shared machine disturb far less than wall-clock time. The benchmark and
// every pelk it starts are pinned to one processor, so neither loses its
// caches to a move between processors halfway through a run.
//
// --wall: whole programs as users see them, on every processor the
// benchmark may use: `libdeflate-gzip -6` against pelk on one thread and on
// 2, 4 ... up to that number of threads, by wall-clock time, each with its
// CPU time beside it so that the cost of the threads shows. One-thread
// runs take the processors in turn. Beside the
// scaling, the ceiling the machine sets it: as many one-thread runs as
// there are processors, side by side, against one alone. On shared or
// virtual machines, whose processors slow each other down or differ in
// speed, it is well under the processor count, and no threading can beat
// it.
//
// --against OLD also measures another build of pelk in the same runs,
// alternating with this one, on a row of its own marked "old": a change
// is timed against its predecessor under the same machine noise.
//
// Peak memory is pelk's maximum resident set size, taken in one more run
// under GNU time: a child forked from this process would be charged for the
// parent's pages it held before exec.
#include <libdeflate.h>
#include <sched.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

std::vector<uint8_t> read_all(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

double seconds_of(const timeval& t) { return static_cast<double>(t.tv_sec) + t.tv_usec / 1e6; }

double clock_seconds(clockid_t clock) {
  timespec t{};
  clock_gettime(clock, &t);
  return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) / 1e9;
}

struct timing {
  double wall;
  double cpu;
};

std::string threads_env(unsigned threads) { return "PELK_THREADS=" + std::to_string(threads); }

// Starts argv, with standard output going to `out` and `env` added to the
// environment; on processor `cpu` alone unless it is negative.
pid_t start_process(const std::vector<std::string>& args, const std::string& env, const char* out, int cpu = -1) {
  std::fflush(stdout);
  const pid_t pid = fork();
  if (pid == 0) {
    if (cpu >= 0) {
      cpu_set_t only;
      CPU_ZERO(&only);
      CPU_SET(cpu, &only);
      if (sched_setaffinity(0, sizeof only, &only) != 0) _exit(125);
    }
    if (std::freopen(out, "w", stdout) == nullptr) _exit(126);
    if (!env.empty()) putenv(const_cast<char*>(env.c_str()));
    std::vector<char*> argv;
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    execvp(argv[0], argv.data());
    _exit(127);
  }
  return pid;
}

// Waits for a started process; its CPU seconds. Ends the benchmark when it
// failed.
double finish_process(pid_t pid, const std::vector<std::string>& args) {
  int status = 0;
  rusage usage{};
  wait4(pid, &status, 0, &usage);
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
    std::fprintf(stderr, "failed: %s %s\n", args[0].c_str(), args[1].c_str());
    std::exit(1);
  }
  return seconds_of(usage.ru_utime) + seconds_of(usage.ru_stime);
}

// Runs argv to completion, with standard output going to `out` (the null
// device by default) and `env` added to the environment.
timing run_process(const std::vector<std::string>& args, const std::string& env = "",
                   const char* out = "/dev/null", int processor = -1) {
  const double start = clock_seconds(CLOCK_MONOTONIC);
  const double cpu = finish_process(start_process(args, env, out, processor), args);
  return {clock_seconds(CLOCK_MONOTONIC) - start, cpu};
}

// The wall time of `copies` one-thread runs of pelk side by side, each with
// a target of its own.
double run_side_by_side(const std::string& pelk, const fs::path& source, const fs::path& work, unsigned copies) {
  std::vector<std::vector<std::string>> commands;
  for (unsigned c = 0; c < copies; ++c) {
    commands.push_back({pelk, source, work / ("side-" + std::to_string(c) + ".plk")});
  }
  const double start = clock_seconds(CLOCK_MONOTONIC);
  std::vector<pid_t> pids;
  for (const auto& command : commands) pids.push_back(start_process(command, threads_env(1), "/dev/null"));
  for (size_t c = 0; c < pids.size(); ++c) finish_process(pids[c], commands[c]);
  return clock_seconds(CLOCK_MONOTONIC) - start;
}

long peak_memory_kib(const std::string& pelk, const fs::path& source, const fs::path& target,
                     const fs::path& report, const std::string& env) {
  run_process({"/usr/bin/time", "-f", "%M", "-o", report, pelk, source, target}, env);
  std::ifstream in(report);
  long kib = 0;
  in >> kib;
  return kib;
}

double median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  const size_t n = values.size();
  return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

// The builds measured: this one, and the --against one when given.
struct build {
  std::string binary;
  const char* mark;  // after the file name on its rows
};

void one_core(const std::vector<fs::path>& files, int runs, const std::vector<build>& builds, const fs::path& work) {
  cpu_set_t one_processor;
  CPU_ZERO(&one_processor);
  CPU_SET(sched_getcpu(), &one_processor);
  sched_setaffinity(0, sizeof one_processor, &one_processor);  // children inherit it

  libdeflate_compressor* peer = libdeflate_alloc_compressor(6);
  std::printf("%-16s %10s %10s %6s %10s %6s %9s %9s %6s %9s\n", "file", "size", "pelk", "ratio",
              "libdefl-6", "ratio", "pelk MB/s", "ldf MB/s", "speed", "peak KiB");
  for (const fs::path& file : files) {
    const std::vector<uint8_t> source = read_all(file);
    std::vector<uint8_t> peer_out(libdeflate_deflate_compress_bound(peer, source.size()));
    const fs::path target = work / "out.plk";

    std::vector<std::vector<double>> pelk_times(builds.size());
    std::vector<double> peer_times;
    size_t peer_size = 0;
    for (int r = 0; r < runs; ++r) {
      // The builds take turns at going first: a run right after another
      // process's finds the caches and the processor's clock as that one
      // left them.
      for (size_t i = 0; i < builds.size(); ++i) {
        const size_t b = r % 2 == 0 ? i : builds.size() - 1 - i;
        pelk_times[b].push_back(run_process({builds[b].binary, file, target}, threads_env(1)).cpu);
      }

      const double start = clock_seconds(CLOCK_THREAD_CPUTIME_ID);
      peer_size = libdeflate_deflate_compress(peer, source.data(), source.size(), peer_out.data(),
                                              peer_out.size());
      peer_times.push_back(clock_seconds(CLOCK_THREAD_CPUTIME_ID) - start);
    }
    const double mb = static_cast<double>(source.size()) / 1e6;
    const double peer_speed = mb / median(peer_times);
    const auto in_size = static_cast<double>(source.size());
    for (size_t b = 0; b < builds.size(); ++b) {
      const long peak_kib = peak_memory_kib(builds[b].binary, file, target, work / "peak", threads_env(1));
      const double pelk_speed = mb / median(pelk_times[b]);
      const auto pelk_size = static_cast<double>(fs::file_size(target));
      const std::string name = file.filename().string() + builds[b].mark;
      std::printf("%-16s %10zu %10.0f %6.3f %10zu %6.3f %9.1f %9.1f %6.2f %9ld\n", name.c_str(), source.size(),
                  pelk_size, pelk_size / in_size, peer_size, static_cast<double>(peer_size) / in_size, pelk_speed,
                  peer_speed, pelk_speed / peer_speed, peak_kib);
    }
  }
  libdeflate_free_compressor(peer);
}

void wall_clock(const std::vector<fs::path>& files, int runs, const std::vector<build>& builds,
                const fs::path& work) {
  cpu_set_t allowed;
  CPU_ZERO(&allowed);
  sched_getaffinity(0, sizeof allowed, &allowed);
  const unsigned processors = static_cast<unsigned>(std::max(1, CPU_COUNT(&allowed)));
  std::vector<int> processor_ids;
  for (int id = 0; id < CPU_SETSIZE; ++id) {
    if (CPU_ISSET(id, &allowed)) processor_ids.push_back(id);
  }
  std::vector<unsigned> counts = {1};
  for (unsigned t = 2; t <= processors; t *= 2) counts.push_back(t);
  if (counts.back() != processors) counts.push_back(processors);

  std::printf("wall-clock seconds (CPU seconds), medians of %d alternating runs on %u processors;\n"
              "speed: libdeflate-gzip's wall time over pelk's; scaling: pelk on 1 thread over pelk on n;\n"
              "ceiling: what this machine lets %u threads gain at most, %u one-thread runs side by side\n",
              runs, processors, processors, processors);
  std::printf("%-16s %17s", "file", "libdeflate-gzip");
  for (unsigned t : counts) std::printf(" %13s%-4u", "pelk ", t);
  for (unsigned t : counts) std::printf(" speed%-3u", t);
  for (size_t i = 1; i < counts.size(); ++i) std::printf(" scale%-3u", counts[i]);
  if (processors > 1) std::printf(" ceiling");
  std::printf(" %9s\n", "peak KiB");

  for (const fs::path& file : files) {
    const fs::path target = work / "out.plk";
    std::vector<double> peer_wall, peer_cpu, side_wall;
    // [build][thread count]: the runs' times.
    using runs_by_count = std::vector<std::vector<double>>;
    std::vector<runs_by_count> wall(builds.size(), runs_by_count(counts.size()));
    std::vector<runs_by_count> cpu = wall;
    for (int r = 0; r < runs; ++r) {
      // One-thread runs, libdeflate-gzip's and pelk's, take the processors
      // in turn: virtual processors can differ in speed by a fifth, and a
      // child would otherwise run wherever the benchmark happens to sit,
      // the same one for every run.
      const int one = processor_ids[static_cast<size_t>(r) % processor_ids.size()];
      const timing peer = run_process({"libdeflate-gzip", "-6", "-c", file}, "", (work / "out.gz").c_str(), one);
      peer_wall.push_back(peer.wall);
      peer_cpu.push_back(peer.cpu);
      for (size_t turn = 0; turn < builds.size(); ++turn) {
        const size_t b = r % 2 == 0 ? turn : builds.size() - 1 - turn;  // first in turn, as above
        for (size_t i = 0; i < counts.size(); ++i) {
          const timing ours =
              run_process({builds[b].binary, file, target}, threads_env(counts[i]), "/dev/null", counts[i] == 1 ? one : -1);
          wall[b][i].push_back(ours.wall);
          cpu[b][i].push_back(ours.cpu);
        }
      }
      if (processors > 1) side_wall.push_back(run_side_by_side(builds[0].binary, file, work, processors));
    }
    for (size_t b = 0; b < builds.size(); ++b) {
      const long peak_kib = peak_memory_kib(builds[b].binary, file, target, work / "peak",
                                            threads_env(counts.size() > 1 ? counts[1] : 1));
      const std::string name = file.filename().string() + builds[b].mark;
      std::printf("%-16s %8.3f (%6.3f)", name.c_str(), median(peer_wall), median(peer_cpu));
      for (size_t i = 0; i < counts.size(); ++i) {
        std::printf("  %7.3f (%6.3f)", median(wall[b][i]), median(cpu[b][i]));
      }
      for (size_t i = 0; i < counts.size(); ++i) std::printf(" %8.2f", median(peer_wall) / median(wall[b][i]));
      for (size_t i = 1; i < counts.size(); ++i) std::printf(" %8.2f", median(wall[b][0]) / median(wall[b][i]));
      // Against this build's own one-thread time, on every row: it is the
      // machine's figure for this file.
      if (processors > 1) std::printf(" %7.2f", processors * median(wall[0][0]) / median(side_wall));
      std::printf(" %9ld\n", peak_kib);
    }
  }
}

}  // namespace

int main(int argc, char** argv) {
  int runs = 5;
  bool wall = false;
  std::vector<build> builds = {{PELK_BINARY_PATH, ""}};  // another build can be measured with --pelk
  std::vector<fs::path> files;
  for (int i = 1; i < argc; ++i) {
    if (std::string(argv[i]) == "--runs" && i + 1 < argc) {
      runs = std::max(1, std::atoi(argv[++i]));
    } else if (std::string(argv[i]) == "--pelk" && i + 1 < argc) {
      builds[0].binary = argv[++i];
    } else if (std::string(argv[i]) == "--against" && i + 1 < argc) {
      builds.push_back({argv[++i], " old"});
    } else if (std::string(argv[i]) == "--wall") {
      wall = true;
    } else {
      files.emplace_back(argv[i]);
    }
  }

  const fs::path work = fs::temp_directory_path() / ("pelk-bench-" + std::to_string(getpid()));
  fs::create_directories(work);
  if (files.empty()) {
    const fs::path corpus = PELK_CORPUS_DIR;
    if (!fs::is_directory(corpus)) {
      std::fprintf(stderr, "no files given and no corpus at %s\n", corpus.c_str());
      return 1;
    }
    for (const char* name : {"dickens", "mr", "reymont", "xml"}) files.push_back(corpus / name);
    std::ofstream small(work / "small-files", std::ios::binary);
    for (const char* name : {"alice29.txt", "asyoulik.txt", "fireworks.jpeg", "geo.protodata", "html",
                             "html_x_4", "kppkn.gtb", "lcet10.txt", "paper-100k.pdf", "plrabn12.txt",
                             "urls.10K"}) {
      const std::vector<uint8_t> data = read_all(corpus / name);
      small.write(reinterpret_cast<const char*>(data.data()), static_cast<std::streamsize>(data.size()));
    }
    files.push_back(work / "small-files");
  }

  if (wall) {
    wall_clock(files, runs, builds, work);
  } else {
    one_core(files, runs, builds, work);
  }
  fs::remove_all(work);
  return 0;
}
