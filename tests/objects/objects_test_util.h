// What the object-operation tests share: a fresh plug-in instance and script
// per test, and every object slot called once with fixed host arguments, so
// that the tables of the suites can name a slot and state only what they
// expect of it.
#ifndef KQ_TESTS_OBJECTS_OBJECTS_TEST_UTIL_H_
#define KQ_TESTS_OBJECTS_OBJECTS_TEST_UTIL_H_

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "tests/support/Instance.h"
#include "tests/support/LogReader.h"
#include "tests/support/Script.h"
#include "tests/support/TestJvm.h"

namespace kq {
namespace test {

using Lines = std::vector<std::string>;

// The host's side of one call: inputs and the outputs, preset so that any
// write to them shows.
struct HostCall {
  WString out = u"stale";
  uint32_t flag = 7;
  uint64_t actualSize = 77;
  MetaDataMap metaIn{{u"b", {u"2", 0}}, {u"a", {u"1", 0}}};
  MetaDataMap metaOut{{u"kept", {u"host", 0}}};
  ObjectSubList* subList = nullptr;
  unsigned char data[3] = {1, 2, 3};
  // A read's buffer, with guard bytes after the 8 the host offers.
  unsigned char buffer[12] = {0xEE, 0xEE, 0xEE, 0xEE, 0xEE, 0xEE, 0xEE, 0xEE, 0xEE, 0xEE, 0xEE, 0xEE};
  uint64_t size = 8;
  WString names[2] = {u"n1", u"n2"};
  WString path = u"p";
};

using SlotCall = std::function<uint32_t(ICloudPluginInterface&, HostCall&)>;

struct Slot {
  std::string name;  // the slot, with its form where it has several
  std::string key;   // the test library's key of the Java method it reaches
  SlotCall call;
};

// Every slot of the object operations, in the interface's families.
const std::vector<Slot>& ObjectSlots();
const Slot& SlotNamed(const std::string& name);

// The bytes a read hands to Java (all zero) and the test library's fill of
// `count` bytes from `offset`.
std::vector<unsigned char> Zeros(size_t count);
std::vector<unsigned char> Pattern(uint64_t offset, size_t count);
std::string ZeroBytes(size_t count);

class ObjectsTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  uint32_t Call(const Slot& slot, HostCall& io) { return slot.call(plugin(), io); }
  // Hands a folder sub-list that a call made back to the plug-in, as a host
  // must.
  void HandBack(HostCall& io);

  ICloudPluginInterface& plugin() { return *instance_->get(); }

  LogReader log;

 private:
  std::unique_ptr<Instance> instance_;
};

}  // namespace test
}  // namespace kq

#endif  // KQ_TESTS_OBJECTS_OBJECTS_TEST_UTIL_H_
