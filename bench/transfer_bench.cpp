// The data path measured against its floors.
//
// WriteObject and ReadObject go through the plug-in exactly as a host calls
// them (CreateInstance, then the interface), against a Java library whose
// write only takes the array and whose read only fills it.  In the same run
// the floors: what the same bytes cost with nothing but memcpy or the bare
// JNI array calls, what attaching a thread costs, what one log-line append
// costs, and what one bare Java call costs.  After the run a summary sets the
// plug-in against the floors and the goals:
//   - 64 MiB write and read each at least 0.9x the throughput of their floor;
//   - the per-call overhead (call minus its data floor) at most 1.1x the sum
//     of the floors the call cannot avoid: its four log lines, the Java call,
//     and on an unattached thread one attach and detach.
#include <benchmark/benchmark.h>
#include <jni.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "bridge/JniWrapper.h"
#include "kq/CloudPluginInterface.h"
#include "log/JniWrapperLog.h"
#include "platform/Platform.h"

namespace {

constexpr int64_t kKiB = 1024;
constexpr int64_t kMiB = 1024 * kKiB;
const int64_t kSizes[] = {4 * kKiB, 1 * kMiB, 64 * kMiB};
// A plain WriteObject and a plain ReadObject each write four log lines.
constexpr int kLogLinesPerCall = 4;

struct Setup {
  JavaVM* vm = nullptr;
  JavaVM** vmSlot = nullptr;
  ICloudPluginInterface* plugin = nullptr;
  jclass libraryClass = nullptr;  // global
  jobject library = nullptr;      // global, for the bare Java call
  jmethodID writeObject = nullptr;
  jmethodID fill = nullptr;
  WString root;
  WString floorLogPath;
  WString partsLogFolder;
  CJNIWrapper* bridge = nullptr;  // a log-less bridge of the bench's own
};
Setup g;

std::string SizeName(int64_t size) {
  return size >= kMiB ? std::to_string(size / kMiB) + "MiB" : std::to_string(size / kKiB) + "KiB";
}

// Attaches the benchmark's thread for the length of a run when asked to.
// The thread is otherwise never attached, so the plug-in attaches and
// detaches it in every call.
class RunThread {
 public:
  explicit RunThread(bool attach) {
    if (attach && g.vm->AttachCurrentThread(reinterpret_cast<void**>(&env_), nullptr) != JNI_OK) env_ = nullptr;
  }
  ~RunThread() {
    if (env_ != nullptr) g.vm->DetachCurrentThread();
  }
  JNIEnv* env() const { return env_; }

