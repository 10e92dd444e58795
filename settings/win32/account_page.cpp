#include "settings/win32/account_page.h"

#include "common/app.h"
#include "common/win32/dpi.h"
#include "common/win32/kept_list_file.h"
#include "common/win32/registry_store.h"
#include "settings/win32/account_dialog.h"
#include "settings/win32/resource.h"
#include "settings/win32/ui.h"

namespace tarvi::settings::win32 {

using tarvi::win32::wide;

void AccountPage::attach(HWND dialog) {
  dialog_ = dialog;
  view_ = GetDlgItem(dialog, IDC_ACCOUNTLIST);
  ListView_SetExtendedListViewStyle(view_, LVS_EX_FULLROWSELECT | LVS_EX_GRIDLINES);
  const UINT dpi = tarvi::win32::dpiForWindow(view_);
  const AccountColumns widths = accountColumns(list_.count());
  LVCOLUMNW col{};
  col.mask = LVCF_WIDTH | LVCF_TEXT;
  wchar_t empty[] = L"";
  col.pszText = empty;
  col.cx = tarvi::win32::twipsToPixels(widths.name, dpi);
  ListView_InsertColumn(view_, 0, &col);
  col.cx = tarvi::win32::twipsToPixels(widths.check, dpi);
  ListView_InsertColumn(view_, 1, &col);

  SendMessageW(view_, WM_SETREDRAW, FALSE, 0);
  rows_ = list_.rows();
  for (std::size_t i = 0; i < rows_.size(); ++i) insertRow(static_cast<int>(i), rows_[i]);
  SendMessageW(view_, WM_SETREDRAW, TRUE, 0);
  InvalidateRect(view_, nullptr, TRUE);
}

void AccountPage::insertRow(int index, const AccountRow& row) {
  LVITEMW item{};
  item.mask = LVIF_TEXT;
  item.iItem = index;
  std::wstring name = wide(row.name);
  item.pszText = name.data();
  ListView_InsertItem(view_, &item);
  showRow(index, row);
}

void AccountPage::showRow(int index, const AccountRow& row) {
  std::wstring name = wide(row.name), check = wide(row.check);
  ListView_SetItemText(view_, index, 0, name.data());
  ListView_SetItemText(view_, index, 1, check.data());
}

void AccountPage::pressed(int item) {
  if (item < 0) {
    // A press below the rows leaves the current row as it was; the list
    // view has dropped its highlight, so it is given back.
    if (list_.isAccountRow(selRow_)) {
      ListView_SetItemState(view_, selRow_ - 1, LVIS_SELECTED | LVIS_FOCUSED,
                            LVIS_SELECTED | LVIS_FOCUSED);
    }
    return;
  }
  selRow_ = item + 1;
  const bool usable = list_.isAccountRow(selRow_);
  enableControl(dialog_, IDC_EDIT, usable);
  enableControl(dialog_, IDC_DELETE, usable);
}

void AccountPage::secretsWarning() {
  if (!list_.secretsStored())
    MessageBoxW(dialog_, wide(kSecretNotStored).c_str(), wide(kAppTitle).c_str(), MB_OK | MB_ICONEXCLAMATION);
}

void AccountPage::add() {
  auto account = editAccount(dialog_, nullptr);
  if (!account) return;
  const int n = list_.add(*account);
  if (n == 0) return;
  secretsWarning();
  rows_.push_back(accountRow(*account));
  insertRow(n - 1, rows_.back());
  ListView_EnsureVisible(view_, n - 1, FALSE);
}

void AccountPage::edit() {
  if (!list_.isAccountRow(selRow_)) return;
  const int n = selRow_;
  const AccountSettings current = list_.load(n);
  auto account = editAccount(dialog_, &current);
  if (!account || !list_.edit(n, *account)) return;
  secretsWarning();
  rows_[static_cast<std::size_t>(n - 1)] = accountRow(*account);
  showRow(n - 1, rows_[static_cast<std::size_t>(n - 1)]);
  ListView_RedrawItems(view_, n - 1, n - 1);
}

void AccountPage::remove() {
  if (!list_.isAccountRow(selRow_)) return;
  // The mailbox is read before its keys go: what the monitor kept of it
  // goes with the account.
  const AccountSettings gone = list_.load(selRow_);
  if (!list_.remove(selRow_)) return;
  tarvi::win32::removeKeptList(gone);
  rows_.erase(rows_.begin() + (selRow_ - 1));
  ListView_DeleteItem(view_, selRow_ - 1);
  selRow_ = 0;
  enableControl(dialog_, IDC_EDIT, false);
  enableControl(dialog_, IDC_DELETE, false);
}

bool AccountPage::onCommand(int id, int code) {
  if (code != BN_CLICKED) return false;
  switch (id) {
    case IDC_ADD: add(); return true;
    case IDC_EDIT: edit(); return true;
    case IDC_DELETE: remove(); return true;
  }
  return false;
}

std::optional<LRESULT> AccountPage::onNotify(NMHDR& hdr) {
  if (hdr.hwndFrom != view_) return std::nullopt;
  switch (hdr.code) {
    case NM_CLICK:
    case NM_RCLICK:
      pressed(reinterpret_cast<NMITEMACTIVATE&>(hdr).iItem);
      return 0;
    case NM_DBLCLK: {
      const int item = reinterpret_cast<NMITEMACTIVATE&>(hdr).iItem;
      pressed(item);
      if (item >= 0) edit();  // not for a double click below the rows
      return 0;
    }
    case NM_CUSTOMDRAW: {
      auto& cd = reinterpret_cast<NMLVCUSTOMDRAW&>(hdr);
      switch (cd.nmcd.dwDrawStage) {
        case CDDS_PREPAINT:
          return CDRF_NOTIFYITEMDRAW;
        case CDDS_ITEMPREPAINT:
          // Every row shows its account's colours, the chosen one too:
          // without CDIS_SELECTED the list view does not paint it in the
          // highlight colour. Which account is chosen still comes from the
          // list view's selection, which Edit and Delete follow.
          cd.nmcd.uItemState &= ~static_cast<UINT>(CDIS_SELECTED);
          return CDRF_NOTIFYSUBITEMDRAW;
        case CDDS_ITEMPREPAINT | CDDS_SUBITEM: {
          const auto i = static_cast<std::size_t>(cd.nmcd.dwItemSpec);
          if (i < rows_.size()) {
            cd.clrText = static_cast<COLORREF>(rows_[i].foreColor);
            cd.clrTextBk = static_cast<COLORREF>(rows_[i].backColor);
          }
          return CDRF_DODEFAULT;
        }
      }
      return CDRF_DODEFAULT;
    }
  }
  return std::nullopt;
}

}  // namespace tarvi::settings::win32
