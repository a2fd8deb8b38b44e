#include "vm/java_vm_launcher.h"

#include "base/error_text.h"
#include "base/log.h"
#include "base/path_text.h"
#include "base/text_limits.h"
#include "command_line.h"
#include "config/launcher_config.h"
#include "vm/variable_expansion.h"
#include "vm/vm_options.h"
#include "vm/vm_platform.h"


namespace {

// Set once by createJavaVm; the environment is only valid on the thread that created the VM.
JavaVM* g_javaVm = nullptr;
JNIEnv* g_jniEnv = nullptr;

[[noreturn]] void vmInternalError(InternalError error) {
  vmFatalConfigError(entry::kInternalErrorText, internalErrorCode(error).c_str());
}

bool installerFamily() {
  char kind[2] = "";
  getConfigString(entry::kProductKind, kind, sizeof kind);
  return std::string(kind) == "i";
}

// The launcher's own texts in the form the Java side gets them.
std::u16string fromAscii(const char* text) { return std::u16string(text, text + std::char_traits<char>::length(text)); }

// A redirection path for the Java launcher class: empty unless enabled.
std::u16string redirectionPath(int enabledEntry, int fileEntry) {
  if (getConfigInt(enabledEntry) == 0) return std::u16string();
  std::string path = getConfigString(fileEntry);
  expandVariables(path);
  if (path.empty() || path[0] != '$') path = vmMakeAbsolutePath(path);
  return vmFileSystemToUtf16(path);
}

[[noreturn]] void argumentAllocationFailed(const char* what) {
  logError("could not allocate %s for main", what);
  vmInternalError(InternalError::ArgumentsNotAllocated);
}

// Whether path is root or lies below it, letter case aside; a ".." element could lead out again.
bool isInsideDirectory(std::string_view path, std::string_view root) {
  while (!root.empty() && root.back() == kDirectorySeparator) root.remove_suffix(1);
  if (root.empty() || path.size() < root.size()) return false;
  for (std::size_t i = 0; i < root.size(); ++i) {
    if (lowerAscii(path[i]) != lowerAscii(root[i])) return false;
  }
  std::string_view rest = path.substr(root.size());
  if (!rest.empty() && rest[0] != kDirectorySeparator) return false;
  std::string dotDot = std::string(1, kDirectorySeparator) + "..";
  for (std::size_t at = rest.find(dotDot); at != std::string_view::npos; at = rest.find(dotDot, at + 1)) {
    std::size_t after = at + dotDot.size();
    if (after == rest.size() || rest[after] == kDirectorySeparator) return false;
  }
  return true;
}

// Whether the exception says that the class could not be loaded: a ClassNotFoundException or
// NoClassDefFoundError whose message names it (with dots or slashes). Leaves no exception pending.
bool isClassNotLoaded(jthrowable thrown, std::string className) {
  bool notLoaded = false;
  for (const char* kind : {"java/lang/ClassNotFoundException", "java/lang/NoClassDefFoundError"}) {
    jclass type = g_jniEnv->FindClass(kind);
    if (type == nullptr) {
      g_jniEnv->ExceptionClear();
      continue;
    }
    notLoaded = notLoaded || g_jniEnv->IsInstanceOf(thrown, type) == JNI_TRUE;
    g_jniEnv->DeleteLocalRef(type);
  }
  if (!notLoaded || className.empty()) return false;
  jclass throwable = g_jniEnv->FindClass("java/lang/Throwable");
  jmethodID getMessage = throwable ? g_jniEnv->GetMethodID(throwable, "getMessage", "()Ljava/lang/String;") : nullptr;
  jstring message = getMessage ? static_cast<jstring>(g_jniEnv->CallObjectMethod(thrown, getMessage)) : nullptr;
  const char* chars = message ? g_jniEnv->GetStringUTFChars(message, nullptr) : nullptr;
  std::string text = chars ? chars : "";
  if (chars) g_jniEnv->ReleaseStringUTFChars(message, chars);
  g_jniEnv->ExceptionClear();
  for (char& c : text) c = c == '/' ? '.' : c;
  for (char& c : className) c = c == '/' ? '.' : c;
  return text == className;
}

}  // namespace

std::string dllSearchDirectories(std::string_view list, std::string_view extractionDirectory) {
  std::string kept;
  std::size_t start = 0;
  while (start < list.size()) {
    std::size_t end = list.find(kPathListSeparator, start);
    if (end == std::string_view::npos) end = list.size();
    std::string_view element = list.substr(start, end - start);
    if (isInsideDirectory(element, extractionDirectory)) {
      if (!kept.empty()) kept += kPathListSeparator;
      kept += element;
    }
    start = end + 1;
  }
  return kept;
}

