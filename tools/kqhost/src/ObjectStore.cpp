#include "ObjectStore.h"

#include <cerrno>
#include <condition_variable>
#include <cstring>
#include <fstream>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "HostOs.h"
#include "Plugin.h"
#include "Sha256.h"
#include "Text.h"

namespace kqhost {

namespace fs = std::filesystem;

namespace {

WString Wide(const std::string& utf8) {
  auto w = Utf8ToWide(utf8);
  if (!w) throw FileError("the name is not valid UTF-8");
  return *w;
}

void Check(const char* operation, uint32_t rc) {
  if (rc != KQ_OK) throw PluginError(operation, rc);
}

// A write session stages blocks under the object's name; the store answers
// CONFLICT when the object already there is not a block blob (a page or
// append blob another tool wrote) or is leased.  Say so rather than the bare code.
void CheckStaging(const char* operation, uint32_t rc) {
  if (rc == 26 /* CONFLICT */)
    throw PluginError(operation, rc,
                      "the store refused to replace the existing object of that name (a page or append blob, or "
                      "leased); delete it first with 'kqhost rm'");
  Check(operation, rc);
}

// A source file opened for reading, with the state it had when opened, so a
// file that changes while it is read is caught rather than stored torn.
class SourceReader {
 public:
  explicit SourceReader(const fs::path& path) : path_(path) {
    std::error_code ec;
    size_ = fs::file_size(path, ec);
    if (ec) throw FileError("cannot read: " + ec.message());
    std::string error;
    if (!GetFileMtimeNs(path, &mtimeNs_, &error)) throw FileError("cannot read: " + error);
    in_.open(path, std::ios::binary);
    if (!in_) throw FileError(std::string("cannot open: ") + std::strerror(errno));
  }

  uint64_t size() const { return size_; }
  int64_t mtimeNs() const { return mtimeNs_; }

  // Fills up to `n` bytes; returns the count (0 at the end).
  size_t Read(unsigned char* buffer, size_t n) {
    in_.read(reinterpret_cast<char*>(buffer), static_cast<std::streamsize>(n));
    if (in_.bad()) throw FileError(std::string("read failed: ") + std::strerror(errno));
    return static_cast<size_t>(in_.gcount());
  }

  // After the last read: the file must have ended where it ended when opened
  // and kept its modification time.
  void CheckUnchanged(uint64_t bytesRead) {
    unsigned char extra;
    bool longer = Read(&extra, 1) != 0;
    int64_t mtimeNow = 0;
    std::string error;
    if (bytesRead != size_ || longer || !GetFileMtimeNs(path_, &mtimeNow, &error) || mtimeNow != mtimeNs_)
      throw FileError("the file changed while it was read; not stored");
  }

