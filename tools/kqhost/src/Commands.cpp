#include "Commands.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <ctime>
#include <fstream>
#include <map>
#include <mutex>
#include <numeric>
#include <set>
#include <system_error>
#include <thread>

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
    if (rc == KQ_OUT_OF_MEMORY || rc == KQ_ARRAY_NOT_MADE || rc == KQ_BUFFER_UNAVAILABLE) {
      // The check itself ran out of memory: that says nothing about storage,
      // and the files still to come may well fit once the heap has room.
      if (!memoryReported_.exchange(true))
        Console::Error(std::string(command_) + ": the Java VM is short of memory (CheckConnectivity: plug-in code " +
                       DescribeCode(rc) + "); going on with the other files");
      return;
    }
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
  std::atomic<bool> memoryReported_{false};
};

// The threads of a run: as many of --threads as the VM's heap holds blocks for.
unsigned RunThreads(const Host& host, const HostOptions& options, const char* command) {
  unsigned threads = host.Threads(options.threads);
  if (threads < options.threads)
    Console::Error(std::string(command) + ": note: " + std::to_string(options.threads) + " threads of " +
                   FormatBytes(options.blockSize) + " blocks do not fit the Java VM's heap of " +
                   FormatBytes(static_cast<uint64_t>(host.maxHeap())) + "; using " + std::to_string(threads));
  return threads;
}

struct Tally {
  std::atomic<uint64_t> done{0}, failed{0}, bytes{0};
};

std::string Count(uint64_t n, const char* noun) { return std::to_string(n) + " " + noun + (n == 1 ? "" : "s"); }

// One backup, restore or verify over a list of items: the progress meter,
// the early stop, the counts and the summary line.
class Run {
 public:
  Run(const char* command, ICloudPluginInterface* plugin, uint64_t items, uint64_t bytes, bool showProgress)
      : command_(command), items_(items), meter_(command, items, bytes, showProgress), control_(plugin, command) {}

  ProgressMeter& meter() { return meter_; }
  // After Items: whether any item failed or was never tried.
  bool AnyFailed() const { return tally_.failed.load() > 0 || tally_.done.load() < items_; }
  std::function<bool()> Cancelled() {
    return [this] { return control_.Cancelled(); };
  }

  // Runs work(k) for every item on `threads` threads.  work returns the
  // bytes it handled; a throw is that item's failure, reported under label(k).
  template <typename Work, typename Label> void Items(unsigned threads, Work work, Label label) {
    RunParallel(
        items_, threads, [&](size_t k) { One(k, work, label); }, Cancelled());
  }

  // As Items, in two lanes at once: the items small(k) names on `smallThreads`
  // threads, the others on `threads`, each lane in the items' order.  A small
  // item waits a round trip rather than for bytes, so many go at once.
  // Either lane stops handing out work on Ctrl-C or once storage stops answering.
  template <typename Work, typename Label, typename Small>
  void Lanes(unsigned threads, unsigned smallThreads, Small small, Work work, Label label) {
    std::vector<size_t> large, little;
    for (size_t k = 0; k < items_; ++k) (small(k) ? little : large).push_back(k);
    // A few small files gain nothing from a lane of their own: they take their turn after the large ones.
    if (little.size() <= threads) return Items(threads, work, label);
    auto lane = [&](const std::vector<size_t>& items, unsigned n) {
      RunParallel(
          items.size(), n, [&](size_t i) { One(items[i], work, label); }, Cancelled());
    };
    std::thread largeLane;
    if (!large.empty()) largeLane = std::thread([&] { lane(large, threads); });
    lane(little, smallThreads);
    if (largeLane.joinable()) largeLane.join();
  }

