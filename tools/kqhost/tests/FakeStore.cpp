#include "FakeStore.h"

#include <algorithm>
#include <cstring>

#include "Text.h"

namespace kqhost {

namespace {
std::string U(const WString& w) { return WideToUtf8(w); }
WString W(const std::string& s) { return *Utf8ToWide(s); }
bool IsHandle(const std::string& s) { return s.compare(0, 4, "kqh-") == 0; }
}  // namespace

void FakeStore::Reset() {
  std::lock_guard<std::mutex> lock(mu_);
  objects_.clear();
  sessions_.clear();
  journal_.clear();
  calls_.clear();
  failures_.clear();
  connectivity_ = 0;
}

std::map<std::string, FakeStore::Object> FakeStore::Objects() {
  std::lock_guard<std::mutex> lock(mu_);
  return objects_;
}

std::vector<std::string> FakeStore::Journal() {
  std::lock_guard<std::mutex> lock(mu_);
  return journal_;
}

void FakeStore::Put(const std::string& name, std::vector<unsigned char> data, MetaDataMap meta) {
  std::lock_guard<std::mutex> lock(mu_);
  objects_[name] = Object{std::move(data), std::move(meta)};
}

void FakeStore::FailOn(const std::string& operation, int nth, uint32_t code) {
  std::lock_guard<std::mutex> lock(mu_);
  failures_[operation] = {nth, code};
}

void FakeStore::SetConnectivity(uint32_t code) {
  std::lock_guard<std::mutex> lock(mu_);
  connectivity_ = code;
}

// Called with mu_ held.
uint32_t FakeStore::Log(const std::string& operation) {
  journal_.push_back(operation);
  int n = ++calls_[operation];
  auto f = failures_.find(operation);
  return (f != failures_.end() && f->second.first == n) ? f->second.second : 0;
}

uint32_t FakeStore::CreateObject(WString name, WString* handle) {
  std::lock_guard<std::mutex> lock(mu_);
  if (uint32_t rc = Log("CreateObject")) return rc;
  std::string h = "kqh-" + std::to_string(++nextHandle_);
  sessions_[h] = Session{true, U(name), {}};
  *handle = W(h);
  journal_.back() += " " + U(name) + " " + h;
  return 0;
}

uint32_t FakeStore::WriteObject(WString target, unsigned char* data, uint64_t size, MetaDataMap* meta,
                                WString* handle) {
  std::lock_guard<std::mutex> lock(mu_);
  std::string t = U(target);
  if (uint32_t rc = Log("WriteObject+meta " + t)) return rc;
  if (IsHandle(t)) {
    auto s = sessions_.find(t);
    if (s == sessions_.end() || !s->second.write) return 11;
    s->second.object.data.insert(s->second.object.data.end(), data, data + size);
    for (const auto& e : *meta) s->second.object.meta[e.first] = e.second;
    *handle = target;
  } else {
    objects_[t] = Object{std::vector<unsigned char>(data, data + size), *meta};
    *handle = target;
  }
  return 0;
}

uint32_t FakeStore::WriteObject(WString target, unsigned char* data, uint64_t size) {
  std::lock_guard<std::mutex> lock(mu_);
  std::string t = U(target);
  if (uint32_t rc = Log("WriteObject " + t)) return rc;
  auto s = sessions_.find(t);
  if (s == sessions_.end() || !s->second.write) return 11;
  s->second.object.data.insert(s->second.object.data.end(), data, data + size);
  return 0;
}

uint32_t FakeStore::CloseObject(WString handle) {
  std::lock_guard<std::mutex> lock(mu_);
  std::string h = U(handle);
  if (uint32_t rc = Log("CloseObject " + h)) {
    sessions_.erase(h);  // a failed commit loses the session, as the library's does
    return rc;
  }
  auto s = sessions_.find(h);
  if (s == sessions_.end()) return 11;
  if (s->second.write) objects_[s->second.name] = s->second.object;
  sessions_.erase(s);
  return 0;
}

uint32_t FakeStore::OpenObject(WString name, WString* handle) {
  std::lock_guard<std::mutex> lock(mu_);
  if (uint32_t rc = Log("OpenObject")) return rc;
  auto o = objects_.find(U(name));
  if (o == objects_.end()) return 4;
  std::string h = "kqh-" + std::to_string(++nextHandle_);
  sessions_[h] = Session{false, o->first, o->second};
  *handle = W(h);
  return 0;
}

uint32_t FakeStore::ReadObject(WString handle, unsigned char* buffer, uint64_t offset, uint64_t* size) {
  std::lock_guard<std::mutex> lock(mu_);
  if (uint32_t rc = Log("ReadObject")) return rc;
  auto s = sessions_.find(U(handle));
  if (s == sessions_.end() || s->second.write) return 11;
  const auto& data = s->second.object.data;
  if (offset > data.size()) return 32;
  uint64_t n = std::min<uint64_t>(*size, data.size() - offset);
  if (n) std::memcpy(buffer, data.data() + offset, n);
  *size = n;
  return 0;
}

uint32_t FakeStore::GetObjectMetaData(WString name, MetaDataMap* meta) {
  std::lock_guard<std::mutex> lock(mu_);
  if (uint32_t rc = Log("GetObjectMetaData")) return rc;
  auto o = objects_.find(U(name));
  if (o == objects_.end()) return 4;
  meta->insert(o->second.meta.begin(), o->second.meta.end());
  return 0;
}

uint32_t FakeStore::DeleteObjectByName(WString name) {
  std::lock_guard<std::mutex> lock(mu_);
  if (uint32_t rc = Log("DeleteObjectByName")) return rc;
  return objects_.erase(U(name)) ? 0 : 4;
}

uint32_t FakeStore::DeleteObjectByHandle(WString handle) {
  std::lock_guard<std::mutex> lock(mu_);
  std::string h = U(handle);
  if (uint32_t rc = Log("DeleteObjectByHandle " + h)) return rc;
  return sessions_.erase(h) ? 0 : 11;
}

uint32_t FakeStore::GetObjectSubList(WString prefix, ObjectSubList** list) {
  std::lock_guard<std::mutex> lock(mu_);
  if (uint32_t rc = Log("GetObjectSubList")) return rc;
  std::string p = U(prefix);
  auto* out = new ObjectSubList;
  for (const auto& o : objects_)
    if (o.first.compare(0, p.size(), p) == 0) (*out)[W(o.first)] = new MetaDataMap(o.second.meta);
  *list = out;
  return 0;
}

void FakeStore::FreeObjectSubListMemory(ObjectSubList* list) {
  if (list == nullptr) return;
  for (auto& e : *list) delete e.second;
  delete list;
}

uint32_t FakeStore::CheckConnectivity() {
  std::lock_guard<std::mutex> lock(mu_);
  Log("CheckConnectivity");
  return connectivity_;
}

}  // namespace kqhost
