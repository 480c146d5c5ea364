#include "base/brvQueue.h"

#include <algorithm>
#include <cinttypes>
#include <system_error>

namespace brv {

TWaitResult TSynchroObject::WaitFor(unsigned /*Timeout*/) {
  return TWaitResult::wrError;
}

void TbrvCriticalSection::Acquire() {
  try {
    FSection.lock();
  } catch (const std::system_error& e) {
    throw EbrvLockError(Format("Lock could not be acquired: %s", e.what()));
  }
  Entered();
}

void TbrvCriticalSection::Release() {
  // Unlocking a lock this thread does not hold would corrupt it; refuse instead.
  if (FOwner.load() != std::this_thread::get_id() || FDepth == 0) {
    throw EbrvLockError("Lock released by a thread that does not hold it");
  }
  if (--FDepth == 0) FOwner.store(std::thread::id());
  FSection.unlock();
}

bool TbrvCriticalSection::TryAcquire() {
  if (!FSection.try_lock()) return false;
  Entered();
  return true;
}

void TbrvCriticalSection::Entered() {
  FOwner.store(std::this_thread::get_id());
  ++FDepth;
}

// --- TbrvThreadList ---

TbrvThreadList::TbrvThreadList() : FLock(std::make_unique<TbrvCriticalSection>()) {}

TbrvThreadList::~TbrvThreadList() {
  {
    TLockGuard guard(*this);
    FList.clear();
    FList.shrink_to_fit();
  }
  FLock.reset();
}

void TbrvThreadList::IndexError(int Index) {
  throw EListError(Format("List index out of bounds (%d)", Index));
}

std::vector<TObject*>& TbrvThreadList::LockList() {
  FLock->Acquire();
  return FList;
}

void TbrvThreadList::UnlockList() {
  FLock->Release();
}

void TbrvThreadList::Add(TObject* Item) {
  TLockGuard guard(*this);
  if (FDuplicates == TDuplicates::dupAccept ||
      std::find(FList.begin(), FList.end(), Item) == FList.end()) {
    FList.push_back(Item);
  } else if (FDuplicates == TDuplicates::dupError) {
    throw EListError(Format("List does not allow duplicates ($0%" PRIxPTR ")",
                            reinterpret_cast<std::uintptr_t>(Item)));
  }
}

void TbrvThreadList::AddKey(TObject* Item, const std::string& /*aKey*/) {
  Add(Item);
}

void TbrvThreadList::Delete(int Index) {
  TLockGuard guard(*this);
  if (Index < 0 || Index >= static_cast<int>(FList.size())) IndexError(Index);
  FList.erase(FList.begin() + Index);
}

void TbrvThreadList::DeleteKey(int Index, const std::string& /*aKey*/) {
  Delete(Index);
}

void TbrvThreadList::Remove(TObject* Item) {
  RemoveItem(Item, TDirection::FromBeginning);
}

void TbrvThreadList::RemoveItem(TObject* Item, TDirection Direction) {
  TLockGuard guard(*this);
  if (Direction == TDirection::FromBeginning) {
    auto it = std::find(FList.begin(), FList.end(), Item);
    if (it != FList.end()) FList.erase(it);
  } else {
    auto it = std::find(FList.rbegin(), FList.rend(), Item);
    if (it != FList.rend()) FList.erase(std::next(it).base());
  }
}

void TbrvThreadList::Clear() {
  TLockGuard guard(*this);
  FList.clear();
}

TObject* TbrvThreadList::GetValue(const std::string& /*aKey*/) const {
  return nullptr;
}

bool TbrvThreadList::IsEmpty() const {
  // Taken under the lock as well: an unlocked read would race with a writer on another thread.
  TLockGuard guard(*this);
  return FList.empty();
}

// --- TbrvQueueCommon ---

TbrvQueueCommon::~TbrvQueueCommon() {
  TbrvQueueCommon::Clear();
}

int TbrvQueueCommon::Count() const {
  TLockGuard guard(*this);
  return static_cast<int>(References().size());
}

void TbrvQueueCommon::ReleaseItem(TObject* Item) const {
  if (FOwnObjects) std::default_delete<TObject>()(Item);  // the owning list frees it here
}

void TbrvQueueCommon::Clear() {
  {
    TLockGuard guard(*this);
    auto& items = References();
    while (!items.empty()) {
      TObject* item = items.back();
      items.pop_back();
      ReleaseItem(item);
    }
  }
  TbrvThreadList::Clear();
}

// --- TbrvQueueBase ---

TbrvQueueItemBase* TbrvQueueBase::GetItemByIndex(int Index) const {
  TLockGuard guard(*this);
  if (Index < 0) IndexError(Index);
  if (Index >= static_cast<int>(References().size())) return nullptr;
  return dynamic_cast<TbrvQueueItemBase*>(References()[static_cast<size_t>(Index)]);
}

void TbrvQueueBase::AddItem(TbrvQueueItemBase* aItem) {
  TLockGuard guard(*this);
  References().push_back(aItem);
}

TbrvQueueItemBase* TbrvQueueBase::GetItem(const std::string& aID) const {
  TLockGuard guard(*this);
  for (TObject* object : References()) {
    auto* item = dynamic_cast<TbrvQueueItemBase*>(object);
    if (item != nullptr && item->ID() == aID) return item;
  }
  return nullptr;
}

bool TbrvQueueBase::DeleteItem(const std::string& aID) {
  TLockGuard guard(*this);
  auto& items = References();
  for (auto it = items.begin(); it != items.end(); ++it) {
    auto* item = dynamic_cast<TbrvQueueItemBase*>(*it);
    if (item != nullptr && item->ID() == aID) {
      items.erase(it);
      ReleaseItem(item);
      return true;
    }
  }
  return false;
}

bool TbrvQueueBase::DeleteItem(int Index) {
  TLockGuard guard(*this);
  if (Index < 0) IndexError(Index);
  auto& items = References();
  if (Index >= static_cast<int>(items.size())) return false;
  TObject* item = items[static_cast<size_t>(Index)];
  items.erase(items.begin() + Index);
  ReleaseItem(item);
  return true;
}

}  // namespace brv
