#include "base/brvIdHashHooks.h"

#include <atomic>
#include <cstring>
#include <forward_list>
#include <mutex>

namespace brv {

namespace {

std::mutex& HooksLock() {
  static std::mutex lock;
  return lock;
}

constexpr TIdHashHooks kNoHooks{};
// The table in force. Read without a lock: every hash of a signed request reads it.
constinit std::atomic<const TIdHashHooks*> gCurrentHooks{&kNoHooks};

// Every distinct table installed so far, kept for the life of the process: a hash on another
// thread may still be copying the table an install has just replaced. Installs are rare (at
// start, when a binding loads, in tests) and a table installed again is found among them, so
// the list stays short. When the list goes at the process's exit the empty table is put back
// first, so that a hash after that takes the built-in road instead of reading a freed table.
struct TInstalledTables {
  std::forward_list<TIdHashHooks> Tables;
  ~TInstalledTables() { gCurrentHooks.store(&kNoHooks, std::memory_order_release); }
};

std::forward_list<TIdHashHooks>& InstalledTables() {
  static TInstalledTables installed;
  return installed.Tables;
}

}  // namespace

void InstallHashHooks(const TIdHashHooks& Hooks_) {
  std::lock_guard<std::mutex> guard(HooksLock());
  auto& tables = InstalledTables();
  const TIdHashHooks* table = nullptr;
  // The table holds nothing but pointers, so its bytes compare as its members do.
  for (const TIdHashHooks& t : tables)
    if (std::memcmp(&t, &Hooks_, sizeof t) == 0) table = &t;
  if (table == nullptr) {
    tables.push_front(Hooks_);
    table = &tables.front();
  }
  gCurrentHooks.store(table, std::memory_order_release);
}

void UninstallHashHooks() {
  std::lock_guard<std::mutex> guard(HooksLock());
  gCurrentHooks.store(&kNoHooks, std::memory_order_release);
}

TIdHashHooks GetHashHooks() {
  return *gCurrentHooks.load(std::memory_order_acquire);
}

}  // namespace brv
