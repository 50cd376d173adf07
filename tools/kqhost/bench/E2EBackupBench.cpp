// Backup throughput of the same data set through kqhost (plug-in, JNI bridge,
// Java library) and through the Java library alone (kqdriver.KQDriver, called
// in the same JVM), alternating within every iteration so both see the same
// machine load.  Counters: kqhost and driver MB/s and their ratio.
//
// Environment: AZURE_STORAGE_CONNECTION_STRING (Azurite or Azure),
// KQ_BENCH_DRIVER (folder with kqdriver/KQDriver.class), optional
// KQ_BENCH_DATA (an existing folder to back up instead of the generated set),
// KQ_BENCH_BLOCK (block size in bytes, default 8 MiB).
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <random>
#include <string>

#include "Commands.h"
#include "Console.h"
#include "Host.h"
#include "bridge/ScopedJni.h"

namespace fs = std::filesystem;
using kq::ScopedLocalRef;

namespace {

struct Bench {
  kqhost::HostOptions options;
  std::unique_ptr<kqhost::Host> host;
  JavaVM* vm = nullptr;
  fs::path data;
  uint64_t dataBytes = 0;
  int run = 0;
  std::map<int, double> kqRate, driverRate;  // threads -> MB/s (mean of iterations)
} g;

std::string Env(const char* name, const char* fallback = "") {
  const char* v = std::getenv(name);
  return v ? v : fallback;
}

// 12 files of one block and a half, 6 of exactly one block, 40 small ones:
// the session path, the one-shot path and many-file overhead all count.
uint64_t MakeDataSet(const fs::path& dir, size_t block) {
  std::mt19937_64 rng(42);
  uint64_t total = 0;
  auto write = [&](const fs::path& p, size_t n) {
    fs::create_directories(p.parent_path());
    std::string bytes(n, '\0');
    for (size_t i = 0; i + 8 <= n; i += 8) {
      uint64_t r = rng();
      std::memcpy(&bytes[i], &r, 8);
    }
    std::ofstream(p, std::ios::binary).write(bytes.data(), static_cast<std::streamsize>(n));
    total += n;
  };
  for (int i = 0; i < 12; ++i) write(dir / "large" / ("l" + std::to_string(i)), block + block / 2);
  for (int i = 0; i < 6; ++i) write(dir / "block" / ("b" + std::to_string(i)), block);
  for (int i = 0; i < 40; ++i) write(dir / "small" / ("s" + std::to_string(i)), 4096 + i * 7000);
  return total;
}

void Remove(const std::string& prefix) {
  kqhost::HostFactory same = [](const kqhost::HostOptions& o) {
    return std::make_unique<kqhost::Host>(g.host->plugin(), static_cast<size_t>(o.blockSize));
  };
  kqhost::RunRemove(g.options, prefix, true, same);
}

double KqhostBackup(int threads, const std::string& prefix) {
  kqhost::HostOptions o = g.options;
  o.threads = static_cast<unsigned>(threads);
  kqhost::HostFactory same = [](const kqhost::HostOptions& opts) {
    return std::make_unique<kqhost::Host>(g.host->plugin(), static_cast<size_t>(opts.blockSize));
  };
  kqhost::CommandFlags full;
  full.full = true;  // every iteration sends every byte, as the direct Java driver does
  auto start = std::chrono::steady_clock::now();
  int rc = kqhost::RunBackup(o, g.data, prefix, full, same);
  double secs = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  if (rc != 0) throw std::runtime_error("kqhost backup failed");
  return secs;
}

// KQDriver.backup(config, source, prefix, threads, blockSize).seconds
double DriverBackup(int threads, const std::string& prefix) {
  JNIEnv* env = nullptr;
  if (g.vm->AttachCurrentThread(reinterpret_cast<void**>(&env), nullptr) != JNI_OK)
    throw std::runtime_error("cannot attach to the JVM");
  struct Detach {
    ~Detach() { g.vm->DetachCurrentThread(); }
  } detach;
  double seconds = -1;
  {
    ScopedLocalRef<jclass> cls(env, env->FindClass("kqdriver/KQDriver"));
    if (!cls) {
      env->ExceptionDescribe();
      throw std::runtime_error("kqdriver.KQDriver not found (KQ_BENCH_DRIVER)");
    }
    jmethodID backup = env->GetStaticMethodID(
        cls.get(), "backup", "(Ljava/lang/String;Ljava/lang/String;Ljava/lang/String;II)Lkqdriver/KQDriver$Result;");
    if (backup == nullptr) {
      env->ExceptionDescribe();
      throw std::runtime_error("KQDriver.backup not found");
    }
    ScopedLocalRef<jstring> config(env, env->NewStringUTF(kqhost::InitArgument(g.options).c_str()));
    ScopedLocalRef<jstring> source(env, env->NewStringUTF(g.data.u8string().c_str()));
    ScopedLocalRef<jstring> jprefix(env, env->NewStringUTF(prefix.c_str()));
    ScopedLocalRef<jobject> result(
        env, env->CallStaticObjectMethod(cls.get(), backup, config.get(), source.get(), jprefix.get(),
                                         static_cast<jint>(threads), static_cast<jint>(g.options.blockSize)));
    if (env->ExceptionCheck() || !result) {
      env->ExceptionDescribe();
      throw std::runtime_error("KQDriver.backup failed");
    }
    ScopedLocalRef<jclass> resultClass(env, env->GetObjectClass(result.get()));
    jfieldID field = env->GetFieldID(resultClass.get(), "seconds", "D");
    if (field == nullptr) {
      env->ExceptionDescribe();
      throw std::runtime_error("KQDriver.Result.seconds not found");
    }
    seconds = env->GetDoubleField(result.get(), field);
  }
  return seconds;
}

void BM_E2EBackup(benchmark::State& state) {
  const int threads = static_cast<int>(state.range(0));
  double kqSecs = 0, driverSecs = 0;
  for (auto _ : state) {
    try {
      std::string tag = std::to_string(++g.run);
      // Alternate which goes first, so neither always meets a freshly emptied store.
      double a, b;
      if (g.run % 2) {
        a = KqhostBackup(threads, "bench/kq" + tag);
        b = DriverBackup(threads, "bench/java" + tag);
      } else {
        b = DriverBackup(threads, "bench/java" + tag);
        a = KqhostBackup(threads, "bench/kq" + tag);
      }
      state.SetIterationTime(a);
      kqSecs += a;
      driverSecs += b;
      Remove("bench/kq" + tag);
      Remove("bench/java" + tag);
    } catch (const std::exception& e) {
      state.SkipWithError(e.what());
      return;
    }
  }
  const double n = static_cast<double>(state.iterations());
  const double mb = static_cast<double>(g.dataBytes) / 1e6;
  state.SetBytesProcessed(static_cast<int64_t>(g.dataBytes * state.iterations()));
  state.counters["kqhost_MBps"] = mb * n / kqSecs;
  state.counters["driver_MBps"] = mb * n / driverSecs;
  state.counters["ratio"] = driverSecs / kqSecs;
  g.kqRate[threads] = mb * n / kqSecs;
  g.driverRate[threads] = mb * n / driverSecs;
}
BENCHMARK(BM_E2EBackup)->ArgName("threads")->Arg(1)->Arg(2)->Iterations(3)->UseManualTime()->Unit(benchmark::kSecond);

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  std::string driver = Env("KQ_BENCH_DRIVER");
  if (driver.empty() || !fs::exists(fs::path(driver) / "kqdriver" / "KQDriver.class")) {
    std::fprintf(stderr,
                 "KQ_BENCH_DRIVER must name the folder holding kqdriver/KQDriver.class "
                 "(run tools/kqhost/bench/run-e2e-bench.sh)\n");
    return 2;
  }
  g.options.pluginPath = Env("KQHOST_PLUGIN", KQHOST_DEFAULT_PLUGIN);
  g.options.javaLibDir = Env("KQHOST_JAVA_LIB", KQHOST_DEFAULT_JAVA_LIB);
  g.options.connection = Env("AZURE_STORAGE_CONNECTION_STRING");
  g.options.blockSize = std::strtoull(Env("KQ_BENCH_BLOCK", "8388608").c_str(), nullptr, 10);
  g.options.extraClassPath.push_back(driver);
  fs::path scratch = fs::temp_directory_path() / ("kqhost-bench-" + std::to_string(std::random_device{}()));
  g.options.installRoot = scratch / "home";
  kqhost::Console::SetQuiet(true);

