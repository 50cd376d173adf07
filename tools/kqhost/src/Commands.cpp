#include "Commands.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <ctime>
#include <fstream>
#include <mutex>
#include <numeric>
#include <system_error>

#include "Console.h"
#include "HostOs.h"
#include "Sha256.h"
#include "Text.h"
#include "Tree.h"
#include "WorkQueue.h"

namespace kqhost {

namespace fs = std::filesystem;

namespace {

std::unique_ptr<Host> StartHost(const HostFactory& hosts, const HostOptions& options, const char* command) {
  try {
    return hosts(options);
  } catch (const std::exception& e) {
    Console::Error(std::string(command) + ": " + e.what());
    return nullptr;
  }
}

// Decides when a run stops handing out work: on Ctrl-C, or once storage has
// stopped answering (every further file would only wait for its retries).
class RunControl {
 public:
  RunControl(ICloudPluginInterface* plugin, const char* command) : plugin_(plugin), command_(command) {}

  bool Cancelled() const { return InterruptRequested() || unreachable_.load(); }
  bool Unreachable() const { return unreachable_.load(); }

  // Called after an item failed: asks the plug-in whether storage still answers.
  void AfterFailure() {
    std::lock_guard<std::mutex> lock(mu_);
    if (unreachable_.load() || InterruptRequested()) return;
    uint32_t rc = plugin_->CheckConnectivity();
    if (rc != KQ_OK) {
      unreachable_.store(true);
      Console::Error(std::string(command_) + ": storage does not answer (CheckConnectivity: plug-in code " +
                     DescribeCode(rc) + "); stopping");
    }
  }

 private:
  ICloudPluginInterface* plugin_;
  const char* command_;
  std::mutex mu_;
  std::atomic<bool> unreachable_{false};
};

struct Tally {
  std::atomic<uint64_t> done{0}, failed{0}, bytes{0};
};

std::string Count(uint64_t n, const char* noun) {
  return std::to_string(n) + " " + noun + (n == 1 ? "" : "s");
}

// One backup, restore or verify over a list of items: the progress meter,
// the early stop, the counts and the summary line.
class Run {
 public:
  Run(const char* command, ICloudPluginInterface* plugin, uint64_t items, uint64_t bytes, bool showProgress)
      : command_(command), items_(items), meter_(command, items, bytes, showProgress), control_(plugin, command) {}

  ProgressMeter& meter() { return meter_; }
  std::function<bool()> Cancelled() {
    return [this] { return control_.Cancelled(); };
  }

  // Runs work(k) for every item on `threads` threads.  work returns the
  // bytes it handled; a throw is that item's failure, reported under label(k).
  template <typename Work, typename Label>
  void Items(unsigned threads, Work work, Label label) {
    RunParallel(
        items_, threads,
        [&](size_t k) {
          try {
            tally_.bytes += work(k);
            ++tally_.done;
            meter_.FileDone();
          } catch (const std::exception& e) {
            ++tally_.failed;
            Console::Error(std::string(command_) + ": " + label(k) + ": " + e.what());
            control_.AfterFailure();
          }
        },
        Cancelled());
  }

  // "backup: 12 files, 200.1 MB in 4.30 s (46.5 MB/s)" plus what went wrong;
  // returns the exit status.  `refused` counts items failed before the run.
  int Finish(const char* noun, uint64_t refused) {
    meter_.Stop();
    const double seconds = meter_.ElapsedSeconds();
    uint64_t failed = tally_.failed.load() + refused;
    uint64_t notTried = items_ - std::min<uint64_t>(items_, tally_.done.load() + tally_.failed.load());
    std::string line = std::string(command_) + ": " + Count(tally_.done.load(), noun) + ", " +
                       FormatBytes(tally_.bytes.load()) + " in " + FormatSeconds(seconds) + " (" +
                       FormatRate(tally_.bytes.load(), seconds) + ")";
    if (failed > 0) line += ", " + std::to_string(failed) + " failed";
    if (notTried > 0) line += ", " + std::to_string(notTried) + " not attempted";
    Console::Out(line);
    if (InterruptRequested()) {
      Console::Error(std::string(command_) + ": interrupted");
      return kExitInterrupted;
    }
    if (failed > 0 || notTried > 0 || control_.Unreachable()) {
      Console::Error(std::string(command_) + ": FAILED");
      return kExitFailed;
    }
    return kExitOk;
  }

