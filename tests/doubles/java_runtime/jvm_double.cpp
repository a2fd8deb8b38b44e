// jvm.dll of the runtime double: JNI_CreateJavaVM with an invocation and a function table that
// record what the launcher hands to a VM (JSON trace) and play a scripted Java main. Every table
// slot the launcher has no business calling ends the process with exit code 97 and names the slot.
#include <windows.h>
// jni.h then declares JNI_CreateJavaVM as this DLL's export rather than an import.
#define _JNI_IMPLEMENTATION_
#include <jni.h>

#include <cstdarg>
#include <cstdio>
#include <string>
#include <utility>
#include <vector>

#include "double_script.h"

namespace {

constexpr int kUnexpectedCallExit = 97;

struct Object {
  enum Kind { Class, String, Array, Throwable } kind;
  std::string name;       // class name, or the class of a throwable
  std::u16string text;    // string contents
  std::vector<Object*> elements;
};

struct Method {
  Object* owner;
  std::string name;
  std::string signature;
};

DoubleScript g_script;
std::wstring g_tracePath;
std::string g_header;               // "version", "ignoreUnrecognized", "options", "path"
std::vector<std::string> g_events;  // JSON objects in call order
Object* g_pending = nullptr;        // the pending exception

std::string jsonText(const std::u16string& text) {
  std::string out = "\"";
  for (char16_t c : text) {
    if (c == u'"' || c == u'\\') {
      out += '\\';
      out += static_cast<char>(c);
    } else if (c >= 0x20 && c < 0x7f) {
      out += static_cast<char>(c);
    } else {
      char escape[8];
      std::snprintf(escape, sizeof escape, "\\u%04x", static_cast<unsigned>(c));
      out += escape;
    }
  }
  return out + "\"";
}

// Narrow texts from the launcher are in the ANSI code page.
std::string jsonAnsi(const char* text) {
  if (text == nullptr) return "null";
  int n = MultiByteToWideChar(CP_ACP, 0, text, -1, nullptr, 0);
  std::wstring wide(static_cast<size_t>(n > 0 ? n : 1), L'\0');
  MultiByteToWideChar(CP_ACP, 0, text, -1, &wide[0], n);
  wide.resize(wcslen(wide.c_str()));
  return jsonText(std::u16string(wide.begin(), wide.end()));
}

void writeTrace() {
  std::string json = "{" + g_header + "\"events\": [";
  for (size_t i = 0; i < g_events.size(); ++i) json += (i ? ",\n  " : "\n  ") + g_events[i];
  json += "\n]}\n";
  writeWholeFile(g_tracePath, json);
}

void event(const std::string& json) {
  g_events.push_back(json);
  writeTrace();
}

// Names in the "missing" list are classes ("pkg/Cls") or methods ("pkg/Cls.name").
bool scriptedMissing(const std::string& name) {
  std::string list = "," + g_script.get("missing", "") + ",";
  return list.find("," + name + ",") != std::string::npos;
}

[[noreturn]] void unexpected(int slot, const char* table) {
  char text[160];
  std::snprintf(text, sizeof text, "jvm.dll double: unexpected call of %s slot %d", table, slot);
  std::fprintf(stderr, "%s\n", text);
  std::fflush(stderr);
  event(std::string("{\"call\": \"unexpected\", \"table\": \"") + table + "\", \"slot\": " + std::to_string(slot) + "}");
  TerminateProcess(GetCurrentProcess(), kUnexpectedCallExit);
  for (;;) Sleep(INFINITE);
}

template <typename Table, template <int> class Stub, int... Slots>
void fillWithStubs(Table& table, std::integer_sequence<int, Slots...>) {
  void** slots = reinterpret_cast<void**>(&table);
  ((slots[Slots] = reinterpret_cast<void*>(&Stub<Slots>::call)), ...);
}

template <int Slot>
struct FunctionStub {
  static void JNICALL call() { unexpected(Slot, "function"); }
};
template <int Slot>
struct InvocationStub {
  static void JNICALL call() { unexpected(Slot, "invocation"); }
};

Object* newObject(Object::Kind kind, std::string name) {
  Object* object = new Object{kind, std::move(name), {}, {}};
  return object;
}

// --- the invocation interface ---------------------------------------------------------------

jint JNICALL destroyJavaVm(JavaVM*) {
  event("{\"call\": \"DestroyJavaVM\"}");
  return 0;
}

// --- the function table -----------------------------------------------------------------------

jint JNICALL getVersion(JNIEnv*) { return JNI_VERSION_1_6; }

jclass JNICALL findClass(JNIEnv*, const char* name) {
  bool found = !scriptedMissing(name);
  event("{\"call\": \"FindClass\", \"name\": " + jsonAnsi(name) + ", \"found\": " + (found ? "true" : "false") + "}");
  if (!found) {
    g_pending = newObject(Object::Throwable, "java/lang/NoClassDefFoundError");
    return nullptr;
  }
  return reinterpret_cast<jclass>(newObject(Object::Class, name));
}

jmethodID JNICALL getStaticMethodId(JNIEnv*, jclass cls, const char* name, const char* signature) {
  Object* owner = reinterpret_cast<Object*>(cls);
  bool found = !scriptedMissing(owner->name + "." + name);
  event("{\"call\": \"GetStaticMethodID\", \"class\": " + jsonAnsi(owner->name.c_str()) + ", \"name\": " +
        jsonAnsi(name) + ", \"signature\": " + jsonAnsi(signature) + ", \"found\": " + (found ? "true" : "false") + "}");
  if (!found) {
    g_pending = newObject(Object::Throwable, "java/lang/NoSuchMethodError");
    return nullptr;
  }
  return reinterpret_cast<jmethodID>(new Method{owner, name, signature});
}

jthrowable JNICALL exceptionOccurred(JNIEnv*) { return reinterpret_cast<jthrowable>(g_pending); }

jboolean JNICALL exceptionCheck(JNIEnv*) { return g_pending != nullptr ? JNI_TRUE : JNI_FALSE; }

void JNICALL exceptionDescribe(JNIEnv*) {
  if (g_pending != nullptr) {
    std::string name = g_pending->name;
    for (char& c : name) c = c == '/' ? '.' : c;
    std::fprintf(stderr, "Exception in thread \"main\" %s: scripted by the runtime double\n\tat double.main(Double.java)\n",
                 name.c_str());
    std::fflush(stderr);
    event("{\"call\": \"ExceptionDescribe\", \"exception\": " + jsonAnsi(g_pending->name.c_str()) + "}");
  }
  g_pending = nullptr;
}

void JNICALL exceptionClear(JNIEnv*) { g_pending = nullptr; }

// Only exceptions have a kind to ask about: a thrown object is an instance of the class it names.
jboolean JNICALL isInstanceOf(JNIEnv*, jobject object, jclass cls) {
  Object* thing = reinterpret_cast<Object*>(object);
  return thing != nullptr && thing->name == reinterpret_cast<Object*>(cls)->name ? JNI_TRUE : JNI_FALSE;
}

void JNICALL deleteLocalRef(JNIEnv*, jobject) {}

jstring JNICALL newString(JNIEnv*, const jchar* chars, jsize length) {
  if (g_script.get("fail", "") == "NewString") {
    event("{\"call\": \"NewString\", \"failed\": true}");
    g_pending = newObject(Object::Throwable, "java/lang/OutOfMemoryError");
    return nullptr;
  }
  Object* string = newObject(Object::String, "java/lang/String");
  string->text.assign(reinterpret_cast<const char16_t*>(chars), static_cast<size_t>(length));
  return reinterpret_cast<jstring>(string);
}

jsize JNICALL getStringLength(JNIEnv*, jstring string) {
  return static_cast<jsize>(reinterpret_cast<Object*>(string)->text.size());
}

jobjectArray JNICALL newObjectArray(JNIEnv*, jsize length, jclass elementClass, jobject initial) {
  Object* element = reinterpret_cast<Object*>(elementClass);
  bool failed = g_script.get("fail", "") == "NewObjectArray";
  event("{\"call\": \"NewObjectArray\", \"length\": " + std::to_string(length) + ", \"elementClass\": " +
        jsonAnsi(element ? element->name.c_str() : nullptr) + ", \"initialNull\": " + (initial ? "false" : "true") +
        (failed ? ", \"failed\": true}" : "}"));
  if (failed || length < 0) {
    g_pending = newObject(Object::Throwable, "java/lang/OutOfMemoryError");
    return nullptr;
  }
  Object* array = newObject(Object::Array, "[Ljava/lang/String;");
  array->elements.assign(static_cast<size_t>(length), reinterpret_cast<Object*>(initial));
  return reinterpret_cast<jobjectArray>(array);
}

jsize JNICALL getArrayLength(JNIEnv*, jarray array) {
  return static_cast<jsize>(reinterpret_cast<Object*>(array)->elements.size());
}

void JNICALL setObjectArrayElement(JNIEnv*, jobjectArray array, jsize index, jobject value) {
  Object* target = reinterpret_cast<Object*>(array);
  if (index < 0 || static_cast<size_t>(index) >= target->elements.size()) {
    g_pending = newObject(Object::Throwable, "java/lang/ArrayIndexOutOfBoundsException");
    return;
  }
  target->elements[static_cast<size_t>(index)] = reinterpret_cast<Object*>(value);
}

// Waits until the launcher's progress dialog (class "MyDialogClass") of this process is no
// longer visible, as the window watch hides it when it sees the Java program's window.
struct DialogSearch {
  DWORD pid;
  bool visible;
};

BOOL CALLBACK noteProgressDialog(HWND window, LPARAM param) {
  DialogSearch* search = reinterpret_cast<DialogSearch*>(param);
  DWORD pid = 0;
  GetWindowThreadProcessId(window, &pid);
  char cls[64] = {};
  if (pid == search->pid && IsWindowVisible(window) && GetClassNameA(window, cls, sizeof cls) &&
      std::string(cls) == "MyDialogClass")
    search->visible = true;
  return TRUE;
}

bool progressDialogVisible() {
  DialogSearch search{GetCurrentProcessId(), false};
  EnumWindows(noteProgressDialog, reinterpret_cast<LPARAM>(&search));
  return search.visible;
}

void showWindowAndWait() {
  std::wstring title = widen(g_script.get("window_title", "Java Double Window"));
  WNDCLASSW wc = {};
  wc.lpfnWndProc = DefWindowProcW;
  wc.hInstance = GetModuleHandleW(nullptr);
  wc.lpszClassName = L"JavaDoubleWindow";
  RegisterClassW(&wc);
  HWND window = CreateWindowExW(0, L"JavaDoubleWindow", title.c_str(), WS_OVERLAPPEDWINDOW | WS_VISIBLE, 50, 50,
                                300, 200, nullptr, nullptr, wc.hInstance, nullptr);
  event("{\"call\": \"window shown\", \"created\": " + std::string(window ? "true" : "false") + "}");
  bool sawDialog = false;
  bool hidden = false;
  // Bounded: about sixty seconds of polling, pumping this thread's messages meanwhile.
  for (int pass = 0; pass < 600 && !hidden; ++pass) {
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&msg);
    bool visible = progressDialogVisible();
    sawDialog = sawDialog || visible;
    hidden = !visible && (sawDialog || pass >= 20);
    if (!hidden) Sleep(100);
  }
  event("{\"call\": \"window wait ended\", \"sawProgressDialog\": " + std::string(sawDialog ? "true" : "false") +
        ", \"progressDialogHidden\": " + (hidden ? "true" : "false") + "}");
}