 private:
  fs::path path_;
  std::ifstream in_;
  uint64_t size_ = 0;
  int64_t mtimeNs_ = 0;
};

}  // namespace

ObjectStore::ObjectStore(ICloudPluginInterface* plugin, size_t chunkSize) : plugin_(plugin), chunkSize_(chunkSize) {}

FileMeta ObjectStore::PutFile(const fs::path& file, const std::string& objectName,
                              const std::function<void(uint64_t)>& progress, const std::function<bool()>& cancelled) {
  const WString name = Wide(objectName);
  SourceReader reader(file);
  FileMeta meta;
  meta.size = reader.size();
  meta.mtimeNs = reader.mtimeNs();
  Sha256 hash;

  if (reader.size() <= chunkSize_) {
    // One call carries data and metadata; the object appears complete or not at all.
    std::vector<unsigned char> data(static_cast<size_t>(reader.size()) + 1);
    size_t n = reader.Read(data.data(), static_cast<size_t>(reader.size()));
    reader.CheckUnchanged(n);
    hash.Update(data.data(), n);
    meta.sha256 = hash.FinishHex();
    MetaDataMap map = EncodeMeta(meta);
    WString handle;
    // This call commits: nothing may be committed once an interrupt was seen.
    if (cancelled()) throw FileError("interrupted; nothing stored");
    Check("WriteObject", plugin_->WriteObject(name, data.data(), n, &map, &handle));
    progress(n);
    return meta;
  }

  // Larger files go through a write session: the chunks are staged as they
  // come, the last one carries the metadata, and CloseObject commits.  A
  // session that is given up is deleted by its handle, so nothing of it is
  // ever committed.
  WString handle;
  CheckStaging("CreateObject", plugin_->CreateObject(name, &handle));
  struct Abandon {
    ICloudPluginInterface* plugin;
    const WString& handle;
    bool armed = true;
    ~Abandon() {
      if (armed) plugin->DeleteObjectByHandle(handle);
    }
  } abandon{plugin_, handle};

  std::vector<unsigned char> current(chunkSize_), next(chunkSize_);
  size_t have = reader.Read(current.data(), chunkSize_);
  uint64_t total = have;
  while (true) {
    if (cancelled()) throw FileError("interrupted; nothing stored");
    size_t following = have == chunkSize_ ? reader.Read(next.data(), chunkSize_) : 0;
    hash.Update(current.data(), have);
    if (following == 0) {
      reader.CheckUnchanged(total);
      meta.sha256 = hash.FinishHex();
      MetaDataMap map = EncodeMeta(meta);
      WString sameHandle;
      CheckStaging("WriteObject", plugin_->WriteObject(handle, current.data(), have, &map, &sameHandle));
      progress(have);
      break;
    }
    CheckStaging("WriteObject", plugin_->WriteObject(handle, current.data(), have));
    progress(have);
    current.swap(next);
    have = following;
    total += following;
  }
  if (cancelled()) throw FileError("interrupted; nothing stored");
  CheckStaging("CloseObject", plugin_->CloseObject(handle));
  abandon.armed = false;
  return meta;
}

namespace {

// Runs each of a read's sinks on a thread of its own over a few buffers, so that the next ReadObject goes out
// while the chunks before it are written and hashed, and the write and the hash of one chunk overlap: the reader
// waits only when every buffer is still held by a sink that is behind.  Each sink sees every chunk, in order.  A
// failure of a sink comes back at the next Buffer() or at Finish().
class SinkThreads {
 public:
  // Three buffers: one being read into while the sinks work through the two before it, so a sink that is briefly
  // slow (a write held up by the page cache) does not stall the reader at once.
  static constexpr size_t kBuffers = 3;

  SinkThreads(const std::vector<ObjectStore::Sink>& sinks, size_t chunkSize) : sinks_(sinks) {
    for (size_t i = 0; i < kBuffers; ++i) {
      // Page-aligned, so that a file can take a chunk straight from it past the page cache.
      storage_[i].resize(chunkSize + kPage);
      uintptr_t at = reinterpret_cast<uintptr_t>(storage_[i].data());
      buffers_[i] = storage_[i].data() + (kPage - at % kPage) % kPage;
    }
    for (size_t i = 0; i < sinks_.size(); ++i) threads_.emplace_back([this, i] { Drain(i); });
  }
  SinkThreads(const SinkThreads&) = delete;
  SinkThreads& operator=(const SinkThreads&) = delete;
  ~SinkThreads() {
    {
      std::lock_guard<std::mutex> lock(mu_);
      closing_ = true;
    }
    cv_.notify_all();
    for (auto& t : threads_) t.join();
  }

  // The buffer to read the next chunk into; waits until every sink has let go of it.
  unsigned char* Buffer() {
    std::unique_lock<std::mutex> lock(mu_);
    cv_.wait(lock, [&] { return error_ || holders_[Slot(handed_)] == 0; });
    Rethrow();
    return buffers_[Slot(handed_)];
  }

  // Hands the chunk just read into Buffer() to every sink.
  void Hand(size_t n) {
    {
      std::lock_guard<std::mutex> lock(mu_);
      sizes_[Slot(handed_)] = n;
      holders_[Slot(handed_)] = sinks_.size();
      ++handed_;
    }
    cv_.notify_all();
  }

  // Waits until every sink has taken every chunk.
  void Finish() {
    std::unique_lock<std::mutex> lock(mu_);
    cv_.wait(lock, [&] {
      if (error_) return true;
      for (size_t h : holders_)
        if (h != 0) return false;
      return true;
    });
    Rethrow();
  }

 private:
  static size_t Slot(uint64_t chunk) { return static_cast<size_t>(chunk % kBuffers); }

  void Rethrow() {
    if (error_) std::rethrow_exception(error_);
  }

  void Drain(size_t which) {
    std::unique_lock<std::mutex> lock(mu_);
    for (uint64_t chunk = 0;; ++chunk) {
      cv_.wait(lock, [&] { return closing_ || error_ || chunk < handed_; });
      if (closing_ || error_) return;  // after Finish, or given up: nothing left is wanted
      const size_t slot = Slot(chunk), n = sizes_[slot];
      lock.unlock();
      std::exception_ptr failed;
      try {
        sinks_[which](buffers_[slot], n);
      } catch (...) {
        failed = std::current_exception();
      }
      lock.lock();
      --holders_[slot];
      if (failed && !error_) error_ = failed;
      cv_.notify_all();
    }
  }

