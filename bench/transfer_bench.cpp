// The data path measured against its floors.
//
// WriteObject and ReadObject go through the plug-in exactly as a host calls
// them (CreateInstance, then the interface), against a Java library whose
// write only takes the array and whose read only fills it.  In the same run
// the floors: what the same bytes cost with nothing but memcpy or the bare
// JNI array calls, what attaching a thread costs, what one log-line append
// costs, what one bare Java call costs, and the floor call: everything a
// plain 4 KiB WriteObject or ReadObject cannot avoid, done directly in the
// same order.  After the run a summary sets the plug-in against the floors
// and the goals:
//   - 64 MiB write and read each at least 0.9x the throughput of their floor;
//   - the per-call overhead (call minus its data floor) at most 1.1x what
//     the floor call costs beyond the same data floor.
//
// The floor call holds every log line with its whole text (time stamp and
// identifiers included) appended under the named mutex with one open, seek,
// write, size query and close, the rotation of the files, and every JNI call
// that reaches Java or moves data: the attach on a fresh thread, the
// library's class, the name's Java string, the array with its reserved local
// references, the method, the two calls that decode its CErrorValue (for a
// read: the record's errorValue, its ordinal and sizeRead, and the copy out),
// and the deletion of every local reference.  It leaves out only the class,
// method and field lookups: their answers never change while the library's
// class is loaded, so the plug-in keeps them, and the floor does too.
#include <benchmark/benchmark.h>
#include <jni.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "bridge/JavaNames.h"
#include "bridge/JniWrapper.h"
#include "kq/CloudPluginInterface.h"
#include "log/HostTexts.h"
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
  jmethodID readObject = nullptr;
  jmethodID fill = nullptr;
  // CErrorValue and CReadObjectFnValue, for the floor calls' decoding.
  jmethodID getErrorID = nullptr;
  jmethodID getOrdinalValue = nullptr;
  jfieldID errorValue = nullptr;
  jfieldID sizeRead = nullptr;
  WString root;
  WString floorLogFolder;
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

// The log line as the host's log format has it, with nothing else: the
// named mutex, the local time and the identifiers, the record (line break,
// time stamp, identifiers, separator, message and text) built in place, one
// open of a name converted once, seek to the end, write, size, close, and the
// rotation past ten mebibytes.  Its files sit in the plug-in's log folder,
// so every open walks a path of the same length.
class FloorLog {
 public:
  FloorLog() : mutex_("KQ_BENCH_FLOOR_LOG_MUTEX") {
    for (int n = 0; n <= kOldest; ++n) {
      names_[n] = g.floorLogFolder + kq::platform::kPathSeparator + KQ_W("floor") +
                  kq::platform::Widen(std::to_string(n)) + KQ_W(".log");
      kq::platform::DeleteFileAt(names_[n]);
    }
    current_ = kq::platform::SystemPath(names_[0]);
  }

  void Line(kq::WStringView message, kq::WStringView text) {
    mutex_.Lock();
    const kq::platform::LocalTime t = kq::platform::Now();
    const uint32_t ids[] = {kq::platform::ProcessId(), kq::platform::ThreadId()};
    WChar* p = record_;
    *p++ = u'\r';
    *p++ = u'\n';
    p = Digits(p, t.year, 4);
    *p++ = u'-';
    p = Digits(p, t.month, 2);
    *p++ = u'-';
    p = Digits(p, t.day, 2);
    *p++ = u' ';
    p = Digits(p, t.hour, 2);
    *p++ = u':';
    p = Digits(p, t.minute, 2);
    *p++ = u':';
    p = Digits(p, t.second, 2);
    *p++ = u'.';
    p = Digits(p, t.millisecond, 3);
    *p++ = u' ';
    for (uint32_t id : ids) {
      *p++ = u' ';
      *p++ = u'[';
      for (int shift = 28; shift >= 0; shift -= 4) {
        const uint32_t digit = (id >> shift) & 15;
        *p++ =
            (id >> shift) == 0 && shift > 0 ? u' ' : static_cast<WChar>(digit < 10 ? u'0' + digit : u'a' + digit - 10);
      }
      *p++ = u']';
    }
    *p++ = u' ';
    *p++ = u':';
    for (kq::WStringView part : {message, text}) p = std::copy(part.begin(), part.end(), p);
    kq::platform::File file;
    if (file.OpenAlways(current_) && file.SeekToEnd()) {
      file.Write(record_, static_cast<size_t>(p - record_) * sizeof(WChar));
    }
    if (file.Size() >= CJNIWrapperLog::kRotateBytes) Rotate(file);
    file.Close();
    mutex_.Unlock();
  }

 private:
  static constexpr int kOldest = CJNIWrapperLog::kOldestFile;