 private:
  JNIEnv* env_ = nullptr;
};

std::vector<unsigned char> TouchedBuffer(int64_t size, unsigned char value) {
  return std::vector<unsigned char>(static_cast<size_t>(size), value);
}

// ---- through the plug-in ----------------------------------------------------

void PluginWrite(benchmark::State& state, int64_t size, bool attached) {
  RunThread thread(attached);
  auto buffer = TouchedBuffer(size, 0x11);
  const WString name = KQ_W("bench-object");
  for (auto _ : state) {
    uint32_t code = g.plugin->WriteObject(name, buffer.data(), static_cast<uint64_t>(size));
    if (code != 0) {
      state.SkipWithError("WriteObject failed");
      break;
    }
  }
  state.SetBytesProcessed(state.iterations() * size);
}

void PluginRead(benchmark::State& state, int64_t size, bool attached) {
  RunThread thread(attached);
  auto buffer = TouchedBuffer(size, 0x11);
  const WString name = KQ_W("bench-object");
  for (auto _ : state) {
    uint64_t count = static_cast<uint64_t>(size);
    uint32_t code = g.plugin->ReadObject(name, buffer.data(), 0, &count);
    if (code != 0 || count != static_cast<uint64_t>(size)) {
      state.SkipWithError("ReadObject failed");
      break;
    }
  }
  if (buffer[static_cast<size_t>(size) - 1] != 0x5a) state.SkipWithError("ReadObject delivered no data");
  state.SetBytesProcessed(state.iterations() * size);
}

// ---- floors -----------------------------------------------------------------

void FloorMemcpy(benchmark::State& state, int64_t size) {
  auto from = TouchedBuffer(size, 0x11);
  auto to = TouchedBuffer(size, 0x22);
  for (auto _ : state) {
    std::memcpy(to.data(), from.data(), static_cast<size_t>(size));
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(state.iterations() * size);
}

// What a write cannot avoid: a new Java array of the size and one copy in.
void FloorNewSet(benchmark::State& state, int64_t size) {
  RunThread thread(true);
  JNIEnv* env = thread.env();
  auto buffer = TouchedBuffer(size, 0x11);
  const jsize length = static_cast<jsize>(size);
  for (auto _ : state) {
    jbyteArray array = env->NewByteArray(length);
    env->SetByteArrayRegion(array, 0, length, reinterpret_cast<const jbyte*>(buffer.data()));
    env->DeleteLocalRef(array);
  }
  state.SetBytesProcessed(state.iterations() * size);
}

// What a read cannot avoid: a new Java array, the library's fill, one copy
// out.
void FloorNewFillGet(benchmark::State& state, int64_t size) {
  RunThread thread(true);
  JNIEnv* env = thread.env();
  auto buffer = TouchedBuffer(size, 0x11);
  const jsize length = static_cast<jsize>(size);
  for (auto _ : state) {
    jbyteArray array = env->NewByteArray(length);
    env->CallStaticVoidMethod(g.libraryClass, g.fill, array);
    env->GetByteArrayRegion(array, 0, length, reinterpret_cast<jbyte*>(buffer.data()));
    env->DeleteLocalRef(array);
  }
  state.SetBytesProcessed(state.iterations() * size);
}

void FloorAttachDetach(benchmark::State& state) {
  for (auto _ : state) {
    JNIEnv* env = nullptr;
    if (g.vm->AttachCurrentThreadAsDaemon(reinterpret_cast<void**>(&env), nullptr) != JNI_OK) {
      state.SkipWithError("attach failed");
      break;
    }
    g.vm->DetachCurrentThread();
  }
}

// One Java call of the write method with everything made beforehand.
void FloorJavaCall(benchmark::State& state) {
  RunThread thread(true);
  JNIEnv* env = thread.env();
  jstring name = env->NewStringUTF("bench-object");
  jbyteArray array = env->NewByteArray(0);
  for (auto _ : state) {
    jobject result = env->CallObjectMethod(g.library, g.writeObject, name, array, static_cast<jlong>(0));
    env->DeleteLocalRef(result);
  }
  env->DeleteLocalRef(array);
  env->DeleteLocalRef(name);
}

// One log record appended as the log appends it, with nothing else: a named
// lock, open, seek to the end, write, size, close.
void FloorLogLine(benchmark::State& state) {
  kq::platform::NamedMutex mutex("KQ_BENCH_FLOOR_LOG_MUTEX");
  // A record of the length of "<time> [pid] [tid] :WriteObject::Java called ...bench-object".
  const WString record(84, static_cast<WChar>(u'x'));
  kq::platform::DeleteFileAt(g.floorLogPath);
  for (auto _ : state) {
    mutex.Lock();
    kq::platform::File file;
    if (file.OpenAlways(g.floorLogPath) && file.SeekToEnd()) file.Write(record.data(), record.size() * sizeof(WChar));
    benchmark::DoNotOptimize(file.Size());
    file.Close();
    mutex.Unlock();
  }
}

// ---- where the time goes ----------------------------------------------------
// Not floors: the plug-in's own parts measured apart, to tell the log's share
// of a call from the bridge's.  The bench holds its own copies of the bridge
// and the log (the plug-in's are hidden inside its library).

// One line through the log writer, with its time stamp and identifiers.
void PartLogWriterLine(benchmark::State& state) {
  CJNIWrapperLog* log = CJNIWrapperLog::GetInstance(g.partsLogFolder);
  const WString text = KQ_W("WriteObject::Java called ...bench-object");
  for (auto _ : state) log->Write(text);
}

// The bridge's plain WriteObject and ReadObject with no log: the JNI work of
// the frame, the call and the result decoding on top of the data floor.
void PartBridgeWrite(benchmark::State& state, int64_t size, bool attached) {
  RunThread thread(attached);
  auto buffer = TouchedBuffer(size, 0x11);
  const WString name = KQ_W("bench-object");
  for (auto _ : state) {
    if (g.bridge->WriteObject(name, buffer.data(), static_cast<uint64_t>(size)) != 0) {
      state.SkipWithError("WriteObject failed");
      break;
    }
  }
}

void PartBridgeRead(benchmark::State& state, int64_t size, bool attached) {
  RunThread thread(attached);
  auto buffer = TouchedBuffer(size, 0x11);
  const WString name = KQ_W("bench-object");
  for (auto _ : state) {
    uint64_t count = static_cast<uint64_t>(size);
    if (g.bridge->ReadObject(name, buffer.data(), 0, &count) != 0) {
      state.SkipWithError("ReadObject failed");
      break;
    }
  }
}

// The bridge's write and four log lines in turn, without the interface and
// the manager: set against the plug-in's call, it shows whether "the rest"
// is code of its own or the parts slowing each other down when they alternate
// (the log's system calls leave the caches cold for the JNI work).
void PartLinesThenBridgeWrite(benchmark::State& state) {
  RunThread thread(true);
  CJNIWrapperLog* log = CJNIWrapperLog::GetInstance(g.partsLogFolder);
  auto buffer = TouchedBuffer(4 * kKiB, 0x11);
  const WString name = KQ_W("bench-object");
  const WString text = KQ_W("WriteObject::Java called ...bench-object");
  for (auto _ : state) {
    log->Write(text);
    log->Write(text);
    if (g.bridge->WriteObject(name, buffer.data(), 4 * kKiB) != 0) {
      state.SkipWithError("WriteObject failed");
      break;
    }
    log->Write(text);
    log->Write(text);
  }
}

// What an unattached call pays for its thread: attaching, one Java call on
// the fresh thread (its first allocation takes a new TLAB), detaching.
void PartAttachCallDetach(benchmark::State& state) {
  for (auto _ : state) {
    JNIEnv* env = nullptr;
    if (g.vm->AttachCurrentThreadAsDaemon(reinterpret_cast<void**>(&env), nullptr) != JNI_OK) {
      state.SkipWithError("attach failed");
      break;
    }
    jbyteArray array = env->NewByteArray(0);
    jobject result = env->CallObjectMethod(g.library, g.writeObject, nullptr, array, static_cast<jlong>(0));
    env->DeleteLocalRef(result);
    env->DeleteLocalRef(array);
    g.vm->DetachCurrentThread();
  }
}

// ---- summary ----------------------------------------------------------------

// Keeps, per benchmark, the time per iteration: the calling thread's CPU time
// and the real time, means, or medians when repetitions were asked for.  The
// summary judges by CPU time: on a shared machine the real time of a run also
// holds the time other processes had the core, while everything measured here
// runs on the calling thread.
class CollectingReporter : public benchmark::ConsoleReporter {
 public:
  struct Times {
    double cpu = -1.0;
    double real = -1.0;
  };
  void ReportRuns(const std::vector<Run>& runs) override {
    for (const Run& run : runs) {
      if (run.error_occurred || run.iterations == 0) continue;
      std::string name = run.run_name.str();
      const std::string suffix = "/real_time";
      if (name.size() > suffix.size() && name.compare(name.size() - suffix.size(), suffix.size(), suffix) == 0) {
        name.resize(name.size() - suffix.size());
      }
      const double n = static_cast<double>(run.iterations);
      Times t{run.cpu_accumulated_time / n, run.real_accumulated_time / n};
      if (run.run_type == Run::RT_Aggregate) {
        if (run.aggregate_name == "median") medians_[name] = t;
      } else {
        means_[name] = t;
      }
    }
    ConsoleReporter::ReportRuns(runs);
  }
  Times Get(const std::string& name) const {
    auto m = medians_.find(name);
    if (m != medians_.end()) return m->second;
    auto it = means_.find(name);
    return it != means_.end() ? it->second : Times{};
  }
  // CPU seconds per call, negative when the benchmark did not run.
  double Cpu(const std::string& name) const { return Get(name).cpu; }

 private:
  std::map<std::string, Times> means_;
  std::map<std::string, Times> medians_;
};

std::string Format(const char* format, double value) {
  char text[32];
  std::snprintf(text, sizeof text, format, value);
  return text;
}
std::string Micro(double seconds) { return Format("%.1f", seconds * 1e6); }
std::string Ratio(double value) { return Format("%.2f", value); }
std::string Throughput(double seconds, int64_t size) {
  return Format("%.2f", static_cast<double>(size) / seconds / 1e9);
}

std::string DataFloorName(bool write, int64_t size) {
  return std::string(write ? "floor/NewByteArray+SetByteArrayRegion/" : "floor/NewByteArray+fill+GetByteArrayRegion/") +
         SizeName(size);
}

void PrintSummary(const CollectingReporter& r) {
  const double logLine = r.Cpu("floor/log-line");
  const double javaCall = r.Cpu("floor/java-call");
  const double attach = r.Cpu("floor/attach+detach");
  std::printf("\nSummary: CPU time of the calling thread per call in microseconds (GB/s in brackets)\n\n");
  std::printf("| call | size | thread | plug-in | data floor | floor / plug-in (goal >= 0.9 at 64 MiB) | memcpy |\n");
  std::printf("|---|---|---|---|---|---|---|\n");
  for (bool write : {true, false}) {
    for (int64_t size : kSizes) {
      const std::string sz = SizeName(size);
      const double data = r.Cpu(DataFloorName(write, size));
      const double copy = r.Cpu("floor/memcpy/" + sz);
      for (const char* thread : {"attached", "unattached"}) {
        const double call = r.Cpu(std::string("plugin/") + (write ? "write/" : "read/") + sz + "/" + thread);
        if (call < 0 || data < 0) continue;
        std::printf("| %s | %s | %s | %s (%s) | %s (%s) | %s | %s |\n", write ? "WriteObject" : "ReadObject",
                    sz.c_str(), thread, Micro(call).c_str(), Throughput(call, size).c_str(), Micro(data).c_str(),
                    Throughput(data, size).c_str(), Ratio(data / call).c_str(), Micro(copy).c_str());
      }
    }
  }
  std::printf("\nFloors: log line %s us, Java call %s us, attach+detach %s us\n", Micro(logLine).c_str(),
              Micro(javaCall).c_str(), Micro(attach).c_str());
  if (logLine < 0 || javaCall < 0 || attach < 0) return;

  std::printf("\nPer-call overhead at 4 KiB: the call minus its data floor, against the floors it must pay\n");
  std::printf("(%d log lines, the Java call, and attach+detach on an unattached thread; the read's data\n",
              kLogLinesPerCall);
  std::printf("floor already holds a Java call)\n\n");
  std::printf("| call | thread | overhead | forced floors | overhead / forced (goal <= 1.1) |\n");
  std::printf("|---|---|---|---|---|\n");
  for (bool write : {true, false}) {
    const double data = r.Cpu(DataFloorName(write, 4 * kKiB));
    for (bool attached : {true, false}) {
      const double call = r.Cpu(std::string("plugin/") + (write ? "write" : "read") + "/4KiB/" +
                                (attached ? "attached" : "unattached"));
      if (call < 0 || data < 0) continue;
      const double forced = kLogLinesPerCall * logLine + (write ? javaCall : 0.0) + (attached ? 0.0 : attach);
      std::printf("| %s | %s | %s | %s | %s |\n", write ? "WriteObject" : "ReadObject",
                  attached ? "attached" : "unattached", Micro(call - data).c_str(), Micro(forced).c_str(),
                  Ratio((call - data) / forced).c_str());
    }
  }

  const double writerLine = r.Cpu("part/log-writer-line");
  std::printf("\nWhere a 4 KiB call spends its time: its parts measured apart (us)\n\n");
  std::printf("| part | attached | unattached | its floor (attached / unattached) |\n|---|---|---|---|\n");
  if (writerLine >= 0) {
    std::printf("| %d lines through the log writer | %s | %s | %s |\n", kLogLinesPerCall,
                Micro(kLogLinesPerCall * writerLine).c_str(), Micro(kLogLinesPerCall * writerLine).c_str(),
                Micro(kLogLinesPerCall * logLine).c_str());
  }
  const double attachCall = r.Cpu("part/attach+java-call+detach");
  for (bool write : {true, false}) {
    const std::string part = std::string("part/bridge-") + (write ? "write" : "read") + "-no-log/4KiB/";
    const double on = r.Cpu(part + "attached");
    const double off = r.Cpu(part + "unattached");
    const double floor = r.Cpu(DataFloorName(write, 4 * kKiB)) + (write ? javaCall : 0.0);
    if (on < 0 || off < 0) continue;
    std::printf("| bridge %s without log (frame, lookups, call, decoding, data) | %s | %s | %s / %s |\n",
                write ? "WriteObject" : "ReadObject", Micro(on).c_str(), Micro(off).c_str(), Micro(floor).c_str(),
                Micro(floor + attach).c_str());
    const double call = r.Cpu(std::string("plugin/") + (write ? "write" : "read") + "/4KiB/attached");
    if (call >= 0 && writerLine >= 0) {
      std::printf(
          "| %s: the rest (interface, manager, and the parts slowing each other when they alternate) "
          "| %s | | 0 |\n",
          write ? "WriteObject" : "ReadObject", Micro(call - kLogLinesPerCall * writerLine - on).c_str());
    }
  }
  const double alternating = r.Cpu("part/4-lines-and-bridge-write/4KiB");
  const double pluginWrite = r.Cpu("plugin/write/4KiB/attached");
  if (alternating >= 0 && pluginWrite >= 0) {
    std::printf("| the same lines and bridge write, in turn, without interface and manager | %s | | %s |\n",
                Micro(alternating).c_str(), Micro(pluginWrite).c_str());
  }
  if (attachCall >= 0) {
    std::printf("| attach + one Java call + detach | | %s | %s |\n", Micro(attachCall).c_str(),
                Micro(attach + javaCall).c_str());
  }
}

// ---- set-up -----------------------------------------------------------------

bool StartJvm() {
  std::string classPath = std::string("-Djava.class.path=") + KQ_BENCH_CLASSPATH;
  JavaVMOption options[] = {
      {const_cast<char*>(classPath.c_str()), nullptr},
      {const_cast<char*>("-Xms2g"), nullptr},
      {const_cast<char*>("-Xmx2g"), nullptr},
      // Without it every first pass over a part of the heap pays page
      // faults, and the first runs of each size measure the kernel.
      {const_cast<char*>("-XX:+AlwaysPreTouch"), nullptr},
  };
  JavaVMInitArgs args{};
  args.version = JNI_VERSION_1_8;
  args.nOptions = static_cast<jint>(sizeof options / sizeof options[0]);
  args.options = options;
  args.ignoreUnrecognized = JNI_FALSE;
  bool ok = false;
  // Started on a helper thread that then leaves the VM, so that the
  // benchmark's own thread begins unattached.
  std::thread starter([&] {
    JNIEnv* env = nullptr;
    if (JNI_CreateJavaVM(&g.vm, reinterpret_cast<void**>(&env), &args) != JNI_OK) return;
    jclass cls = env->FindClass("com/kq/AzureLibrary/KQAzurePlugInLibrary");
    if (cls != nullptr) {
      g.libraryClass = static_cast<jclass>(env->NewGlobalRef(cls));
      g.fill = env->GetStaticMethodID(cls, "fill", "([B)V");
      g.writeObject =
          env->GetMethodID(cls, "WriteObject", "(Ljava/lang/String;[BJ)Lcom/kq/KQCloudPluginInterface/CErrorValue;");
      jmethodID constructor = env->GetMethodID(cls, "<init>", "(Ljava/lang/String;)V");
      jstring root = env->NewStringUTF("");
      jobject library = constructor != nullptr ? env->NewObject(cls, constructor, root) : nullptr;
      if (library != nullptr) g.library = env->NewGlobalRef(library);
      ok = g.fill != nullptr && g.writeObject != nullptr && g.library != nullptr;
    }
    if (env->ExceptionCheck()) {
      env->ExceptionDescribe();
      ok = false;
    }
    g.vm->DetachCurrentThread();
  });
  starter.join();
  return ok;
}

bool StartPlugin(const std::string& root) {
  g.root = kq::platform::Widen(root);
  // The host provides the installation root; the plug-in adds only the last
  // level of its log folder.
  const WChar sep = kq::platform::kPathSeparator;
  WString path = g.root;
  kq::platform::CreateDirectoryOnce(path);
  for (const WChar* part : {KQ_W("Plugin"), KQ_W("Azure")}) {
    path += sep;
    path += part;
    kq::platform::CreateDirectoryOnce(path);
  }
  // The floor's file and the log writer's part sit as deep as the plug-in's
  // log, so that every open walks a path of the same length.
  g.floorLogPath = path + sep + KQ_W("Log") + sep + KQ_W("floor.log");
  g.partsLogFolder = path + sep + KQ_W("Parts");
  kq::platform::CreateDirectoryOnce(g.partsLogFolder);
  g.vmSlot = &g.vm;
  JavaVM** slot = g.vmSlot;
  g.plugin = CreateInstance(g.root, &slot);
  if (g.plugin == nullptr) return false;
  if (g.plugin->InitLibrary(KQ_W("bench")) != 0) return false;
  g.bridge = new CJNIWrapper(g.root, &slot);
  return g.bridge->StartCommunication() == 0;
}

void Register() {
  const auto us = benchmark::kMicrosecond;
  for (int64_t size : kSizes) {
    const std::string sz = SizeName(size);
    benchmark::RegisterBenchmark(("floor/memcpy/" + sz).c_str(), FloorMemcpy, size)->Unit(us)->UseRealTime();
    benchmark::RegisterBenchmark(("floor/NewByteArray+SetByteArrayRegion/" + sz).c_str(), FloorNewSet, size)
        ->Unit(us)
        ->UseRealTime();
    benchmark::RegisterBenchmark(("floor/NewByteArray+fill+GetByteArrayRegion/" + sz).c_str(), FloorNewFillGet, size)
        ->Unit(us)
        ->UseRealTime();
    for (bool attached : {true, false}) {
      const std::string thread = attached ? "attached" : "unattached";
      benchmark::RegisterBenchmark(("plugin/write/" + sz + "/" + thread).c_str(), PluginWrite, size, attached)
          ->Unit(us)
          ->UseRealTime();
      benchmark::RegisterBenchmark(("plugin/read/" + sz + "/" + thread).c_str(), PluginRead, size, attached)
          ->Unit(us)
          ->UseRealTime();
    }
  }
  benchmark::RegisterBenchmark("floor/attach+detach", FloorAttachDetach)->Unit(us)->UseRealTime();
  benchmark::RegisterBenchmark("floor/java-call", FloorJavaCall)->Unit(us)->UseRealTime();
  benchmark::RegisterBenchmark("floor/log-line", FloorLogLine)->Unit(us)->UseRealTime();
  benchmark::RegisterBenchmark("part/log-writer-line", PartLogWriterLine)->Unit(us)->UseRealTime();
  for (bool attached : {true, false}) {
    const std::string thread = attached ? "attached" : "unattached";
    benchmark::RegisterBenchmark(("part/bridge-write-no-log/4KiB/" + thread).c_str(), PartBridgeWrite, 4 * kKiB,
                                 attached)
        ->Unit(us)
        ->UseRealTime();
    benchmark::RegisterBenchmark(("part/bridge-read-no-log/4KiB/" + thread).c_str(), PartBridgeRead, 4 * kKiB, attached)
        ->Unit(us)
        ->UseRealTime();
  }
  benchmark::RegisterBenchmark("part/attach+java-call+detach", PartAttachCallDetach)->Unit(us)->UseRealTime();
  benchmark::RegisterBenchmark("part/4-lines-and-bridge-write/4KiB", PartLinesThenBridgeWrite)->Unit(us)->UseRealTime();
}

}  // namespace

int main(int argc, char** argv) {
  // The installation root (the plug-in's logs go below it) may be given as
  // KQ_BENCH_ROOT; by default a folder in the working directory.
  const char* rootVar = std::getenv("KQ_BENCH_ROOT");
  const std::string root = rootVar != nullptr ? rootVar : "kq-bench-root";
  if (!StartJvm()) {
    std::fprintf(stderr, "cannot start the Java VM with the bench classes at %s\n", KQ_BENCH_CLASSPATH);
    return 1;
  }
  if (!StartPlugin(root)) {
    std::fprintf(stderr, "the plug-in did not start\n");
    return 1;
  }
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  Register();
  CollectingReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  PrintSummary(reporter);
  benchmark::Shutdown();
  // The VM stays: the host owns it, and the plug-in never destroys it.
  g.plugin->DeInit();
  g.plugin->Release();
  return 0;
}
