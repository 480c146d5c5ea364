#include "http/brvIdLogFile.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <cstdarg>
#include <cstring>
#include <vector>

#include "base/Exception.h"
#include "transport/IdTextEncoding.h"

namespace brv {

TIdLogFile::TIdLogFile(TComponent* AOwner) : TIdLogBase(AOwner) {}

TIdLogFile::~TIdLogFile() {
  try {
    SetActive(false);
  } catch (...) {
  }
  Close();
}

void TIdLogFile::SetFilename(const std::string& AValue) {
  if (IsOpen()) throw EIdException("Unable to set Filename while log file is open.");
  FFilename = AValue;
}

void TIdLogFile::Open() {
  if (ComponentState() & csDesigning) return;
  const char* name = FFilename.c_str();
  const bool exists = !FFilename.empty() && ::access(name, F_OK) == 0;
  const int fd = ::open(name, O_RDWR | O_CREAT | O_APPEND | O_CLOEXEC, 0600);
  if (fd < 0)
    throw EFOpenError(Format(exists ? "Cannot open file \"%s\". %s" : "Cannot create file \"%s\". %s",
                             name, std::strerror(errno)));
  if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
    ::close(fd);
    throw EFOpenError(Format(
        "Cannot open file \"%s\". The file is being written by another process.", name));
  }
  FFile = fd;
}

void TIdLogFile::Close() {
  if (FFile >= 0) {
    ::close(FFile);  // also releases the lock
    FFile = -1;
  }
}

void TIdLogFile::WriteStatusLine(const std::string& AText) { WriteToLog("Stat " + AText + "\r\n"); }

void TIdLogFile::WriteReceivedLine(const std::string& ATimeStamp, const std::string& AData) {
  WriteToLog("Recv " + ATimeStamp + ": " + AData + "\r\n");
}

void TIdLogFile::WriteSentLine(const std::string& ATimeStamp, const std::string& AData) {
  WriteToLog("Sent " + ATimeStamp + ": " + AData + "\r\n");
}

void TIdLogFile::WriteFormattedLine(const char* AFormat, ...) {
  if (!Active()) SetActive(true);
  va_list args;
  va_start(args, AFormat);
  va_list copy;
  va_copy(copy, args);
  const int needed = std::vsnprintf(nullptr, 0, AFormat, copy);
  va_end(copy);
  std::string text;
  if (needed > 0) {
    std::vector<char> buf(static_cast<size_t>(needed) + 1);
    std::vsnprintf(buf.data(), buf.size(), AFormat, args);
    text.assign(buf.data(), static_cast<size_t>(needed));
  }
  va_end(args);
  if (FReplaceCRLF) text = ReplaceLineBreaks(text);
  WriteToLog((FLogTime ? TimeStamp() + " " : std::string()) + text + "\r\n");
}

void TIdLogFile::WriteToLog(const std::string& AText) {
  if (FFile < 0) return;
  const TIdBytes bytes = IndyTextEncoding_8Bit()->GetBytes(AText);
  size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = ::write(FFile, bytes.data() + done, bytes.size() - done);
    if (n < 0) {
      if (errno == EINTR) continue;
      throw EStreamError(Format("Stream write error: %s", std::strerror(errno)));
    }
    done += static_cast<size_t>(n);
  }
}

}  // namespace brv
