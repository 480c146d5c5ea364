// Locks and lock-protected lists: a recursive lock, a locked list of object references, and the
// keyed-item lists whose items carry a string key (ID) and can be found and deleted by it.
#pragma once

#include <atomic>
#include <memory>
#include <mutex>
#include <thread>
#include <string>
#include <vector>

#include "base/Classes.h"
#include "base/StringList.h"

namespace brv {

enum class TWaitResult { wrSignaled, wrTimeout, wrAbandoned, wrError };

// Abstract synchronisation object: something that can be acquired, released and waited for.
class TSynchroObject : public TObject {
 public:
  BRV_CLASS_NAME(TSynchroObject)
  virtual void Acquire() {}
  virtual void Release() {}
  // Waits until the object is signalled; a plain lock has nothing to wait for (wrError).
  virtual TWaitResult WaitFor(unsigned Timeout);
};

// A lock could not be taken, or was released by a thread that does not hold it.
BRV_DECLARE_EXCEPTION(EbrvLockError, Exception);

// A recursive lock: the thread that holds it may acquire it again; it is free once every
// Acquire has been matched by a Release.
class TbrvCriticalSection : public TSynchroObject {
 public:
  BRV_CLASS_NAME(TbrvCriticalSection)
  // Enters the lock, waiting as long as another thread holds it. Raises EbrvLockError when the
  // lock cannot be taken, so no caller goes on unprotected.
  void Acquire() override;
  // Leaves the lock. Raises EbrvLockError when the calling thread does not hold it.
  void Release() override;
  // Enters the lock when that needs no waiting; true when it was obtained.
  bool TryAcquire();

 private:
  void Entered();

  std::recursive_mutex FSection;
  // The holder and its nesting depth; the depth is only touched by the holder.
  std::atomic<std::thread::id> FOwner{};
  unsigned FDepth = 0;
};

enum class TbrvThreadListType { tdlThreadDictionary, tdlOnlyThread, tdlOnlyDictionary };

// Search direction of TbrvThreadList::RemoveItem.
enum class TDirection { FromBeginning, FromEnd };

// An ordered list of object references guarded by its own recursive lock. The list never owns
// the objects it refers to.
class TbrvThreadList : public TObject {
 public:
  BRV_CLASS_NAME(TbrvThreadList)
  TbrvThreadList();
  ~TbrvThreadList() override;

  // Takes the lock and hands out the references; the caller must call UnlockList when done.
  std::vector<TObject*>& LockList();
  void UnlockList();

  // Appends Item unless it is already in the list: then Duplicates decides (dupIgnore: nothing
  // happens, dupAccept: appended again, dupError: EListError).
  void Add(TObject* Item);
  // Same as Add; the key is not used.
  void AddKey(TObject* Item, const std::string& aKey);
  // Removes the reference at Index (the object stays alive); EListError outside the list.
  void Delete(int Index);
  // Same as Delete; the key is not used.
  void DeleteKey(int Index, const std::string& aKey);
  // Removes the first occurrence of Item, if any (the object stays alive).
  void Remove(TObject* Item);
  // Removes the first (FromBeginning) or last (FromEnd) occurrence of Item, if any.
  void RemoveItem(TObject* Item, TDirection Direction);
  // Empties the list of references.
  virtual void Clear();
  // Dictionary look-up; this list keeps no dictionary, so the result is always null.
  TObject* GetValue(const std::string& aKey) const;

  bool IsEmpty() const;
  TDuplicates Duplicates() const { return FDuplicates; }
  void SetDuplicates(TDuplicates Value) { FDuplicates = Value; }
  // The list always behaves as a plain locked list: reads give tdlOnlyThread whatever was set.
  TbrvThreadListType ListType() const { return TbrvThreadListType::tdlOnlyThread; }
  void SetListType(TbrvThreadListType /*Value*/) {}

 protected:
  // Holds the list's lock for the life of the guard.
  class TLockGuard {
   public:
    explicit TLockGuard(const TbrvThreadList& List) : lock_(*List.FLock) { lock_.Acquire(); }
    ~TLockGuard() { lock_.Release(); }
    TLockGuard(const TLockGuard&) = delete;
    TLockGuard& operator=(const TLockGuard&) = delete;

   private:
    TbrvCriticalSection& lock_;
  };

  // The references; only touch them under the lock.
  std::vector<TObject*>& References() { return FList; }
  const std::vector<TObject*>& References() const { return FList; }
  // Raises EListError "List index out of bounds (%d)".
  [[noreturn]] static void IndexError(int Index);

 private:
  std::vector<TObject*> FList;
  std::unique_ptr<TbrvCriticalSection> FLock;
  TDuplicates FDuplicates = TDuplicates::dupIgnore;
};

// Base of every keyed item: an object with a string key.
class TbrvQueueItemBase : public TObject {
 public:
  BRV_CLASS_NAME(TbrvQueueItemBase)
  TbrvQueueItemBase() = default;
  // The item's key; empty after construction.
  const std::string& ID() const { return FID; }
  void SetID(const std::string& Value) { FID = Value; }

 private:
  std::string FID;
};

// A locked list that can own its items: when OwnObjects is true, Clear, DeleteItem and the
// list's destruction destroy the items they remove.
class TbrvQueueCommon : public TbrvThreadList {
 public:
  BRV_CLASS_NAME(TbrvQueueCommon)
  TbrvQueueCommon() = default;
  ~TbrvQueueCommon() override;

  bool OwnObjects() const { return FOwnObjects; }
  void SetOwnObjects(bool Value) { FOwnObjects = Value; }
  // Number of references in the list.
  int Count() const;
  // Removes every reference, last first, destroying each item when OwnObjects is true.
  void Clear() override;

 protected:
  // Destroys Item when the list owns its items.
  void ReleaseItem(TObject* Item) const;

 private:
  bool FOwnObjects = false;
};

// Keyed-item list: items are found and deleted by position or by their ID (exact,
// case-sensitive, first match in list order).
class TbrvQueueBase : public TbrvQueueCommon {
 public:
  BRV_CLASS_NAME(TbrvQueueBase)
  // The item at Index, or null when Index is at or beyond Count; EListError when negative.
  virtual TbrvQueueItemBase* GetItemByIndex(int Index) const;
  // Appends aItem at the end, without any check of duplicates or keys.
  virtual void AddItem(TbrvQueueItemBase* aItem);

  // First item whose ID equals aID exactly, or null.
  TbrvQueueItemBase* GetItem(const std::string& aID) const;
  // Same as GetItemByIndex.
  TbrvQueueItemBase* GetItem(int Index) const { return GetItemByIndex(Index); }
  // Removes the first item whose ID equals aID (destroying it when owned); false when none.
  bool DeleteItem(const std::string& aID);
  // Removes the item at Index (destroying it when owned); false when Index is at or beyond
  // Count; EListError when negative.
  bool DeleteItem(int Index);

  // Hands a new item to an owning list (AddItem) and returns it. Raises EListError, and frees
  // the item, when the list does not own its items.
  template <class T>
  T* AdoptItem(std::unique_ptr<T> aItem) {
    if (!OwnObjects()) throw EListError("List does not own its items");
    T* item = aItem.get();
    AddItem(item);
    aItem.release();  // the list owns it now
    return item;
  }
};

// The keyed-item list every record list derives from.
class TbrvQueue : public TbrvQueueBase {
 public:
  BRV_CLASS_NAME(TbrvQueue)
};

}  // namespace brv
