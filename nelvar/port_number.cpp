// The COM port of the terminal's modem port, for com.zeb.cif.service.PortNumber.getComPort.
#include "port_number.h"

#include <string>

#include "registry.h"
#include "registry_failure.h"

namespace {

const char kDeviceClassKey[] = "SYSTEM\\CurrentControlSet\\Control\\Class\\";

// Searches the modem device instances for the model, device classes and instances in
// enumeration order; the first match's "AttachedTo" ("" when it has none), or "" when none.
// The search only reads, so every key is opened read-only: it works for users who may not
// write under HKEY_LOCAL_MACHINE, and it never creates a key.
std::string findAttachedPort(const std::string& model) {
  Registry classes(Registry::eLocalMachine, kDeviceClassKey, Registry::EAccessMode::eReadOnly);
  for (const std::string& deviceClass : classes.listSubkeys()) {
    std::string classPath = nelvar::joinKeyPath(kDeviceClassKey, deviceClass);
    Registry classKey(Registry::eLocalMachine, classPath, Registry::EAccessMode::eReadOnly);
    if (!classKey.existsValue("Class") || classKey.getStringValue("Class") != "Modem") continue;
    for (const std::string& instance : classKey.listSubkeys()) {
      Registry instanceKey(Registry::eLocalMachine, nelvar::joinKeyPath(classPath, instance),
                           Registry::EAccessMode::eReadOnly);
      if (instanceKey.existsValue("Model") && instanceKey.getStringValue("Model") == model) {
        return instanceKey.getStringValue("AttachedTo");
      }
    }
  }
  return std::string();
}

}  // namespace

jstring JNICALL Java_com_zeb_cif_service_PortNumber_getComPort(JNIEnv* env, jclass, jstring modelName) {
  // A null model names no modem; answering "" keeps the promise of never raising in Java.
  if (modelName == nullptr) return env->NewStringUTF("");
  const char* model = env->GetStringUTFChars(modelName, nullptr);
  if (model == nullptr) return nullptr;  // the VM is out of memory and has raised OutOfMemoryError
  std::string port;
  try {
    port = findAttachedPort(model);
  } catch (...) {
    port.clear();  // out of memory while listing keys: the same answer as "not found"
  }
  env->ReleaseStringUTFChars(modelName, model);
  return env->NewStringUTF(port.c_str());
}
