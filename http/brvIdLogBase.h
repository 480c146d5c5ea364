// TIdLogBase: an intercept that logs the status of a connection and every block it sends and
// receives, each data line with a time stamp.
#pragma once

#include <string>

#include "transport/IdGlobal.h"
#include "transport/IdIntercept.h"

namespace brv {

class TIdLogBase : public TIdConnectionIntercept {
 public:
  BRV_CLASS_NAME(TIdLogBase)
  explicit TIdLogBase(TComponent* AOwner = nullptr);
  // Switches logging off (closing the log).
  ~TIdLogBase() override;

  void Connect(TComponent* AConnection) override;
  void Disconnect() override;
  void Receive(TIdBytes& VBuffer) override;
  void Send(TIdBytes& VBuffer) override;

  // Logging on; switching it opens or closes the log. Open failures propagate and leave it off.
  bool Active() const { return FActive; }
  virtual void SetActive(bool AValue);
  // Data lines carry the local date and time.
  bool LogTime() const { return FLogTime; }
  void SetLogTime(bool AValue) { FLogTime = AValue; }
  // Line breaks in logged data become "<EOL>", "<CR>" and "<LF>".
  bool ReplaceCRLF() const { return FReplaceCRLF; }
  void SetReplaceCRLF(bool AValue) { FReplaceCRLF = AValue; }

  // The time stamp of a data line: the local date and time, or "" with LogTime off.
  std::string TimeStamp() const;

 protected:
  virtual void WriteStatusLine(const std::string& AText) = 0;
  virtual void WriteReceivedLine(const std::string& ATimeStamp, const std::string& AData) = 0;
  virtual void WriteSentLine(const std::string& ATimeStamp, const std::string& AData) = 0;
  virtual void Open() {}
  virtual void Close() {}
  // The text of a block: each byte as the character of the same value, line breaks replaced
  // when ReplaceCRLF is on.
  std::string DataText(const TIdBytes& ABuffer) const;

  bool FActive = false;
  bool FLogTime = true;
  bool FReplaceCRLF = true;
};

// CR LF becomes "<EOL>", then a lone CR "<CR>", then a lone LF "<LF>".
std::string ReplaceLineBreaks(const std::string& AText);
// "yyyy-mm-dd hh:nn:ss" for a local date and time (the time left out at exactly midnight).
std::string FormatLogDateTime(double ALocalDateTime);

}  // namespace brv
