// Test support for the second TLS engine: a loopback TCP relay between the client under test
// and a real TLS server. It notes the TLS records each side sends, and can hand the server's
// bytes to the client in small pieces or hold the server's last handshake flight back until
// the first application data is there, so both arrive in one piece.
#pragma once

#include <atomic>
#include <cstddef>
#include <mutex>
#include <thread>
#include <vector>

namespace brv::schanneltest {

// One TLS record as it passed the relay: content type and body length.
struct Record {
  int Type = 0;
  int Length = 0;
  // Where the record ends in its direction's byte stream.
  std::size_t End = 0;
};

class Relay {
 public:
  struct Options {
    // More than 0: the server's bytes go to the client in pieces of at most this many bytes,
    // each sent on its own after a short pause.
    std::size_t ServerPiece = 0;
    // After the server's ChangeCipherSpec, hold its bytes until an application-data record
    // is complete, then send everything held at once (TLS 1.2 servers).
    bool HoldFinalFlight = false;
    // Flip the last byte of the server's first application-data record (TLS 1.2 servers,
    // where that is the first record after the handshake).
    bool CorruptServerData = false;
  };

  // Listens on a free loopback port and relays each connection to 127.0.0.1:ATargetPort.
  Relay(int ATargetPort, Options AOptions);
  ~Relay();
  Relay(const Relay&) = delete;
  Relay& operator=(const Relay&) = delete;

  int Port() const { return port_; }
  // The records the client and the server sent so far, over all connections.
  std::vector<Record> ClientRecords() const;
  std::vector<Record> ServerRecords() const;

 private:
  void AcceptLoop();
  void Pump(int AFrom, int ATo, bool AFromServer);

  int target_;
  Options options_;
  int listener_ = -1;
  int port_ = 0;
  std::atomic<bool> stopping_{false};
  std::thread acceptor_;
  mutable std::mutex mutex_;
  std::vector<std::thread> pumps_;
  std::vector<int> sockets_;
  std::vector<Record> client_records_;
  std::vector<Record> server_records_;
};

}  // namespace brv::schanneltest
