// A library loaded by name at run time (dlopen/dlsym). Unloaded when destroyed.
#pragma once

#include <string>

class TDynLib {
 public:
  TDynLib() = default;
  ~TDynLib();
  TDynLib(const TDynLib&) = delete;
  TDynLib& operator=(const TDynLib&) = delete;

  // Loads `name` (a file name searched the usual way, or a path). Returns false when it
  // cannot be loaded; LastError() then holds the loader's reason.
  bool Load(const std::string& name);
  void Unload() noexcept;
  bool Loaded() const noexcept { return FHandle != nullptr; }

  // Address of an exported symbol, or nullptr when the library lacks it.
  void* Symbol(const char* name) const noexcept;

  template <typename F>
  F Function(const char* name) const noexcept {
    return reinterpret_cast<F>(Symbol(name));
  }

  const std::string& LastError() const noexcept { return FLastError; }
  const std::string& Name() const noexcept { return FName; }

 private:
  void* FHandle = nullptr;
  std::string FName;
  std::string FLastError;
};