  int rc = 0;
  try {
    if (!Env("KQ_BENCH_DATA").empty()) {
      g.data = Env("KQ_BENCH_DATA");
      for (auto& e : fs::recursive_directory_iterator(g.data))
        if (e.is_regular_file()) g.dataBytes += e.file_size();
    } else {
      g.data = scratch / "data";
      g.dataBytes = MakeDataSet(g.data, g.options.blockSize);
    }
    g.host = std::make_unique<kqhost::Host>(g.options);
    JavaVM* vms[1];
    jsize count = 0;
    if (JNI_GetCreatedJavaVMs(vms, 1, &count) != JNI_OK || count != 1) throw std::runtime_error("no JVM");
    g.vm = vms[0];
    std::printf("data set: %s, %.1f MB, block %llu bytes\n", g.data.u8string().c_str(), g.dataBytes / 1e6,
                static_cast<unsigned long long>(g.options.blockSize));
    // Warm both paths (class loading, JIT, connection pools) before measuring.
    KqhostBackup(2, "bench/warm-kq");
    DriverBackup(2, "bench/warm-java");
    Remove("bench/warm-kq");
    Remove("bench/warm-java");

    benchmark::RunSpecifiedBenchmarks();
    for (const auto& [threads, kq] : g.kqRate) {
      std::printf("threads %d: kqhost %.1f MB/s, direct Java %.1f MB/s, ratio kqhost/direct %.2f\n", threads, kq,
                  g.driverRate[threads], kq / g.driverRate[threads]);
    }
    if (g.kqRate.count(1) && g.kqRate.count(2))
      std::printf("kqhost 2 threads vs 1: %.2fx; direct Java 2 vs 1: %.2fx\n", g.kqRate[2] / g.kqRate[1],
                  g.driverRate[2] / g.driverRate[1]);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "kqhost_e2e_bench: %s\n", e.what());
    rc = 1;
  }
  g.host.reset();
  benchmark::Shutdown();
  std::error_code ec;
  fs::remove_all(scratch, ec);
  std::fflush(stdout);
  std::_Exit(rc);  // the JVM is not destroyed; see Jvm.h
}