  // "backup: 12 files, 200.1 MB in 4.30 s (46.5 MB/s)" plus what went wrong;
  // returns the exit status.  `refused` counts items failed before the run;
  // `notes` are shown after the counts ("3 unchanged").
  int Finish(const char* noun, uint64_t refused, const std::vector<std::string>& notes = {}) {
    meter_.Stop();
    const double seconds = meter_.ElapsedSeconds();
    uint64_t failed = tally_.failed.load() + refused;
    uint64_t notTried = items_ - std::min<uint64_t>(items_, tally_.done.load() + tally_.failed.load());
    std::string line = std::string(command_) + ": " + Count(tally_.done.load(), noun) + ", " +
                       FormatBytes(tally_.bytes.load()) + " in " + FormatSeconds(seconds) + " (" +
                       FormatRate(tally_.bytes.load(), seconds) + ")";
    for (const auto& note : notes) line += ", " + note;
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
  template <typename Work, typename Label> void One(size_t k, Work& work, Label& label) {
    try {
      WorkInProgress busy(Printable(label(k)));
      tally_.bytes += work(k);
      ++tally_.done;
      meter_.FileDone();
    } catch (const std::exception& e) {
      ++tally_.failed;
      Console::Error(std::string(command_) + ": " + Printable(label(k)) + ": " + e.what());
      control_.AfterFailure();
    }
  }

  const char* command_;
  uint64_t items_;
  ProgressMeter meter_;
  RunControl control_;
  Tally tally_;
};

void CheckDigest(const FileMeta& meta, uint64_t got, const std::string& sha) {
  if (got != meta.size)
    throw FileError("size mismatch: metadata says " + std::to_string(meta.size) + " bytes, read " +
                    std::to_string(got));
  if (sha != meta.sha256)
    throw FileError("SHA-256 mismatch: the object is corrupt (metadata " + meta.sha256.substr(0, 16) + "..., data " +
                    sha.substr(0, 16) + "...)");
}

// Restores one object; false when an existing file was kept.
bool RestoreOne(ObjectStore& store, const StoredObject& object, const RestoreRoot& root, const std::string& rel,
                bool overwrite, ProgressMeter& meter, const std::function<bool()>& cancelled) {
  const FileMeta& meta = *object.meta;
  RestoreFile file(root, rel);
  // Checked before the transfer as well as at the move, so that a kept file costs no download.
  if (!overwrite && file.TargetExists()) return false;
  Sha256 hash;
  uint64_t got = 0;
  store.ReadAll(
      object.name, meta.size,
      [&](const unsigned char* data, size_t n) {
        file.Write(data, n);
        hash.Update(data, n);
        got += n;
        meter.AddBytes(n);
      },
      cancelled);
  CheckDigest(meta, got, hash.FinishHex());
  return file.Commit(meta.mtimeNs, overwrite);
}

// SHA-256 of a local file (read to tell an unchanged file from a changed one).
std::string HashFile(const fs::path& path, ProgressMeter& meter, const std::function<bool()>& cancelled) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw FileError(std::string("cannot open: ") + std::strerror(errno));
  std::vector<char> buffer(1 << 20);
  Sha256 hash;
  while (in) {
    if (cancelled()) throw FileError("interrupted");
    in.read(buffer.data(), static_cast<std::streamsize>(buffer.size()));
    if (in.bad()) throw FileError(std::string("read failed: ") + std::strerror(errno));
    hash.Update(buffer.data(), static_cast<size_t>(in.gcount()));
    meter.AddBytes(static_cast<uint64_t>(in.gcount()));
  }
  return hash.FinishHex();
}

// Refuses a prefix the store cannot hold as it is, with the reason.
bool PrefixUsable(const char* command, const std::string& prefix) {
  std::string problem = CheckPrefix(prefix);
  if (problem.empty()) return true;
  Console::Error(std::string(command) + ": --prefix '" + Printable(prefix) + "': " + problem);
  return false;
}

// UTF-16 length, as the store counts a name.
size_t NameLength(const std::string& name) {
  auto wide = Utf8ToWide(name);
  return wide ? wide->size() : name.size();
}

constexpr size_t kMaxObjectName = 1024;

// Files up to this size go in the lane of small ones (HostOptions::smallThreads).
constexpr uint64_t kSmallFile = 1u << 20;

// The small lane's arrays (up to kSmallFile each) draw on an eighth of the VM's heap, beside the quarter the
// larger files' blocks may take: -Xmx64m moves 8 small files at once, -Xmx256m the default 16.
unsigned SmallThreads(const Host& host, const HostOptions& options) {
  return ThreadsThatFit(options.smallThreads, kSmallFile, host.maxHeap() / 2);
}

