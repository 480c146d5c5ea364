// TIdLogFile: the connection log written to a file, opened for appending.
#pragma once

#include <string>

#include "http/brvIdLogBase.h"

namespace brv {

// The text of a logged block with its secrets replaced by "[redacted]": the signature of an
// Authorization or Proxy-Authorization header (the scheme and the AWS credential, which names
// the access key id, stay) and the value of X-Amz-Security-Token. Header names are matched
// without regard to case; lines end at a line break or at its replacement marker.
std::string RedactLogSecrets(const std::string& AText);

class TIdLogFile : public TIdLogBase {
 public:
  BRV_CLASS_NAME(TIdLogFile)
  explicit TIdLogFile(TComponent* AOwner = nullptr);
  // Switches logging off, which closes the file.
  ~TIdLogFile() override;

  const std::string& Filename() const { return FFilename; }
  // Raises EIdException "Unable to set Filename while log file is open." while open.
  void SetFilename(const std::string& AValue);
  // True while the file is open.
  bool IsOpen() const { return FFile >= 0; }

  // printf-style: the time stamp (with LogTime), the text (line breaks replaced with
  // ReplaceCRLF) and CR LF; switches logging on first.
  virtual void WriteFormattedLine(const char* AFormat, ...) __attribute__((format(printf, 2, 3)));

 protected:
  // Opens the file for appending, other writers excluded. A file it creates is readable and
  // writable by its owner only: it holds the raw exchange. Raises EFOpenError on failure, and
  // for a symbolic link or a file not owned by the effective user or open to group or others.
  void Open() override;
  void Close() override;
  void WriteStatusLine(const std::string& AText) override;
  void WriteReceivedLine(const std::string& ATimeStamp, const std::string& AData) override;
  // Writes the block with its secrets redacted (RedactLogSecrets).
  void WriteSentLine(const std::string& ATimeStamp, const std::string& AData) override;
  // Writes the text as 8-bit characters (a character above U+00FF as "?"); nothing when closed.
  virtual void WriteToLog(const std::string& AText);

 private:
  std::string FFilename;
  int FFile = -1;  // the open file, -1 while closed
};

}  // namespace brv
