#include "base/brvQueue.h"

#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <thread>

namespace brv {
namespace {

// An item that records its destruction in a shared log.
class TTracedItem : public TbrvQueueItemBase {
 public:
  TTracedItem(std::string id, std::vector<std::string>* log) : log_(log) { SetID(id); }
  ~TTracedItem() override {
    if (log_ != nullptr) log_->push_back(ID());
  }

 private:
  std::vector<std::string>* log_;
};

std::string ListErrorOf(const std::function<void()>& action) {
  try {
    action();
  } catch (const EListError& e) {
    return e.Message();
  }
  return "(no error)";
}

TEST(KeyedList, LooksUpByExactKeyAndByPosition) {
  TbrvQueue list;
  TbrvQueueItemBase a, b, c;
  a.SetID("Alpha");
  b.SetID("beta");
  c.SetID("Alpha");  // same key as a
  list.AddItem(&a);
  list.AddItem(&b);
  list.AddItem(&c);
  EXPECT_EQ(list.Count(), 3);
  EXPECT_FALSE(list.IsEmpty());

  EXPECT_EQ(list.GetItem(std::string("Alpha")), &a);  // first match wins
  EXPECT_EQ(list.GetItem(std::string("alpha")), nullptr);
  EXPECT_EQ(list.GetItem(std::string("Alph")), nullptr);
  EXPECT_EQ(list.GetItem(1), &b);
  EXPECT_EQ(list.GetItemByIndex(3), nullptr);
  EXPECT_EQ(ListErrorOf([&] { list.GetItemByIndex(-1); }), "List index out of bounds (-1)");

  // DeleteItem by key removes only the first of two equal keys; the list does not own them.
  EXPECT_TRUE(list.DeleteItem(std::string("Alpha")));
  EXPECT_EQ(list.Count(), 2);
  EXPECT_EQ(list.GetItem(std::string("Alpha")), &c);
  EXPECT_FALSE(list.DeleteItem(std::string("gamma")));
  EXPECT_FALSE(list.DeleteItem(2));
  EXPECT_EQ(ListErrorOf([&] { list.DeleteItem(-1); }), "List index out of bounds (-1)");
  EXPECT_TRUE(list.DeleteItem(0));
  EXPECT_EQ(list.GetItem(0), &c);
}

TEST(KeyedList, OwningListDestroysWhatItRemovesLastFirst) {
  std::vector<std::string> log;
  {
    TbrvQueue list;
    list.SetOwnObjects(true);
    for (const char* id : {"1", "2", "3", "4"})
      list.AdoptItem(std::make_unique<TTracedItem>(id, &log));
    EXPECT_TRUE(list.DeleteItem(std::string("2")));
    EXPECT_TRUE(list.DeleteItem(0));
    EXPECT_EQ(log, (std::vector<std::string>{"2", "1"}));
    list.AdoptItem(std::make_unique<TTracedItem>("5", &log));
    list.Clear();
    EXPECT_EQ(log, (std::vector<std::string>{"2", "1", "5", "4", "3"}));
    EXPECT_TRUE(list.IsEmpty());
    list.AdoptItem(std::make_unique<TTracedItem>("6", &log));
  }
  EXPECT_EQ(log.back(), "6");  // destroyed with the list
}

TEST(KeyedList, NonOwningListLeavesItemsAlive) {
  std::vector<std::string> log;
  TTracedItem a("a", &log), b("b", &log);
  {
    TbrvQueue list;
    list.AddItem(&a);
    list.AddItem(&b);
    list.DeleteItem(0);
    list.Clear();
    list.AddItem(&b);
    // Adopting into a list that does not own its items is refused, and the item is freed.
    EXPECT_EQ(ListErrorOf([&] { list.AdoptItem(std::make_unique<TTracedItem>("x", &log)); }),
              "List does not own its items");
  }
  EXPECT_EQ(log, (std::vector<std::string>{"x"}));
}

TEST(ThreadList, DuplicatesDecideWhatAddDoes) {
  TbrvThreadList list;
  TObject one, two;
  EXPECT_TRUE(list.IsEmpty());
  EXPECT_EQ(list.Duplicates(), TDuplicates::dupIgnore);
  list.Add(&one);
  list.Add(&one);
  list.AddKey(&two, "ignored");
  EXPECT_EQ(list.LockList().size(), 2u);
  list.UnlockList();

  list.SetDuplicates(TDuplicates::dupAccept);
  list.Add(&one);
  EXPECT_EQ(list.LockList(), (std::vector<TObject*>{&one, &two, &one}));
  list.UnlockList();

  list.SetDuplicates(TDuplicates::dupError);
  const std::string message = ListErrorOf([&] { list.Add(&two); });
  EXPECT_EQ(message.rfind("List does not allow duplicates ($0", 0), 0u) << message;
  EXPECT_EQ(list.LockList().size(), 3u);
  list.UnlockList();

  // RemoveItem from either end; Delete by position; out-of-range positions raise.
  list.RemoveItem(&one, TDirection::FromEnd);
  EXPECT_EQ(list.LockList(), (std::vector<TObject*>{&one, &two}));
  list.UnlockList();
  list.Remove(&one);
  list.Remove(&one);  // absent: nothing happens
  EXPECT_EQ(ListErrorOf([&] { list.Delete(1); }), "List index out of bounds (1)");
  EXPECT_EQ(ListErrorOf([&] { list.DeleteKey(-1, "k"); }), "List index out of bounds (-1)");
  list.Delete(0);
  EXPECT_TRUE(list.IsEmpty());

  list.SetListType(TbrvThreadListType::tdlOnlyDictionary);
  EXPECT_EQ(list.ListType(), TbrvThreadListType::tdlOnlyThread);
  EXPECT_EQ(list.GetValue("anything"), nullptr);
}

TEST(ThreadList, LockIsRecursiveAndExcludesOtherThreads) {
  TbrvQueue list;
  TbrvQueueItemBase item;
  list.LockList();
  list.AddItem(&item);  // re-entered by the holding thread
  EXPECT_EQ(list.Count(), 1);

  std::atomic<bool> added{false};
  std::thread other([&] {
    list.AddItem(&item);  // waits for the lock
    added = true;
  });
  // While this thread holds the lock the other one cannot have added anything.
  EXPECT_EQ(list.Count(), 1);
  EXPECT_FALSE(added.load());
  list.UnlockList();
  other.join();
  EXPECT_TRUE(added.load());
  EXPECT_EQ(list.Count(), 2);

  TbrvCriticalSection section;
  EXPECT_TRUE(section.TryAcquire());
  EXPECT_TRUE(section.TryAcquire());  // recursive
  section.Release();
  section.Release();
  EXPECT_EQ(section.WaitFor(0), TWaitResult::wrError);
}

TEST(ThreadList, ReleasingALockNotHeldFailsAndLeavesTheHolderProtected) {
  TbrvCriticalSection section;
  EXPECT_THROW(section.Release(), EbrvLockError);  // never acquired
  section.Acquire();
  bool otherReleaseFailed = false, otherGotIt = true;
  std::thread([&] {
    try {
      section.Release();
    } catch (const EbrvLockError&) {
      otherReleaseFailed = true;
    }
    otherGotIt = section.TryAcquire();
  }).join();
  EXPECT_TRUE(otherReleaseFailed);
  EXPECT_FALSE(otherGotIt);  // the holder still holds it
  section.Release();
  EXPECT_THROW(section.Release(), EbrvLockError);  // one Release too many

  TbrvQueue list;
  EXPECT_THROW(list.UnlockList(), EbrvLockError);
}

}  // namespace
}  // namespace brv
