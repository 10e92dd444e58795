#include "common/win32/schannel.h"

#include <windows.h>
#define SECURITY_WIN32
#include <bcrypt.h>
// The newer credentials (SCH_CREDENTIALS, for TLS 1.3) are declared only
// with this, and need UNICODE_STRING from subauth.h.
#define SCHANNEL_USE_BLACKLISTS
#include <subauth.h>
#include <schannel.h>
#include <security.h>
#include <sspi.h>
#include <wincrypt.h>

#include <cstdio>
#include <cstring>
#include <vector>

#include "common/win32/registry_store.h"

namespace tarvi::win32 {
namespace {

// The handshake asks for a stream of records and leaves the certificate to
// us: Windows would refuse a certificate it does not trust before we could
// tell the user why, and Wine refuses none.
constexpr ULONG kContextFlags = ISC_REQ_SEQUENCE_DETECT | ISC_REQ_REPLAY_DETECT | ISC_REQ_CONFIDENTIALITY |
                                ISC_REQ_ALLOCATE_MEMORY | ISC_REQ_STREAM | ISC_REQ_EXTENDED_ERROR |
                                ISC_REQ_MANUAL_CRED_VALIDATION | ISC_REQ_USE_SUPPLIED_CREDS;

// wininet.h's flags of the SSL chain policy, not declared by the headers we
// may include here.
constexpr DWORD kIgnoreRevocation = 0x00000080;
constexpr DWORD kIgnoreUnknownCa = 0x00000100;
constexpr DWORD kIgnoreWrongUsage = 0x00000200;
constexpr DWORD kIgnoreDateInvalid = 0x00002000;

// A handshake step that produces nothing but asks to go on again without
// new input would loop for ever; real handshakes take a handful of steps.
constexpr int kMaxStepsPerCall = 64;

Text hexStatus(SECURITY_STATUS s) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "0x%08lX", static_cast<unsigned long>(s));
  return ascii(buf);
}

const char16_t* describe(SECURITY_STATUS s) {
  switch (s) {
    case SEC_E_ILLEGAL_MESSAGE:
    case SEC_E_INVALID_TOKEN:
      return u"ｻｰﾊﾞから正しくないTLSのﾃﾞｰﾀを受け取りました";
    case SEC_E_ALGORITHM_MISMATCH:
    case SEC_E_UNSUPPORTED_FUNCTION:
      return u"ｻｰﾊﾞと共通に使えるTLSのﾊﾞｰｼﾞｮﾝか暗号方式がありません";
    case SEC_E_DECRYPT_FAILURE:
    case SEC_E_MESSAGE_ALTERED:
      return u"受け取ったﾃﾞｰﾀを復号できませんでした(改ざんの恐れ)";
    case SEC_E_INCOMPLETE_CREDENTIALS:
    case SEC_I_INCOMPLETE_CREDENTIALS:
      return u"ｻｰﾊﾞがｸﾗｲｱﾝﾄ証明書を求めました(未対応)";
    case SEC_E_NO_CREDENTIALS:
    case SEC_E_UNKNOWN_CREDENTIALS:
    case SEC_E_NO_AUTHENTICATING_AUTHORITY:
      return u"TLSを使う準備ができませんでした";
    case SEC_I_RENEGOTIATE:
      return u"ｻｰﾊﾞがTLSのやり直しを求めました(未対応)";
    case SEC_E_CONTEXT_EXPIRED:
      return u"TLSの接続は既に閉じられています";
    default:
      return u"TLSの処理に失敗しました";
  }
}

// "YYYY/MM/DD hh:mm" in local time.
Text localTime(const FILETIME& ft) {
  SYSTEMTIME utc{}, local{};
  if (!FileTimeToSystemTime(&ft, &utc)) return u"";
  if (!SystemTimeToTzSpecificLocalTime(nullptr, &utc, &local)) local = utc;
  char buf[32];
  std::snprintf(buf, sizeof buf, "%04u/%02u/%02u %02u:%02u", local.wYear, local.wMonth, local.wDay, local.wHour,
                local.wMinute);
  return ascii(buf);
}

