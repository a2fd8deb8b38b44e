// Drives a jvm.dll the way a launcher does, so the double's own tests can see its trace and its
// scripted main without the launcher: jvm_double_probe <jvm.dll> [unexpected].
#include <windows.h>
#include <jni.h>

#include <cstdio>
#include <cwchar>

int wmain(int argc, wchar_t** argv) {
  if (argc < 2) return 2;
  HMODULE jvm = LoadLibraryW(argv[1]);
  auto create = reinterpret_cast<jint(JNICALL*)(JavaVM**, void**, void*)>(
      reinterpret_cast<void*>(GetProcAddress(jvm, "JNI_CreateJavaVM")));
  if (create == nullptr) return 3;
  JavaVMOption options[2] = {{const_cast<char*>("-Dprobe=1"), nullptr}, {const_cast<char*>("-Xmx64m"), nullptr}};
  JavaVMInitArgs init = {JNI_VERSION_1_2, 2, options, JNI_TRUE};
  JavaVM* vm = nullptr;
  JNIEnv* env = nullptr;
  jint created = create(&vm, reinterpret_cast<void**>(&env), &init);
  std::printf("created %ld\n", static_cast<long>(created));
  if (created != 0) return 4;
  if (argc > 2 && std::wcscmp(argv[2], L"unexpected") == 0) env->functions->MonitorEnter(env, nullptr);
  jclass launcher = env->functions->FindClass(env, "com/nimbo/runtime/WinLauncher");
  if (launcher == nullptr) return 5;
  jmethodID main = env->functions->GetStaticMethodID(env, launcher, "main", "([Ljava/lang/String;)V");
  if (main == nullptr) return 6;
  jclass string = env->functions->FindClass(env, "java/lang/String");
  jobjectArray array = env->functions->NewObjectArray(env, 2, string, nullptr);
  if (array == nullptr) return 7;
  const jchar first[] = {'a', 0x4e16};
  env->functions->SetObjectArrayElement(env, array, 0, env->functions->NewString(env, first, 2));
  env->functions->SetObjectArrayElement(env, array, 1, env->functions->NewString(env, first, 1));
  env->functions->CallStaticVoidMethod(env, launcher, main, array);
  if (env->functions->ExceptionOccurred(env) != nullptr) {
    env->functions->ExceptionDescribe(env);
    return 8;
  }
  vm->functions->DestroyJavaVM(vm);
  return 0;
}