 private:
  const char* command_;
  uint64_t items_;
  ProgressMeter meter_;
  RunControl control_;
  Tally tally_;
};

// Removes a partly written file unless it was handed over.
class PartFile {
 public:
  explicit PartFile(fs::path path) : path_(std::move(path)) {}
  ~PartFile() {
    if (!kept_) {
      std::error_code ec;
      fs::remove(path_, ec);
    }
  }
  const fs::path& path() const { return path_; }
  void Keep() { kept_ = true; }

 private:
  fs::path path_;
  bool kept_ = false;
};

void CheckDigest(const FileMeta& meta, uint64_t got, const std::string& sha) {
  if (got != meta.size)
    throw FileError("size mismatch: metadata says " + std::to_string(meta.size) + " bytes, read " +
                    std::to_string(got));
  if (sha != meta.sha256)
    throw FileError("SHA-256 mismatch: the object is corrupt (metadata " + meta.sha256.substr(0, 16) +
                    "..., data " + sha.substr(0, 16) + "...)");
}

void RestoreOne(ObjectStore& store, const StoredObject& object, const fs::path& target, ProgressMeter& meter,
                const std::function<bool()>& cancelled) {
  const FileMeta& meta = *object.meta;
  std::error_code ec;
  fs::create_directories(target.parent_path(), ec);
  if (ec) throw FileError("cannot create folder " + target.parent_path().u8string() + ": " + ec.message());
  fs::path partPath = target;
  partPath += ".kqhost-part";
  PartFile part(partPath);
  std::ofstream out(part.path(), std::ios::binary | std::ios::trunc);
  if (!out) throw FileError("cannot create " + part.path().u8string() + ": " + std::strerror(errno));
  Sha256 hash;
  uint64_t got = 0;
  store.ReadAll(
      object.name, meta.size,
      [&](const unsigned char* data, size_t n) {
        out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(n));
        if (!out) throw FileError("write to " + part.path().u8string() + " failed: " + std::strerror(errno));
        hash.Update(data, n);
        got += n;
        meter.AddBytes(n);
      },
      cancelled);
  out.close();
  if (!out) throw FileError("write to " + part.path().u8string() + " failed: " + std::strerror(errno));
  CheckDigest(meta, got, hash.FinishHex());
  fs::rename(part.path(), target, ec);
  if (ec) throw FileError("cannot move the restored file into place: " + ec.message());
  part.Keep();
  std::string error;
  if (!SetFileMtimeNs(target, meta.mtimeNs, &error)) throw FileError("cannot set the modification time: " + error);
}

std::string FormatTime(int64_t ns) {
  std::time_t secs = static_cast<std::time_t>(ns / 1000000000LL - (ns % 1000000000LL < 0 ? 1 : 0));
  std::tm tm{};
  if (std::tm* p = std::gmtime(&secs)) tm = *p;
  char buf[32];
  std::strftime(buf, sizeof buf, "%Y-%m-%d %H:%M:%S", &tm);
  return buf;
}

}  // namespace

std::unique_ptr<Host> StartRealHost(const HostOptions& options) { return std::make_unique<Host>(options); }

int RunBackup(const HostOptions& options, const fs::path& source, const std::string& prefix,
              const HostFactory& hosts) {
  std::error_code ec;
  if (!fs::is_directory(source, ec)) {
    Console::Error("backup: " + source.u8string() + ": not a folder");
    return kExitFailed;
  }
  TreeListing tree = ListTree(source);
  for (const auto& note : tree.skipped) Console::Error("backup: note: skipped " + note);
  for (const auto& error : tree.errors) Console::Error("backup: " + error);

  auto host = StartHost(hosts, options, "backup");
  if (!host) return kExitSetup;
  const std::string normalized = NormalizePrefix(prefix);

  // Largest first: with several threads the long uploads start at once and
  // the small files fill the gaps, instead of one big file running alone at the end.
  std::vector<size_t> order(tree.files.size());
  std::iota(order.begin(), order.end(), 0);
  std::stable_sort(order.begin(), order.end(),
                   [&](size_t a, size_t b) { return tree.files[a].size > tree.files[b].size; });
  uint64_t totalBytes = 0;
  for (const auto& f : tree.files) totalBytes += f.size;

  Run run("backup", host->plugin(), order.size(), totalBytes, options.showProgress);
  auto cancelled = run.Cancelled();
  run.Items(
      options.threads,
      [&](size_t k) {
        const SourceFile& file = tree.files[order[k]];
        return host->store()
            .PutFile(file.path, ObjectNameFor(normalized, file.rel),
                     [&run](uint64_t n) { run.meter().AddBytes(n); }, cancelled)
            .size;
      },
      [&](size_t k) { return tree.files[order[k]].rel; });
  return run.Finish("file", tree.errors.size());
}

