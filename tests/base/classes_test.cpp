#include "base/Classes.h"

#include <gtest/gtest.h>

#include "base/StringList.h"
#include "base/Streams.h"

namespace brv {
namespace {

class TOptionsA : public TPersistent {
 public:
  BRV_CLASS_NAME(TOptionsA)
  int Value = 0;
  void Assign(const TPersistent* Source) override {
    if (auto* a = dynamic_cast<const TOptionsA*>(Source)) {
      Value = a->Value;
      return;
    }
    TPersistent::Assign(Source);
  }
};

class TOptionsB : public TPersistent {
 public:
  BRV_CLASS_NAME(TOptionsB)
};

TEST(Persistent, AssignCopiesOrRaisesTheConversionError) {
  TOptionsA a, b;
  b.Value = 7;
  a.Assign(&b);
  EXPECT_EQ(a.Value, 7);
  TOptionsB other;
  try {
    a.Assign(&other);
    FAIL() << "assigning an unrelated class must fail";
  } catch (const EConvertError& e) {
    EXPECT_EQ(e.Message(), "Cannot assign a TOptionsB to a TOptionsA");
  }
}

class TWatcher : public TComponent {
 public:
  using TComponent::TComponent;
  TComponent* Removed = nullptr;

 protected:
  void Notification(TComponent* AComponent, TOperation Operation) override {
    TComponent::Notification(AComponent, Operation);
    if (Operation == TOperation::opRemove) Removed = AComponent;
  }
};

TEST(Component, OwnerListsChildrenAndWatchersHearOfDestruction) {
  TWatcher owner;
  auto child = std::make_unique<TComponent>(&owner);
  EXPECT_EQ(child->Owner(), &owner);
  ASSERT_EQ(owner.ComponentCount(), 1);
  TWatcher watcher;
  child->FreeNotification(&watcher);
  TComponent* raw = child.get();
  child.reset();
  EXPECT_EQ(watcher.Removed, raw);
  EXPECT_EQ(owner.ComponentCount(), 0);
}

TEST(Component, ChildOutlivingItsOwnerIsDetached) {
  auto owner = std::make_unique<TComponent>();
  TComponent child(owner.get());
  owner.reset();
  EXPECT_EQ(child.Owner(), nullptr);
}

TEST(StringList, NameValueTextAndBounds) {
  TStringList list;
  list.Add("Action=ListQueues");
  list.Add("QueueName=a=b");
  EXPECT_EQ(list.Values("QueueName"), "a=b");
  EXPECT_EQ(list.Names(0), "Action");
  EXPECT_EQ(list.Text(), "Action=ListQueues\nQueueName=a=b\n");
  list.SetText("x\r\ny\rz\n");
  ASSERT_EQ(list.Count(), 3);
  EXPECT_EQ(list[2], "z");
  try {
    list.Delete(3);
    FAIL();
  } catch (const EListError& e) {
    EXPECT_EQ(e.Message(), "List index out of bounds (3)");
  }
}

TEST(Streams, MemoryAndStringStreamsReadWhatWasWritten) {
  TStringStream s;
  s.WriteString("hello ");
  s.WriteString("world");
  EXPECT_EQ(s.DataString(), "hello world");
  s.SetPosition(6);
  EXPECT_EQ(s.ReadString(100), "world");
  EXPECT_EQ(s.ReadString(1), "");
  TMemoryStream copy;
  copy.CopyFrom(s, 0);
  EXPECT_EQ(copy.Size(), 11);
  char buf[4];
  copy.SetPosition(9);
  EXPECT_THROW(copy.ReadBuffer(buf, 4), EStreamError);
}

// The block stream behaves as a memory stream across block boundaries: compared with one.
TEST(Streams, BlockStreamMatchesAMemoryStreamAcrossBlocks) {
  constexpr std::int64_t B = TBlockMemoryStream::kBlockSize;
  std::string data(static_cast<size_t>(2 * B + 123), '\0');
  for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<char>(i * 7 + i / 251);
  TBlockMemoryStream blocks;
  TMemoryStream flat;
  for (size_t at = 0, piece = 1; at < data.size(); at += piece, piece = piece * 3 + 1) {
    const auto n = static_cast<std::int64_t>(std::min(piece, data.size() - at));
    blocks.WriteBuffer(data.data() + at, n);
    flat.WriteBuffer(data.data() + at, n);
  }
  // Overwrite across the first boundary, read across the second, then shrink into a block.
  for (TStream* s : {static_cast<TStream*>(&blocks), static_cast<TStream*>(&flat)}) {
    s->SetPosition(B - 2);
    s->WriteBuffer("WXYZ", 4);
  }
  std::string a(10, '\0'), b(10, '\0');
  blocks.SetPosition(2 * B - 5);
  flat.SetPosition(2 * B - 5);
  EXPECT_EQ(blocks.Read(a.data(), 10), flat.Read(b.data(), 10));
  EXPECT_EQ(a, b);
  blocks.SetSize(B + 9);
  flat.SetSize(B + 9);
  EXPECT_EQ(blocks.Size(), flat.Size());
  const std::string text = blocks.TakeText();
  EXPECT_EQ(text, std::string(flat.Bytes().begin(), flat.Bytes().end()));
  EXPECT_EQ(blocks.Size(), 0);
}

}  // namespace
}  // namespace brv
