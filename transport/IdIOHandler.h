// TIdIOHandler: the abstract I/O handler. It turns a raw byte transport (supplied by a derived
// handler: a socket, a TLS session, a test double) into line, byte and stream reads with
// time-outs, writes with optional buffering, and the detection of a peer's graceful close.
//
// Time-outs are milliseconds: -1 (IdTimeoutDefault) means ReadTimeout, and a ReadTimeout of -1
// or 0 means no limit; -2 (IdTimeoutInfinite) means no limit; 0 means do not wait.
// Wherever an operation takes an optional encoding, nullptr means DefStringEncoding.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <typeinfo>
#include <vector>

#include "base/StringList.h"
#include "base/Streams.h"
#include "transport/IdBuffer.h"
#include "transport/IdComponent.h"
#include "transport/IdDeadline.h"
#include "transport/IdException.h"
#include "transport/IdGlobal.h"
#include "transport/IdIntercept.h"
#include "transport/IdTextEncoding.h"

namespace brv {

class TIdIOHandler : public TIdComponent {
 public:
  BRV_CLASS_NAME(TIdIOHandler)
  explicit TIdIOHandler(TComponent* AOwner = nullptr);
  // Closes the handler and frees both buffers.
  ~TIdIOHandler() override;

  // ---- properties ----
  // Stream byte counts travel as 64-bit instead of 32-bit.
  bool LargeStream() const { return FLargeStream; }
  void SetLargeStream(bool AValue) { FLargeStream = AValue; }
  // The peer closed, or a write or read failed hard.
  bool ClosedGracefully() const { return FClosedGracefully; }
  int ConnectTimeout() const { return FConnectTimeout; }
  void SetConnectTimeout(int AValue) { FConnectTimeout = AValue; }
  virtual std::string Destination() const { return FDestination; }
  virtual void SetDestination(const std::string& AValue) { FDestination = AValue; }
  const std::string& Host() const { return FHost; }
  virtual void SetHost(const std::string& AValue) { FHost = AValue; }
  int Port() const { return FPort; }
  virtual void SetPort(int AValue) { FPort = AValue; }
  // The bytes received and not yet read.
  TIdBuffer* InputBuffer() const { return FInputBuffer.get(); }
  // The intercept that sees every block read and written (not owned; forgotten when freed).
  TIdConnectionIntercept* Intercept() const { return FIntercept; }
  virtual void SetIntercept(TIdConnectionIntercept* AValue);
  int MaxCapturedLines() const { return FMaxCapturedLines; }
  void SetMaxCapturedLines(int AValue) { FMaxCapturedLines = AValue; }
  TIdMaxLineAction MaxLineAction() const { return FMaxLineAction; }
  void SetMaxLineAction(TIdMaxLineAction AValue) { FMaxLineAction = AValue; }
  int MaxLineLength() const { return FMaxLineLength; }
  void SetMaxLineLength(int AValue) { FMaxLineLength = AValue; }
  bool Opened() const { return FOpened; }
  // The last line read was cut at the maximum length.
  bool ReadLnSplit() const { return FReadLnSplit; }
  // The last line read ended by time-out.
  bool ReadLnTimedout() const { return FReadLnTimedOut; }
  int ReadTimeout() const { return FReadTimeOut; }
  void SetReadTimeout(int AValue) { FReadTimeOut = AValue; }
  // The deadline and cancellation of the work in progress, handed down by the connection.
  // Every wait of the handler ends with it: each read keeps its time-out but never waits past
  // the deadline, and a write waits at most ReadTimeout (when positive) and never past the
  // deadline. A wait that the deadline or a cancel ends closes the handler and raises
  // EIdDeadlineExceeded or EIdOperationCancelled; a look without waiting (time-out 0) never
  // raises for it.
  const TIdDeadline& Deadline() const { return FDeadline; }
  void SetDeadline(const TIdDeadline& AValue) { FDeadline = AValue; }
  // Size of one raw read.
  int RecvBufferSize() const { return FRecvBufferSize; }
  void SetRecvBufferSize(int AValue) { FRecvBufferSize = AValue; }
  // Chunk size when writing streams.
  int SendBufferSize() const { return FSendBufferSize; }
  void SetSendBufferSize(int AValue) { FSendBufferSize = AValue; }
  int WriteBufferThreshold() const { return FWriteBufferThreshold; }
  // Default encoding of the text operations; assigning nullptr selects the default kind.
  const IIdTextEncoding* DefStringEncoding() const { return FDefStringEncoding; }
  void SetDefStringEncoding(const IIdTextEncoding* AValue);