Text nameText(CERT_NAME_BLOB* name) {
  const DWORD type = CERT_X500_NAME_STR | CERT_NAME_STR_REVERSE_FLAG;
  const DWORD n = CertNameToStrW(X509_ASN_ENCODING, name, type, nullptr, 0);
  if (n <= 1) return u"";
  std::wstring s(n, L'\0');
  CertNameToStrW(X509_ASN_ENCODING, name, type, s.data(), n);
  s.resize(n - 1);
  return fromWide(s);
}

std::string sha256Hex(const BYTE* data, DWORD size) {
  BCRYPT_ALG_HANDLE alg = nullptr;
  BCRYPT_HASH_HANDLE hash = nullptr;
  unsigned char digest[32];
  bool ok = BCryptOpenAlgorithmProvider(&alg, BCRYPT_SHA256_ALGORITHM, nullptr, 0) == 0 &&
            BCryptCreateHash(alg, &hash, nullptr, 0, nullptr, 0, 0) == 0 &&
            BCryptHashData(hash, const_cast<BYTE*>(data), size, 0) == 0 &&
            BCryptFinishHash(hash, digest, sizeof digest, 0) == 0;
  if (hash) BCryptDestroyHash(hash);
  if (alg) BCryptCloseAlgorithmProvider(alg, 0);
  if (!ok) return "";
  static const char kHex[] = "0123456789abcdef";
  std::string r;
  for (unsigned char b : digest) {
    r += kHex[b >> 4];
    r += kHex[b & 15];
  }
  return r;
}

// The SSL policy's verdict on the chain for `host`; `ignore` are the
// checks to leave out.
DWORD sslPolicyError(PCCERT_CHAIN_CONTEXT chain, std::wstring& host, DWORD ignore) {
  SSL_EXTRA_CERT_CHAIN_POLICY_PARA ssl{};
  ssl.cbSize = sizeof ssl;
  ssl.dwAuthType = AUTHTYPE_SERVER;
  ssl.fdwChecks = ignore;
  ssl.pwszServerName = host.data();
  CERT_CHAIN_POLICY_PARA para{};
  para.cbSize = sizeof para;
  // Revocation that could not be checked is no finding: only a revocation
  // known (from what Windows has cached) counts.
  para.dwFlags = CERT_CHAIN_POLICY_IGNORE_ALL_REV_UNKNOWN_FLAGS;
  para.pvExtraPolicyPara = &ssl;
  CERT_CHAIN_POLICY_STATUS status{};
  status.cbSize = sizeof status;
  if (!CertVerifyCertificateChainPolicy(CERT_CHAIN_POLICY_SSL, chain, &para, &status))
    return static_cast<DWORD>(CERT_E_UNTRUSTEDROOT);
  return status.dwError;
}

