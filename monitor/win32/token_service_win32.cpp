#include "monitor/win32/token_service_win32.h"

#include <memory>

#include "common/win32/token_http.h"

namespace tarvi::win32 {
namespace {

struct Job {
  HWND hwnd;
  std::uint32_t request;
  std::string url, body;
  TokenReply reply;
};

DWORD WINAPI renew(void* param) {
  std::unique_ptr<Job> job(static_cast<Job*>(param));
  HttpReply r = postForm(job->url, job->body, Win32TokenService::kTimeoutMs);
  job->reply = TokenReply{r.status, std::move(r.body), std::move(r.error)};
  // The refresh token went in the body: it is not kept a moment longer.
  SecureZeroMemory(job->body.data(), job->body.size());
  // A window that is gone takes no reply; the job is freed here then.
  Job* posted = job.release();
  if (!PostMessageW(posted->hwnd, Win32TokenService::kReplyMessage, 0, reinterpret_cast<LPARAM>(posted)))
    delete posted;
  return 0;
}

}  // namespace

void Win32TokenService::post(std::uint32_t request, const std::string& url, const std::string& body) {
  auto job = std::make_unique<Job>(Job{hwnd_, request, url, body, {}});
  HANDLE thread = CreateThread(nullptr, 0, renew, job.get(), 0, nullptr);
  if (!thread) {
    // No thread: the reply says so at once, through the window as always.
    job->reply.error = u"ｻｲﾝｲﾝの処理を開始できませんでした";
    Job* posted = job.release();
    if (!PostMessageW(hwnd_, kReplyMessage, 0, reinterpret_cast<LPARAM>(posted))) delete posted;
    return;
  }
  job.release();  // the thread owns it now
  CloseHandle(thread);
}

std::pair<std::uint32_t, TokenReply> Win32TokenService::take(LPARAM lp) {
  std::unique_ptr<Job> job(reinterpret_cast<Job*>(lp));
  if (!job) return {0, {}};
  return {job->request, std::move(job->reply)};
}

}  // namespace tarvi::win32
