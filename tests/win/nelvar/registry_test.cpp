// The Registry class against Wine's real registry, under a key of its own below
// HKEY_CURRENT_USER that each test removes again.
#include "registry.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <type_traits>

#include "import_patch.h"
#include "registry_keys.h"

namespace {

// The access mode is a type of its own: it cannot stand in for the create flag of the
// (path, create) constructor, which would create the key with write rights.
static_assert(!std::is_constructible<Registry, const char*, Registry::EAccessMode>::value,
              "an access mode must not convert to the create flag");
static_assert(!std::is_constructible<Registry, std::string, Registry::EAccessMode>::value,
              "an access mode must not convert to the create flag");
static_assert(!std::is_convertible<Registry::EAccessMode, bool>::value, "an access mode is not a flag");
static_assert(std::is_constructible<Registry, Registry::EKeyHandleType, std::string, Registry::EAccessMode>::value,
              "the root, path and access mode constructor");

// Nelvar.dll's malloc while a test runs it out of memory: blocks of the size a long name or
// value needs are refused (all of them, or only the next refusalsLeft ones); the small ones the
// C++ runtime takes to throw and catch an exception are granted.
using MallocFunction = void*(__cdecl*)(std::size_t);
MallocFunction dllMalloc = nullptr;
int refusalsLeft = -1;
void* __cdecl refuseLargeAllocation(std::size_t size) {
  if (size < 32 || refusalsLeft == 0) return dllMalloc(size);
  if (refusalsLeft > 0) --refusalsLeft;
  return nullptr;
}

class RegistryTest : public ::testing::Test {
 protected:
  void SetUp() override { path_ = "Software\\" + uniqueTestName("PathmereNelvarTest"); }
  void TearDown() override { RegDeleteTreeA(HKEY_CURRENT_USER, path_.c_str()); }

  std::string sub(const std::string& name) const { return path_ + "\\" + name; }
  bool keyExists(const std::string& path) const {
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return false;
    RegCloseKey(key);
    return true;
  }
  void rawValue(const std::string& name, DWORD type, const void* data, DWORD size) {
    ASSERT_EQ(RegSetKeyValueA(HKEY_CURRENT_USER, path_.c_str(), name.c_str(), type, data, size), ERROR_SUCCESS);
  }

