#include "transport/IdBuffer.h"

#include <gtest/gtest.h>

#include <limits>
#include <string>
#include <vector>

#include "transport/IdException.h"
#include "transport/IdIntercept.h"

namespace brv {
namespace {

template <class E>
std::string MessageOf(const std::function<void()>& AAction) {
  try {
    AAction();
  } catch (const E& e) {
    return e.Message();
  }
  return "<no exception>";
}

TEST(Buffer, QueueBehaviourAcrossGrowthAndCompaction) {
  std::vector<int> removed;
  TIdBuffer buffer([&](TObject*, int ABytes) { removed.push_back(ABytes); });
  std::string expected;
  // Append and consume in uneven steps so the head wanders past the growth factor many times.
  for (int round = 0; round < 200; ++round) {
    const std::string piece(static_cast<std::size_t>(97 + round * 31 % 3000),
                            static_cast<char>('a' + round % 26));
    buffer.Write(piece);
    expected += piece;
    const int take = static_cast<int>(expected.size() / 3);
    TIdBytes out;
    buffer.ExtractToBytes(out, take);
    ASSERT_EQ(std::string(out.begin(), out.end()),
              expected.substr(0, static_cast<std::size_t>(take)));
    expected.erase(0, static_cast<std::size_t>(take));
    ASSERT_EQ(buffer.Size(), static_cast<int>(expected.size()));
    // The storage never keeps much more than the growth factor of spare room behind the data
    // once it compacts.
    ASSERT_LE(buffer.Capacity(), buffer.Size() + 2 * GIdBufferGrowthFactorDefault + 4096);
  }
  EXPECT_EQ(buffer.ExtractToString(), expected);
  EXPECT_EQ(buffer.Size(), 0);
  EXPECT_EQ(buffer.Capacity(), 0);  // emptied: the storage is released
  EXPECT_EQ(removed.size(), 201u);
}

TEST(Buffer, ExtractForms) {
  TIdBuffer buffer;
  buffer.Write(std::uint8_t{0x01});
  buffer.Write(std::uint16_t{0x0203});
  buffer.Write(std::uint32_t{0x04050607});
  buffer.Write(std::uint64_t{0x08090A0B0C0D0E0FULL});
  buffer.Write(TIdIPv6Address{0, 0, 0, 0, 0, 0xFFFF, 0xC0A8, 0x0001});
  EXPECT_EQ(buffer.PeekByte(1), 0x02);  // network byte order
  EXPECT_EQ(buffer.ExtractToUInt8(), 0x01);
  EXPECT_EQ(buffer.ExtractToUInt16(), 0x0203);
  EXPECT_EQ(buffer.ExtractToUInt32(), 0x04050607u);
  EXPECT_EQ(buffer.ExtractToUInt64(), 0x08090A0B0C0D0E0FULL);
  EXPECT_EQ(buffer.ExtractToIPv6(), (TIdIPv6Address{0, 0, 0, 0, 0, 0xFFFF, 0xC0A8, 0x0001}));

  // Without AAppend the bytes go to the start, and the array only grows when too short.
  buffer.Write(std::string("xyz"));
  TIdBytes target = RawToBytes("abcdef");
  buffer.ExtractToBytes(target, 2, false);
  EXPECT_EQ(target, RawToBytes("xycdef"));
  TMemoryStream stream;
  buffer.Write(std::string("123456"));
  buffer.SaveToStream(stream);  // copies without removing
  EXPECT_EQ(buffer.Size(), 7);
  buffer.ExtractToStream(stream, 3);
  EXPECT_EQ(std::string(stream.Bytes().begin(), stream.Bytes().end()), "z123456z12");
  TIdBuffer other;
  buffer.ExtractToIdBuffer(other);
  EXPECT_EQ(other.AsString(), "3456");
}

TEST(Buffer, SearchAndPeek) {
  TIdBuffer empty;
  EXPECT_EQ(empty.IndexOf(TIdBytes{}), -1);  // an empty buffer answers -1 whatever the pattern
  EXPECT_EQ(MessageOf<EIdException>([&] { empty.PeekByte(0); }), "No bytes in buffer.");

  TIdBuffer buffer;
  buffer.Write(std::string("GET / HTTP/1.1\r\nHost: h\r\n\r\n"));
  EXPECT_EQ(buffer.IndexOf(std::string("\r\n")), 14);
  EXPECT_EQ(buffer.IndexOf(std::string("\r\n"), 15), 23);
  EXPECT_EQ(buffer.IndexOf(std::string("\r\n\r\n")), 23);
  EXPECT_EQ(buffer.IndexOf(std::uint8_t{'H'}, 6), 6);
  EXPECT_EQ(buffer.IndexOf(std::uint8_t{'H'}, 7), 16);
  EXPECT_EQ(buffer.IndexOf(std::string("nowhere")), -1);
  EXPECT_EQ(MessageOf<EIdException>([&] { buffer.IndexOf(TIdBytes{}); }),
            "Buffer terminator must be specified.");
  EXPECT_EQ(MessageOf<EIdException>([&] { buffer.IndexOf(std::string("x"), 27); }),
            "Buffer start position is invalid.");
  EXPECT_EQ(MessageOf<EIdException>([&] { buffer.PeekByte(27); }), "Index out of bounds.");
  EXPECT_EQ(MessageOf<EIdException>([&] { buffer.SetCapacity(3); }),
            "Capacity cannot be smaller than Size");
  EXPECT_EQ(MessageOf<EIdNotEnoughDataInBuffer>([&] {
              TIdBytes out;
              buffer.ExtractToBytes(out, 100);
            }),
            "Not enough data in buffer. (100/27)");
}

// A stream that claims far more bytes than memory could hold.
class THugeStream : public TStream {
 public:
  std::int64_t Read(void*, std::int64_t) override { return 0; }
  std::int64_t Write(const void*, std::int64_t) override { return 0; }
  std::int64_t Seek(std::int64_t, TSeekOrigin) override { return 0; }
  void SetSize(std::int64_t) override {}
  std::int64_t Size() override { return std::int64_t{1} << 40; }
};

TEST(Buffer, RefusesMoreThanItCanHoldBeforeAllocating) {
  TIdBuffer buffer;
  buffer.Write(std::string("already here"));
  THugeStream huge;
  EXPECT_THROW(buffer.Write(huge, -1), EIdTooMuchDataInBuffer);
  EXPECT_EQ(MessageOf<EIdTooMuchDataInBuffer>([&] { buffer.Write(huge, std::int64_t{1} << 35); }),
            "Too much data in buffer.");
  EXPECT_EQ(buffer.AsString(), "already here");
}

TEST(Intercept, ChainOrderAndCircularLinks) {
  std::vector<std::string> seen;
  TIdConnectionIntercept outer, inner;
  outer.SetIntercept(&inner);
  outer.OnSend = [&](TIdConnectionIntercept*, TIdBytes& b) {
    seen.push_back("outer send " + BytesToStringRaw(b));
    b.push_back('!');
  };
  inner.OnSend = [&](TIdConnectionIntercept*, TIdBytes& b) {
    seen.push_back("inner send " + BytesToStringRaw(b));
  };
  outer.OnReceive = [&](TIdConnectionIntercept*, TIdBytes& b) {
    seen.push_back("outer receive " + BytesToStringRaw(b));
  };
  inner.OnReceive = [&](TIdConnectionIntercept*, TIdBytes& b) {
    seen.push_back("inner receive " + BytesToStringRaw(b));
    b.pop_back();
  };
  outer.OnConnect = [&](TIdConnectionIntercept*) { seen.push_back("outer connect"); };
  inner.OnConnect = [&](TIdConnectionIntercept*) { seen.push_back("inner connect"); };
  outer.OnDisconnect = [&](TIdConnectionIntercept*) { seen.push_back("outer disconnect"); };
  inner.OnDisconnect = [&](TIdConnectionIntercept*) { seen.push_back("inner disconnect"); };

  TComponent connection;
  outer.Connect(&connection);
  TIdBytes out = RawToBytes("hi");
  outer.Send(out);
  TIdBytes in = RawToBytes("yo?");
  outer.Receive(in);
  outer.Disconnect();
  EXPECT_EQ(seen,
            (std::vector<std::string>{"outer connect", "inner connect", "outer send hi",
                                      "inner send hi!", "inner receive yo?", "outer receive yo",
                                      "inner disconnect", "outer disconnect"}));
  EXPECT_EQ(outer.Connection(), nullptr);

  EXPECT_EQ(MessageOf<EIdInterceptCircularLink>([&] { inner.SetIntercept(&outer); }),
            "TIdConnectionIntercept: Circular links are not allowed");
  EXPECT_THROW(outer.SetIntercept(&outer), EIdInterceptCircularLink);
  {
    TIdConnectionIntercept gone;
    inner.SetIntercept(&gone);
  }
  EXPECT_EQ(inner.Intercept(), nullptr);  // a freed link is forgotten
}

}  // namespace
}  // namespace brv