void checkChain(PCCERT_CONTEXT cert, std::wstring& host, bool fetchMissing, CertificateReport& r) {
  LPSTR usage[] = {const_cast<LPSTR>(szOID_PKIX_KP_SERVER_AUTH)};
  CERT_CHAIN_PARA para{};
  para.cbSize = sizeof para;
  para.RequestedUsage.dwType = USAGE_MATCH_TYPE_AND;
  para.RequestedUsage.Usage.cUsageIdentifier = 1;
  para.RequestedUsage.Usage.rgpszUsageIdentifier = usage;
  // Revocation only from what is cached: fetching lists over the network
  // could hold a check for long. Missing intermediate certificates are
  // fetched only where the user waits for the answer (the connection test).
  const DWORD flags = CERT_CHAIN_REVOCATION_CHECK_CHAIN_EXCLUDE_ROOT | CERT_CHAIN_REVOCATION_CHECK_CACHE_ONLY |
                      (fetchMissing ? 0 : CERT_CHAIN_CACHE_ONLY_URL_RETRIEVAL);
  PCCERT_CHAIN_CONTEXT chain = nullptr;
  if (!CertGetCertificateChain(nullptr, cert, nullptr, cert->hCertStore, &para, flags, nullptr, &chain) || !chain) {
    r.untrusted = true;
    return;
  }
  // The chain's own findings. Wine lets a chain that stops short of a root
  // pass the policy, so any error bit but "revocation unknown" counts.
  const DWORD bits = chain->TrustStatus.dwErrorStatus &
                     ~static_cast<DWORD>(CERT_TRUST_REVOCATION_STATUS_UNKNOWN | CERT_TRUST_IS_OFFLINE_REVOCATION);
  if (bits & CERT_TRUST_IS_NOT_TIME_VALID) r.expired = true;
  if (bits & CERT_TRUST_IS_REVOKED) r.revoked = true;
  if (bits & ~static_cast<DWORD>(CERT_TRUST_IS_NOT_TIME_VALID | CERT_TRUST_IS_REVOKED)) r.untrusted = true;

  // The policy reports only its first finding, so it is asked twice: once
  // in full, once for the name alone (so that an untrusted certificate
  // also tells whether its name would have matched).
  switch (const DWORD e = sslPolicyError(chain, host, kIgnoreRevocation)) {
    case 0:
      break;
    case static_cast<DWORD>(CERT_E_CN_NO_MATCH):
      r.nameMismatch = true;
      break;
    case static_cast<DWORD>(CERT_E_EXPIRED):
      r.expired = true;
      break;
    case static_cast<DWORD>(CRYPT_E_REVOKED):
      r.revoked = true;
      break;
    case static_cast<DWORD>(CERT_E_REVOCATION_FAILURE):
    case static_cast<DWORD>(CRYPT_E_REVOCATION_OFFLINE):
    case static_cast<DWORD>(CRYPT_E_NO_REVOCATION_CHECK):
      break;  // not known to be revoked: the chain's bits tell when it is
    default:
      (void)e;
      r.untrusted = true;
      break;
  }
  const DWORD nameOnly = kIgnoreRevocation | kIgnoreUnknownCa | kIgnoreWrongUsage | kIgnoreDateInvalid;
  if (sslPolicyError(chain, host, nameOnly) == static_cast<DWORD>(CERT_E_CN_NO_MATCH)) r.nameMismatch = true;
  CertFreeCertificateChain(chain);
}

class SchannelEngine : public TlsEngine {
 public:
  ~SchannelEngine() override {
    if (haveContext_) DeleteSecurityContext(&context_);
    if (haveCredentials_) FreeCredentialsHandle(&credentials_);
  }

  TlsStatus start(const std::string& host, std::string& out) override {
    host_ = wide(fromUtf8(host));
    if (!acquireCredentials()) return TlsStatus::Failed;
    SecBuffer outBuf{0, SECBUFFER_TOKEN, nullptr};
    SecBufferDesc outDesc{SECBUFFER_VERSION, 1, &outBuf};
    ULONG attrs = 0;
    const SECURITY_STATUS s = InitializeSecurityContextW(&credentials_, nullptr, host_.data(), kContextFlags, 0, 0,
                                                         nullptr, 0, &context_, &outDesc, &attrs, nullptr);
    if (s == SEC_I_CONTINUE_NEEDED || s == SEC_E_OK) haveContext_ = true;
    takeToken(outBuf, out);
    if (s != SEC_I_CONTINUE_NEEDED) return fail(u"TLSの接続", s);
    return TlsStatus::NeedMore;
  }