  // ---- the transport, supplied by derived handlers ----
  // Reads into VBuffer (which arrives with length RecvBufferSize); returns the bytes placed at
  // its start, 0 when the peer closed, or a negative value on error.
  virtual int ReadRawData(TIdBytes& VBuffer) = 0;
  // Sends ALength bytes of ABuffer from AOffset; returns the bytes taken (maybe fewer), 0 when
  // closed, or a negative value on error.
  virtual int WriteRawData(const TIdBytes& ABuffer, int AOffset, int ALength) = 0;
  // True while a transport exists.
  virtual bool RawSourceAvailable() = 0;
  // Maps a negative read or write result to an error number (10060 for a time-out); may raise.
  virtual int CheckTransportError(int ALastResult) = 0;
  // Raises the transport's exception for an error number.
  virtual void RaiseTransportError(int AError) = 0;
  virtual void AfterAccept() {}
  // True while the handler is open and the peer has not closed, or unread bytes remain.
  virtual bool Connected();
  // Counts the handler as disconnected when it was closed gracefully (releasing the transport)
  // or holds no transport; raises EIdConnClosedGracefully when disconnected,
  // ARaiseExceptionIfDisconnected is set and the input buffer is empty or AIgnoreBuffer is set.
  virtual void CheckForDisconnect(bool ARaiseExceptionIfDisconnected = true,
                                  bool AIgnoreBuffer = false) = 0;
  // True when new bytes arrived within ATimeout.
  virtual bool CheckForDataOnSource(int ATimeout = 0);
  virtual void Close();
  virtual void CloseGracefully() { FClosedGracefully = true; }
  virtual void Open();
  // Waits until the transport has data or the time-out passes.
  virtual bool Readable(int AMSec = IdTimeoutDefault);