void playMain(Object* array) {
  std::string behaviour = g_script.get("main", "return");
  if (behaviour == "throw") {
    g_pending = newObject(Object::Throwable, "java/lang/IllegalStateException");
  } else if (behaviour == "exit") {
    ExitProcess(static_cast<UINT>(g_script.getInt("exit_code", 0)));
  } else if (behaviour == "window") {
    showWindowAndWait();
    if (g_script.values.count("exit_code")) ExitProcess(static_cast<UINT>(g_script.getInt("exit_code", 0)));
  }
  (void)array;
}

void playStaticVoidMethod(jclass cls, jmethodID id, va_list args) {
  Method* method = reinterpret_cast<Method*>(id);
  Object* array = method->signature == "([Ljava/lang/String;)V" ? va_arg(args, Object*) : nullptr;
  std::string json = "{\"call\": \"CallStaticVoidMethod\", \"class\": " +
                     jsonAnsi(reinterpret_cast<Object*>(cls)->name.c_str()) + ", \"name\": " +
                     jsonAnsi(method->name.c_str()) + ", \"args\": ";
  if (array == nullptr) {
    json += "null";
  } else {
    json += "[";
    for (size_t i = 0; i < array->elements.size(); ++i) {
      Object* element = array->elements[i];
      json += (i ? ", " : "") + (element ? jsonText(element->text) : std::string("null"));
    }
    json += "]";
  }
  event(json + ", \"behaviour\": " + jsonAnsi(g_script.get("main", "return").c_str()) + "}");
  playMain(array);
}