// Deletes the named objects, `threads` at once; each failure is reported
// under `command` with the object's name.  Answers the number that failed;
// `deleted` gets the number deleted (an interrupt leaves the rest untried).
uint64_t DeleteAll(ObjectStore& store, const std::vector<std::string>& names, unsigned threads, const char* command,
                   uint64_t* deleted) {
  std::atomic<uint64_t> failed{0}, done{0};
  RunParallel(
      names.size(), threads,
      [&](size_t k) {
        try {
          store.Delete(names[k]);
          ++done;
        } catch (const std::exception& e) {
          Console::Error(std::string(command) + ": " + Printable(names[k]) + ": " + e.what());
          ++failed;
        }
      },
      [] { return InterruptRequested(); });
  *deleted = done.load();
  return failed.load();
}

constexpr const char kNotEqual[] = "\xE2\x89\xA0";  // U+2260 in UTF-8

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

namespace {

// Lists the objects under a prefix, reporting a failure as a message.
bool ListObjects(Host& host, const char* command, const std::string& prefix, std::vector<StoredObject>* out) {
  try {
    *out = host.store().List(prefix);
    return true;
  } catch (const std::exception& e) {
    Console::Error(std::string(command) + ": cannot list '" + Printable(prefix) + "': " + e.what());
    return false;
  }
}

// Objects a restore or verify works on: folder markers are dropped, objects
// without kqhost's metadata reported (failing the run only with --strict).
struct Selection {
  std::vector<const StoredObject*> objects;
  uint64_t foreign = 0, bytes = 0;
};

Selection Select(const char* command, const std::vector<StoredObject>& objects, bool strict) {
  Selection out;
  for (const auto& object : objects) {
    if (object.folderMarker) continue;
    if (!object.meta) {
      Console::Error(std::string(command) + ": " + (strict ? "" : "note: ") + Printable(object.name) + ": " +
                     object.metaProblem + "; skipped");
      ++out.foreign;
      continue;
    }
    out.objects.push_back(&object);
    out.bytes += object.meta->size;
  }
  return out;
}

std::string ForeignNote(uint64_t foreign) {
  return std::to_string(foreign) + (foreign == 1 ? " object" : " objects") + " without kqhost metadata skipped";
}

}  // namespace