void extendPathForNativeDlls() {
  std::string directories = config::nativeDllDirectory();
  logInfo("native lib dir is %s", directories.c_str());
  expandVariables(directories);
  std::string path = vmResolvePathList(directories);
  // PATH serves the Java program as configured, but the launcher's DLL search (which no longer
  // reads PATH) takes only the fresh extraction folder's directories: a relative item or one
  // below the launcher's folder would bring that folder, often a downloads folder, back into it.
  vmAddDllSearchDirectories(dllSearchDirectories(path, vmTempDir()));
  if (!path.empty() && path.back() != kPathListSeparator) path += kPathListSeparator;
  std::string current;
  vmGetEnvironment("PATH", current);
  path += current;
  std::vector<std::string> dropped;
  path = fitPathList(path, kPathListSeparator, kPathBufferSize - 1, dropped);
  for (const std::string& element : dropped) {
    logError("PATH (native libs) element left out, PATH is full: %s", element.c_str());
  }
  unsigned long error = 0;
  if (vmSetPath(path, error)) {
    logInfo("Setting PATH (native libs) %s", path.c_str());
  } else {
    logInfo("Setting PATH (native libs) %s failed with error %d", path.c_str(), static_cast<int>(error));
  }
}

std::vector<std::string> buildLaunchProperties() {
  logInfo("launching program");
  std::vector<std::string> properties;
  std::string instanceName = vmSingleInstanceName();
  if (!instanceName.empty()) properties.push_back("-Dnimbo.semaphoreName=" + instanceName);
  if (vmManualRuntimeSelection()) properties.push_back("-Dnimbo.manualJre=true");
  if (installerFamily()) properties.push_back("-Dnimbo.isTessar=true");
  std::string exe = vmExecutablePath();
  properties.push_back("-Dnimbo.moduleName=" + exe);
  properties.push_back("-Dsun.java.command=" + exe);
  if (config::singleInstance() != 0) {
    properties.push_back("-Dnimbo.processCommFile=" + vmProcessCommFileName());
  }
  properties.push_back("-Dnimbo.tempDir=" + vmTempDir());
  int64_t position = vmLanguageRestart() ? -1 : vmUnextractedPosition();
  properties.push_back("-Dnimbo.unextractedPosition=" + std::to_string(position));
  std::string path;
  vmGetEnvironment("PATH", path);
  const std::string libraryPathOption = "-Djava.library.path=";
  std::vector<std::string> dropped;
  path = fitPathList(path, kPathListSeparator, kTextBufferSize - 1 - libraryPathOption.size(), dropped);
  for (const std::string& element : dropped) {
    logError("java.library.path element left out, the property is full: %s", element.c_str());
  }
  properties.push_back(libraryPathOption + path);
  std::string unused;
  if (!vmGetEnvironment("MANPATH", unused)) {
    properties.push_back("-Dnimbo.consoleCodepage=cp" + std::to_string(vmConsoleOutputCodePage()));
  }
  // Each property has its own text buffer.
  for (std::string& property : properties) {
    if (property.size() > kTextBufferSize - 1) {
      fitTextBuffer(property);
      logError("launch property cut to %u bytes: %.40s", static_cast<unsigned>(kTextBufferSize - 1), property.c_str());
    }
  }
  return properties;
}

bool createJavaVm(const std::vector<std::u16string>& args, const std::vector<std::string>& properties) {
  CreateJavaVmFunction createVm = vmCreateJavaVmFunction();
  if (createVm == nullptr) return false;
  std::vector<const char*> firstOptions;
  for (const std::string& property : properties) firstOptions.push_back(property.c_str());
  firstOptions.push_back(nullptr);
  JavaVMInitArgs initArgs;
  buildVmInitArgs(initArgs, firstOptions.data(), args);
  logInfo("Creating JVM");
  void* env = nullptr;
  jint result = createVm(&g_javaVm, &env, &initArgs);
  g_jniEnv = static_cast<JNIEnv*>(env);
  return result == 0;
}

bool checkFirstRun() {
  std::string marker = vmMakeAbsolutePath(config::installDirectory()) + kDirectorySeparator + ".tessar" +
                       kDirectorySeparator + "firstrun";
  if (!vmPathExists(marker)) return true;
  jclass firstRun = g_jniEnv->FindClass("com/tessar/runtime/launcher/FirstRun");
  if (firstRun == nullptr) vmInternalError(InternalError::FirstRunClassMissing);
  jmethodID method = g_jniEnv->GetStaticMethodID(firstRun, "firstRun", "()Z");
  if (method == nullptr) vmInternalError(InternalError::FirstRunMethodMissing);
  jboolean mayStart = g_jniEnv->CallStaticBooleanMethod(firstRun, method);
  if (g_jniEnv->ExceptionOccurred() != nullptr) {
    g_jniEnv->ExceptionDescribe();
    return false;
  }
  return mayStart == JNI_TRUE;
}

