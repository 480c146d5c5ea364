#include "http/brvIdLogFile.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdarg>
#include <cstring>
#include <string_view>
#include <vector>

#include "base/Exception.h"
#include "transport/IdTextEncoding.h"

namespace brv {

namespace {

bool StartsWithNoCase(std::string_view Text, std::string_view Prefix) {
  if (Text.size() < Prefix.size()) return false;
  for (size_t i = 0; i < Prefix.size(); ++i) {
    char c = Text[i];
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    if (c != Prefix[i]) return false;
  }
  return true;
}

// Where the line that starts at Pos ends: at a line break, or at the marker that stands for
// one once line breaks are replaced.
size_t LineEnd(const std::string& Text, size_t Pos) {
  size_t end = Text.find_first_of("\r\n", Pos);
  for (const char* marker : {"<EOL>", "<CR>", "<LF>"}) end = std::min(end, Text.find(marker, Pos));
  return end == std::string::npos ? Text.size() : end;
}

// The redacted value of an authorization header: its scheme, and of a signed AWS request also
// the credential (access key id and scope) and the signed header names; never the signature.
std::string RedactAuthorization(std::string_view Value) {
  const size_t start = Value.find_first_not_of(' ');
  if (start == std::string_view::npos) return std::string(Value);
  const size_t signature = Value.find("Signature=");
  if (Value.find("Credential=") != std::string_view::npos && signature != std::string_view::npos)
    return std::string(Value.substr(0, signature)) + "Signature=[redacted]";
  const size_t scheme_end = Value.find(' ', start);
  return std::string(Value.substr(0, scheme_end)) + " [redacted]";
}

}  // namespace

std::string RedactLogSecrets(const std::string& AText) {
  static constexpr std::string_view kAuthorizations[] = {"authorization:", "proxy-authorization:"};
  static constexpr std::string_view kToken = "x-amz-security-token:";
  std::string out;
  size_t pos = 0;
  while (pos < AText.size()) {
    const size_t end = LineEnd(AText, pos);
    const std::string_view line(AText.data() + pos, end - pos);
    std::string redacted(line);
    for (const std::string_view name : kAuthorizations) {
      if (StartsWithNoCase(line, name))
        redacted = std::string(line.substr(0, name.size())) +
                   RedactAuthorization(line.substr(name.size()));
    }
    if (StartsWithNoCase(line, kToken))
      redacted = std::string(line.substr(0, kToken.size())) + " [redacted]";
    out += redacted;
    // The line break (or its marker) as it stands.
    size_t next = end;
    if (next < AText.size()) {
      if (AText[next] == '<')
        next = AText.find('>', next) + 1;
      else
        next += (AText.compare(next, 2, "\r\n") == 0) ? 2 : 1;
    }
    out.append(AText, end, next - end);
    pos = next;
  }
  return out;
}

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
  // The log receives the raw exchange: it is never reached through a symbolic link, and a file
  // that others can read or that belongs to someone else is not used.
  const int fd = ::open(name, O_RDWR | O_CREAT | O_APPEND | O_CLOEXEC | O_NOFOLLOW, 0600);
  if (fd < 0 && errno == ELOOP)
    throw EFOpenError(
        Format("Cannot open file \"%s\". It is a symbolic link, which a log never follows.", name));
  if (fd < 0)
    throw EFOpenError(
        Format(exists ? "Cannot open file \"%s\". %s" : "Cannot create file \"%s\". %s", name,
               std::strerror(errno)));
  struct stat st {};
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_uid != ::geteuid() ||
      (st.st_mode & 077) != 0) {
    ::close(fd);
    throw EFOpenError(
        Format("Cannot open file \"%s\". A log must be a regular file of your own that neither "
               "group nor others may use (chmod 600).",
               name));
  }
  if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
    ::close(fd);
    throw EFOpenError(
        Format("Cannot open file \"%s\". The file is being written by another process.", name));
  }
  FFile = fd;
}

void TIdLogFile::Close() {
  if (FFile >= 0) {
    ::close(FFile);  // also releases the lock
    FFile = -1;
  }
}

void TIdLogFile::WriteStatusLine(const std::string& AText) {
  WriteToLog("Stat " + AText + "\r\n");
}

void TIdLogFile::WriteReceivedLine(const std::string& ATimeStamp, const std::string& AData) {
  WriteToLog("Recv " + ATimeStamp + ": " + AData + "\r\n");
}

void TIdLogFile::WriteSentLine(const std::string& ATimeStamp, const std::string& AData) {
  WriteToLog("Sent " + ATimeStamp + ": " + RedactLogSecrets(AData) + "\r\n");
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
