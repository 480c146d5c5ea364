#include "transport/IdIOHandler.h"

#include <gtest/gtest.h>

#include <cctype>
#include <limits>
#include <string>
#include <vector>

#include "support/TestIOHandler.h"
#include "transport/IdStack.h"

namespace brv {
namespace {

const std::string kHead = "HTTP/1.1 200 OK\r\nContent-Length: 5\r\nX-Bare: lf\n\r\n";

// A handler opened over canned input, handing out at most AMaxRead bytes per read.
std::unique_ptr<TIdTestIOHandler> OpenWith(
    const std::string& AInput, int AMaxRead = 0,
    TIdTestIOHandler::TInputEnd AEnd = TIdTestIOHandler::ieClose) {
  auto handler = std::make_unique<TIdTestIOHandler>();
  handler->AddInput(AInput);
  handler->SetMaxReadSize(AMaxRead);
  handler->SetInputEnd(AEnd);
  handler->Open();
  return handler;
}

TEST(IOHandlerReadLn, SameLinesWhateverTheReadSizes) {
  const std::vector<std::string> expected = {"HTTP/1.1 200 OK", "Content-Length: 5", "X-Bare: lf",
                                             ""};
  // One byte per read, then every split of the text into two reads.
  for (int max_read : {1, 2, 3, 7}) {
    auto handler = OpenWith(kHead, max_read);
    for (const std::string& line : expected) ASSERT_EQ(handler->ReadLn(), line) << max_read;
  }
  for (std::size_t split = 1; split < kHead.size(); ++split) {
    TIdTestIOHandler handler;
    handler.AddInput(kHead.substr(0, split));
    handler.SetMaxReadSize(static_cast<int>(split));
    handler.AddInput(kHead.substr(split));
    handler.Open();
    for (const std::string& line : expected)
      ASSERT_EQ(handler.ReadLn(), line) << "split at " << split;
  }
}

TEST(IOHandlerReadLn, TerminatorsAndEncodings) {
  // With CR LF given explicitly, a bare LF is part of the line.
  auto handler = OpenWith("a\nb\r\nc|d||e");
  EXPECT_EQ(handler->ReadLn("\r\n"), "a\nb");
  EXPECT_EQ(handler->ReadLn("||"), "c|d");
  // A terminator split across two reads is still found.
  auto split = OpenWith("key||value||", 3);
  EXPECT_EQ(split->ReadLn("||"), "key");
  EXPECT_EQ(split->ReadLn("||"), "value");
  // Lines decode with the handler's encoding (ASCII by default) or the one given.
  auto utf8 = OpenWith("caf\xC3\xA9\r\ncaf\xC3\xA9\r\n");
  EXPECT_EQ(utf8->ReadLn(), "caf\xEF\xBF\xBD\xEF\xBF\xBD");
  EXPECT_EQ(utf8->ReadLn(IndyTextEncoding_UTF8()), "caf\xC3\xA9");
  auto utf16 = OpenWith(std::string("h\0i\0\n\0", 6));
  EXPECT_EQ(utf16->ReadLn(IndyTextEncoding_UTF16LE()), "hi");
}

TEST(IOHandlerReadLn, MaximumLineLength) {
  const std::string long_line(16385, 'x');
  // No line feed within 16385 buffered bytes: the error comes at once, before any wait (the
  // stalled peer would otherwise end the read with a time-out).
  auto handler = OpenWith(long_line, 0, TIdTestIOHandler::ieStall);
  try {
    handler->ReadLn();
    FAIL() << "the line is too long";
  } catch (const EIdReadLnMaxLineLengthExceeded& e) {
    EXPECT_EQ(e.Message(), "Max line length exceeded.");
  }
  auto splitting = OpenWith(long_line + "\n", 0, TIdTestIOHandler::ieStall);
  bool was_split = false;
  EXPECT_EQ(splitting->ReadLnSplit(was_split), std::string(16384, 'x'));
  EXPECT_TRUE(was_split);
  EXPECT_EQ(splitting->MaxLineAction(), maException);  // restored
  EXPECT_EQ(splitting->ReadLn(), "x");
  EXPECT_FALSE(splitting->ReadLnSplit());
  // A line feed at the maximum length is still within it.
  auto exact = OpenWith(std::string(16384, 'y') + "\n");
  EXPECT_EQ(exact->ReadLn().size(), 16384u);
}

TEST(IOHandlerReadLn, TimeOutAndClose) {
  auto stalled = OpenWith("partial", 0, TIdTestIOHandler::ieStall);
  stalled->SetReadTimeout(50);
  EXPECT_EQ(stalled->ReadLn(), "");
  EXPECT_TRUE(stalled->ReadLnTimedout());
  EXPECT_EQ(stalled->InputBuffer()->AsString(), "partial");  // nothing is lost
  EXPECT_THROW(stalled->ReadLnWait(), EIdReadTimeout);

  // A peer that closes in the middle of a line ends the read with the graceful close.
  auto closing = OpenWith("done\r\npart");
  EXPECT_EQ(closing->ReadLn(), "done");
  try {
    closing->ReadLn();
    FAIL();
  } catch (const EIdConnClosedGracefully& e) {
    EXPECT_EQ(e.Message(), "Connection Closed Gracefully.");
  }
}

TEST(IOHandlerReadBytes, CountsTimeOutsAndValues) {
  auto handler = OpenWith(
      std::string("\x00\x00\x00\x02", 4) + "one\ntwo\n" + std::string("\x12\x34", 2) + "xyz", 2);
  TStringList lines;
  handler->ReadStrings(lines);  // the count comes first, in network order
  EXPECT_EQ(lines.Text(), "one\ntwo\n");
  EXPECT_EQ(handler->ReadUInt16(), 0x1234);
  TIdBytes bytes;
  handler->ReadBytes(bytes, 3);
  EXPECT_EQ(BytesToStringRaw(bytes), "xyz");
  EXPECT_THROW(handler->ReadBytes(bytes, 1), EIdConnClosedGracefully);

  auto stalled = OpenWith("ab", 0, TIdTestIOHandler::ieStall);
  stalled->SetReadTimeout(20);
  try {
    stalled->ReadBytes(bytes, 3);
    FAIL();
  } catch (const EIdReadTimeout& e) {
    EXPECT_EQ(e.Message(), "Read timed out.");
  }
  EXPECT_EQ(stalled->ReadString(2), "ab");  // still usable after a time-out

  auto chars = OpenWith(
      "\xE2\x82\xAC"
      "a");
  EXPECT_EQ(chars->ReadChar(IndyTextEncoding_UTF8()), "\xE2\x82\xAC");
  EXPECT_EQ(chars->ReadChar(), "a");
}

TEST(IOHandlerReadStream, CountedUntilCloseAndAnnounced) {
  // Ten bytes asked, six sent before the close: the six stay, the close is reported.
  auto early = OpenWith("123456", 4);
  TMemoryStream stream;
  EXPECT_THROW(early->ReadStream(&stream, 10), EIdConnClosedGracefully);
  EXPECT_EQ(std::string(stream.Bytes().begin(), stream.Bytes().end()), "123456");

  auto until_close = OpenWith("all of it", 3);
  TMemoryStream rest;
  until_close->ReadStream(&rest, -1, true);
  EXPECT_EQ(std::string(rest.Bytes().begin(), rest.Bytes().end()), "all of it");

  // A count announced by the peer does not make the stream grow before the bytes arrive: a
  // lying peer ends in the close, not in an enormous allocation.
  auto liar = OpenWith(std::string("\x40\x00\x00\x00\x00\x00\x00\x00", 8) + "tiny");
  liar->SetLargeStream(true);
  TMemoryStream small;
  EXPECT_THROW(liar->ReadStream(&small), EIdConnClosedGracefully);
  EXPECT_EQ(small.Size(), 4);

  // A count that cannot be a stream size is refused up front.
  auto huge = OpenWith("x");
  TMemoryStream positioned;
  positioned.SetSize(16);
  positioned.SetPosition(16);
  EXPECT_THROW(huge->ReadStream(&positioned, std::numeric_limits<std::int64_t>::max()),
               EIdIOHandlerStreamDataTooLarge);

  // Bytes beyond the stream's position are cut when the read ends.
  auto over = OpenWith("AB");
  TMemoryStream target;
  target.WriteBuffer("xxxxxx", 6);
  target.SetPosition(1);
  over->ReadStream(&target, 2);
  EXPECT_EQ(std::string(target.Bytes().begin(), target.Bytes().end()), "xAB");

  // Without a stream the bytes are dropped; work progress counts them.
  auto dropped = OpenWith("0123456789");
  std::vector<std::string> work;
  dropped->OnWorkBegin = [&](TObject*, TWorkMode, std::int64_t AMax) {
    work.push_back("begin " + std::to_string(AMax));
  };
  dropped->OnWork = [&](TObject*, TWorkMode, std::int64_t ACount) {
    work.push_back(std::to_string(ACount));
  };
  dropped->OnWorkEnd = [&](TObject*, TWorkMode) { work.push_back("end"); };
  dropped->ReadStream(nullptr, 10);
  EXPECT_EQ(work, (std::vector<std::string>{"begin 10", "10", "end"}));
}

TEST(IOHandlerRead, DiscardWaitForAndCapture) {
  auto handler = OpenWith("skip-me|body\r\n..dotted\r\nline\r\n.\r\nrest", 5);
  handler->Discard(5);
  EXPECT_EQ(handler->WaitFor("|"), "me");
  EXPECT_EQ(handler->ReadLn(), "body");
  TStringList captured;
  int count = 0;
  handler->Capture(captured, count);
  EXPECT_EQ(captured.Text(), ".dotted\nline\n");
  EXPECT_EQ(count, 2);
  handler->DiscardAll();  // ends normally at the close
  EXPECT_TRUE(handler->InputBufferIsEmpty());
  EXPECT_FALSE(handler->Connected());
}

TEST(IOHandlerConnected, TrueWhileUnreadBytesRemain) {
  auto handler = OpenWith("last words");
  EXPECT_TRUE(handler->CheckForDataOnSource(0));
  EXPECT_EQ(handler->ReadString(4), "last");
  EXPECT_TRUE(handler->Connected());  // the peer closed, but bytes are waiting
  EXPECT_EQ(handler->InputBufferAsString(), " words");
  EXPECT_FALSE(handler->Connected());
  EXPECT_TRUE(handler->ClosedGracefully());
}

TEST(IOHandlerWrite, TextLinesNumbersAndPieces) {
  auto handler = OpenWith("");
  handler->SetMaxWriteSize(3);  // the transport takes three bytes at a time
  handler->Write(std::string());
  EXPECT_EQ(handler->CallCount(), 0);  // an empty string sends nothing
  handler->WriteLn();
  handler->WriteLn("caf\xC3\xA9");
  handler->WriteLn("caf\xC3\xA9", IndyTextEncoding_UTF8());
  handler->WriteLnRFC(".hidden");
  handler->Write(std::uint32_t{0x01020304});
  handler->Write(std::int16_t{-2}, true);
  EXPECT_EQ(handler->Output(),
            std::string("\r\ncaf?\r\ncaf\xC3\xA9\r\n..hidden\r\n\x01\x02\x03\x04\xFF\xFE", 31));
}

TEST(IOHandlerWrite, BufferingThresholdFlushAndCancel) {
  auto handler = OpenWith("");
  handler->WriteBufferOpen(1000);
  handler->Write(TIdBytes(2500, 'z'));
  EXPECT_EQ(handler->OutputBytes().size(), 2000u);  // two blocks of 1000 went at once
  EXPECT_EQ(handler->CallCount(), 2);
  handler->WriteBufferClose();
  EXPECT_EQ(handler->OutputBytes().size(), 2500u);
  EXPECT_FALSE(handler->WriteBufferingActive());

  handler->ClearOutput();
  handler->WriteBufferOpen();
  handler->WriteLn("never sent");
  handler->WriteBufferCancel();
  EXPECT_EQ(handler->Output(), "");

  TStringList lines;
  lines.Add("a");
  lines.Add("b");
  const int calls = handler->CallCount();
  handler->Write(lines, true);  // buffered internally: one send
  EXPECT_EQ(handler->CallCount(), calls + 1);
  EXPECT_EQ(handler->Output(), std::string("\0\0\0\x02"
                                           "a\r\nb\r\n",
                                           10));
}

// The buffer and the array a flush sends from are kept for the next buffered write: whatever
// sizes follow one another, exactly the bytes written go out, and a cancelled buffer's never.
TEST(IOHandlerWrite, RepeatedBufferingSendsExactlyWhatWasWritten) {
  auto handler = OpenWith("");
  std::string expected;
  char fill = 'a';
  for (const std::size_t size : {1000u, 10u, 3000u, 1u, 70000u, 5u}) {
    const std::string text(size, fill++);
    handler->WriteBufferOpen();
    handler->Write(text);
    handler->WriteBufferClose();
    expected += text;
    handler->WriteBufferOpen();
    handler->Write(std::string(size / 2 + 1, '!'));
    handler->WriteBufferCancel();
  }
  EXPECT_EQ(handler->Output(), expected);
}

TEST(IOHandlerFailures, ReadAndWriteErrorsCloseTheHandler) {
  // The second raw read fails with a reset: what arrived before stays readable, and the
  // handler is closed.
  auto reading = OpenWith("partial", 0, TIdTestIOHandler::ieStall);
  reading->SetFailOnCall(2);
  EXPECT_THROW(reading->ReadLn(), EIdConnClosedGracefully);
  EXPECT_FALSE(reading->TransportOpen());
  EXPECT_EQ(reading->InputBufferAsString(), "partial");

  // With nothing buffered the reset itself is reported.
  auto nothing = OpenWith("");
  nothing->SetFailOnCall(1);
  try {
    nothing->ReadLn();
    FAIL();
  } catch (const EIdSocketError& e) {
    EXPECT_EQ(e.LastError(), 10054);
    EXPECT_EQ(e.Message(), "Socket Error # 10054\r\nConnection reset by peer.");
  }

  auto writing = OpenWith("");
  writing->SetMaxWriteSize(4);
  writing->SetFailOnCall(2);
  EXPECT_THROW(writing->Write(std::string("0123456789")), EIdSocketError);
  EXPECT_TRUE(writing->ClosedGracefully());
  EXPECT_EQ(writing->Output(), "0123");
  EXPECT_THROW(writing->Write(std::string("more")), EIdConnClosedGracefully);

  // An error outside the accepted set is raised without closing.
  auto odd = OpenWith("");
  odd->SetFailOnCall(1, 10022);
  EXPECT_THROW(odd->Write(std::string("x")), EIdSocketError);
}

TEST(IOHandlerIntercept, SeesEveryBlockAndMayChangeIt) {
  auto handler = OpenWith("abc\n", 2);
  TIdConnectionIntercept intercept;
  std::vector<std::string> received;
  intercept.OnReceive = [&](TIdConnectionIntercept*, TIdBytes& b) {
    received.push_back(BytesToStringRaw(b));
    for (auto& c : b) c = static_cast<std::uint8_t>(std::toupper(c));
  };
  intercept.OnSend = [&](TIdConnectionIntercept*, TIdBytes& b) { b.push_back('!'); };
  handler->SetIntercept(&intercept);
  EXPECT_EQ(handler->ReadLn(), "ABC");
  EXPECT_EQ(received, (std::vector<std::string>{"ab", "c\n"}));
  handler->Write(std::string("hi"));
  EXPECT_EQ(handler->Output(), "hi!");

  // An intercept that keeps a block to itself is not mistaken for the peer closing.
  auto swallowing = OpenWith("hold", 2);
  TIdConnectionIntercept holder;
  int blocks = 0;
  holder.OnReceive = [&](TIdConnectionIntercept*, TIdBytes& b) {
    if (blocks++ == 0) b.clear();
  };
  swallowing->SetIntercept(&holder);
  EXPECT_EQ(swallowing->FillInputBuffer(), 2);
  EXPECT_FALSE(swallowing->ClosedGracefully());
  EXPECT_EQ(swallowing->InputBuffer()->AsString(), "ld");
}

TEST(IOHandlerRegistry, DefaultAndDerivedClasses) {
  auto made = TIdIOHandler::MakeDefaultIOHandler();
  EXPECT_STREQ(made->ClassName(), "TIdIOHandlerStack");
  EXPECT_EQ(TIdIOHandler::TryMakeIOHandler<TIdTestIOHandler>(), nullptr);
  TIdIOHandler::RegisterIOHandler<TIdTestIOHandler>();
  auto test = TIdIOHandler::TryMakeIOHandler<TIdTestIOHandler>();
  ASSERT_NE(test, nullptr);
  EXPECT_STREQ(test->ClassName(), "TIdTestIOHandler");
  EXPECT_STREQ(TIdIOHandler::MakeIOHandler<TIdIOHandler>("TIdIOHandler")->ClassName(),
               "TIdTestIOHandler");
  try {
    TIdIOHandler::MakeIOHandler<TIdConnectionIntercept>("TIdConnectionIntercept");
    FAIL();
  } catch (const EIdException& e) {
    EXPECT_EQ(e.Message(), "No IOHandler of type TIdConnectionIntercept is installed.");
  }
}

}  // namespace
}  // namespace brv