void JNICALL callStaticVoidMethod(JNIEnv*, jclass cls, jmethodID id, ...) {
  va_list args;
  va_start(args, id);
  playStaticVoidMethod(cls, id, args);
  va_end(args);
}

// The C++ JNIEnv wrappers call the va_list forms.
void JNICALL callStaticVoidMethodV(JNIEnv*, jclass cls, jmethodID id, va_list args) {
  playStaticVoidMethod(cls, id, args);
}

jboolean playStaticBooleanMethod(jclass cls, jmethodID id) {
  Method* method = reinterpret_cast<Method*>(id);
  std::string answer = g_script.get("first_run", "true");
  event("{\"call\": \"CallStaticBooleanMethod\", \"class\": " + jsonAnsi(reinterpret_cast<Object*>(cls)->name.c_str()) +
        ", \"name\": " + jsonAnsi(method->name.c_str()) + ", \"answer\": " + jsonAnsi(answer.c_str()) + "}");
  if (answer == "throw") {
    g_pending = newObject(Object::Throwable, "java/lang/SecurityException");
    return JNI_FALSE;
  }
  return answer == "true" ? JNI_TRUE : JNI_FALSE;
}

jboolean JNICALL callStaticBooleanMethod(JNIEnv*, jclass cls, jmethodID id, ...) {
  return playStaticBooleanMethod(cls, id);
}