namespace {

// Lists the objects under a prefix, reporting a failure as a message.
bool ListObjects(Host& host, const char* command, const std::string& prefix, std::vector<StoredObject>* out) {
  try {
    *out = host.store().List(prefix);
    return true;
  } catch (const std::exception& e) {
    Console::Error(std::string(command) + ": cannot list '" + prefix + "': " + e.what());
    return false;
  }
}

}  // namespace

int RunRestore(const HostOptions& options, const fs::path& dest, const std::string& prefix,
              const HostFactory& hosts) {
  std::error_code ec;
  fs::create_directories(dest, ec);
  if (ec || !fs::is_directory(dest, ec)) {
    Console::Error("restore: cannot create the folder " + dest.u8string() + (ec ? ": " + ec.message() : ""));
    return kExitFailed;
  }
  auto host = StartHost(hosts, options, "restore");
  if (!host) return kExitSetup;
  const std::string normalized = NormalizePrefix(prefix);
  std::vector<StoredObject> objects;
  if (!ListObjects(*host, "restore", normalized, &objects)) return kExitFailed;

  struct Job {
    const StoredObject* object;
    fs::path target;
  };
  std::vector<Job> jobs;
  uint64_t refused = 0, totalBytes = 0;
  for (const auto& object : objects) {
    auto rel = RelativePathOf(normalized, object.name);
    if (!rel) {
      Console::Error("restore: " + object.name + ": the name is not a safe relative path; not restored");
      ++refused;
    } else if (!object.meta) {
      Console::Error("restore: " + object.name + ": " + object.metaProblem + "; not restored");
      ++refused;
    } else {
      jobs.push_back(Job{&object, dest / fs::u8path(*rel)});
      totalBytes += object.meta->size;
    }
  }
  if (objects.empty()) {
    Console::Error("restore: no objects under '" + normalized + "' (wrong --prefix or container?)");
    return kExitFailed;
  }
  std::stable_sort(jobs.begin(), jobs.end(),
                   [](const Job& a, const Job& b) { return a.object->meta->size > b.object->meta->size; });

  Run run("restore", host->plugin(), jobs.size(), totalBytes, options.showProgress);
  auto cancelled = run.Cancelled();
  run.Items(
      options.threads,
      [&](size_t k) {
        RestoreOne(host->store(), *jobs[k].object, jobs[k].target, run.meter(), cancelled);
        return jobs[k].object->meta->size;
      },
      [&](size_t k) { return jobs[k].object->name; });
  return run.Finish("file", refused);
}

int RunVerify(const HostOptions& options, const std::string& prefix, const HostFactory& hosts) {
  auto host = StartHost(hosts, options, "verify");
  if (!host) return kExitSetup;
  const std::string normalized = NormalizePrefix(prefix);
  std::vector<StoredObject> objects;
  if (!ListObjects(*host, "verify", normalized, &objects)) return kExitFailed;

  std::vector<const StoredObject*> jobs;
  uint64_t refused = 0, totalBytes = 0;
  for (const auto& object : objects) {
    if (!object.meta) {
      Console::Error("verify: " + object.name + ": " + object.metaProblem);
      ++refused;
    } else {
      jobs.push_back(&object);
      totalBytes += object.meta->size;
    }
  }
  Run run("verify", host->plugin(), jobs.size(), totalBytes, options.showProgress);
  auto cancelled = run.Cancelled();
  run.Items(
      options.threads,
      [&](size_t k) {
        const StoredObject& object = *jobs[k];
        Sha256 hash;
        uint64_t got = 0;
        host->store().ReadAll(
            object.name, object.meta->size,
            [&](const unsigned char* data, size_t n) {
              hash.Update(data, n);
              got += n;
              run.meter().AddBytes(n);
            },
            cancelled);
        CheckDigest(*object.meta, got, hash.FinishHex());
        return object.meta->size;
      },
      [&](size_t k) { return jobs[k]->name; });
  return run.Finish("intact object", refused);
}

