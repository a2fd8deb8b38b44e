// getComPort over device class keys that each test creates below
// HKLM\SYSTEM\CurrentControlSet\Control\Class and removes again.
#include <aclapi.h>
#include <jni.h>
#include <sddl.h>
#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "jni_env_double.h"
#include "port_number.h"
#include "registry_keys.h"

namespace {

const char kClassKey[] = "SYSTEM\\CurrentControlSet\\Control\\Class";

class PortNumberTest : public ::testing::Test {
 protected:
  void SetUp() override {
    // A model name no other test or device uses, and class key names that sort together.
    model_ = uniqueTestName("Orvanta TL-700");
    prefix_ = "{pathmere-" + std::to_string(GetCurrentProcessId()) + "-" +
              ::testing::UnitTest::GetInstance()->current_test_info()->name() + "-";
  }
  void TearDown() override {
    for (const std::string& cls : created_) {
      std::string path = std::string(kClassKey) + "\\" + cls;
      RegDeleteTreeA(HKEY_LOCAL_MACHINE, path.c_str());
      RegDeleteKeyA(HKEY_LOCAL_MACHINE, path.c_str());
    }
  }

  // Creates a device class key (name prefix_ + suffix + "}") with the given "Class" value.
  std::string deviceClass(const std::string& suffix, const char* classValue) {
    std::string name = prefix_ + suffix + "}";
    created_.push_back(name);
    HKEY key = nullptr;
    EXPECT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, (std::string(kClassKey) + "\\" + name).c_str(), 0, nullptr, 0,
                              KEY_ALL_ACCESS, nullptr, &key, nullptr),
              ERROR_SUCCESS);
    if (classValue) RegSetValueExA(key, "Class", 0, REG_SZ, reinterpret_cast<const BYTE*>(classValue), strlen(classValue) + 1);
    RegCloseKey(key);
    return name;
  }

  void instance(const std::string& cls, const std::string& inst, const char* model, const char* attachedTo) {
    std::string path = std::string(kClassKey) + "\\" + cls + "\\" + inst;
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr),
              ERROR_SUCCESS);
    if (model) RegSetValueExA(key, "Model", 0, REG_SZ, reinterpret_cast<const BYTE*>(model), strlen(model) + 1);
    if (attachedTo) {
      RegSetValueExA(key, "AttachedTo", 0, REG_SZ, reinterpret_cast<const BYTE*>(attachedTo), strlen(attachedTo) + 1);
    }
    RegCloseKey(key);
  }

  std::string lookUp(const std::string& model) {
    jstring result = Java_com_zeb_cif_service_PortNumber_getComPort(jni_.env(), jni_.anyClass(), jni_.newStringUtf8(model));
    EXPECT_TRUE(jni_.isString(result));
    EXPECT_EQ(jni_.pinnedCount(), 0u) << "the model name's characters were not released";
    EXPECT_FALSE(jni_.exceptionPending());
    return jni_.utf8(result);
  }

  // Subkey names of a key in the registry's own enumeration order.
  static std::vector<std::string> enumerate(const std::string& path) {
    std::vector<std::string> names;
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return names;
    char name[260];
    for (DWORD i = 0;; ++i) {
      DWORD n = sizeof name;
      if (RegEnumKeyExA(key, i, name, &n, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
      names.emplace_back(name);
    }
    RegCloseKey(key);
    return names;
  }

  static std::size_t position(const std::vector<std::string>& names, const std::string& name) {
    for (std::size_t i = 0; i < names.size(); ++i) {
      if (names[i] == name) return i;
    }
    return names.size();
  }

  JniEnvDouble jni_;
  std::string model_;
  std::string prefix_;
  std::vector<std::string> created_;
};

TEST_F(PortNumberTest, FindsTheAttachedPortOfTheModel) {
  std::string cls = deviceClass("a", "Modem");
  instance(cls, "0000", "Some other modem", "COM1");
  instance(cls, "0001", model_.c_str(), "COM3");
  EXPECT_EQ(lookUp(model_), "COM3");
  EXPECT_EQ(jni_.calls("NewStringUTF"), 1u);
  EXPECT_EQ(lookUp(model_ + " "), "");  // exact comparison
}

TEST_F(PortNumberTest, FirstModemInEnumerationOrderWins) {
  std::string first = deviceClass("a", "Modem");
  std::string second = deviceClass("b", "Modem");
  instance(first, "0000", model_.c_str(), "COM5");
  instance(first, "0001", model_.c_str(), "COM6");
  instance(second, "0000", model_.c_str(), "COM7");
  std::vector<std::string> classes = enumerate(kClassKey);
  std::vector<std::string> instances = enumerate(std::string(kClassKey) + "\\" + first);
  bool firstClassFirst = position(classes, first) < position(classes, second);
  bool instance0First = position(instances, "0000") < position(instances, "0001");
  EXPECT_EQ(lookUp(model_), firstClassFirst ? (instance0First ? "COM5" : "COM6") : "COM7");
}

TEST_F(PortNumberTest, SkipsClassesNotNamedModemExactly) {
  std::string lower = deviceClass("a", "modem");
  std::string ports = deviceClass("b", "Ports");
  std::string unnamed = deviceClass("c", nullptr);
  instance(lower, "0000", model_.c_str(), "COM2");
  instance(ports, "0000", model_.c_str(), "COM3");
  instance(unnamed, "0000", model_.c_str(), "COM4");
  EXPECT_EQ(lookUp(model_), "");  // no modem class holds the model
  std::string modem = deviceClass("d", "Modem");
  instance(modem, "0000", model_.c_str(), "COM9");
  EXPECT_EQ(lookUp(model_), "COM9");
}

TEST_F(PortNumberTest, EmptyModelNameMatchesAnEmptyModel) {
  std::string cls = deviceClass("a", "Modem");
  instance(cls, "0000", nullptr, "COM1");  // no "Model" value at all: not a match
  instance(cls, "0001", "", "COM8");
  EXPECT_EQ(lookUp(""), "COM8");
}

TEST_F(PortNumberTest, MatchWithoutAttachedToAnswersEmpty) {
  std::string cls = deviceClass("a", "Modem");
  instance(cls, "0000", model_.c_str(), nullptr);
  EXPECT_EQ(lookUp(model_), "");
}

TEST_F(PortNumberTest, NullModelAnswersEmptyWithoutException) {
  jstring result = Java_com_zeb_cif_service_PortNumber_getComPort(jni_.env(), jni_.anyClass(), nullptr);
  EXPECT_EQ(jni_.utf8(result), "");
  EXPECT_TRUE(jni_.isString(result));
  EXPECT_FALSE(jni_.exceptionPending());
}

// When the VM runs out of memory it has already raised OutOfMemoryError: the native returns null
// at once, makes no further JNI call but the release, and leaves nothing pinned.
TEST_F(PortNumberTest, AModelNameTheVmCannotHandOverAnswersNullWithItsErrorPending) {
  std::string cls = deviceClass("a", "Modem");
  instance(cls, "0000", model_.c_str(), "COM3");
  jni_.failNextCall("GetStringUTFChars");
  jstring result = Java_com_zeb_cif_service_PortNumber_getComPort(jni_.env(), jni_.anyClass(), jni_.newStringUtf8(model_));
  EXPECT_EQ(result, nullptr);
  EXPECT_EQ(jni_.pendingExceptionClass(), "java/lang/OutOfMemoryError");
  EXPECT_EQ(jni_.callsWithExceptionPending(), std::vector<std::string>{});
  EXPECT_EQ(jni_.pinnedCount(), 0u);
}

TEST_F(PortNumberTest, AnAnswerTheVmCannotMakeLeavesItsErrorPendingAndNothingPinned) {
  std::string cls = deviceClass("a", "Modem");
  instance(cls, "0000", model_.c_str(), "COM3");
  jni_.failNextCall("NewStringUTF");
  jstring result = Java_com_zeb_cif_service_PortNumber_getComPort(jni_.env(), jni_.anyClass(), jni_.newStringUtf8(model_));
  EXPECT_EQ(result, nullptr);
  EXPECT_EQ(jni_.pendingExceptionClass(), "java/lang/OutOfMemoryError");
  EXPECT_EQ(jni_.callsWithExceptionPending(), std::vector<std::string>{});
  EXPECT_EQ(jni_.pinnedCount(), 0u);
}

TEST_F(PortNumberTest, WorksWhenTheClassKeysAreReadOnlyToTheUser) {
  std::string cls = deviceClass("a", "Modem");
  instance(cls, "0000", model_.c_str(), "COM3");
  // Everyone may read the modem's keys, nobody may change them: a lookup that asked for write
  // rights would be refused and find nothing.
  PSECURITY_DESCRIPTOR readOnly = nullptr;
  ASSERT_TRUE(ConvertStringSecurityDescriptorToSecurityDescriptorA("D:P(A;OICI;KR;;;WD)", SDDL_REVISION_1, &readOnly,
                                                                   nullptr));
  for (const std::string& path : {std::string(kClassKey) + "\\" + cls, std::string(kClassKey) + "\\" + cls + "\\0000"}) {
    HKEY key = nullptr;
    ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, WRITE_DAC, &key), ERROR_SUCCESS);
    ASSERT_EQ(RegSetKeySecurity(key, DACL_SECURITY_INFORMATION, readOnly), ERROR_SUCCESS);
    RegCloseKey(key);
  }
  LocalFree(readOnly);
  HKEY probe = nullptr;
  LONG writeOpen = RegOpenKeyExA(HKEY_LOCAL_MACHINE, (std::string(kClassKey) + "\\" + cls).c_str(), 0, 0x4001F, &probe);
  if (writeOpen == ERROR_SUCCESS) RegCloseKey(probe);
  EXPECT_EQ(writeOpen, ERROR_ACCESS_DENIED) << "the registry does not enforce the key's rights";

  EXPECT_EQ(lookUp(model_), "COM3");
}

}  // namespace