  TlsStatus handshake(std::string& in, std::string& out) override {
    if (!haveContext_) return fail(u"TLSの接続", SEC_E_INVALID_HANDLE);
    for (int step = 0; step < kMaxStepsPerCall; ++step) {
      if (in.empty()) return TlsStatus::NeedMore;
      SecBuffer inBufs[2] = {{static_cast<ULONG>(in.size()), SECBUFFER_TOKEN, in.data()},
                             {0, SECBUFFER_EMPTY, nullptr}};
      SecBufferDesc inDesc{SECBUFFER_VERSION, 2, inBufs};
      SecBuffer outBufs[2] = {{0, SECBUFFER_TOKEN, nullptr}, {0, SECBUFFER_ALERT, nullptr}};
      SecBufferDesc outDesc{SECBUFFER_VERSION, 2, outBufs};
      ULONG attrs = 0;
      const SECURITY_STATUS s = InitializeSecurityContextW(&credentials_, &context_, host_.data(), kContextFlags, 0,
                                                           0, &inDesc, 0, nullptr, &outDesc, &attrs, nullptr);
      // The token (or an alert telling the server why) goes out even when
      // the step failed.
      takeToken(outBufs[0], out);
      if (outBufs[1].pvBuffer) FreeContextBuffer(outBufs[1].pvBuffer);
      if (s == SEC_E_INCOMPLETE_MESSAGE) return TlsStatus::NeedMore;
      if (s != SEC_E_OK && s != SEC_I_CONTINUE_NEEDED) return fail(u"TLSの接続", s);
      keepExtra(inBufs[1], in);
      if (s == SEC_E_OK) {
        if (QueryContextAttributesW(&context_, SECPKG_ATTR_STREAM_SIZES, &sizes_) != SEC_E_OK ||
            sizes_.cbMaximumMessage == 0)
          return fail(u"TLSの接続", SEC_E_INTERNAL_ERROR);
        established_ = true;
        return TlsStatus::Done;
      }
    }
    return fail(u"TLSの接続", SEC_E_INTERNAL_ERROR);
  }

  CertificateReport certificate() override {
    CertificateReport r;
    PCCERT_CONTEXT cert = nullptr;
    if (!haveContext_ ||
        QueryContextAttributesW(&context_, SECPKG_ATTR_REMOTE_CERT_CONTEXT, &cert) != SEC_E_OK || !cert)
      return r;
    r.present = true;
    r.subject = nameText(&cert->pCertInfo->Subject);
    r.issuer = nameText(&cert->pCertInfo->Issuer);
    r.validFrom = localTime(cert->pCertInfo->NotBefore);
    r.validTo = localTime(cert->pCertInfo->NotAfter);
    r.sha256 = sha256Hex(cert->pbCertEncoded, cert->cbCertEncoded);
    checkChain(cert, host_, fetchMissing_, r);
    CertFreeCertificateContext(cert);
    return r;
  }

  Text protocol() override {
    SecPkgContext_ConnectionInfo info{};
    if (!haveContext_ || QueryContextAttributesW(&context_, SECPKG_ATTR_CONNECTION_INFO, &info) != SEC_E_OK)
      return u"";
    const DWORD p = info.dwProtocol;
    if (p & SP_PROT_TLS1_3) return u"TLS 1.3";
    if (p & SP_PROT_TLS1_2) return u"TLS 1.2";
    if (p & SP_PROT_TLS1_1) return u"TLS 1.1";
    if (p & SP_PROT_TLS1_0) return u"TLS 1.0";
    return u"SSL";
  }

  bool encrypt(const std::string& plain, std::string& out) override {
    if (!established_) {
      fail(u"暗号化", SEC_E_INVALID_HANDLE);
      return false;
    }
    std::vector<char> buf;
    for (std::size_t at = 0; at < plain.size(); at += sizes_.cbMaximumMessage) {
      const std::size_t n = std::min<std::size_t>(sizes_.cbMaximumMessage, plain.size() - at);
      buf.assign(sizes_.cbHeader + n + sizes_.cbTrailer, 0);
      std::memcpy(buf.data() + sizes_.cbHeader, plain.data() + at, n);
      SecBuffer bufs[4] = {{sizes_.cbHeader, SECBUFFER_STREAM_HEADER, buf.data()},
                           {static_cast<ULONG>(n), SECBUFFER_DATA, buf.data() + sizes_.cbHeader},
                           {sizes_.cbTrailer, SECBUFFER_STREAM_TRAILER, buf.data() + sizes_.cbHeader + n},
                           {0, SECBUFFER_EMPTY, nullptr}};
      SecBufferDesc desc{SECBUFFER_VERSION, 4, bufs};
      const SECURITY_STATUS s = EncryptMessage(&context_, 0, &desc, 0);
      if (s != SEC_E_OK) {
        fail(u"暗号化", s);
        return false;
      }
      for (int i = 0; i < 3; ++i) out.append(static_cast<const char*>(bufs[i].pvBuffer), bufs[i].cbBuffer);
    }
    return true;
  }

