#pragma once

#include <windows.h>

#include <commctrl.h>

#include <optional>
#include <vector>

#include "common/store.h"
#include "settings/account_list.h"

namespace tarvi::settings::win32 {

// The "ｱｶｳﾝﾄ" page of the options dialog: the account list with its three
// buttons. Every change is written at once; the dialog's Cancel keeps it.
class AccountPage {
 public:
  AccountPage(SettingsStore& store, SecretKeeper* secrets) : list_(store, secrets) {}

  // Sets up the list's columns and fills it from the store.
  void attach(HWND dialog);
  int count() const { return list_.count(); }

  bool onCommand(int id, int code);
  // The notification's result when the page handles it.
  std::optional<LRESULT> onNotify(NMHDR& hdr);

 private:
  void insertRow(int index, const AccountRow& row);
  void showRow(int index, const AccountRow& row);
  void pressed(int item);
  // Tells the user when the system refused to protect what was just stored.
  void secretsWarning();
  void add();
  void edit();
  void remove();

  AccountList list_;
  std::vector<AccountRow> rows_;
  HWND dialog_ = nullptr;
  HWND view_ = nullptr;
  // The row last pressed with the mouse (rows count from 1); 0 for none.
  // Keyboard moves do not change it.
  int selRow_ = 0;
};

}  // namespace tarvi::settings::win32
