// Drives the Schannel engine against a real server with blocking sockets,
// receiving at most CHUNK bytes at a time so that records arrive cut at
// every kind of place, and prints what it saw (UTF-8, one "key<TAB>value"
// a line).
//   tlsprobe HOST PORT tls|stls|raw CHUNK [COMMAND...]
// (raw: TLS from the first byte, with no greeting to wait for).
// Each COMMAND is sent as one line after the handshake (and the greeting);
// the reply lines are printed as "reply<TAB>...". A command "BIG" sends 3,000
// NOOPs in one write, which takes several records.
#include <winsock2.h>
#include <ws2tcpip.h>

#include <memory>
#include <string>

#include "common/tls_policy.h"
#include "common/win32/registry_store.h"
#include "common/win32/schannel.h"

using tarvi::Text;
using tarvi::TlsStatus;

namespace {

double millisecondsSince(const LARGE_INTEGER& start) {
  LARGE_INTEGER now, freq;
  QueryPerformanceCounter(&now);
  QueryPerformanceFrequency(&freq);
  return 1000.0 * static_cast<double>(now.QuadPart - start.QuadPart) / static_cast<double>(freq.QuadPart);
}

void out(const std::string& s) {
  DWORD written = 0;
  WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), s.data(), static_cast<DWORD>(s.size()), &written, nullptr);
}
void line(const std::string& key, const Text& value) { out(key + "\t" + tarvi::toUtf8(value) + "\n"); }
void line(const std::string& key, const std::string& value) { out(key + "\t" + value + "\n"); }

struct Link {
  SOCKET s = INVALID_SOCKET;
  int chunk = 1;
  bool send(const std::string& data) {
    for (std::size_t at = 0; at < data.size();) {
      const int n = ::send(s, data.data() + at, static_cast<int>(data.size() - at), 0);
      if (n <= 0) return false;
      at += static_cast<std::size_t>(n);
    }
    return true;
  }
  bool recv(std::string& into) {
    char buf[65536];
    const int n = ::recv(s, buf, std::min<int>(chunk, sizeof buf), 0);
    if (n <= 0) return false;
    into.append(buf, static_cast<std::size_t>(n));
    return true;
  }
};

// Reads plain lines until one starting with +OK or -ERR.
bool plainReply(Link& link, std::string& pending, std::string& reply) {
  for (;;) {
    const auto eol = pending.find("\r\n");
    if (eol != std::string::npos) {
      reply = pending.substr(0, eol);
      pending.erase(0, eol + 2);
      return true;
    }
    if (!link.recv(pending)) return false;
  }
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc < 5) return 2;
  WSADATA wsa;
  WSAStartup(MAKEWORD(2, 2), &wsa);
  const std::string host = tarvi::toUtf8(tarvi::win32::fromWide(argv[1]));
  const std::string port = tarvi::toUtf8(tarvi::win32::fromWide(argv[2]));
  const bool stls = std::wstring(argv[3]) == L"stls";
  const bool greeting = std::wstring(argv[3]) == L"tls";
  Link link;
  link.chunk = _wtoi(argv[4]);
  addrinfo hints{}, *found = nullptr;
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_STREAM;
  if (getaddrinfo(host.c_str(), port.c_str(), &hints, &found) != 0) return 3;
  link.s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  if (connect(link.s, found->ai_addr, static_cast<int>(found->ai_addrlen)) != 0) return 3;
  freeaddrinfo(found);

  std::string pending, reply;
  if (stls) {
    if (!plainReply(link, pending, reply) || !link.send("STLS\r\n") || !plainReply(link, pending, reply)) return 4;
    line("stls", reply);
    if (reply.rfind("+OK", 0) != 0) return 4;
  }
  LARGE_INTEGER started;
  QueryPerformanceCounter(&started);
  tarvi::win32::SchannelFactory factory;
  std::unique_ptr<tarvi::TlsEngine> tls = factory.create();
  std::string send;
  TlsStatus st = tls->start(host, send);
  int receives = 0;
  while (st == TlsStatus::NeedMore) {
    if (!send.empty() && !link.send(send)) return 5;
    send.clear();
    if (pending.empty() || st == TlsStatus::NeedMore) {
      if (!link.recv(pending)) break;
      ++receives;
    }
    st = tls->handshake(pending, send);
  }
  if (!send.empty()) link.send(send);
  if (st != TlsStatus::Done) {
    line("error", tls->lastError());
    return 6;
  }
  line("handshake", std::to_string(receives) + " receives");
  line("handshake_ms", std::to_string(millisecondsSince(started)));
  line("protocol", tls->protocol());
  LARGE_INTEGER checking;
  QueryPerformanceCounter(&checking);
  const tarvi::CertificateReport cert = tls->certificate();
  line("certificate_ms", std::to_string(millisecondsSince(checking)));
  // Once more: the first check of a process also loads the root store.
  QueryPerformanceCounter(&checking);
  tls->certificate();
  line("certificate_again_ms", std::to_string(millisecondsSince(checking)));
  line("subject", cert.subject);
  line("issuer", cert.issuer);
  line("valid", cert.validFrom + u" - " + cert.validTo);
  line("sha256", cert.sha256);
  line("problems", std::string(cert.untrusted ? "untrusted " : "") + (cert.nameMismatch ? "name " : "") +
                       (cert.expired ? "expired " : "") + (cert.revoked ? "revoked " : ""));
  line("accepted", tarvi::certificateAccepted(cert, "") ? "yes" : "no");

  // Plain text from here on: `pending` may already hold records.
  std::string plain;
  auto readLine = [&](std::string& got) {
    for (;;) {
      const auto eol = plain.find("\r\n");
      if (eol != std::string::npos) {
        got = plain.substr(0, eol);
        plain.erase(0, eol + 2);
        return true;
      }
      const TlsStatus d = tls->decrypt(pending, plain);
      if (d == TlsStatus::Failed) {
        line("error", tls->lastError());
        return false;
      }
      if (d == TlsStatus::Closed) {
        line("closed", "");
        return false;
      }
      if (plain.find("\r\n") == std::string::npos && !link.recv(pending)) return false;
    }
  };
  if (greeting) {
    if (!readLine(reply)) return 7;
    line("greeting", reply);
  }
  for (int i = 5; i < argc; ++i) {
    std::string cmd = tarvi::toUtf8(tarvi::win32::fromWide(argv[i])) + "\r\n";
    // BIG: more than one record's worth in one write, as pipelined NOOPs
    // (a server drops a connection whose single line is that long).
    int replies = 1;
    if (cmd == "BIG\r\n") {
      replies = 3000;
      cmd.clear();
      for (int n = 0; n < replies; ++n) cmd += "NOOP\r\n";
    }
    std::string sealed;
    if (!tls->encrypt(cmd, sealed) || !link.send(sealed)) {
      line("error", tls->lastError());
      return 8;
    }
    int accepted = 0;
    for (int n = 0; n < replies; ++n) {
      if (!readLine(reply)) return 9;
      if (reply.rfind("+OK", 0) == 0) ++accepted;
    }
    line("reply", replies == 1 ? reply.substr(0, 200) : std::to_string(accepted) + " of " + std::to_string(replies) + " accepted");
  }
  std::string bye;
  tls->shutdown(bye);
  link.send(bye);
  line("shutdown", std::to_string(bye.size()) + " bytes");
  closesocket(link.s);
  return 0;
}
