#include "transport/IdIOHandler.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <limits>
#include <mutex>

#include "transport/IdIOHandlerStack.h"

namespace brv {

namespace {

// A read-only stream over a file, for WriteFile.
class TFileReadStream : public TStream {
 public:
  explicit TFileReadStream(std::FILE* AFile) : FFile(AFile) {}
  ~TFileReadStream() override { std::fclose(FFile); }
  std::int64_t Read(void* Buffer, std::int64_t Count) override {
    if (Count <= 0) return 0;
    return static_cast<std::int64_t>(std::fread(Buffer, 1, static_cast<std::size_t>(Count), FFile));
  }
  std::int64_t Write(const void*, std::int64_t) override { return 0; }
  std::int64_t Seek(std::int64_t Offset, TSeekOrigin Origin) override {
    const int whence = Origin == TSeekOrigin::soBeginning ? SEEK_SET
                       : Origin == TSeekOrigin::soCurrent ? SEEK_CUR
                                                          : SEEK_END;
    std::fseek(FFile, static_cast<long>(Offset), whence);
    return std::ftell(FFile);
  }
  void SetSize(std::int64_t) override {}

 private:
  std::FILE* FFile;
};

// The registry of handler classes.
struct TRegistry {
  std::mutex lock;
  std::vector<std::function<std::unique_ptr<TIdIOHandler>(TComponent*)>> factories;
  std::vector<const std::type_info*> types;
  std::vector<void (*)()> throwers;
  std::function<std::unique_ptr<TIdIOHandler>(TComponent*)> default_factory;
};

TRegistry& Registry() {
  static TRegistry registry;
  return registry;
}

// Encodings in which every ASCII character is the one byte of its code, so a one-character ASCII
// terminator can be looked for as that byte.
bool KeepsAscii(const IIdTextEncoding* AEncoding) {
  return AEncoding == IndyTextEncoding_ASCII() || AEncoding == IndyTextEncoding_UTF8() ||
         AEncoding == IndyTextEncoding_8Bit();
}

template <class T>
TIdBytes NumberBytes(T AValue, bool AConvert) {
  TIdBytes bytes(sizeof(T));
  if (AConvert) {
    for (std::size_t i = 0; i < sizeof(T); ++i) {
      bytes[sizeof(T) - 1 - i] =
          static_cast<std::uint8_t>(static_cast<std::uint64_t>(AValue) >> (8 * i));
    }
  } else {
    std::memcpy(bytes.data(), &AValue, sizeof(T));
  }
  return bytes;
}

template <class T>
T BytesNumber(const TIdBytes& ABytes, bool AConvert) {
  T value = 0;
  if (AConvert) {
    std::uint64_t v = 0;
    for (std::size_t i = 0; i < sizeof(T); ++i) v = (v << 8) | ABytes[i];
    value = static_cast<T>(v);
  } else {
    std::memcpy(&value, ABytes.data(), sizeof(T));
  }
  return value;
}

}  // namespace

TIdIOHandler::TIdIOHandler(TComponent* AOwner)
    : TIdComponent(AOwner),
      FInputBuffer(
          std::make_unique<TIdBuffer>([this](TObject*, int ABytes) { DoWork(wmRead, ABytes); })),
      FDefStringEncoding(IndyTextEncoding_ASCII()) {}

TIdIOHandler::~TIdIOHandler() {
  try {
    TIdIOHandler::Close();
  } catch (...) {
    // An intercept that fails while the handler goes away changes nothing.
  }
  if (FIntercept != nullptr) RemoveFreeNotification(FIntercept);
}

void TIdIOHandler::SetIntercept(TIdConnectionIntercept* AValue) {
  if (AValue == FIntercept) return;
  if (FIntercept != nullptr) RemoveFreeNotification(FIntercept);
  FIntercept = AValue;
  if (FIntercept != nullptr) FreeNotification(FIntercept);
}

void TIdIOHandler::Notification(TComponent* AComponent, TOperation Operation) {
  TIdComponent::Notification(AComponent, Operation);
  if (Operation == TOperation::opRemove && AComponent == FIntercept) FIntercept = nullptr;
}

void TIdIOHandler::SetDefStringEncoding(const IIdTextEncoding* AValue) {
  FDefStringEncoding = AValue != nullptr ? AValue : IndyTextEncoding_Default();
}

const IIdTextEncoding* TIdIOHandler::ChooseEncoding(const IIdTextEncoding* AByteEncoding) const {
  if (AByteEncoding != nullptr) return AByteEncoding;
  if (FDefStringEncoding != nullptr) return FDefStringEncoding;
  return IndyTextEncoding_ASCII();
}

void TIdIOHandler::InterceptReceive(TIdBytes& VBuffer) {
  if (FIntercept != nullptr) FIntercept->Receive(VBuffer);
}

// ---------------------------------------------------------------------------------------------
// Open, close, connected

void TIdIOHandler::Open() {
  FOpened = false;
  FClosedGracefully = false;
  WriteBufferClear();
  FInputBuffer->Clear();
  FOpened = true;
}

void TIdIOHandler::Close() {
  try {
    if (FIntercept != nullptr) FIntercept->Disconnect();
  } catch (...) {
    FOpened = false;
    WriteBufferClear();
    throw;
  }
  FOpened = false;
  WriteBufferClear();
}

bool TIdIOHandler::Connected() {
  CheckForDisconnect(false, false);
  if (!FOpened) return false;
  return !(FClosedGracefully && FInputBuffer->Size() == 0);
}

bool TIdIOHandler::CheckForDataOnSource(int ATimeout) {
  const int before = FInputBuffer->Size();
  if (!Connected()) return false;
  if (FInputBuffer->Size() > before) return true;
  return FillInputBuffer(false, ATimeout, false) > 0;
}

bool TIdIOHandler::Readable(int) {
  return false;
}

void TIdIOHandler::RaiseClosedGracefully() {
  throw EIdConnClosedGracefully();
}

void TIdIOHandler::ResolveTimeout(int& ATimeout) const {
  if (ATimeout == IdTimeoutDefault) {
    ATimeout = FReadTimeOut;
    if (ATimeout == IdTimeoutDefault || ATimeout == 0) ATimeout = IdTimeoutInfinite;
  }
}

// ---------------------------------------------------------------------------------------------
// Filling the input buffer

namespace {

// The deadline passed or the caller cancelled.
bool CutShort(const Exception& E) {
  return dynamic_cast<const EIdOperationCancelled*>(&E) != nullptr ||
         dynamic_cast<const EIdDeadlineExceeded*>(&E) != nullptr;
}

}  // namespace

// A wait that the deadline or a cancel cut short leaves the protocol state unknown (a record
// or a request half done), so the handler closes before the exception goes on; the next call
// opens a new connection.
template <class F>
auto TIdIOHandler::ClosingWhenCutShort(F&& AOperation) {
  try {
    return AOperation();
  } catch (const Exception& E) {
    if (CutShort(E)) {
      try {
        Close();
      } catch (...) {
        // The reason for closing is what the caller reports.
      }
    }
    throw;
  }
}

int TIdIOHandler::FillInputBuffer(bool ARaiseExceptionIfDisconnected, int ATimeout,
                                  bool ARaiseExceptionOnTimeout) {
  return ClosingWhenCutShort([&] {
    return DoFillInputBuffer(ARaiseExceptionIfDisconnected, ATimeout, ARaiseExceptionOnTimeout);
  });
}

int TIdIOHandler::DoFillInputBuffer(bool ARaiseExceptionIfDisconnected, int ATimeout,
                                    bool ARaiseExceptionOnTimeout) {
  ResolveTimeout(ATimeout);
  CheckForDisconnect(ARaiseExceptionIfDisconnected, false);
  if (!RawSourceAvailable()) {
    if (ARaiseExceptionIfDisconnected) throw EIdNotConnected();
    return 0;
  }
  while (true) {
    // A peer that keeps sending (a trickle) never lets a wait run out: the deadline is looked
    // at before each read that may wait.
    if (ATimeout != 0) FDeadline.Check();
    if (!Readable(ATimeout)) {
      if (ARaiseExceptionOnTimeout) throw EIdReadTimeout();
      return -1;
    }
    int n = 0;
    bool swallowed = false;
    if (FOpened) {
      if (RawSourceAvailable()) {
        const auto wanted = static_cast<std::size_t>(std::max(1, FRecvBufferSize));
        if (FRecvBuffer.size() != wanted) FRecvBuffer.resize(wanted);
        n = ReadRawData(FRecvBuffer);
        if (n > 0) {
          if (FIntercept != nullptr) {
            TIdBytes block(FRecvBuffer.begin(), FRecvBuffer.begin() + n);
            FIntercept->Receive(block);
            n = static_cast<int>(block.size());
            // An intercept that keeps a whole block to itself has not seen the peer close.
            swallowed = n == 0;
            FInputBuffer->Write(block);
          } else {
            // Into an empty input buffer the block moves without a copy.
            FInputBuffer->AdoptBytes(FRecvBuffer, n);
          }
        }
      } else if (ARaiseExceptionIfDisconnected) {
        throw EIdClosedSocket();
      }
    } else if (ARaiseExceptionIfDisconnected) {
      throw EIdNotConnected();
    }
    if (n < 0) {
      const int err = CheckTransportError(n);
      if (err == 10060) {
        if (ARaiseExceptionOnTimeout) throw EIdReadTimeout();
        return -1;
      }
      FClosedGracefully = true;
      Close();
      if (FInputBuffer->Size() == 0 && ARaiseExceptionIfDisconnected) RaiseTransportError(err);
      n = 0;
    }
    if (n == 0 && !swallowed) FClosedGracefully = true;
    CheckForDisconnect(ARaiseExceptionIfDisconnected, false);
    if (n != 0) return n;
    if (!RawSourceAvailable()) return 0;
  }
}

// ---------------------------------------------------------------------------------------------
// Reading lines

std::string TIdIOHandler::ReadLn(const IIdTextEncoding* AByteEncoding) {
  return ReadLn(LF, IdTimeoutDefault, -1, AByteEncoding);
}

std::string TIdIOHandler::ReadLn(const std::string& ATerminator,
                                 const IIdTextEncoding* AByteEncoding) {
  return ReadLn(ATerminator, IdTimeoutDefault, -1, AByteEncoding);
}

std::string TIdIOHandler::ReadLn(const std::string& ATerminator, int ATimeout, int AMaxLineLength,
                                 const IIdTextEncoding* AByteEncoding) {
  static const std::string kLF = LF;
  const IIdTextEncoding* encoding = ChooseEncoding(AByteEncoding);
  if (AMaxLineLength < 0) AMaxLineLength = FMaxLineLength;
  const std::string& terminator = ATerminator.empty() ? kLF : ATerminator;
  // A line ends at one byte in the usual case, found with memchr; other terminators are
  // encoded and searched as byte strings.
  const bool one_byte = terminator.size() == 1 &&
                        static_cast<unsigned char>(terminator[0]) < 0x80 && KeepsAscii(encoding);
  TIdBytes terminator_bytes;
  if (!one_byte) terminator_bytes = encoding->GetBytes(terminator);
  const int terminator_length = one_byte ? 1 : static_cast<int>(terminator_bytes.size());
  const auto terminator_byte = static_cast<std::uint8_t>(terminator[0]);
  FReadLnSplit = false;
  FReadLnTimedOut = false;
  const TIdDeadline line_limit =
      ATimeout >= 0 ? TIdDeadline::After(std::chrono::milliseconds(ATimeout)) : TIdDeadline();
  int search_start = 0;
  int terminator_pos = -1;
  while (true) {
    const int size = FInputBuffer->Size();
    if (size > 0) {
      if (search_start >= size)
        terminator_pos = -1;
      else if (one_byte)
        terminator_pos = FInputBuffer->IndexOf(terminator_byte, search_start);
      else
        terminator_pos = FInputBuffer->IndexOf(terminator_bytes, search_start);
      search_start = std::max(0, size - (terminator_length - 1));
    }
    if (AMaxLineLength > 0 && (terminator_pos > AMaxLineLength ||
                               (terminator_pos == -1 && search_start > AMaxLineLength))) {
      if (FMaxLineAction == maException) throw EIdReadLnMaxLineLengthExceeded();
      FReadLnSplit = true;
      return FInputBuffer->ExtractToString(AMaxLineLength, encoding);
    }
    if (terminator_pos != -1) break;
    CheckForDisconnect(true, true);
    bool timed_out = FillInputBuffer(true, ATimeout, false) == -1;
    if (!timed_out && line_limit.Expired()) timed_out = true;
    if (timed_out) {
      FReadLnTimedOut = true;
      return {};
    }
  }
  int line_length = terminator_pos;
  if (terminator == LF && terminator_length == 1 && line_length > 0 &&
      FInputBuffer->PeekByte(line_length - 1) == '\r') {
    --line_length;
  }
  std::string result =
      encoding->GetString(FInputBuffer->Peek(), static_cast<std::size_t>(line_length));
  FInputBuffer->Remove(terminator_pos + terminator_length);
  return result;
}

std::string TIdIOHandler::ReadLnSplit(bool& AWasSplit, const std::string& ATerminator, int ATimeout,
                                      int AMaxLineLength, const IIdTextEncoding* AByteEncoding) {
  const TIdMaxLineAction saved = FMaxLineAction;
  FMaxLineAction = maSplit;
  std::string result;
  try {
    result = ReadLn(ATerminator, ATimeout, AMaxLineLength, AByteEncoding);
  } catch (...) {
    FMaxLineAction = saved;
    throw;
  }
  FMaxLineAction = saved;
  AWasSplit = FReadLnSplit;
  return result;
}

std::string TIdIOHandler::ReadLnRFC(bool& VMsgEnd, const std::string& ALineTerminator,
                                    const std::string& ADelim,
                                    const IIdTextEncoding* AByteEncoding) {
  std::string line = ReadLn(ALineTerminator, AByteEncoding);
  VMsgEnd = line == ADelim;
  if (!VMsgEnd && line.rfind("..", 0) == 0) line.erase(0, 1);
  return line;
}

std::string TIdIOHandler::ReadLnWait(int AFailCount, const IIdTextEncoding* AByteEncoding) {
  int attempts = 0;
  while (true) {
    std::string line = TrimText(ReadLn(AByteEncoding));
    if (FReadLnTimedOut) throw EIdReadTimeout();
    if (!line.empty()) return line;
    if (++attempts >= AFailCount) throw EIdReadLnWaitMaxAttemptsExceeded();
  }
}

// ---------------------------------------------------------------------------------------------
// Reading bytes and values

void TIdIOHandler::ReadBytes(TIdBytes& VBuffer, int AByteCount, bool AAppend) {
  if (AByteCount > 0) {
    while (FInputBuffer->Size() < AByteCount) {
      const int read = FillInputBuffer(false, IdTimeoutDefault, true);
      if (read > 0 && FInputBuffer->Size() >= AByteCount) break;
      CheckForDisconnect(true, true);
    }
    FInputBuffer->ExtractToBytes(VBuffer, AByteCount, AAppend);
  } else if (AByteCount < 0) {
    if (FInputBuffer->Size() == 0) {
      FillInputBuffer(false, FReadTimeOut, false);
      CheckForDisconnect(true, true);
    }
    FInputBuffer->ExtractToBytes(VBuffer, -1, AAppend);
  }
}

std::string TIdIOHandler::ReadString(int ABytes, const IIdTextEncoding* AByteEncoding) {
  if (ABytes <= 0) return {};
  TIdBytes bytes;
  ReadBytes(bytes, ABytes, false);
  return ChooseEncoding(AByteEncoding)->GetString(bytes.data(), static_cast<std::size_t>(ABytes));
}

void TIdIOHandler::ReadStrings(TStringList& ADest, int AReadLinesCount,
                               const IIdTextEncoding* AByteEncoding) {
  if (AReadLinesCount < 0) AReadLinesCount = ReadInt32();
  // Lines are read one by one: a count announced by the peer reserves nothing.
  for (int i = 0; i < AReadLinesCount; ++i) ADest.Add(ReadLn(AByteEncoding));
}

std::string TIdIOHandler::ReadChar(const IIdTextEncoding* AByteEncoding) {
  const IIdTextEncoding* encoding = ChooseEncoding(AByteEncoding);
  const int max_bytes = std::max(1, encoding->GetMaxByteCount(2));
  TIdBytes bytes;
  std::string text;
  for (int i = 0; i < max_bytes; ++i) {
    ReadBytes(bytes, 1, true);
    text.clear();
    if (encoding->Decode(bytes.data(), bytes.size(), text) == 0 && !text.empty()) return text;
  }
  return text;
}

std::uint8_t TIdIOHandler::ReadByte() {
  TIdBytes bytes;
  ReadBytes(bytes, 1, false);
  return bytes[0];
}

#define BRV_READ_NUMBER(Name, Type)            \
  Type TIdIOHandler::Name(bool AConvert) {     \
    TIdBytes bytes;                            \
    ReadBytes(bytes, sizeof(Type), false);     \
    return BytesNumber<Type>(bytes, AConvert); \
  }
BRV_READ_NUMBER(ReadInt16, std::int16_t)
BRV_READ_NUMBER(ReadUInt16, std::uint16_t)
BRV_READ_NUMBER(ReadInt32, std::int32_t)
BRV_READ_NUMBER(ReadUInt32, std::uint32_t)
BRV_READ_NUMBER(ReadInt64, std::int64_t)
BRV_READ_NUMBER(ReadUInt64, std::uint64_t)
#undef BRV_READ_NUMBER

// ---------------------------------------------------------------------------------------------
// Reading streams

std::int64_t TIdIOHandler::MoveToStream(TStream* AStream, std::int64_t AMax) {
  const int available = FInputBuffer->Size();
  const int count =
      AMax < 0 ? available : static_cast<int>(std::min<std::int64_t>(available, AMax));
  if (count <= 0) return 0;
  if (AStream != nullptr) {
    FInputBuffer->ExtractToStream(*AStream, count);
  } else {
    FInputBuffer->Remove(count);
  }
  return count;
}

void TIdIOHandler::ReadStream(TStream* AStream, std::int64_t AByteCount,
                              bool AReadUntilDisconnect) {
  std::int64_t count;
  if (AByteCount != -1) {
    count = AByteCount;
  } else if (AReadUntilDisconnect) {
    count = -1;
  } else if (FLargeStream) {
    count = static_cast<std::int64_t>(ReadUInt64());
  } else {
    count = ReadInt32();
  }
  if (AStream != nullptr && count >= 0) {
    // The stream is not grown ahead by the count: it may come from the peer, and the bytes
    // are written as they arrive. Only a count that cannot be a stream size is refused.
    if (count > std::numeric_limits<std::int64_t>::max() - AStream->Position()) {
      throw EIdIOHandlerStreamDataTooLarge();
    }
  }
  const bool until_disconnect = count < 0;
  BeginWork(wmRead, until_disconnect ? 0 : count);
  auto finish = [&] {
    EndWork(wmRead);
    if (AStream != nullptr) {
      const std::int64_t position = AStream->Position();
      if (AStream->Size() > position) AStream->SetSize(position);
    }
  };
  auto move = [&] {
    if (until_disconnect) {
      MoveToStream(AStream, -1);
    } else {
      count -= MoveToStream(AStream, count);
    }
  };
  try {
    move();
    while (until_disconnect || count > 0) {
      int read = 0;
      try {
        read = FillInputBuffer(!until_disconnect, IdTimeoutDefault, true);
      } catch (...) {
        move();
        throw;
      }
      move();
      if (read < 1) {
        CheckForDisconnect(false, false);
        break;
      }
    }
  } catch (...) {
    finish();
    throw;
  }
  finish();
}

void TIdIOHandler::Discard(std::int64_t AByteCount) {
  if (AByteCount <= 0) return;
  BeginWork(wmRead, AByteCount);
  try {
    while (AByteCount > 0) {
      const int take = static_cast<int>(std::min<std::int64_t>(AByteCount, FInputBuffer->Size()));
      FInputBuffer->Remove(take);
      AByteCount -= take;
      if (AByteCount > 0 && FillInputBuffer(false, IdTimeoutDefault, true) <= 0) {
        CheckForDisconnect(true, true);
      }
    }
  } catch (...) {
    EndWork(wmRead);
    throw;
  }
  EndWork(wmRead);
}

void TIdIOHandler::DiscardAll() {
  BeginWork(wmRead);
  try {
    while (true) {
      FInputBuffer->Remove(FInputBuffer->Size());
      FillInputBuffer(true, IdTimeoutDefault, true);
    }
  } catch (const EIdConnClosedGracefully&) {
    FInputBuffer->Remove(FInputBuffer->Size());
  } catch (...) {
    FInputBuffer->Remove(FInputBuffer->Size());
    EndWork(wmRead);
    throw;
  }
  EndWork(wmRead);
}

std::string TIdIOHandler::AllData(const IIdTextEncoding* AByteEncoding) {
  try {
    while (FOpened && RawSourceAvailable() && !FClosedGracefully)
      FillInputBuffer(false, 250, false);
  } catch (const Exception& E) {
    // The caller stopped the read: what arrived is not the whole answer. Whatever else ended
    // the connection, what arrived is the answer.
    if (CutShort(E)) throw;
  }
  return InputBufferAsString(AByteEncoding);
}

std::string TIdIOHandler::WaitFor(const std::string& AString, bool ARemoveFromBuffer,
                                  bool AInclusive, const IIdTextEncoding* AByteEncoding,
                                  int ATimeout) {
  const IIdTextEncoding* encoding = ChooseEncoding(AByteEncoding);
  const TIdBytes bytes = encoding->GetBytes(AString);
  const int length = static_cast<int>(bytes.size());
  int search_start = 0;
  while (true) {
    const int size = FInputBuffer->Size();
    const int pos =
        size > 0 && search_start < size ? FInputBuffer->IndexOf(bytes, search_start) : -1;
    if (pos >= 0) {
      if (ARemoveFromBuffer && AInclusive)
        return FInputBuffer->ExtractToString(pos + length, encoding);
      std::string result = FInputBuffer->ExtractToString(pos, encoding);
      if (ARemoveFromBuffer) FInputBuffer->Remove(length);
      if (AInclusive) result += AString;
      return result;
    }
    search_start = std::max(0, size - (length - 1));
    FillInputBuffer(true, ATimeout, true);
  }
}

void TIdIOHandler::PerformCapture(TStream* AStreamDest, TStringList* AListDest, int& VLineCount,
                                  const std::string& ADelim, bool AUsesDotTransparency,
                                  const IIdTextEncoding* AByteEncoding) {
  const IIdTextEncoding* encoding = ChooseEncoding(AByteEncoding);
  VLineCount = 0;
  BeginWork(wmRead);
  try {
    while (true) {
      std::string line = ReadLn(encoding);
      // A capture that times out would otherwise store empty lines without end.
      if (FReadLnTimedOut) throw EIdReadTimeout();
      if (line == ADelim) break;
      if (AUsesDotTransparency && line.rfind("..", 0) == 0) line.erase(0, 1);
      if (FMaxCapturedLines > 0 && VLineCount > FMaxCapturedLines)
        throw EIdMaxCaptureLineExceeded();
      ++VLineCount;
      if (AListDest != nullptr) {
        AListDest->Add(line);
      } else if (AStreamDest != nullptr) {
        const TIdBytes bytes = encoding->GetBytes(line + EOL);
        AStreamDest->WriteBuffer(bytes.data(), static_cast<std::int64_t>(bytes.size()));
      }
    }
  } catch (...) {
    EndWork(wmRead);
    throw;
  }
  EndWork(wmRead);
}

void TIdIOHandler::Capture(TStream& ADest, const std::string& ADelim, bool AUsesDotTransparency,
                           const IIdTextEncoding* AByteEncoding) {
  int count = 0;
  PerformCapture(&ADest, nullptr, count, ADelim, AUsesDotTransparency, AByteEncoding);
}

void TIdIOHandler::Capture(TStream& ADest, int& VLineCount, const std::string& ADelim,
                           bool AUsesDotTransparency, const IIdTextEncoding* AByteEncoding) {
  PerformCapture(&ADest, nullptr, VLineCount, ADelim, AUsesDotTransparency, AByteEncoding);
}

void TIdIOHandler::Capture(TStringList& ADest, const std::string& ADelim, bool AUsesDotTransparency,
                           const IIdTextEncoding* AByteEncoding) {
  int count = 0;
  PerformCapture(nullptr, &ADest, count, ADelim, AUsesDotTransparency, AByteEncoding);
}

void TIdIOHandler::Capture(TStringList& ADest, int& VLineCount, const std::string& ADelim,
                           bool AUsesDotTransparency, const IIdTextEncoding* AByteEncoding) {
  PerformCapture(nullptr, &ADest, VLineCount, ADelim, AUsesDotTransparency, AByteEncoding);
}

std::string TIdIOHandler::InputLn(const std::string& AMask, bool AEcho, int ATabWidth,
                                  int AMaxLineLength, const IIdTextEncoding* AByteEncoding) {
  const IIdTextEncoding* encoding = ChooseEncoding(AByteEncoding);
  if (AMaxLineLength < 0) AMaxLineLength = FMaxLineLength;
  std::string result;
  while (true) {
    std::string ch = ReadChar(encoding);
    if (ch == "\n") break;
    if (ch == "\b") {
      if (!result.empty()) {
        // Drop the last character (all bytes of its UTF-8 form).
        std::size_t cut = result.size() - 1;
        while (cut > 0 && (static_cast<unsigned char>(result[cut]) & 0xC0) == 0x80) --cut;
        result.erase(cut);
        if (AEcho) Write(std::string("\b \b"), encoding);
      }
      continue;
    }
    if (ch == "\r" || ch == "\x1b") continue;
    if (ch == "\t" && ATabWidth > 0) {
      const std::size_t spaces = static_cast<std::size_t>(ATabWidth) -
                                 UTF16Length(result) % static_cast<std::size_t>(ATabWidth);
      ch = std::string(spaces, ' ');
    }
    if (AMaxLineLength > 0 &&
        UTF16Length(result) + UTF16Length(ch) > static_cast<std::size_t>(AMaxLineLength)) {
      continue;
    }
    result += ch;
    if (AEcho) Write(AMask.empty() ? ch : AMask, encoding);
  }
  if (AEcho) WriteLn(std::string(), encoding);
  return result;
}

std::string TIdIOHandler::InputBufferAsString(const IIdTextEncoding* AByteEncoding) {
  return FInputBuffer->ExtractToString(-1, ChooseEncoding(AByteEncoding));
}

void TIdIOHandler::InputBufferToStream(TStream& AStream, int AByteCount) {
  FInputBuffer->ExtractToStream(AStream, AByteCount);
}

// ---------------------------------------------------------------------------------------------
// Writing

void TIdIOHandler::Write(const TIdBytes& ABuffer, int ALength, int AOffset) {
  const std::int64_t size = static_cast<std::int64_t>(ABuffer.size());
  const std::int64_t offset = std::clamp<std::int64_t>(AOffset, 0, size);
  std::int64_t length = size - offset;
  if (ALength >= 0) length = std::min<std::int64_t>(length, ALength);
  if (length < 1) return;
  if (FWriteBuffer) {
    FWriteBuffer->Write(ABuffer, static_cast<int>(length), static_cast<int>(offset));
    if (FWriteBufferThreshold > 0) {
      while (FWriteBuffer && FWriteBuffer->Size() >= FWriteBufferThreshold) {
        WriteBufferFlush(FWriteBufferThreshold);
      }
    }
  } else {
    WriteDirect(ABuffer, static_cast<int>(length), static_cast<int>(offset));
  }
}

void TIdIOHandler::WriteDirect(const TIdBytes& ABuffer, int ALength, int AOffset) {
  ClosingWhenCutShort([&] { DoWriteDirect(ABuffer, ALength, AOffset); });
}

void TIdIOHandler::DoWriteDirect(const TIdBytes& ABuffer, int ALength, int AOffset) {
  CheckForDisconnect(true, true);
  const std::int64_t size = static_cast<std::int64_t>(ABuffer.size());
  std::int64_t offset = std::clamp<std::int64_t>(AOffset, 0, size);
  std::int64_t length = size - offset;
  if (ALength >= 0) length = std::min<std::int64_t>(length, ALength);
  const TIdBytes* source = &ABuffer;
  TIdBytes copy;
  if (FIntercept != nullptr) {
    copy.assign(ABuffer.begin() + offset,
                ABuffer.begin() + offset + std::max<std::int64_t>(0, length));
    FIntercept->Send(copy);
    source = &copy;
    offset = 0;
    length = static_cast<std::int64_t>(copy.size());
  }
  while (length > 0) {
    FDeadline.Check();
    const int n = WriteRawData(*source, static_cast<int>(offset), static_cast<int>(length));
    if (n < 0) {
      const int err = CheckTransportError(n);
      // A write that timed out may have sent part of its bytes: the stream can no longer be
      // trusted, so the handler closes for a time-out too.
      FClosedGracefully = true;
      Close();
      RaiseTransportError(err);
      // A transport that does not raise for the number still ends the write.
      throw EIdClosedSocket();
    }
    if (n == 0) FClosedGracefully = true;
    CheckForDisconnect(true, false);
    // A zero-byte write never makes progress; do not spin when the check did not raise.
    if (n == 0) RaiseClosedGracefully();
    DoWork(wmWrite, n);
    offset += n;
    length -= n;
  }
}

void TIdIOHandler::Write(const std::string& AOut, const IIdTextEncoding* AByteEncoding) {
  if (AOut.empty()) return;
  Write(ChooseEncoding(AByteEncoding)->GetBytes(AOut));
}

void TIdIOHandler::Write(char AValue, const IIdTextEncoding* AByteEncoding) {
  Write(std::string(1, AValue), AByteEncoding);
}

void TIdIOHandler::Write(std::uint8_t AValue) {
  Write(TIdBytes{AValue});
}
void TIdIOHandler::Write(std::int16_t AValue, bool AConvert) {
  Write(NumberBytes(AValue, AConvert));
}
void TIdIOHandler::Write(std::uint16_t AValue, bool AConvert) {
  Write(NumberBytes(AValue, AConvert));
}
void TIdIOHandler::Write(std::int32_t AValue, bool AConvert) {
  Write(NumberBytes(AValue, AConvert));
}
void TIdIOHandler::Write(std::uint32_t AValue, bool AConvert) {
  Write(NumberBytes(AValue, AConvert));
}
void TIdIOHandler::Write(std::int64_t AValue, bool AConvert) {
  Write(NumberBytes(AValue, AConvert));
}
void TIdIOHandler::Write(std::uint64_t AValue, bool AConvert) {
  Write(NumberBytes(AValue, AConvert));
}

void TIdIOHandler::Write(const TStringList& AValue, bool AWriteLinesCount,
                         const IIdTextEncoding* AByteEncoding) {
  const bool opened_here = !WriteBufferingActive();
  if (opened_here) WriteBufferOpen(-1);
  try {
    if (AWriteLinesCount) Write(static_cast<std::int32_t>(AValue.Count()));
    for (const std::string& line : AValue.Lines()) WriteLn(line, AByteEncoding);
  } catch (...) {
    if (opened_here) WriteBufferCancel();
    throw;
  }
  if (opened_here) WriteBufferClose();
}

void TIdIOHandler::Write(TStream* AStream, std::int64_t ASize, bool AWriteByteCount) {
  if (AStream == nullptr) return;
  std::int64_t size;
  if (ASize < 0) {
    size = std::max<std::int64_t>(0, AStream->Size() - AStream->Position());
  } else if (ASize == 0) {
    AStream->SetPosition(0);
    size = AStream->Size();
  } else {
    size = ASize;
  }
  if (AWriteByteCount) {
    if (FLargeStream) {
      Write(static_cast<std::uint64_t>(size));
    } else {
      if (size > std::numeric_limits<std::int32_t>::max()) throw EIdIOHandlerRequiresLargeStream();
      Write(static_cast<std::int32_t>(size));
    }
  }
  BeginWork(wmWrite, size);
  try {
    TIdBytes chunk;
    while (size > 0) {
      const std::int64_t want = std::min<std::int64_t>(size, std::max(1, FSendBufferSize));
      chunk.resize(static_cast<std::size_t>(want));
      const std::int64_t got = AStream->Read(chunk.data(), want);
      if (got <= 0) throw EIdNoDataToRead();
      Write(chunk, static_cast<int>(got));
      size -= got;
    }
  } catch (...) {
    EndWork(wmWrite);
    throw;
  }
  EndWork(wmWrite);
}

void TIdIOHandler::WriteLn(const std::string& AOut, const IIdTextEncoding* AByteEncoding) {
  Write(AOut + EOL, AByteEncoding);
}

void TIdIOHandler::WriteLnRFC(const std::string& AOut, const IIdTextEncoding* AByteEncoding) {
  if (!AOut.empty() && AOut[0] == '.') {
    WriteLn("." + AOut, AByteEncoding);
  } else {
    WriteLn(AOut, AByteEncoding);
  }
}

void TIdIOHandler::WriteRFCStrings(const TStringList& AStrings, bool AWriteTerminator,
                                   const IIdTextEncoding* AByteEncoding) {
  for (const std::string& line : AStrings.Lines()) WriteLnRFC(line, AByteEncoding);
  if (AWriteTerminator) WriteLn(".", AByteEncoding);
}

std::int64_t TIdIOHandler::WriteFile(const std::string& AFile, bool) {
  std::FILE* file = std::fopen(AFile.c_str(), "rb");
  if (file == nullptr) throw EIdFileNotFound(Format("File \"%s\" not found", AFile.c_str()));
  TFileReadStream stream(file);
  const std::int64_t size = stream.Size();
  Write(&stream, 0, false);
  return size;
}

// ---------------------------------------------------------------------------------------------
// Write buffering

void TIdIOHandler::WriteBufferOpen(int AThreshold) {
  if (FWriteBuffer) {
    FWriteBuffer->Clear();
  } else if (FSpareWriteBuffer) {
    FWriteBuffer = std::move(FSpareWriteBuffer);
  } else {
    FWriteBuffer = std::make_unique<TIdBuffer>();
  }
  FWriteBufferThreshold = AThreshold;
}

void TIdIOHandler::WriteBufferFlush(int AByteCount) {
  if (!FWriteBuffer || FWriteBuffer->Size() == 0) return;
  if (AByteCount < 0 || AByteCount > FWriteBuffer->Size()) AByteCount = FWriteBuffer->Size();
  // The bytes go out of an array kept for the next flush (taken out of the handler while in
  // use), so a flush does not allocate.
  TIdBytes bytes;
  bytes.swap(FFlushBytes);
  FWriteBuffer->ExtractToBytes(bytes, AByteCount, false);
  WriteDirect(bytes, AByteCount);
  if (bytes.capacity() <= kKeptWriteStorage) bytes.swap(FFlushBytes);
}

void TIdIOHandler::RetireWriteBuffer() {
  if (!FWriteBuffer) return;
  FWriteBuffer->Clear();
  FSpareWriteBuffer = std::move(FWriteBuffer);
}

void TIdIOHandler::WriteBufferClose() {
  try {
    WriteBufferFlush(-1);
  } catch (...) {
    RetireWriteBuffer();
    throw;
  }
  RetireWriteBuffer();
}

void TIdIOHandler::WriteBufferClear() {
  if (FWriteBuffer) FWriteBuffer->Clear();
}

void TIdIOHandler::WriteBufferCancel() {
  RetireWriteBuffer();
}

// ---------------------------------------------------------------------------------------------
// Registry

namespace {
// The plain stack handler is registered and the default until something else is chosen.
void EnsureStackHandler(TRegistry& ARegistry) {
  if (!ARegistry.types.empty()) return;
  ARegistry.types.push_back(&typeid(TIdIOHandlerStack));
  ARegistry.factories.push_back([](TComponent* AOwner) -> std::unique_ptr<TIdIOHandler> {
    return std::make_unique<TIdIOHandlerStack>(AOwner);
  });
  ARegistry.throwers.push_back([] { throw static_cast<TIdIOHandlerStack*>(nullptr); });
  if (!ARegistry.default_factory) ARegistry.default_factory = ARegistry.factories.back();
}
}  // namespace

void TIdIOHandler::RegisterClass(Entry AEntry) {
  TRegistry& registry = Registry();
  std::lock_guard<std::mutex> guard(registry.lock);
  EnsureStackHandler(registry);
  for (const std::type_info* type : registry.types) {
    if (*type == *AEntry.Type) return;
  }
  registry.types.push_back(AEntry.Type);
  registry.factories.push_back(AEntry.Factory);
  registry.throwers.push_back(AEntry.ThrowNull);
}

void TIdIOHandler::SetDefaultEntry(Entry AEntry) {
  auto factory = AEntry.Factory;
  RegisterClass(std::move(AEntry));
  TRegistry& registry = Registry();
  std::lock_guard<std::mutex> guard(registry.lock);
  registry.default_factory = factory;
}

std::unique_ptr<TIdIOHandler> TIdIOHandler::MakeDefaultIOHandler(TComponent* AOwner) {
  std::function<std::unique_ptr<TIdIOHandler>(TComponent*)> factory;
  {
    TRegistry& registry = Registry();
    std::lock_guard<std::mutex> guard(registry.lock);
    EnsureStackHandler(registry);
    factory = registry.default_factory;
  }
  return factory(AOwner);
}

std::unique_ptr<TIdIOHandler> TIdIOHandler::TryMake(const std::function<bool(const Entry&)>& AMatch,
                                                    TComponent* AOwner) {
  std::function<std::unique_ptr<TIdIOHandler>(TComponent*)> factory;
  {
    TRegistry& registry = Registry();
    std::lock_guard<std::mutex> guard(registry.lock);
    EnsureStackHandler(registry);
    for (std::size_t i = registry.types.size(); i-- > 0;) {
      const Entry entry{registry.types[i], registry.factories[i], registry.throwers[i]};
      if (AMatch(entry)) {
        factory = registry.factories[i];
        break;
      }
    }
  }
  return factory ? factory(AOwner) : nullptr;
}

void TIdIOHandler::RaiseNoIOHandler(const char* AClassName) {
  throw EIdException(Format("No IOHandler of type %s is installed.", AClassName));
}

}  // namespace brv
