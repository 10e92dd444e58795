#include "settings/win32/sign_in_dialog.h"

#include "settings/win32/ui.h"

#include <objbase.h>
#include <shellapi.h>

#include <memory>
#include <optional>
#include <string>

#include "common/app.h"
#include "common/oauth.h"
#include "common/sign_in.h"
#include "common/win32/registry_store.h"
#include "common/win32/system_random.h"
#include "common/win32/token_http.h"
#include "settings/sign_in_flow.h"
#include "settings/win32/loopback_listener.h"
#include "settings/win32/resource.h"

namespace tarvi::settings::win32 {
namespace {

using tarvi::win32::wide;

// Posted by the listener's thread when the redirect came.
constexpr UINT kRedirectTaken = WM_APP + 20;
// Posted by the exchange's thread; lParam is its job.
constexpr UINT kTokenReplied = WM_APP + 21;
constexpr UINT_PTR kTimeoutTimer = 1;
// Each step of the exchange (resolve, connect, send, receive) may take this long.
constexpr unsigned kExchangeTimeoutMs = 30000;

constexpr const char16_t* kCannotStart = u"ｻｲﾝｲﾝを始められませんでした";
constexpr const char16_t* kNoBrowser = u"ﾌﾞﾗｳｻﾞを開けませんでした";

// The exchange of the code, shared by the dialog and its worker thread, so
// that a cancelled dialog need not wait for the token endpoint.
struct Exchange {
  HWND dialog = nullptr;
  std::string url, body;
  tarvi::win32::HttpReply reply;
};

struct Session {
  Session(SignInProvider p, std::string hint, std::string bytes)
      : provider(std::move(p)), loginHint(std::move(hint)), random(std::move(bytes)) {}
  const SignInProvider provider;
  const std::string loginHint, random;
  HWND dialog = nullptr;
  SRWLOCK lock = SRWLOCK_INIT;  // guards flow and taken between the dialog and the listener
  std::optional<SignInFlow> flow;
  std::optional<SignInFlow::Answer> taken;
  std::shared_ptr<Exchange> exchange;
  SignInOutcome outcome;
  LoopbackListener listener;  // last: stopped before the rest goes
};

DWORD WINAPI exchangeWorker(void* param) {
  const std::unique_ptr<std::shared_ptr<Exchange>> hold(static_cast<std::shared_ptr<Exchange>*>(param));
  Exchange& job = **hold;
  job.reply = tarvi::win32::postForm(job.url, job.body, kExchangeTimeoutMs);
  // The dialog knows the job by its address; gone, it never sees this.
  PostMessageW(job.dialog, kTokenReplied, 0, reinterpret_cast<LPARAM>(&job));
  return 0;
}

void finish(HWND dlg, Session& s, bool ok, const Text& error) {
  KillTimer(dlg, kTimeoutTimer);
  s.outcome.ok = ok;
  s.outcome.error = error;
  s.exchange.reset();
  EndDialog(dlg, ok ? IDOK : IDCANCEL);
}

LoopbackListener::Reply onRequest(Session& s, const std::string& head) {
  Hold hold(s.lock);
  if (!s.flow) return {};
  SignInFlow::Answer a = s.flow->onRequest(head);
  LoopbackListener::Reply reply{a.reply, a.taken()};
  if (a.taken()) {
    s.taken = std::move(a);
    PostMessageW(s.dialog, kRedirectTaken, 0, 0);
  }
  return reply;
}

bool start(HWND dlg, Session& s) {
  s.dialog = dlg;
  if (!s.listener.start([&s](const std::string& head) { return onRequest(s, head); })) {
    finish(dlg, s, false, kCannotStart);
    return false;
  }
  std::wstring url;
  {
    Hold hold(s.lock);
    s.flow.emplace(s.provider, s.loginHint, s.random, s.listener.port());
    for (const char c : s.flow->authorizationUrl()) url += static_cast<wchar_t>(static_cast<unsigned char>(c));
  }
  const auto opened = reinterpret_cast<INT_PTR>(ShellExecuteW(nullptr, L"open", url.c_str(), nullptr, nullptr, SW_SHOWNORMAL));
  if (opened <= 32) {
    finish(dlg, s, false, kNoBrowser);
    return false;
  }
  SetTimer(dlg, kTimeoutTimer, kSignInTimeoutMs, nullptr);
  return true;
}

void onRedirect(HWND dlg, Session& s) {
  std::optional<SignInFlow::Answer> taken;
  {
    Hold hold(s.lock);
    taken.swap(s.taken);
  }
  if (!taken || s.exchange) return;
  if (taken->means == SignInFlow::Answer::Means::Failed) {
    finish(dlg, s, false, taken->error);
    return;
  }
  auto job = std::make_shared<Exchange>();
  job->dialog = dlg;
  job->url = s.provider.tokenUrl;
  job->body = oauth::tokenRequestBody(taken->form);
  auto* hold = new std::shared_ptr<Exchange>(job);
  HANDLE thread = CreateThread(nullptr, 0, exchangeWorker, hold, 0, nullptr);
  if (!thread) {
    delete hold;
    finish(dlg, s, false, kCannotStart);
    return;
  }
  CloseHandle(thread);
  s.exchange = std::move(job);
}

void onTokenReply(HWND dlg, Session& s, LPARAM job) {
  if (!s.exchange || reinterpret_cast<LPARAM>(s.exchange.get()) != job) return;
  const tarvi::win32::HttpReply& reply = s.exchange->reply;
  if (reply.status == 0) {
    finish(dlg, s, false, reply.error);
    return;
  }
  const SignInResult r = SignInFlow::tokenOutcome(reply.status, reply.body);
  s.outcome.refreshToken = r.refreshToken;
  finish(dlg, s, r.ok, r.error);
}

INT_PTR CALLBACK signInProc(HWND dlg, UINT msg, WPARAM wp, LPARAM lp) {
  auto* s = reinterpret_cast<Session*>(GetWindowLongPtrW(dlg, DWLP_USER));
  switch (msg) {
    case WM_INITDIALOG:
      SetWindowLongPtrW(dlg, DWLP_USER, lp);
      start(dlg, *reinterpret_cast<Session*>(lp));
      return TRUE;
    case WM_COMMAND:
      if (s && LOWORD(wp) == IDCANCEL) finish(dlg, *s, false, u"");
      return TRUE;
    case WM_TIMER:
      if (s && wp == kTimeoutTimer) finish(dlg, *s, false, kSignInTimedOut);
      return TRUE;
    case kRedirectTaken:
      if (s) onRedirect(dlg, *s);
      return TRUE;
    case kTokenReplied:
      if (s) onTokenReply(dlg, *s, lp);
      return TRUE;
    default:
      return FALSE;
  }
}

void showError(HWND owner, const Text& error) {
  MessageBoxW(owner, wide(error).c_str(), wide(kAppTitle).c_str(), MB_OK | MB_ICONEXCLAMATION);
}

}  // namespace

SignInOutcome runSignIn(HWND owner, const tarvi::AccountSettings& account) {
  SignInOutcome failed;
  failed.error = signInProblem(account);
  const auto provider = signInProvider(account);
  if (failed.error.empty() && !provider) failed.error = kCannotStart;
  std::string random(kSignInRandomBytes, '\0');
  if (failed.error.empty() && !tarvi::win32::systemRandom(random.data(), random.size())) failed.error = kCannotStart;
  if (!failed.error.empty()) {
    showError(owner, failed.error);
    return failed;
  }

  // ShellExecute may hand the URL to a handler through COM.
  const HRESULT com = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE);
  Session s(*provider, toUtf8(account.user), random);
  DialogBoxParamW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDD_SIGN_IN), owner, signInProc,
                  reinterpret_cast<LPARAM>(&s));
  s.listener.stop();
  if (SUCCEEDED(com)) CoUninitialize();
  SecureZeroMemory(random.data(), random.size());
  if (!s.outcome.ok && !s.outcome.error.empty()) showError(owner, s.outcome.error);
  return s.outcome;
}

}  // namespace tarvi::settings::win32
