#include "base/brvIdHashHooks.h"

#include <mutex>

namespace brv {

namespace {

std::mutex& HooksLock() {
  static std::mutex lock;
  return lock;
}

TIdHashHooks& Hooks() {
  static TIdHashHooks hooks;
  return hooks;
}

}  // namespace

void InstallHashHooks(const TIdHashHooks& Hooks_) {
  std::lock_guard<std::mutex> guard(HooksLock());
  Hooks() = Hooks_;
}

void UninstallHashHooks() { InstallHashHooks(TIdHashHooks{}); }

TIdHashHooks GetHashHooks() {
  std::lock_guard<std::mutex> guard(HooksLock());
  return Hooks();
}

}  // namespace brv