void buildLauncherArguments(std::vector<std::u16string>& list) {
  list.push_back(fromAscii(config::executableType() == 1 ? "true" : "false"));
  list.push_back(vmAnsiToUtf16(config::mainClass()));
  list.push_back(redirectionPath(entry::kRedirectStderr, entry::kStderrFile));
  list.push_back(redirectionPath(entry::kRedirectStdout, entry::kStdoutFile));
  list.push_back(fromAscii(config::launcherFlag106() != 0 ? "true" : "false"));
}

std::string javaLauncherClassName() {
  std::string name = installerFamily() ? "com.tessar.runtime.launcher.WinLauncher" : "com.nimbo.runtime.WinLauncher";
  for (char& c : name) c = c == '.' ? '/' : c;
  return name;
}

std::vector<std::u16string> launcherArgumentList(const std::vector<std::u16string>& args) {
  std::vector<std::u16string> list;
  buildLauncherArguments(list);
  if (!args.empty()) list.push_back(args[0]);
  std::string appArguments = config::appArguments();
  expandVariables(appArguments);
  splitCommandLine(vmAnsiToUtf16(appArguments), list);
  bool dropJ = config::dropJArguments() != 0;
  for (std::size_t i = 1; i < args.size(); ++i) {
    if (!(dropJ && isJArgument(args[i]))) list.push_back(args[i]);
  }
  return list;
}

bool callLauncherMain(const std::vector<std::u16string>& args) {
  if (installerFamily() && !checkFirstRun()) {
    logInfo("checkFirstRun stopped further execution");
    return true;
  }
  std::string className = javaLauncherClassName();
  logInfo("main class: %s", className.c_str());
  jclass launcher = g_jniEnv->FindClass(className.c_str());
  if (launcher == nullptr) {
    logError("could not find main class");
    vmFatalConfigError(entry::kMainClassNotLoadedText, nullptr);
  }
  jmethodID main = g_jniEnv->GetStaticMethodID(launcher, "main", "([Ljava/lang/String;)V");
  if (main == nullptr) {
    logError("could not find main method");
    vmFatalConfigError(entry::kMainMethodNotFoundText, nullptr);
  }
  std::vector<std::u16string> list = launcherArgumentList(args);
  logInfo("param count: %d", static_cast<int>(list.size()));
  jclass stringClass = g_jniEnv->FindClass("java/lang/String");
  if (stringClass == nullptr) argumentAllocationFailed("the String class");
  jobjectArray array = g_jniEnv->NewObjectArray(static_cast<jsize>(list.size()), stringClass, nullptr);
  if (array == nullptr) argumentAllocationFailed("the argument array");
  for (std::size_t i = 0; i < list.size(); ++i) {
    logInfo("param %d: %s", static_cast<int>(i), vmUtf16ToFileSystem(list[i]).c_str());
    jstring text = g_jniEnv->NewString(reinterpret_cast<const jchar*>(list[i].data()), static_cast<jsize>(list[i].size()));
    if (text == nullptr) argumentAllocationFailed("an argument string");
    g_jniEnv->SetObjectArrayElement(array, static_cast<jsize>(i), text);
    g_jniEnv->DeleteLocalRef(text);
  }
  logInfo("calling main");
  g_jniEnv->CallStaticVoidMethod(launcher, main, array);
  logInfo("main returned");
  if (jthrowable thrown = g_jniEnv->ExceptionOccurred()) {
    logError("an exception occured");
    g_jniEnv->ExceptionDescribe();
    std::string mainClass = config::mainClass();
    if (isClassNotLoaded(thrown, mainClass)) {
      logError("could not load the main class %s", mainClass.c_str());
      vmFatalConfigError(entry::kMainClassNotLoadedText, nullptr);
    }
    return false;
  }
  return true;
}

bool launchJavaProgram(const std::vector<std::u16string>& args, bool destroyAfterMain) {
  std::vector<std::string> properties = buildLaunchProperties();
  if (!createJavaVm(args, properties)) {
    logError("could not initialize JVM");
    return false;
  }
  logInfo("JVM created");
  if (!callLauncherMain(args)) {
    logError("could not call main");
    return false;
  }
  if (destroyAfterMain) {
    logInfo("dest JVM");
    g_javaVm->DestroyJavaVM();
  }
  logInfo("launch done");
  return true;
}