  // ---- reading ----
  // The core read: one raw read into the input buffer. Returns the bytes read, 0 on close,
  // -1 on time-out.
  int FillInputBuffer(bool ARaiseExceptionIfDisconnected = true, int ATimeout = IdTimeoutDefault,
                      bool ARaiseExceptionOnTimeout = true);
  // A line ending at ATerminator (empty: LF, and then a CR before it is dropped too). On a
  // time-out returns "" with ReadLnTimedout set. AMaxLineLength < 0 means MaxLineLength.
  std::string ReadLn(const IIdTextEncoding* AByteEncoding = nullptr);
  std::string ReadLn(const std::string& ATerminator,
                     const IIdTextEncoding* AByteEncoding = nullptr);
  virtual std::string ReadLn(const std::string& ATerminator, int ATimeout, int AMaxLineLength = -1,
                             const IIdTextEncoding* AByteEncoding = nullptr);
  // ReadLn with MaxLineAction maSplit; AWasSplit tells whether the line was cut.
  std::string ReadLnSplit(bool& AWasSplit, const std::string& ATerminator = LF,
                          int ATimeout = IdTimeoutDefault, int AMaxLineLength = -1,
                          const IIdTextEncoding* AByteEncoding = nullptr);
  // A line of a dot-terminated block: VMsgEnd is set when the line equals ADelim; a leading
  // double dot loses one dot.
  std::string ReadLnRFC(bool& VMsgEnd, const std::string& ALineTerminator = LF,
                        const std::string& ADelim = ".",
                        const IIdTextEncoding* AByteEncoding = nullptr);
  // The first line that is not blank, trimmed; EIdReadLnWaitMaxAttemptsExceeded after
  // AFailCount blank lines.
  virtual std::string ReadLnWait(int AFailCount = 2147483647,
                                 const IIdTextEncoding* AByteEncoding = nullptr);
  // Reads AByteCount bytes (< 0: whatever arrives next; 0: nothing) into VBuffer.
  virtual void ReadBytes(TIdBytes& VBuffer, int AByteCount, bool AAppend = true);
  std::string ReadString(int ABytes, const IIdTextEncoding* AByteEncoding = nullptr);
  // AReadLinesCount < 0: a 32-bit line count in network order is read first.
  void ReadStrings(TStringList& ADest, int AReadLinesCount = -1,
                   const IIdTextEncoding* AByteEncoding = nullptr);
  // One character (as UTF-8 text).
  std::string ReadChar(const IIdTextEncoding* AByteEncoding = nullptr);
  std::uint8_t ReadByte();
  std::int16_t ReadInt16(bool AConvert = true);
  std::uint16_t ReadUInt16(bool AConvert = true);
  std::int32_t ReadInt32(bool AConvert = true);
  std::uint32_t ReadUInt32(bool AConvert = true);
  std::int64_t ReadInt64(bool AConvert = true);
  std::uint64_t ReadUInt64(bool AConvert = true);
  std::int16_t ReadSmallInt(bool AConvert = true) { return ReadInt16(AConvert); }
  std::uint16_t ReadWord(bool AConvert = true) { return ReadUInt16(AConvert); }
  std::int32_t ReadLongInt(bool AConvert = true) { return ReadInt32(AConvert); }
  std::uint32_t ReadLongWord(bool AConvert = true) { return ReadUInt32(AConvert); }
  // Reads AByteCount bytes into AStream (nullptr: dropped). AByteCount -1 without
  // AReadUntilDisconnect: the count is read from the connection first (64-bit with
  // LargeStream, else 32-bit, network order); a negative count reads until the peer closes.
  virtual void ReadStream(TStream* AStream, std::int64_t AByteCount = -1,
                          bool AReadUntilDisconnect = false);
  // Drops AByteCount bytes (must not be negative).
  void Discard(std::int64_t AByteCount);
  // Drops everything until the peer closes.
  void DiscardAll();
  // Everything until the peer closes, decoded.
  virtual std::string AllData(const IIdTextEncoding* AByteEncoding = nullptr);
  // Reads until AString arrives; returns the text before it (or including it, with AInclusive).
  std::string WaitFor(const std::string& AString, bool ARemoveFromBuffer = true,
                      bool AInclusive = false, const IIdTextEncoding* AByteEncoding = nullptr,
                      int ATimeout = IdTimeoutDefault);
  // Reads lines until ADelim into a stream or a string list.
  void Capture(TStream& ADest, const std::string& ADelim = ".", bool AUsesDotTransparency = true,
               const IIdTextEncoding* AByteEncoding = nullptr);
  void Capture(TStream& ADest, int& VLineCount, const std::string& ADelim = ".",
               bool AUsesDotTransparency = true, const IIdTextEncoding* AByteEncoding = nullptr);
  void Capture(TStringList& ADest, const std::string& ADelim = ".",
               bool AUsesDotTransparency = true, const IIdTextEncoding* AByteEncoding = nullptr);
  void Capture(TStringList& ADest, int& VLineCount, const std::string& ADelim = ".",
               bool AUsesDotTransparency = true, const IIdTextEncoding* AByteEncoding = nullptr);
  // Reads characters up to a line feed with simple line editing (backspace, tab), echoing them
  // (or AMask) when AEcho is set.
  virtual std::string InputLn(const std::string& AMask = "", bool AEcho = true, int ATabWidth = 8,
                              int AMaxLineLength = -1,
                              const IIdTextEncoding* AByteEncoding = nullptr);
  bool InputBufferIsEmpty() const { return FInputBuffer->Size() == 0; }
  // Decodes and removes everything buffered.
  std::string InputBufferAsString(const IIdTextEncoding* AByteEncoding = nullptr);
  // Moves AByteCount buffered bytes (-1: all) to the stream.
  void InputBufferToStream(TStream& AStream, int AByteCount = -1);