  TlsStatus decrypt(std::string& in, std::string& plain) override {
    if (!established_) return fail(u"復号", SEC_E_INVALID_HANDLE);
    while (!in.empty()) {
      SecBuffer bufs[4] = {{static_cast<ULONG>(in.size()), SECBUFFER_DATA, in.data()},
                           {0, SECBUFFER_EMPTY, nullptr},
                           {0, SECBUFFER_EMPTY, nullptr},
                           {0, SECBUFFER_EMPTY, nullptr}};
      SecBufferDesc desc{SECBUFFER_VERSION, 4, bufs};
      const SECURITY_STATUS s = DecryptMessage(&context_, &desc, 0, nullptr);
      if (s == SEC_E_INCOMPLETE_MESSAGE) return TlsStatus::NeedMore;
      if (s == SEC_I_CONTEXT_EXPIRED) {
        in.clear();
        return TlsStatus::Closed;
      }
      if (s != SEC_E_OK && s != SEC_I_RENEGOTIATE) return fail(u"復号", s);
      // The plain bytes lie inside `in`: copied before `in` is cut.
      const SecBuffer* extra = nullptr;
      for (const SecBuffer& b : bufs) {
        if (b.BufferType == SECBUFFER_DATA && b.pvBuffer) plain.append(static_cast<const char*>(b.pvBuffer), b.cbBuffer);
        if (b.BufferType == SECBUFFER_EXTRA && b.cbBuffer > 0) extra = &b;
      }
      if (extra)
        in.erase(0, in.size() - extra->cbBuffer);
      else
        in.clear();
      if (s == SEC_I_RENEGOTIATE && !renegotiate(in)) return TlsStatus::Failed;
    }
    return TlsStatus::Done;
  }

  void shutdown(std::string& out) override {
    if (!haveContext_) return;
    DWORD type = SCHANNEL_SHUTDOWN;
    SecBuffer token{sizeof type, SECBUFFER_TOKEN, &type};
    SecBufferDesc tokenDesc{SECBUFFER_VERSION, 1, &token};
    if (ApplyControlToken(&context_, &tokenDesc) != SEC_E_OK) return;
    SecBuffer outBuf{0, SECBUFFER_TOKEN, nullptr};
    SecBufferDesc outDesc{SECBUFFER_VERSION, 1, &outBuf};
    ULONG attrs = 0;
    InitializeSecurityContextW(&credentials_, &context_, host_.data(), kContextFlags, 0, 0, nullptr, 0, nullptr,
                               &outDesc, &attrs, nullptr);
    takeToken(outBuf, out);
    established_ = false;
  }

  Text lastError() override { return error_; }

 private:
  bool acquireCredentials() {
    if (haveCredentials_) return true;
    // TLS 1.3 needs the newer description of the credentials (Windows 10
    // 1809 and later); older systems, and Wine, take the older one.
    TLS_PARAMETERS params{};
    params.grbitDisabledProtocols = SP_PROT_SSL2_CLIENT | SP_PROT_SSL3_CLIENT | SP_PROT_TLS1_0_CLIENT |
                                    SP_PROT_TLS1_1_CLIENT;
    SCH_CREDENTIALS modern{};
    modern.dwVersion = SCH_CREDENTIALS_VERSION;
    modern.dwFlags = SCH_CRED_MANUAL_CRED_VALIDATION | SCH_CRED_NO_DEFAULT_CREDS;
    modern.cTlsParameters = 1;
    modern.pTlsParameters = &params;
    SCHANNEL_CRED both{};
    both.dwVersion = SCHANNEL_CRED_VERSION;
    both.dwFlags = SCH_CRED_MANUAL_CRED_VALIDATION | SCH_CRED_NO_DEFAULT_CREDS;
    both.grbitEnabledProtocols = SP_PROT_TLS1_2_CLIENT | SP_PROT_TLS1_3_CLIENT;
    SCHANNEL_CRED tls12 = both;
    tls12.grbitEnabledProtocols = SP_PROT_TLS1_2_CLIENT;
    void* tries[] = {&modern, &both, &tls12};
    SECURITY_STATUS s = SEC_E_INTERNAL_ERROR;
    for (void* auth : tries) {
      TimeStamp expiry{};
      s = AcquireCredentialsHandleW(nullptr, const_cast<wchar_t*>(UNISP_NAME_W), SECPKG_CRED_OUTBOUND, nullptr, auth,
                                    nullptr, nullptr, &credentials_, &expiry);
      if (s == SEC_E_OK) {
        haveCredentials_ = true;
        return true;
      }
    }
    fail(u"TLSの準備", s);
    return false;
  }

