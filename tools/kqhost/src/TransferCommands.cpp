// The commands that move or read file contents: backup, restore, verify.
#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <map>
#include <numeric>
#include <optional>
#include <set>
#include <system_error>

#include "CommandRun.h"
#include "Commands.h"
#include "HostOs.h"
#include "ObjectMeta.h"
#include "RestoreFile.h"
#include "Sha256.h"
#include "Tree.h"

namespace kqhost {

namespace fs = std::filesystem;

using detail::DeleteAll;
using detail::kSmallFile;
using detail::ListObjects;
using detail::PrefixUsable;
using detail::Run;
using detail::RunThreads;
using detail::SmallThreads;
using detail::StartHost;

namespace {

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
  store.ReadAll(object.name, meta.size,
                {[&](const unsigned char* data, size_t n) { file.Write(data, n); },
                 [&](const unsigned char* data, size_t n) {
                   hash.Update(data, n);
                   got += n;
                   meter.AddBytes(n);
                 }},
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
// UTF-16 length, as the store counts a name.
size_t NameLength(const std::string& name) {
  auto wide = Utf8ToWide(name);
  return wide ? wide->size() : name.size();
}

constexpr size_t kMaxObjectName = 1024;

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

// Lists and selects what a restore or verify works on; false, reported, when
// the listing fails or leaves nothing.  `selected` points into `objects`.
bool ListSelected(Host& host, const char* command, const std::string& normalized, bool strict,
                  std::vector<StoredObject>* objects, Selection* selected) {
  if (!ListObjects(host, command, normalized, objects)) return false;
  *selected = Select(command, *objects, strict);
  if (selected->objects.empty()) {
    Console::Error(std::string(command) + ": no objects " +
                   std::string(selected->foreign > 0 ? "written by kqhost " : "") + "under '" + Printable(normalized) +
                   "' (wrong --prefix or container?)");
    return false;
  }
  return true;
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

  HostOptions vm = options;
  vm.sendsData = true;
  auto host = StartHost(hosts, vm, "backup");
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
  HostOptions vm = options;
  vm.readsData = true;
  auto host = StartHost(hosts, vm, "restore");
  if (!host) return kExitSetup;
  const std::string normalized = NormalizePrefix(prefix);
  std::vector<StoredObject> objects;
  Selection selected;
  if (!ListSelected(*host, "restore", normalized, flags.strict, &objects, &selected)) return kExitFailed;

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
  HostOptions vm = options;
  vm.readsData = true;
  auto host = StartHost(hosts, vm, "verify");
  if (!host) return kExitSetup;
  const std::string normalized = NormalizePrefix(prefix);
  std::vector<StoredObject> objects;
  Selection selected;
  if (!ListSelected(*host, "verify", normalized, flags.strict, &objects, &selected)) return kExitFailed;
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
        host->store().ReadAll(object.name, object.meta->size, {[&](const unsigned char* data, size_t n) {
                                hash.Update(data, n);
                                got += n;
                                run.meter().AddBytes(n);
                              }},
                              cancelled);
        CheckDigest(*object.meta, got, hash.FinishHex());
        return object.meta->size;
      },
      [&](size_t k) { return jobs[k]->name; });
  std::vector<std::string> notes;
  if (selected.foreign > 0) notes.push_back(ForeignNote(selected.foreign));
  return run.Finish("intact object", flags.strict ? selected.foreign : 0, notes);
}

}  // namespace kqhost