jboolean JNICALL callStaticBooleanMethodV(JNIEnv*, jclass cls, jmethodID id, va_list) {
  return playStaticBooleanMethod(cls, id);
}

constexpr int kFunctionSlots = sizeof(JNINativeInterface_) / sizeof(void*);
constexpr int kInvocationSlots = sizeof(JNIInvokeInterface_) / sizeof(void*);

JNINativeInterface_ g_functions;
JNIInvokeInterface_ g_invocation;
JNIEnv_ g_env;
JavaVM_ g_vm;

void buildTables() {
  fillWithStubs<JNINativeInterface_, FunctionStub>(g_functions, std::make_integer_sequence<int, kFunctionSlots>());
  fillWithStubs<JNIInvokeInterface_, InvocationStub>(g_invocation, std::make_integer_sequence<int, kInvocationSlots>());
  g_invocation.DestroyJavaVM = destroyJavaVm;
  g_functions.GetVersion = getVersion;
  g_functions.FindClass = findClass;
  g_functions.GetStaticMethodID = getStaticMethodId;
  g_functions.ExceptionOccurred = exceptionOccurred;
  g_functions.ExceptionCheck = exceptionCheck;
  g_functions.ExceptionDescribe = exceptionDescribe;
  g_functions.ExceptionClear = exceptionClear;
  g_functions.IsInstanceOf = isInstanceOf;
  g_functions.DeleteLocalRef = deleteLocalRef;
  g_functions.NewString = newString;
  g_functions.GetStringLength = getStringLength;
  g_functions.NewObjectArray = newObjectArray;
  g_functions.GetArrayLength = getArrayLength;
  g_functions.SetObjectArrayElement = setObjectArrayElement;
  g_functions.CallStaticVoidMethod = callStaticVoidMethod;
  g_functions.CallStaticVoidMethodV = callStaticVoidMethodV;
  g_functions.CallStaticBooleanMethod = callStaticBooleanMethod;
  g_functions.CallStaticBooleanMethodV = callStaticBooleanMethodV;
  g_env.functions = &g_functions;
  g_vm.functions = &g_invocation;
}

std::string environmentValue(const char* name) {
  char buffer[32768];
  DWORD n = GetEnvironmentVariableA(name, buffer, sizeof buffer);
  return n > 0 && n < sizeof buffer ? std::string(buffer, n) : std::string();
}

}  // namespace

extern "C" _JNI_IMPORT_OR_EXPORT_ jint JNICALL JNI_CreateJavaVM(JavaVM** vm, void** env, void* args) {
  g_script = loadDoubleScript(reinterpret_cast<const void*>(&JNI_CreateJavaVM));
  g_tracePath = g_script.fileFor("trace", L"jvm_trace.json");
  buildTables();
  const JavaVMInitArgs* init = static_cast<const JavaVMInitArgs*>(args);
  std::string options = "[";
  bool extraInfoNull = true;
  for (jint i = 0; i < init->nOptions; ++i) {
    options += (i ? ",\n  " : "\n  ") + jsonAnsi(init->options[i].optionString);
    extraInfoNull = extraInfoNull && init->options[i].extraInfo == nullptr;
  }
  options += "]";
  char cwd[MAX_PATH * 4] = {};
  GetCurrentDirectoryA(sizeof cwd, cwd);
  g_header = "\"version\": " + std::to_string(init->version) + ",\n\"ignoreUnrecognized\": " +
             (init->ignoreUnrecognized ? "true" : "false") + ",\n\"options\": " + options +
             ",\n\"extraInfoNull\": " + (extraInfoNull ? "true" : "false") + ",\n\"path\": " +
             jsonAnsi(environmentValue("PATH").c_str()) + ",\n\"cwd\": " + jsonAnsi(cwd) + ",\n";
  int result = g_script.getInt("create", 0);
  event("{\"call\": \"JNI_CreateJavaVM\", \"result\": " + std::to_string(result) + "}");
  if (result != 0) return result;
  *vm = &g_vm;
  *env = &g_env;
  return 0;
}