  // TLS 1.3 on Windows hands post-handshake messages (session tickets) to
  // the handshake again. Nothing may need sending for them here: a real
  // renegotiation, which would, is refused.
  bool renegotiate(std::string& in) {
    for (int step = 0; step < kMaxStepsPerCall; ++step) {
      SecBuffer inBufs[2] = {{static_cast<ULONG>(in.size()), SECBUFFER_TOKEN, in.empty() ? nullptr : in.data()},
                             {0, SECBUFFER_EMPTY, nullptr}};
      SecBufferDesc inDesc{SECBUFFER_VERSION, 2, inBufs};
      SecBuffer outBuf{0, SECBUFFER_TOKEN, nullptr};
      SecBufferDesc outDesc{SECBUFFER_VERSION, 1, &outBuf};
      ULONG attrs = 0;
      const SECURITY_STATUS s = InitializeSecurityContextW(&credentials_, &context_, host_.data(), kContextFlags, 0,
                                                           0, &inDesc, 0, nullptr, &outDesc, &attrs, nullptr);
      std::string reply;
      takeToken(outBuf, reply);
      if (!reply.empty()) {
        fail(u"復号", SEC_I_RENEGOTIATE);
        return false;
      }
      if (s == SEC_E_OK) {
        keepExtra(inBufs[1], in);
        return true;
      }
      if (s != SEC_I_CONTINUE_NEEDED || in.empty()) {
        fail(u"復号", s == SEC_I_CONTINUE_NEEDED ? SEC_I_RENEGOTIATE : s);
        return false;
      }
      keepExtra(inBufs[1], in);
    }
    fail(u"復号", SEC_I_RENEGOTIATE);
    return false;
  }

  // Drops from `in` what the step consumed: all of it but the extra bytes
  // the step left at its end.
  static void keepExtra(const SecBuffer& extra, std::string& in) {
    if (extra.BufferType == SECBUFFER_EXTRA && extra.cbBuffer > 0 && extra.cbBuffer <= in.size())
      in.erase(0, in.size() - extra.cbBuffer);
    else
      in.clear();
  }

  static void takeToken(SecBuffer& token, std::string& out) {
    if (!token.pvBuffer) return;
    out.append(static_cast<const char*>(token.pvBuffer), token.cbBuffer);
    FreeContextBuffer(token.pvBuffer);
    token.pvBuffer = nullptr;
  }

  TlsStatus fail(const char16_t* step, SECURITY_STATUS s) {
    error_ = Text(step) + u"に失敗しました: " + describe(s) + u" (" + hexStatus(s) + u")";
    return TlsStatus::Failed;
  }

  CredHandle credentials_{};
  CtxtHandle context_{};
  bool haveCredentials_ = false;
  bool haveContext_ = false;
  bool established_ = false;
  SecPkgContext_StreamSizes sizes_{};
  std::wstring host_;
  Text error_;

 public:
  bool fetchMissing_ = false;  // set by the factory
};

}  // namespace

SchannelFactory::SchannelFactory(bool fetchMissing) : fetchMissing_(fetchMissing) {}
SchannelFactory::~SchannelFactory() = default;

std::unique_ptr<TlsEngine> SchannelFactory::create() {
  auto engine = std::make_unique<SchannelEngine>();
  engine->fetchMissing_ = fetchMissing_;
  return engine;
}

}  // namespace tarvi::win32