  static WChar* Digits(WChar* p, int value, int width) {
    for (int i = width - 1; i >= 0; --i, value /= 10) p[i] = static_cast<WChar>(u'0' + value % 10);
    return p + width;
  }

  void Rotate(kq::platform::File& file) {
    file.Close();
    kq::platform::DeleteFileAt(names_[kOldest]);
    for (int n = kOldest - 1; n >= 0; --n) {
      if (kq::platform::FileExists(names_[n])) kq::platform::RenameFile(names_[n], names_[n + 1]);
    }
    if (file.OpenAlways(current_)) file.SeekToEnd();
  }

  kq::platform::NamedMutex mutex_;
  WString names_[kOldest + 1];
  kq::platform::SystemPath current_;
  WChar record_[512];  // the bench's names keep every record far shorter
};

void FloorLogLine(benchmark::State& state) {
  FloorLog log;
  const WString name = KQ_W("bench-object");
  for (auto _ : state) log.Line(kq::text::kWriteObjectJavaCalled, name);
}

// Runs one floor call per iteration: the thread's environment (the attached
// thread's own, or a fresh daemon attach that the call ends with a detach),
// the library's class, then `body`, which makes the rest of the call and
// answers whether the library answered as it should.
template <typename Body> void RunFloorCall(benchmark::State& state, bool attached, Body body) {
  RunThread thread(attached);
  FloorLog log;
  auto buffer = TouchedBuffer(4 * kKiB, 0x11);
  const WString name = KQ_W("bench-object");
  for (auto _ : state) {
    JNIEnv* env = nullptr;
    const jint got = attached ? g.vm->GetEnv(reinterpret_cast<void**>(&env), JNI_VERSION_1_6)
                              : g.vm->AttachCurrentThreadAsDaemon(reinterpret_cast<void**>(&env), nullptr);
    if (got != JNI_OK) {
      state.SkipWithError("no JNIEnv");
      break;
    }
    jclass cls = env->GetObjectClass(g.library);
    const bool ok = body(env, log, name, buffer);
    env->DeleteLocalRef(cls);
    if (!attached) g.vm->DetachCurrentThread();
    if (!ok) {
      state.SkipWithError("the floor call failed");
      break;
    }
  }
}

jstring JavaString(JNIEnv* env, const WString& text) {
  return env->NewString(reinterpret_cast<const jchar*>(text.data()), static_cast<jsize>(text.size()));
}

// A plain 4 KiB WriteObject at its floor: see the top of the file.
void FloorWriteCall(benchmark::State& state, bool attached) {
  RunFloorCall(state, attached, [](JNIEnv* env, FloorLog& log, const WString& name, std::vector<unsigned char>& data) {
    const jsize length = static_cast<jsize>(data.size());
    log.Line(kq::text::kWriteObjectMemoryCopyStarted, name);
    jstring javaName = JavaString(env, name);
    env->EnsureLocalCapacity(2);
    jbyteArray array = env->NewByteArray(length);
    env->SetByteArrayRegion(array, 0, length, reinterpret_cast<const jbyte*>(data.data()));
    log.Line(kq::text::kWriteObjectMemoryCopyEnded, name);
    log.Line(kq::text::kWriteObjectJavaCalled, name);
    jobject result = env->CallObjectMethod(g.library, g.writeObject, javaName, array, static_cast<jlong>(length));
    static_cast<void>(env->ExceptionCheck());
    log.Line(kq::text::kWriteObjectJavaEnded, name);
    jobject identifier = env->CallObjectMethod(result, g.getErrorID);
    static_cast<void>(env->ExceptionCheck());
    const jint ordinal = env->CallIntMethod(result, g.getOrdinalValue);
    static_cast<void>(env->ExceptionCheck());
    for (jobject ref : {identifier, result, static_cast<jobject>(array), static_cast<jobject>(javaName)}) {
      env->DeleteLocalRef(ref);
    }
    return ordinal == 0;
  });
}

