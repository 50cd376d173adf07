// Host threads that the VM has never seen, calling at once: every call gets
// its own answer, and the JVM (under -Xcheck:jni) has nothing to warn about.
#include <atomic>
#include <thread>

#include "tests/objects/objects_test_util.h"

namespace kq {
namespace test {
namespace {

constexpr int kThreads = 8;
constexpr int kCallsPerThread = 1000;

TEST_F(ObjectsTest, EightUnattachedThreadsMixingCallsEachGetTheirOwnAnswers) {
  // One method fails for everybody, so that codes other than 0 are in play.
  Script::Returns("DeleteObjectByName/1", "ord:3");
  std::atomic<int> wrong{0};
  std::atomic<int> calls{0};
  auto check = [&wrong](bool ok) {
    if (!ok) wrong.fetch_add(1);
  };
  auto worker = [&](int t) {
    ICloudPluginInterface& p = plugin();
    std::vector<unsigned char> data(4096, static_cast<unsigned char>(t));
    std::vector<unsigned char> buffer(1024);
    MetaDataMap meta{{u"thread", {W(std::to_string(t)), 0}}};
    for (int i = 0; i < kCallsPerThread; ++i) {
      const WString name = W("t" + std::to_string(t) + "-" + std::to_string(i));
      WString handle;
      uint64_t size = buffer.size();
      switch (i % 8) {
        case 0:
          check(p.CreateObject(name, &handle) == 0 && handle == u"handle:" + name);
          break;
        case 1:
          check(p.WriteObject(name, data.data(), data.size()) == 0);
          break;
        case 2:
          check(p.WriteObject(name, data.data(), data.size(), &meta, &handle) == 0 && handle == u"handle:" + name);
          break;
        case 3:
          check(p.ReadObject(name, buffer.data(), static_cast<uint64_t>(i), &size) == 0 && size == buffer.size() &&
                std::vector<unsigned char>(buffer) == Pattern(static_cast<uint64_t>(i), buffer.size()));
          break;
        case 4: {
          MetaDataMap out;
          size = 100;
          check(p.ReadObjectByName(name, buffer.data(), 1, &size, &handle, 0, &out) == 0 && size == 100 &&
                buffer[99] == 100);
          break;
        }
        case 5: {
          uint64_t actual = 0;
          const uint64_t big = (uint64_t{1} << 40) + static_cast<uint64_t>(t * kCallsPerThread + i);
          check(p.GetObjectActualSize(1, big, &actual) == 0 && actual == big);
          break;
        }
        case 6: {
          ObjectSubList* list = nullptr;
          check(p.GetObjectSubList(name, &list) == 0 && list != nullptr);
          p.FreeObjectSubListMemory(list);
          break;
        }
        default:
          check(p.DeleteObjectByName(name) == 7);
          break;
      }
      calls.fetch_add(1);
    }
  };
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) threads.emplace_back(worker, t);
  for (std::thread& thread : threads) thread.join();

  EXPECT_EQ(wrong.load(), 0);
  EXPECT_EQ(calls.load(), kThreads * kCallsPerThread);
  EXPECT_EQ(Script::Journal().size(), static_cast<size_t>(kThreads * kCallsPerThread));
}

}  // namespace
}  // namespace test
}  // namespace kq