int RunList(const HostOptions& options, const std::string& prefix, bool longFormat, const HostFactory& hosts) {
  auto host = StartHost(hosts, options, "ls");
  if (!host) return kExitSetup;
  std::vector<StoredObject> objects;
  if (!ListObjects(*host, "ls", prefix, &objects)) return kExitFailed;
  uint64_t total = 0;
  for (const auto& object : objects) {
    if (!longFormat) {
      Console::Out(object.name);
      continue;
    }
    if (object.meta) {
      char size[24];
      std::snprintf(size, sizeof size, "%14llu", static_cast<unsigned long long>(object.meta->size));
      Console::Out(std::string(size) + "  " + FormatTime(object.meta->mtimeNs) + "  " +
                   object.meta->sha256.substr(0, 12) + "  " + object.name);
      total += object.meta->size;
    } else {
      Console::Out(std::string(14, '?') + "  " + std::string(19, '?') + "  " + std::string(12, '?') + "  " +
                   object.name);
    }
  }
  if (longFormat) Console::Out(Count(objects.size(), "object") + ", " + FormatBytes(total));
  return kExitOk;
}

int RunRemove(const HostOptions& options, const std::string& name, bool recursive, const HostFactory& hosts) {
  auto host = StartHost(hosts, options, "rm");
  if (!host) return kExitSetup;
  std::vector<std::string> names;
  if (recursive) {
    std::vector<StoredObject> objects;
    if (!ListObjects(*host, "rm", NormalizePrefix(name), &objects)) return kExitFailed;
    for (const auto& object : objects) names.push_back(object.name);
  } else {
    names.push_back(name);
  }
  uint64_t failed = 0;
  for (const auto& n : names) {
    try {
      host->store().Delete(n);
    } catch (const std::exception& e) {
      Console::Error("rm: " + n + ": " + e.what());
      ++failed;
    }
  }
  if (recursive) Console::Out("rm: " + Count(names.size() - failed, "object") + " deleted");
  return failed == 0 ? kExitOk : kExitFailed;
}

int RunInfo(const HostOptions& options, const HostFactory& hosts) {
  auto host = StartHost(hosts, options, "info");
  if (!host) return kExitSetup;
  ICloudPluginInterface* p = host->plugin();
  auto show = [](const char* label, uint32_t rc, const std::string& value) {
    std::string padded = std::string(label) + ":";
    padded.resize(18, ' ');
    Console::Out(padded + (rc == KQ_OK ? value : "unavailable (plug-in code " + DescribeCode(rc) + ")"));
  };
  uint32_t connectivity = p->CheckConnectivity();
  show("connectivity", connectivity, "ok");

  WString text;
  uint32_t rc = p->GetUniqueAccountName(&text);
  show("account", rc, WideToUtf8(text));
  text.clear();
  rc = p->GetOwnerName(&text);
  show("owner", rc, WideToUtf8(text));
  AccountInfoRecord account{};
  rc = p->GetAccountInfo(&account);
  show("account type", rc, WideToUtf8(account.accountType));
  text.clear();
  rc = p->GetContainerName(&text);
  show("container", rc, WideToUtf8(text));

  auto joined = [](const WStringList& list) {
    std::string out;
    for (const auto& item : list) out += (out.empty() ? "" : ", ") + WideToUtf8(item);
    return out.empty() ? std::string("(none)") : out;
  };
  WStringList containers;
  rc = p->GetListContainers(&containers);
  show("containers", rc, joined(containers));
  WStringList regions;
  rc = p->GetRegions(&regions);
  show("regions", rc, joined(regions));
  uint64_t used = 0;
  rc = p->GetAllObjectsSize(&used);
  show("stored bytes", rc, FormatBytes(used) + " (" + std::to_string(used) + " bytes)");
  uint64_t minSize = 0, defSize = 0, maxSize = 0;
  rc = p->GetDefaultObjectSizeRange(&minSize, &defSize, &maxSize);
  show("object sizes", rc,
       "min " + FormatBytes(minSize) + ", default " + FormatBytes(defSize) + ", max " + FormatBytes(maxSize));
  show("block size", KQ_OK, std::to_string(options.blockSize) + " bytes");
  return connectivity == KQ_OK ? kExitOk : kExitFailed;
}

}  // namespace kqhost