// A plain 4 KiB ReadObject at its floor: see the top of the file.
void FloorReadCall(benchmark::State& state, bool attached) {
  RunFloorCall(state, attached, [](JNIEnv* env, FloorLog& log, const WString& name, std::vector<unsigned char>& data) {
    const jsize length = static_cast<jsize>(data.size());
    jstring javaName = JavaString(env, name);
    env->EnsureLocalCapacity(2);
    jbyteArray array = env->NewByteArray(length);
    log.Line(kq::text::kReadObjectIsCalled, name);
    jobject result =
        env->CallObjectMethod(g.library, g.readObject, javaName, array, static_cast<jlong>(length), jlong{0});
    static_cast<void>(env->ExceptionCheck());
    log.Line(kq::text::kReadObjectIsEnded, name);
    jobject error = env->GetObjectField(result, g.errorValue);
    const jint ordinal = env->CallIntMethod(error, g.getOrdinalValue);
    static_cast<void>(env->ExceptionCheck());
    const jlong count = env->GetLongField(result, g.sizeRead);
    log.Line(kq::text::kReadObjectBufferCopyStarted, name);
    env->GetByteArrayRegion(array, 0, static_cast<jsize>(count), reinterpret_cast<jbyte*>(data.data()));
    static_cast<void>(env->ExceptionCheck());
    log.Line(kq::text::kReadObjectBufferCopyEnded, name);
    for (jobject ref : {error, result, static_cast<jobject>(array), static_cast<jobject>(javaName)}) {
      env->DeleteLocalRef(ref);
    }
    return ordinal == 0 && count == length && data.back() == 0x5a;
  });
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

  std::printf("\nPer-call overhead at 4 KiB: the call minus its data floor, against the floor call minus the\n");
  std::printf("same data floor (the floor call does directly all a plain call cannot avoid, in the same order);\n");
  std::printf("the last columns set the plug-in's and the floor call's overhead against the floors measured\n");
  std::printf("apart instead (%d log lines, the Java call, attach+detach on an unattached thread): what the\n",
              kLogLinesPerCall);
  std::printf("floor call pays above them is what its parts cost each other when they alternate\n\n");
  std::printf(
      "| call | thread | plug-in | floor call | overhead / forced (goal <= 1.1) | plug-in / floors apart "
      "| floor call / floors apart |\n");
  std::printf("|---|---|---|---|---|---|---|\n");
  for (bool write : {true, false}) {
    const double data = r.Cpu(DataFloorName(write, 4 * kKiB));
    for (bool attached : {true, false}) {
      const std::string suffix =
          std::string(write ? "write" : "read") + "/4KiB/" + (attached ? "attached" : "unattached");
      const double call = r.Cpu("plugin/" + suffix);
      const double floorCall = r.Cpu(std::string("floor/") + (write ? "write-call/4KiB/" : "read-call/4KiB/") +
                                     (attached ? "attached" : "unattached"));
      if (call < 0 || data < 0 || floorCall < 0) continue;
      const double apart = kLogLinesPerCall * logLine + (write ? javaCall : 0.0) + (attached ? 0.0 : attach);
      std::printf("| %s | %s | %s | %s | %s | %s | %s |\n", write ? "WriteObject" : "ReadObject",
                  attached ? "attached" : "unattached", Micro(call).c_str(), Micro(floorCall).c_str(),
                  Ratio((call - data) / (floorCall - data)).c_str(), Ratio((call - data) / apart).c_str(),
                  Ratio((floorCall - data) / apart).c_str());
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
      g.writeObject = env->GetMethodID(cls, "WriteObject", kq::jni::kPlainWriteSignature);
      g.readObject = env->GetMethodID(cls, "ReadObject", kq::jni::kReadSignature);
      jclass errorClass = env->FindClass(kq::jni::kErrorValueClass);
      jclass readClass = env->FindClass(kq::jni::kReadObjectClass);
      if (errorClass != nullptr && readClass != nullptr) {
        g.getErrorID = env->GetMethodID(errorClass, "getErrorID", kq::jni::kGetErrorIdSignature);
        g.getOrdinalValue = env->GetMethodID(errorClass, "getOrdinalValue", "()I");
        g.errorValue = env->GetFieldID(readClass, "errorValue", kq::jni::kErrorValueType);
        g.sizeRead = env->GetFieldID(readClass, "sizeRead", "J");
      }
      jmethodID constructor = env->GetMethodID(cls, "<init>", "(Ljava/lang/String;)V");
      jstring root = env->NewStringUTF("");
      jobject library = constructor != nullptr ? env->NewObject(cls, constructor, root) : nullptr;
      if (library != nullptr) g.library = env->NewGlobalRef(library);
      ok = g.fill != nullptr && g.writeObject != nullptr && g.readObject != nullptr && g.getErrorID != nullptr &&
           g.getOrdinalValue != nullptr && g.errorValue != nullptr && g.sizeRead != nullptr && g.library != nullptr;
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
  // The floor's files sit in the plug-in's log folder and the log writer's
  // part as deep, so that every open walks a path of the same length.
  g.floorLogFolder = path + sep + KQ_W("Log");
  kq::platform::CreateDirectoryOnce(g.floorLogFolder);
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
  for (bool attached : {true, false}) {
    const std::string thread = attached ? "attached" : "unattached";
    benchmark::RegisterBenchmark(("floor/write-call/4KiB/" + thread).c_str(), FloorWriteCall, attached)
        ->Unit(us)
        ->UseRealTime();
    benchmark::RegisterBenchmark(("floor/read-call/4KiB/" + thread).c_str(), FloorReadCall, attached)
        ->Unit(us)
        ->UseRealTime();
  }
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