  // ---- writing ----
  // Writes ALength bytes of ABuffer from AOffset (negative: all after AOffset).
  virtual void Write(const TIdBytes& ABuffer, int ALength = -1, int AOffset = 0);
  virtual void Write(const std::string& AOut, const IIdTextEncoding* AByteEncoding = nullptr);
  void Write(const char* AOut, const IIdTextEncoding* AByteEncoding = nullptr) {
    Write(std::string(AOut), AByteEncoding);
  }
  // One character.
  void Write(char AValue, const IIdTextEncoding* AByteEncoding = nullptr);
  void Write(std::uint8_t AValue);
  void Write(std::int16_t AValue, bool AConvert = true);
  void Write(std::uint16_t AValue, bool AConvert = true);
  void Write(std::int32_t AValue, bool AConvert = true);
  void Write(std::uint32_t AValue, bool AConvert = true);
  void Write(std::int64_t AValue, bool AConvert = true);
  void Write(std::uint64_t AValue, bool AConvert = true);
  // Every line with WriteLn, after a 32-bit line count when AWriteLinesCount is set.
  virtual void Write(const TStringList& AValue, bool AWriteLinesCount = false,
                     const IIdTextEncoding* AByteEncoding = nullptr);
  // ASize < 0: from the position to the end; 0: the whole stream from its start. With
  // AWriteByteCount the count goes first (64-bit with LargeStream, else 32-bit).
  virtual void Write(TStream* AStream, std::int64_t ASize = 0, bool AWriteByteCount = false);
  // AOut followed by CR LF, in one write.
  virtual void WriteLn(const std::string& AOut = "",
                       const IIdTextEncoding* AByteEncoding = nullptr);
  // WriteLn with a leading dot doubled.
  virtual void WriteLnRFC(const std::string& AOut = "",
                          const IIdTextEncoding* AByteEncoding = nullptr);
  void WriteRFCStrings(const TStringList& AStrings, bool AWriteTerminator = true,
                       const IIdTextEncoding* AByteEncoding = nullptr);
  // Sends bytes at once, bypassing write buffering.
  void WriteDirect(const TIdBytes& ABuffer, int ALength = -1, int AOffset = 0);
  // Sends a file; returns its size. EIdFileNotFound when it does not exist.
  virtual std::int64_t WriteFile(const std::string& AFile, bool AEnableTransferFile = false);

  // ---- write buffering ----
  // Starts buffering writes; with AThreshold > 0 the buffer is flushed whenever it holds at
  // least that many bytes.
  virtual void WriteBufferOpen(int AThreshold);
  void WriteBufferOpen() { WriteBufferOpen(-1); }
  // Sends AByteCount buffered bytes (-1: all).
  virtual void WriteBufferFlush(int AByteCount);
  void WriteBufferFlush() { WriteBufferFlush(-1); }
  // Flushes everything and stops buffering (also when the flush fails).
  virtual void WriteBufferClose();
  // Empties the write buffer.
  virtual void WriteBufferClear();
  // Empties the write buffer and stops buffering.
  virtual void WriteBufferCancel();
  bool WriteBufferingActive() const { return FWriteBuffer != nullptr; }

  // Raises EIdConnClosedGracefully.
  [[noreturn]] void RaiseClosedGracefully();

  // ---- the registry of handler classes ----
  using TIdIOHandlerFactory = std::function<std::unique_ptr<TIdIOHandler>(TComponent* AOwner)>;
  // Registers class T once.
  template <class T>
  static void RegisterIOHandler() {
    RegisterClass(Entry::Make<T>());
  }
  // Makes class T the default (and registers it).
  template <class T>
  static void SetDefaultClass() {
    SetDefaultEntry(Entry::Make<T>());
  }
  // An instance of the default class.
  static std::unique_ptr<TIdIOHandler> MakeDefaultIOHandler(TComponent* AOwner = nullptr);
  // An instance of the most recently registered class deriving from TBase, or nullptr.
  template <class TBase>
  static std::unique_ptr<TIdIOHandler> TryMakeIOHandler(TComponent* AOwner = nullptr) {
    return TryMake([](const Entry& AEntry) { return AEntry.template DerivesFrom<TBase>(); },
                   AOwner);
  }
  // As TryMakeIOHandler, but raises EIdException "No IOHandler of type %s is installed.".
  template <class TBase>
  static std::unique_ptr<TIdIOHandler> MakeIOHandler(const char* ABaseClassName,
                                                     TComponent* AOwner = nullptr) {
    auto result = TryMakeIOHandler<TBase>(AOwner);
    if (!result) RaiseNoIOHandler(ABaseClassName);
    return result;
  }