  std::string path_;
};

TEST_F(RegistryTest, MissingPathWithoutCreateAnswersFalseAndEmpty) {
  Registry missing(Registry::eCurrentUser, sub("absent"), false);
  EXPECT_FALSE(missing.isOpen());
  EXPECT_FALSE(missing.existsKey("x"));
  EXPECT_FALSE(missing.existsValue("x"));
  EXPECT_TRUE(missing.listSubkeys().empty());
  EXPECT_TRUE(missing.listValues().empty());
  EXPECT_EQ(missing.getStringValue("x"), "");
  EXPECT_EQ(missing.getLongValue("x"), 0);
  EXPECT_FALSE(keyExists(sub("absent")));

  Registry again(Registry::eCurrentUser, sub("absent"), false);
  const Registry::Failure& failure = again.lastFailure();
  EXPECT_EQ(failure.origin, "BaseFW::Registry");
  EXPECT_EQ(failure.operation, "openRegistry");
  EXPECT_EQ(failure.code, Registry::cCannotOpenKeyIRC);
  EXPECT_EQ(failure.text.rfind("Failed to open key \"" + sub("absent") + "\": Win32 error 2: ", 0), 0u) << failure.text;
}

TEST_F(RegistryTest, CreateFlagCreatesThePathAndCreateKeyYieldsTheSubkeyObject) {
  Registry top(Registry::eCurrentUser, path_, true);
  ASSERT_TRUE(top.isOpen());
  EXPECT_EQ(top.lastFailure().code, 0);
  EXPECT_TRUE(keyExists(path_));

  std::unique_ptr<Registry> child(top.createKey("a"));
  ASSERT_NE(child, nullptr);
  EXPECT_EQ(child->keyPath(), path_ + "\\a");
  EXPECT_TRUE(child->isOpen());
  EXPECT_TRUE(keyExists(sub("a")));
  child->createStringValue("v", "inside");
  Registry reopened(Registry::eCurrentUser, sub("a"), false);
  EXPECT_EQ(reopened.getStringValue("v"), "inside");

  std::unique_ptr<Registry> existing(top.createKey("a"));  // an existing subkey is opened, not replaced
  EXPECT_EQ(existing->getStringValue("v"), "inside");
}

TEST_F(RegistryTest, ExistsKeyIsExactAndCaseSensitive) {
  Registry top(Registry::eCurrentUser, path_, true);
  delete top.createKey("modem");
  EXPECT_TRUE(top.existsKey("modem"));
  EXPECT_FALSE(top.existsKey("Modem"));
  EXPECT_FALSE(top.existsKey("mode"));
  EXPECT_FALSE(top.existsKey("modems"));
}

TEST_F(RegistryTest, ListsAndClassifiesInEnumerationOrder) {
  Registry top(Registry::eCurrentUser, path_, true);
  delete top.createKey("one");
  delete top.createKey("two");
  top.createLongValue("count", 7);
  top.createStringValue("name", "x");
  rawValue("blob", REG_BINARY, "\x01\x02", 2);

  std::vector<std::string> expectedKeys;
  std::vector<std::string> expectedValues;
  HKEY raw = nullptr;
  ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, path_.c_str(), 0, KEY_READ, &raw), ERROR_SUCCESS);
  char name[260];
  for (DWORD i = 0;; ++i) {
    DWORD n = sizeof name;
    if (RegEnumKeyExA(raw, i, name, &n, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
    expectedKeys.emplace_back(name);
  }
  for (DWORD i = 0;; ++i) {
    DWORD n = sizeof name;
    if (RegEnumValueA(raw, i, name, &n, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
    expectedValues.emplace_back(name);
  }
  RegCloseKey(raw);

  EXPECT_EQ(top.listSubkeys(), expectedKeys);
  auto values = top.listValues();
  ASSERT_EQ(values.size(), 3u);
  for (std::size_t i = 0; i < values.size(); ++i) {
    EXPECT_EQ(values[i].first, expectedValues[i]);
    Registry::EValueType expected = values[i].first == "count" ? Registry::eLongValue
                                    : values[i].first == "name" ? Registry::eStringValue
                                                                : Registry::eOtherValue;
    EXPECT_EQ(values[i].second, expected) << values[i].first;
  }
  Registry::EValueType type = Registry::eLongValue;
  EXPECT_TRUE(top.existsValue("blob", &type));
  EXPECT_EQ(type, Registry::eOtherValue);
  EXPECT_TRUE(top.existsValue("name", &type));
  EXPECT_EQ(type, Registry::eStringValue);
  EXPECT_FALSE(top.existsValue("absent"));
}

TEST_F(RegistryTest, LongValuesReadWriteAndReportWhatWentWrong) {
  Registry top(Registry::eCurrentUser, path_, true);
  top.setLongValue("n", -5);  // a missing value is created, and noted as missing
  EXPECT_EQ(top.getLongValue("n"), -5);
  EXPECT_EQ(top.lastFailure().code, Registry::cValueNotExistsIRC);
  EXPECT_EQ(top.lastFailure().operation, "setLongValue");
  EXPECT_EQ(top.lastFailure().text, "Failed to set value of \"n\": Value does not exist.");

  top.createLongValue("n", 12);  // replaces, noting that it existed
  EXPECT_EQ(top.getLongValue("n"), 12);
  EXPECT_EQ(top.lastFailure().code, Registry::cCannotCreateValueIRC);
  EXPECT_EQ(top.lastFailure().text, "Failed to create value: Value \"n\" already exists.");

  EXPECT_EQ(top.getLongValue("absent"), 0);
  EXPECT_EQ(top.lastFailure().operation, "getLongValue");
  EXPECT_EQ(top.lastFailure().code, Registry::cValueNotExistsIRC);
  EXPECT_EQ(top.lastFailure().text.rfind("Failed to get value of \"absent\": Win32 error 2: ", 0), 0u)
      << top.lastFailure().text;

  top.createStringValue("s", "text");
  EXPECT_EQ(top.getLongValue("s"), 0);
  EXPECT_EQ(top.lastFailure().code, Registry::cWrongValueTypeIRC);
  EXPECT_EQ(top.lastFailure().text,
            "Value \"s\" in registry has wrong type (REG_SZ); REG_DWORD required for this operation.");

  const char eight[8] = {1, 0, 0, 0, 0, 0, 0, 0};
  rawValue("wide", REG_DWORD, eight, sizeof eight);
  EXPECT_EQ(top.getLongValue("wide"), 0);
  EXPECT_EQ(top.lastFailure().code, Registry::cWrongValueSizeIRC);
  EXPECT_EQ(top.lastFailure().text, "Value \"wide\" in registry has wrong size (8); 4 required for this operation.");

  EXPECT_EQ(top.getStringValue("n"), "");
  EXPECT_EQ(top.lastFailure().code, Registry::cWrongValueTypeIRC);
  EXPECT_EQ(top.lastFailure().text,
            "Value \"n\" in registry has wrong type (REG_DWORD); REG_SZ required for this operation.");
}

TEST_F(RegistryTest, StringReadStopsAtFirstZeroWithinReportedSize) {
  Registry top(Registry::eCurrentUser, path_, true);
  rawValue("tail", REG_SZ, "COM3\0junk", 9);
  EXPECT_EQ(top.getStringValue("tail"), "COM3");
  rawValue("bare", REG_SZ, "COM12", 5);  // stored without a terminator
  EXPECT_EQ(top.getStringValue("bare"), "COM12");
  rawValue("empty", REG_SZ, "", 0);
  EXPECT_EQ(top.getStringValue("empty"), "");
  EXPECT_EQ(top.getStringValue("missing"), "");
  EXPECT_EQ(top.lastFailure().code, Registry::cValueNotExistsIRC);
}

TEST_F(RegistryTest, SettingTheStoredValueWritesNothing) {
  Registry top(Registry::eCurrentUser, path_, true);
  top.createStringValue("port", "COM3");
  top.createLongValue("idle", 600);
  HKEY watched = nullptr;
  ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, path_.c_str(), 0, KEY_NOTIFY, &watched), ERROR_SUCCESS);
  HANDLE changed = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  auto watch = [&] {
    ResetEvent(changed);
    return RegNotifyChangeKeyValue(watched, FALSE, REG_NOTIFY_CHANGE_LAST_SET, changed, TRUE);
  };

  ASSERT_EQ(watch(), ERROR_SUCCESS);
  top.setStringValue("port", "COM3");
  top.setLongValue("idle", 600);
  EXPECT_EQ(WaitForSingleObject(changed, 200), static_cast<DWORD>(WAIT_TIMEOUT)) << "an unchanged value was written";

  ASSERT_EQ(watch(), ERROR_SUCCESS);
  top.setStringValue("port", "COM4");
  EXPECT_EQ(WaitForSingleObject(changed, 2000), WAIT_OBJECT_0) << "a changed value was not written";
  EXPECT_EQ(top.getStringValue("port"), "COM4");

  ASSERT_EQ(watch(), ERROR_SUCCESS);
  top.setLongValue("idle", 0);
  EXPECT_EQ(WaitForSingleObject(changed, 2000), WAIT_OBJECT_0);
  EXPECT_EQ(top.getLongValue("idle"), 0);
  CloseHandle(changed);
  RegCloseKey(watched);
}

TEST_F(RegistryTest, RemovesKeysAndValuesAndDescribesMissingOnes) {
  Registry top(Registry::eCurrentUser, path_, true);
  std::unique_ptr<Registry> parent(top.createKey("parent"));
  delete parent->createKey("child");
  top.createStringValue("v", "x");

  top.removeValue("v");
  EXPECT_FALSE(top.existsValue("v"));
  top.removeValue("v");
  EXPECT_EQ(top.lastFailure().code, Registry::cValueNotExistsIRC);
  EXPECT_EQ(top.lastFailure().text, "Failed to remove value: Value \"v\" does not exist.");

  top.removeKey("nothing");
  EXPECT_EQ(top.lastFailure().code, Registry::cCannotRemoveKeyIRC);
  EXPECT_EQ(top.lastFailure().text, "Failed to remove subkey: Key \"nothing\" does not exist.");

  top.removeKey("parent");  // still has a subkey: refused
  EXPECT_TRUE(top.existsKey("parent"));
  EXPECT_EQ(top.lastFailure().text.rfind("Failed to remove subkey \"parent\": Win32 error ", 0), 0u)
      << top.lastFailure().text;

  parent->removeKey("child");
  top.removeKey("parent");
  EXPECT_FALSE(top.existsKey("parent"));

  top.flush();
  EXPECT_EQ(top.lastFailure().operation, "removeKey");  // the flush succeeded and noted nothing
}

TEST_F(RegistryTest, ReadOnlyOpenReadsButNeverCreatesOrWrites) {
  Registry absent(Registry::eCurrentUser, sub("ro"), Registry::EAccessMode::eReadOnly);
  EXPECT_FALSE(absent.isOpen());
  EXPECT_FALSE(keyExists(sub("ro")));

  Registry writer(Registry::eCurrentUser, sub("ro"), true);
  writer.createStringValue("Model", "Orvanta");
  Registry reader(Registry::eCurrentUser, sub("ro"), Registry::EAccessMode::eReadOnly);
  ASSERT_TRUE(reader.isOpen());
  EXPECT_EQ(reader.getStringValue("Model"), "Orvanta");
  reader.setStringValue("Model", "changed");
  EXPECT_EQ(reader.lastFailure().code, Registry::cCannotSetValueIRC);
  EXPECT_EQ(reader.lastFailure().text.rfind("Failed to set value of \"Model\": Win32 error 5: ", 0), 0u)
      << reader.lastFailure().text;
  EXPECT_EQ(writer.getStringValue("Model"), "Orvanta");
}

TEST(RegistryConstants, ExportedWithTheirValues) {
  // Taking the address binds the DLL's exported data, not a value folded by the compiler.
  const int* constants[] = {&Registry::cCannotOpenKeyIRC,    &Registry::cCannotRemoveValueIRC,
                            &Registry::cCannotGetValueIRC,   &Registry::cCannotSetValueIRC,
                            &Registry::cWrongValueTypeIRC,   &Registry::cWrongValueSizeIRC,
                            &Registry::cCannotCreateValueIRC, &Registry::cCannotCreateKeyIRC,
                            &Registry::cValueNotExistsIRC,   &Registry::cCannotRemoveKeyIRC,
                            &Registry::cCannotFlushKeyIRC};
  for (int i = 0; i < 11; ++i) EXPECT_EQ(*constants[i], 3331 + i);
  EXPECT_EQ(Registry::eClassesRoot, 0);
  EXPECT_EQ(Registry::eUsers, 4);
  EXPECT_EQ(Registry::eOtherValue, 2);
}

TEST(RegistryRoots, DefaultRootIsLocalMachine) {
  Registry viaDefault("SOFTWARE\\Microsoft", false);
  Registry viaRoot(Registry::eLocalMachine, "SOFTWARE\\Microsoft", false);
  EXPECT_TRUE(viaDefault.isOpen());
  EXPECT_EQ(viaDefault.listSubkeys(), viaRoot.listSubkeys());
  Registry users(Registry::eUsers, "", Registry::EAccessMode::eReadOnly);
  EXPECT_TRUE(users.isOpen());
  EXPECT_FALSE(users.listSubkeys().empty());
}

}  // namespace