int RunBackup(const HostOptions& options, const fs::path& source, const std::string& prefix, const CommandFlags& flags,
              const HostFactory& hosts) {
  if (!PrefixUsable("backup", prefix)) return kExitUsage;
  const std::string normalized = NormalizePrefix(prefix);
  if (flags.deleteMissing && normalized.empty()) {
    Console::Error("backup: --delete needs a --prefix (it never deletes across a whole container)");
    return kExitUsage;
  }
  std::error_code ec;
  if (!fs::is_directory(source, ec)) {
    Console::Error("backup: " + Printable(source.u8string()) + ": not a folder");
    return kExitFailed;
  }
  TreeListing tree = ListTree(source);
  for (const auto& note : tree.skipped) Console::Error("backup: note: skipped " + Printable(note));
  for (const auto& error : tree.errors) Console::Error("backup: " + Printable(error));

  auto host = StartHost(hosts, options, "backup");
  if (!host) return kExitSetup;

  // One listing tells which files are stored already, and with what.
  std::vector<StoredObject> stored;
  if (!ListObjects(*host, "backup", normalized, &stored)) return kExitFailed;
  std::map<std::string, const StoredObject*> byName;
  for (const auto& object : stored) byName.emplace(object.name, &object);

  // Largest first: with several threads the long uploads start at once and
  // the small files fill the gaps, instead of one big file running alone at the end.
  std::vector<size_t> order(tree.files.size());
  std::iota(order.begin(), order.end(), 0);
  std::stable_sort(order.begin(), order.end(),
                   [&](size_t a, size_t b) { return tree.files[a].size > tree.files[b].size; });
  uint64_t totalBytes = 0;
  for (const auto& f : tree.files) totalBytes += f.size;

  std::atomic<uint64_t> unchanged{0};
  Run run("backup", host->plugin(), order.size(), totalBytes, options.showProgress);
  auto cancelled = run.Cancelled();
  run.Lanes(
      RunThreads(*host, options, "backup"), SmallThreads(*host, options),
      [&](size_t k) { return tree.files[order[k]].size <= kSmallFile; },
      [&](size_t k) -> uint64_t {
        const SourceFile& file = tree.files[order[k]];
        const std::string name = ObjectNameFor(normalized, file.rel);
        // Stored only under a name that lists and restores as this very file.
        if (RelativePathOf(normalized, name) != std::optional<std::string>(file.rel))
          throw FileError("its name cannot be stored so that it restores as it is");
        if (NameLength(name) > kMaxObjectName)
          throw FileError("the object name would be " + std::to_string(NameLength(name)) +
                          " characters; the store holds at most " + std::to_string(kMaxObjectName));
        // Unchanged when size and modification time agree, the content
        // hashes to the stored SHA-256 and the object is as long as recorded
        // (a truncated or replaced one is sent again): read locally, nothing sent.
        auto it = byName.find(name);
        if (!flags.full && it != byName.end() && it->second->meta && it->second->meta->size == file.size &&
            it->second->length.value_or(file.size) == file.size) {
          int64_t mtime = 0;
          std::string error;
          if (GetFileMtimeNs(file.path, &mtime, &error) && mtime == it->second->meta->mtimeNs &&
              HashFile(file.path, run.meter(), cancelled) == it->second->meta->sha256) {
            ++unchanged;
            return 0;
          }
        }
        return host->store()
            .PutFile(
                file.path, name, [&run](uint64_t n) { run.meter().AddBytes(n); }, cancelled)
            .size;
      },
      [&](size_t k) { return tree.files[order[k]].rel; });

  std::vector<std::string> notes;
  if (unchanged > 0) notes.push_back(std::to_string(unchanged.load()) + " unchanged");
  uint64_t deleteFailures = 0;
  if (flags.deleteMissing && tree.errors.empty() && !run.Cancelled()() && !run.AnyFailed()) {
    // Only kqhost's own objects under the prefix whose file is gone; never
    // when part of the tree could not be read (its files would look gone).
    std::set<std::string> present;
    for (const auto& file : tree.files) present.insert(ObjectNameFor(normalized, file.rel));
    std::vector<std::string> gone;
    for (const auto& object : stored)
      if (object.meta && present.count(object.name) == 0) gone.push_back(object.name);
    uint64_t deleted = 0;
    deleteFailures = DeleteAll(host->store(), gone, options.smallThreads, "backup: --delete", &deleted);
    notes.push_back(std::to_string(deleted) + " deleted");
  } else if (flags.deleteMissing) {
    Console::Error("backup: --delete: nothing deleted, the backup was not complete");
  }
  return run.Finish("file", tree.errors.size() + deleteFailures, notes);
}

int RunRestore(const HostOptions& options, const fs::path& dest, const std::string& prefix, const CommandFlags& flags,
               const HostFactory& hosts) {
  if (!PrefixUsable("restore", prefix)) return kExitUsage;
  RestoreRoot root;
  std::string error;
  if (!root.Open(dest, &error)) {
    Console::Error("restore: cannot open the folder " + Printable(dest.u8string()) + ": " + error);
    return kExitFailed;
  }
  auto host = StartHost(hosts, options, "restore");
  if (!host) return kExitSetup;
  const std::string normalized = NormalizePrefix(prefix);
  std::vector<StoredObject> objects;
  if (!ListObjects(*host, "restore", normalized, &objects)) return kExitFailed;
  Selection selected = Select("restore", objects, flags.strict);
  if (selected.objects.empty()) {
    Console::Error("restore: no objects " + std::string(selected.foreign > 0 ? "written by kqhost " : "") + "under '" +
                   Printable(normalized) + "' (wrong --prefix or container?)");
    return kExitFailed;
  }

  struct Job {
    const StoredObject* object;
    std::string rel;
  };
  std::vector<Job> jobs;
  uint64_t refused = flags.strict ? selected.foreign : 0;
  for (const StoredObject* object : selected.objects) {
    auto rel = RelativePathOf(normalized, object->name);
    if (!rel) {
      Console::Error("restore: " + Printable(object->name) + ": the name is not a safe relative path; not restored");
      ++refused;
    } else {
      jobs.push_back(Job{object, *rel});
    }
  }
  std::stable_sort(jobs.begin(), jobs.end(),
                   [](const Job& a, const Job& b) { return a.object->meta->size > b.object->meta->size; });

  Run run("restore", host->plugin(), jobs.size(), selected.bytes, options.showProgress);
  auto cancelled = run.Cancelled();
  run.Lanes(
      RunThreads(*host, options, "restore"), SmallThreads(*host, options),
      [&](size_t k) { return jobs[k].object->meta->size <= kSmallFile; },
      [&](size_t k) -> uint64_t {
        if (!RestoreOne(host->store(), *jobs[k].object, root, jobs[k].rel, flags.overwrite, run.meter(), cancelled))
          throw FileError("a file of that name exists; kept (--overwrite replaces it)");
        return jobs[k].object->meta->size;
      },
      [&](size_t k) { return jobs[k].object->name; });
  std::vector<std::string> notes;
  if (selected.foreign > 0) notes.push_back(ForeignNote(selected.foreign));
  return run.Finish("file", refused, notes);
}

