// The popup's mail list at 10,000 messages over 10 accounts: the time of
// fillGrid in both orders, of refreshMarks, of what one repaint of the
// virtual list asks of the model, and the memory the rows take. Prints
// figures; judges nothing.
#include <malloc.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <functional>
#include <vector>

#include "monitor/popup/popup_model.h"

namespace {

using namespace tarvi;
using Clock = std::chrono::steady_clock;

constexpr int kAccounts = 10;
constexpr int kPerAccount = 1000;

double bestMs(int runs, const std::function<void()>& f) {
  double best = 1e300;
  for (int i = 0; i < runs; ++i) {
    const auto t0 = Clock::now();
    f();
    best = std::min(best, std::chrono::duration<double, std::milli>(Clock::now() - t0).count());
  }
  return best;
}

std::size_t heapInUse() { return mallinfo2().uordblks; }

}  // namespace

int main() {
  AccountTable accounts;
  accounts.resize(kAccounts);
  const char16_t* const names[] = {u"山田太郎", u"ｶﾀｶﾅ商事 営業部", u"佐藤花子", u"Tarvi Support"};
  const char16_t* const subjects[] = {u"会議の資料について", u"Re: お見積もりのご依頼",
                                      u"来週の予定の確認をお願いします", u"weekly report"};
  for (int a = 1; a <= kAccounts; ++a) {
    AccountState& acc = *accounts.find(a);
    acc.lastCount = kPerAccount;
    acc.mail.clear(kPerAccount);
    for (int m = 1; m <= kPerAccount; ++m) {
      MailItem& r = *acc.mail.find(m);
      r.sender = Text(names[m % 4]) + u" <user" + decimal(m) + u"@example.jp>";
      r.subject = Text(subjects[(a + m) % 4]) + u" (" + decimal(m) + u")";
      r.hasAttachment = m % 7 == 0;
      if (m % 11 == 0) r.body = u"本文";
    }
  }
  FillInput in;
  in.accountCount = kAccounts;

  PopupGrid grid;
  const std::size_t before = heapInUse();
  grid.fillGrid(accounts, in);
  const std::size_t after = heapInUse();
  std::printf("rows: %d (%d accounts x %d messages)\n", grid.rowCount() - 1, kAccounts, kPerAccount);
  std::printf("memory of the rows: %.1f KiB (%.0f bytes a row)\n", (after - before) / 1024.0,
              static_cast<double>(after - before) / (grid.rowCount() - 1));

  for (bool newestFirst : {false, true}) {
    in.newestFirst = newestFirst;
    const double ms = bestMs(20, [&] { grid.fillGrid(accounts, in); });
    std::printf("fillGrid (%s): %.2f ms\n", newestFirst ? "newest first" : "oldest first", ms);
  }
  std::printf("refreshMarks: %.2f ms\n", bestMs(20, [&] { grid.refreshMarks(accounts); }));

  // A repaint of the owner-data list asks for the cells of the rows in view
  // only; 30 rows are more than a maximised popup shows.
  std::size_t chars = 0;
  const double screen = bestMs(200, [&] {
    for (int r = 5000; r < 5030; ++r)
      for (int c = 0; c < PopupGrid::kColumns; ++c) chars += grid.cell(r, c).size();
  });
  std::printf("cells of one screen (30 rows x 7): %.1f us\n", screen * 1000.0);
  const double all = bestMs(5, [&] {
    for (int r = 1; r < grid.rowCount(); ++r)
      for (int c = 0; c < PopupGrid::kColumns; ++c) chars += grid.cell(r, c).size();
  });
  std::printf("every cell of the list once: %.2f ms\n", all);
  int toggles = 0;
  const double click = bestMs(100, [&] {
    grid.toggleMark(7777, accounts);
    toggles += grid.anyMarked() ? 1 : 0;
  });
  std::printf("click on a row (toggle and button state): %.1f us\n", click * 1000.0);
  return chars == 0 && toggles < 0;
}
