#include "tls/private/OpenSSLSocketBIO.h"

#include <sys/socket.h>

#include <cerrno>

namespace brv::ossl {
namespace {

SocketBIOState* StateOf(BIO* bio) {
  return static_cast<SocketBIOState*>(API().BIO_get_data(bio));
}

bool WouldBlock(int err) {
  return err == EAGAIN || err == EWOULDBLOCK || err == EINTR;
}

int SocketWrite(BIO* bio, const char* data, int length) {
  const Functions& api = API();
  SocketBIOState* state = StateOf(bio);
  api.BIO_clear_flags(
      bio, BIO_FLAGS_READ | BIO_FLAGS_WRITE | BIO_FLAGS_IO_SPECIAL | BIO_FLAGS_SHOULD_RETRY);
  if (state == nullptr || state->fd < 0) return -1;
  const ssize_t n =
      ::send(state->fd, data, static_cast<size_t>(length), MSG_NOSIGNAL | MSG_DONTWAIT);
  if (n >= 0) return static_cast<int>(n);
  const int err = errno;
  if (WouldBlock(err)) {
    api.BIO_set_flags(bio, BIO_FLAGS_WRITE | BIO_FLAGS_SHOULD_RETRY);
  } else {
    state->last_error = err;
  }
  return -1;
}

int SocketRead(BIO* bio, char* data, int length) {
  const Functions& api = API();
  SocketBIOState* state = StateOf(bio);
  api.BIO_clear_flags(
      bio, BIO_FLAGS_READ | BIO_FLAGS_WRITE | BIO_FLAGS_IO_SPECIAL | BIO_FLAGS_SHOULD_RETRY);
  if (state == nullptr || state->fd < 0 || data == nullptr) return -1;
  if (state->hold_reads) {
    api.BIO_set_flags(bio, BIO_FLAGS_READ | BIO_FLAGS_SHOULD_RETRY);
    return -1;
  }
  const ssize_t n = ::recv(state->fd, data, static_cast<size_t>(length), MSG_DONTWAIT);
  if (n >= 0) return static_cast<int>(n);
  const int err = errno;
  if (WouldBlock(err)) {
    api.BIO_set_flags(bio, BIO_FLAGS_READ | BIO_FLAGS_SHOULD_RETRY);
  } else {
    state->last_error = err;
  }
  return -1;
}

long SocketCtrl(BIO* /*bio*/, int cmd, long /*num*/, void* /*ptr*/) {
  // Writes go straight to the socket, so a flush has nothing to do; every other request is
  // one this BIO does not support.
  return cmd == BIO_CTRL_FLUSH ? 1 : 0;
}

int SocketCreate(BIO* bio) {
  API().BIO_set_init(bio, 1);
  return 1;
}

int SocketDestroy(BIO* bio) {
  // The state belongs to the TLS connection object; the socket to the binding.
  if (bio != nullptr) API().BIO_set_data(bio, nullptr);
  return 1;
}

}  // namespace

BIO_METHOD* CreateSocketBIOMethod(const Functions& api) {
  const int index = api.BIO_get_new_index();
  if (index < 0) return nullptr;
  BIO_METHOD* method =
      api.BIO_meth_new(index | BIO_TYPE_SOURCE_SINK | BIO_TYPE_DESCRIPTOR, "brv socket");
  if (method == nullptr) return nullptr;
  api.BIO_meth_set_write(method, &SocketWrite);
  api.BIO_meth_set_read(method, &SocketRead);
  api.BIO_meth_set_ctrl(method, &SocketCtrl);
  api.BIO_meth_set_create(method, &SocketCreate);
  api.BIO_meth_set_destroy(method, &SocketDestroy);
  return method;
}

void FreeSocketBIOMethod(const Functions& api, BIO_METHOD* method) {
  if (method != nullptr) api.BIO_meth_free(method);
}

BIO* NewSocketBIO(SocketBIOState* state) {
  const BIO_METHOD* method = SocketBIOMethod();
  if (method == nullptr) return nullptr;
  BIO* bio = API().BIO_new(method);
  if (bio != nullptr) API().BIO_set_data(bio, state);
  return bio;
}

}  // namespace brv::ossl