int RunVerify(const HostOptions& options, const std::string& prefix, const CommandFlags& flags,
              const HostFactory& hosts) {
  if (!PrefixUsable("verify", prefix)) return kExitUsage;
  auto host = StartHost(hosts, options, "verify");
  if (!host) return kExitSetup;
  const std::string normalized = NormalizePrefix(prefix);
  std::vector<StoredObject> objects;
  if (!ListObjects(*host, "verify", normalized, &objects)) return kExitFailed;
  Selection selected = Select("verify", objects, flags.strict);
  if (selected.objects.empty()) {
    Console::Error("verify: no objects " + std::string(selected.foreign > 0 ? "written by kqhost " : "") + "under '" +
                   Printable(normalized) + "' (wrong --prefix or container?)");
    return kExitFailed;
  }
  const auto& jobs = selected.objects;
  Run run("verify", host->plugin(), jobs.size(), selected.bytes, options.showProgress);
  auto cancelled = run.Cancelled();
  run.Lanes(
      RunThreads(*host, options, "verify"), SmallThreads(*host, options),
      [&](size_t k) { return jobs[k]->meta->size <= kSmallFile; },
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
  std::vector<std::string> notes;
  if (selected.foreign > 0) notes.push_back(ForeignNote(selected.foreign));
  return run.Finish("intact object", flags.strict ? selected.foreign : 0, notes);
}

int RunList(const HostOptions& options, const std::string& prefix, bool longFormat, const HostFactory& hosts) {
  auto host = StartHost(hosts, options, "ls");
  if (!host) return kExitSetup;
  std::vector<StoredObject> objects;
  if (!ListObjects(*host, "ls", prefix, &objects)) return kExitFailed;
  uint64_t total = 0;
  for (const auto& object : objects) {
    const std::string name = Printable(object.name);
    if (!longFormat) {
      Console::Out(name);
      continue;
    }
    // The size column is the object's real length when the listing has it, else what kqhost recorded.
    std::optional<uint64_t> size = object.length;
    if (!size && object.meta) size = object.meta->size;
    char column[24];
    if (object.folderMarker || !size)
      std::snprintf(column, sizeof column, "%14s", object.folderMarker ? "folder" : "?");
    else
      std::snprintf(column, sizeof column, "%14llu", static_cast<unsigned long long>(*size));
    if (size && !object.folderMarker) total += *size;
    if (object.meta) {
      std::string line = std::string(column) + "  " + FormatTime(object.meta->mtimeNs) + "  " +
                         object.meta->sha256.substr(0, 12) + "  " + name;
      if (*size != object.meta->size)
        line += std::string("  (size") + kNotEqual + "recorded " + std::to_string(object.meta->size) + ")";
      Console::Out(line);
    } else {
      Console::Out(std::string(column) + "  " + std::string(19, '?') + "  " + std::string(12, '?') + "  " + name +
                   (object.folderMarker ? "" : "  (" + object.metaProblem + ")"));
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
  uint64_t deleted = 0;
  uint64_t failed = DeleteAll(host->store(), names, options.smallThreads, "rm", &deleted);
  if (recursive) Console::Out("rm: " + Count(deleted, "object") + " deleted");
  return failed == 0 && deleted == names.size() ? kExitOk : kExitFailed;
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
