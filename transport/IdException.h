// The transport's exceptions, all below EIdException, with their fixed messages.
#pragma once

#include <string>

#include "base/Exception.h"

namespace brv {

// --- connection state (I/O handler) ---
BRV_DECLARE_EXCEPTION(EIdConnClosedGracefully, EIdSilentException, "Connection Closed Gracefully.");
BRV_DECLARE_EXCEPTION(EIdNotConnected, EIdException, "Not Connected");
BRV_DECLARE_EXCEPTION(EIdClosedSocket, EIdException, "Disconnected.");
BRV_DECLARE_EXCEPTION(EIdReadTimeout, EIdException, "Read timed out.");
BRV_DECLARE_EXCEPTION(EIdReadLnMaxLineLengthExceeded, EIdException, "Max line length exceeded.");
BRV_DECLARE_EXCEPTION(EIdReadLnWaitMaxAttemptsExceeded, EIdException,
                      "Max line read attempts exceeded.");
BRV_DECLARE_EXCEPTION(EIdMaxCaptureLineExceeded, EIdException,
                      "Maximum number of line allowed exceeded");
// Intermediate classes without a message of their own.
BRV_DECLARE_EXCEPTION(EIdIOHandler, EIdException, "");
BRV_DECLARE_EXCEPTION(EIdTCPConnectionError, EIdException, "");
BRV_DECLARE_EXCEPTION(EIdIOHandlerRequiresLargeStream, EIdIOHandler,
                      "Set LargeStream to True to send streams greater than 2GB");
BRV_DECLARE_EXCEPTION(EIdIOHandlerStreamDataTooLarge, EIdIOHandler, "Data is too large for stream");
BRV_DECLARE_EXCEPTION(EIdNoDataToRead, EIdTCPConnectionError, "No data to read.");
BRV_DECLARE_EXCEPTION(EIdObjectTypeNotSupported, EIdTCPConnectionError,
                      "Object type not supported.");
// Message "File \"%s\" not found" filled by the raiser.
BRV_DECLARE_EXCEPTION(EIdFileNotFound, EIdTCPConnectionError, "");

// --- buffer, encodings, intercepts ---
BRV_DECLARE_EXCEPTION(EIdTooMuchDataInBuffer, EIdException, "Too much data in buffer.");
// Message "Not enough data in buffer. (%d/%d)" filled by the raiser.
BRV_DECLARE_EXCEPTION(EIdNotEnoughDataInBuffer, EIdException, "");
// Message "%s: Circular links are not allowed" filled by the raiser.
BRV_DECLARE_EXCEPTION(EIdInterceptCircularLink, EIdException, "");

// --- socket stack ---
// A failing socket call: the error number (in the stack's numbering) and its text.
class EIdSocketError : public EIdException {
 public:
  EIdSocketError(int AErr, std::string AMessage)
      : EIdException(std::move(AMessage)), FLastError(AErr) {}
  const char* ClassName() const noexcept override { return "EIdSocketError"; }
  int LastError() const noexcept { return FLastError; }

 private:
  int FLastError;
};
// Error 10038: the handle is not a socket.
BRV_DECLARE_EXCEPTION(EIdNotASocket, EIdSocketError);
BRV_DECLARE_EXCEPTION(EIdStackError, EIdException, "");
BRV_DECLARE_EXCEPTION(EIdIPVersionUnsupported, EIdStackError,
                      "The requested IPVersion / Address family is not supported.");
BRV_DECLARE_EXCEPTION(EIdStackInitializationFailed, EIdStackError, "");
BRV_DECLARE_EXCEPTION(EIdStackSetSizeExceeded, EIdStackError, "Set Size Exceeded.");
BRV_DECLARE_EXCEPTION(EIdInvalidServiceName, EIdException, "");
// Message "%s is not a valid IPv6 address" filled by the raiser.
BRV_DECLARE_EXCEPTION(EIdInvalidIPv6Address, EIdException, "");

// --- socket handle ---
BRV_DECLARE_EXCEPTION(EIdSocketHandleError, EIdException, "");
BRV_DECLARE_EXCEPTION(EIdCouldNotBindSocket, EIdSocketHandleError, "Could not bind socket.");
// Message "Can not bind in port range (%d - %d)" filled by the raiser.
BRV_DECLARE_EXCEPTION(EIdCanNotBindPortInRange, EIdSocketHandleError, "");
// Message "Invalid Port Range (%d - %d)" filled by the raiser.
BRV_DECLARE_EXCEPTION(EIdInvalidPortRange, EIdSocketHandleError, "");
BRV_DECLARE_EXCEPTION(EIdCannotSetIPVersionWhenConnected, EIdSocketHandleError,
                      "Cannot change IPVersion when connected");
BRV_DECLARE_EXCEPTION(EIdPackageSizeTooBig, EIdSocketHandleError, "Package Size Too Big.");
BRV_DECLARE_EXCEPTION(EIdNotAllBytesSent, EIdSocketHandleError, "Not all bytes sent.");

// --- TCP client ---
BRV_DECLARE_EXCEPTION(EIdAlreadyConnected, EIdException, "Already connected.");
BRV_DECLARE_EXCEPTION(EIdHostRequired, EIdException, "A Host is required");
BRV_DECLARE_EXCEPTION(EIdPortRequired, EIdException, "A Port is required");
BRV_DECLARE_EXCEPTION(EIdConnectTimeout, EIdException, "Connect timed out.");
BRV_DECLARE_EXCEPTION(EIdConnectException, EIdException, "");

}  // namespace brv
