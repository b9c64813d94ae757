#include "platform/runtime/DynLib.h"

#include <dlfcn.h>

TDynLib::~TDynLib() {
  Unload();
}

bool TDynLib::Load(const std::string& name) {
  Unload();
  dlerror();
  FHandle = dlopen(name.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!FHandle) {
    const char* err = dlerror();
    FLastError = err ? err : ("cannot load " + name);
    return false;
  }
  FName = name;
  FLastError.clear();
  return true;
}

void TDynLib::Unload() noexcept {
  if (FHandle) {
    dlclose(FHandle);
    FHandle = nullptr;
  }
}

void* TDynLib::Symbol(const char* name) const noexcept {
  if (!FHandle) return nullptr;
  return dlsym(FHandle, name);
}