  static constexpr size_t kPage = 4096;

  const std::vector<ObjectStore::Sink>& sinks_;
  std::vector<unsigned char> storage_[kBuffers];
  unsigned char* buffers_[kBuffers] = {};
  size_t sizes_[kBuffers] = {};
  size_t holders_[kBuffers] = {};  // sinks still working on each buffer
  uint64_t handed_ = 0;            // chunks handed so far; the next goes to Slot(handed_)
  bool closing_ = false;
  std::exception_ptr error_;
  std::mutex mu_;
  std::condition_variable cv_;
  std::vector<std::thread> threads_;
};

std::string ShorterThanMeta(uint64_t got, uint64_t size) {
  return "the object is shorter than its metadata says (" + std::to_string(got) + " of " + std::to_string(size) +
         " bytes)";
}

std::string LongerThanMeta(uint64_t size) {
  return "the object is longer than its metadata says (" + std::to_string(size) + " bytes)";
}

}  // namespace

void ObjectStore::ReadAll(const std::string& objectName, uint64_t size, const std::vector<Sink>& sinks,
                          const std::function<bool()>& cancelled) {
  const WString name = Wide(objectName);
  if (size < chunkSize_) {
    // One read by name, one byte longer than the object should be: a single request answers both the data and
    // whether the object is still as long as its metadata says (the listing already gave size and metadata).
    if (cancelled()) throw FileError("interrupted");
    std::vector<unsigned char> buffer(static_cast<size_t>(size) + 1);
    uint64_t got = size + 1;
    Check("ReadObject", plugin_->ReadObject(name, buffer.data(), 0, &got));
    if (got > size) throw FileError(LongerThanMeta(size));
    if (got < size) throw FileError(ShorterThanMeta(got, size));
    for (const auto& sink : sinks) sink(buffer.data(), static_cast<size_t>(got));
    return;
  }

  WString handle;
  Check("OpenObject", plugin_->OpenObject(name, &handle));
  struct Closer {
    ICloudPluginInterface* plugin;
    const WString& handle;
    ~Closer() { plugin->CloseObject(handle); }
  } closer{plugin_, handle};

  {
    SinkThreads writer(sinks, chunkSize_);
    uint64_t offset = 0;
    while (offset < size) {
      if (cancelled()) throw FileError("interrupted");
      uint64_t want = std::min<uint64_t>(chunkSize_, size - offset);
      uint64_t got = want;
      unsigned char* buffer = writer.Buffer();
      Check("ReadObject", plugin_->ReadObject(handle, buffer, offset, &got));
      if (got == 0 || got > want) throw FileError(ShorterThanMeta(offset, size));
      writer.Hand(static_cast<size_t>(got));
      offset += got;
    }
    writer.Finish();
  }
  // A read at the end answers 0 bytes; anything more means the object grew
  // past what its metadata describes.
  unsigned char probe[1];
  uint64_t extra = 1;
  Check("ReadObject", plugin_->ReadObject(handle, probe, size, &extra));
  if (extra != 0) throw FileError(LongerThanMeta(size));
}

std::vector<StoredObject> ObjectStore::List(const std::string& prefix) {
  ObjectSubList* list = nullptr;
  uint32_t rc = plugin_->GetObjectSubList(Wide(prefix), &list);
  struct Freer {
    ICloudPluginInterface* plugin;
    ObjectSubList*& list;
    ~Freer() {
      if (list != nullptr) plugin->FreeObjectSubListMemory(list);
    }
  } freer{plugin_, list};
  std::vector<StoredObject> out;
  // The library creates the container with the first write: until then there is nothing to list.
  if (rc == 5 /* CONTAINER_NOT_FOUND */) return out;
  Check("GetObjectSubList", rc);
  if (list == nullptr) return out;
  for (const auto& entry : *list) {
    StoredObject object;
    object.name = WideToUtf8(entry.first);
    if (entry.second != nullptr) {
      object.folderMarker = IsFolderMarker(*entry.second);
      object.meta = DecodeMeta(*entry.second, &object.metaProblem);
      object.length = ListedLength(*entry.second);
    } else {
      object.metaProblem = "no metadata";
    }
    out.push_back(std::move(object));
  }
  return out;
}

void ObjectStore::Delete(const std::string& objectName) {
  Check("DeleteObjectByName", plugin_->DeleteObjectByName(Wide(objectName)));
}

}  // namespace kqhost