namespace {

// Allocations inside Nelvar.dll fail; names and values are too long for a string's own storage,
// so every member that builds a string has to allocate.
TEST_F(RegistryTest, RunningOutOfMemoryNeverThrowsToTheCaller) {
  const std::string valueName = "a value name too long for the small-string storage";
  const std::string subkeyName = "a subkey name too long for the small-string storage";
  Registry prepared(Registry::eCurrentUser, sub("memory"), true);
  prepared.createStringValue(valueName, "a string value too long for the small-string storage");
  prepared.createLongValue(valueName + " 2", 7);
  delete prepared.createKey(subkeyName);
  ASSERT_TRUE(prepared.isOpen());

  ImportPatch outOfMemory(GetModuleHandleA("Nelvar.dll"), "msvcrt.dll", "malloc",
                          reinterpret_cast<void*>(&refuseLargeAllocation));
  ASSERT_TRUE(outOfMemory.ok());
  dllMalloc = reinterpret_cast<MallocFunction>(outOfMemory.original());
  auto withoutException = [](const char* member, auto call) {
    try {
      call();
    } catch (...) {
      ADD_FAILURE() << member << " let an exception escape";
    }
  };
  // The first exception a thread throws in the DLL sets up the runtime's own per-thread state,
  // which needs larger blocks: let one failure through with everything else granted.
  refusalsLeft = 1;
  withoutException("first constructor", [&] {
    EXPECT_FALSE(Registry(Registry::eCurrentUser, sub("memory"), false).isOpen());
  });
  refusalsLeft = -1;
  withoutException("constructor", [&] {
    Registry key(Registry::eCurrentUser, sub("memory"), false);
    EXPECT_FALSE(key.isOpen());
    EXPECT_EQ(key.lastFailure().code, Registry::cCannotOpenKeyIRC);
    EXPECT_EQ(key.lastFailure().text, "out of memory");
  });
  withoutException("read-only constructor", [&] {
    Registry key(Registry::eCurrentUser, sub("memory"), Registry::EAccessMode::eReadOnly);
    EXPECT_FALSE(key.isOpen());
  });
  withoutException("createKey", [&] { EXPECT_EQ(prepared.createKey(subkeyName), nullptr); });
  EXPECT_EQ(prepared.lastFailure().code, Registry::cCannotCreateKeyIRC);
  withoutException("existsKey", [&] { EXPECT_FALSE(prepared.existsKey(subkeyName)); });
  withoutException("listSubkeys", [&] { EXPECT_TRUE(prepared.listSubkeys().empty()); });
  withoutException("listValues", [&] { EXPECT_TRUE(prepared.listValues().empty()); });
  withoutException("getStringValue", [&] { EXPECT_EQ(prepared.getStringValue(valueName), ""); });
  EXPECT_EQ(prepared.lastFailure().code, Registry::cCannotGetValueIRC);
  EXPECT_EQ(prepared.lastFailure().text, "out of memory");
  withoutException("getLongValue", [&] { EXPECT_EQ(prepared.getLongValue(valueName + " 2"), 7); });
  withoutException("setStringValue", [&] { prepared.setStringValue(valueName, "changed"); });
  withoutException("createStringValue", [&] { prepared.createStringValue(valueName, "changed"); });
  withoutException("setLongValue", [&] { prepared.setLongValue("a missing long value with a long name", 1); });
  withoutException("createLongValue", [&] { prepared.createLongValue(valueName + " 2", 8); });
  withoutException("removeValue", [&] { prepared.removeValue("a missing value with a long name"); });
  withoutException("removeKey", [&] { prepared.removeKey("a missing subkey with a long name"); });
  withoutException("flush", [&] { prepared.flush(); });
}

}  // namespace
