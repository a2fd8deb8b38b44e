// Owners of Win32 handles: one type per handle kind, so the wrong "invalid" value cannot be tested.
#pragma once
#include <windows.h>

#include <utility>

// CreateFile fails with INVALID_HANDLE_VALUE.
struct FileHandle {
  HANDLE h = INVALID_HANDLE_VALUE;
  FileHandle() = default;
  explicit FileHandle(HANDLE handle) : h(handle) {}
  ~FileHandle() { close(); }
  FileHandle(const FileHandle&) = delete;
  FileHandle& operator=(const FileHandle&) = delete;
  FileHandle(FileHandle&& other) noexcept : h(std::exchange(other.h, INVALID_HANDLE_VALUE)) {}
  bool valid() const { return h != INVALID_HANDLE_VALUE; }
  void close() {
    if (h != INVALID_HANDLE_VALUE) CloseHandle(h);
    h = INVALID_HANDLE_VALUE;
  }
};

// FindFirstFile fails with INVALID_HANDLE_VALUE too, but its handle is released with FindClose:
// CloseHandle on it fails and leaks the search.
struct SearchHandle {
  HANDLE h = INVALID_HANDLE_VALUE;
  SearchHandle() = default;
  explicit SearchHandle(HANDLE handle) : h(handle) {}
  ~SearchHandle() {
    if (h != INVALID_HANDLE_VALUE) FindClose(h);
  }
  SearchHandle(const SearchHandle&) = delete;
  SearchHandle& operator=(const SearchHandle&) = delete;
  bool valid() const { return h != INVALID_HANDLE_VALUE; }
};

// Events, semaphores, processes and threads fail with NULL.
struct KernelHandle {
  HANDLE h = nullptr;
  KernelHandle() = default;
  explicit KernelHandle(HANDLE handle) : h(handle) {}
  ~KernelHandle() {
    if (h) CloseHandle(h);
  }
  KernelHandle(const KernelHandle&) = delete;
  KernelHandle& operator=(const KernelHandle&) = delete;
  KernelHandle(KernelHandle&& other) noexcept : h(std::exchange(other.h, nullptr)) {}
  explicit operator bool() const { return h != nullptr; }
};

// Registry keys close themselves; registry errors are the LONG the call returned.
struct RegKey {
  HKEY h = nullptr;
  RegKey() = default;
  ~RegKey() {
    if (h) RegCloseKey(h);
  }
  RegKey(const RegKey&) = delete;
  RegKey& operator=(const RegKey&) = delete;
  explicit operator bool() const { return h != nullptr; }
};