 protected:
  void Notification(TComponent* AComponent, TOperation Operation) override;
  // Hands a block just received through the intercept (when there is one).
  void InterceptReceive(TIdBytes& VBuffer);
  // The encoding an operation uses: the given one, else DefStringEncoding, else ASCII.
  const IIdTextEncoding* ChooseEncoding(const IIdTextEncoding* AByteEncoding) const;
  void PerformCapture(TStream* AStreamDest, TStringList* AListDest, int& VLineCount,
                      const std::string& ADelim, bool AUsesDotTransparency,
                      const IIdTextEncoding* AByteEncoding);
  // Moves buffered bytes into the stream for ReadStream (nullptr: dropped); returns the count.
  std::int64_t MoveToStream(TStream* AStream, std::int64_t AMax);
  void ResolveTimeout(int& ATimeout) const;
  // The limit of one write in milliseconds: ReadTimeout when positive, else -1 (none).
  int WriteTimeout() const { return FReadTimeOut > 0 ? FReadTimeOut : -1; }
  // Runs AOperation; when the deadline or a cancel cuts it short, closes the handler (a failure
  // of the close does not hide the reason) before the exception goes on.
  template <class F>
  auto ClosingWhenCutShort(F&& AOperation);

  bool FLargeStream = false;
  bool FClosedGracefully = false;
  int FConnectTimeout = 0;
  std::string FDestination;
  std::string FHost;
  std::unique_ptr<TIdBuffer> FInputBuffer;
  TIdConnectionIntercept* FIntercept = nullptr;
  int FMaxCapturedLines = -1;
  TIdMaxLineAction FMaxLineAction = maException;
  int FMaxLineLength = IdMaxLineLengthDefault;
  bool FOpened = false;
  int FPort = 0;
  bool FReadLnSplit = false;
  bool FReadLnTimedOut = false;
  int FReadTimeOut = IdTimeoutDefault;
  TIdDeadline FDeadline;
  int FRecvBufferSize = GRecvBufferSizeDefault;
  int FSendBufferSize = GSendBufferSizeDefault;
  std::unique_ptr<TIdBuffer> FWriteBuffer;
  int FWriteBufferThreshold = 0;
  const IIdTextEncoding* FDefStringEncoding = nullptr;
  // The array raw reads land in, kept between reads.
  TIdBytes FRecvBuffer;
  // A closed write buffer and the array of the last flush, kept for the next request so that
  // buffered writing does not allocate each time (storage beyond kKeptWriteStorage is freed).
  std::unique_ptr<TIdBuffer> FSpareWriteBuffer;
  TIdBytes FFlushBytes;
  static constexpr std::size_t kKeptWriteStorage = 65536;
  // Ends write buffering, keeping the emptied buffer aside.
  void RetireWriteBuffer();

 private:
  int DoFillInputBuffer(bool ARaiseExceptionIfDisconnected, int ATimeout,
                        bool ARaiseExceptionOnTimeout);
  void DoWriteDirect(const TIdBytes& ABuffer, int ALength, int AOffset);

  // One registered handler class: how to make it and how to ask whether it derives from a
  // given class (by throwing a null pointer of the class and catching it as the base).
  struct Entry {
    const std::type_info* Type;
    TIdIOHandlerFactory Factory;
    void (*ThrowNull)();
    template <class T>
    static Entry Make() {
      return Entry{&typeid(T),
                   [](TComponent* AOwner) -> std::unique_ptr<TIdIOHandler> {
                     return std::make_unique<T>(AOwner);
                   },
                   [] { throw static_cast<T*>(nullptr); }};
    }
    template <class TBase>
    bool DerivesFrom() const {
      try {
        ThrowNull();
      } catch (TBase*) {
        return true;
      } catch (...) {
      }
      return false;
    }
  };
  static void RegisterClass(Entry AEntry);
  static void SetDefaultEntry(Entry AEntry);
  static std::unique_ptr<TIdIOHandler> TryMake(const std::function<bool(const Entry&)>& AMatch,
                                               TComponent* AOwner);
  [[noreturn]] static void RaiseNoIOHandler(const char* AClassName);
};

}  // namespace brv
