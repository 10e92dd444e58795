#include "settings/win32/option_dialog.h"

#include <commctrl.h>

#include "settings/hotkey_items.h"
#include "settings/options_model.h"
#include "settings/win32/account_page.h"
#include "settings/win32/file_picker.h"
#include "settings/win32/logon_entry.h"
#include "settings/win32/ras_entries.h"
#include "settings/win32/resource.h"
#include "settings/win32/ui.h"
#include "common/win32/dpapi.h"
#include "common/win32/registry_store.h"

namespace tarvi::settings::win32 {
namespace {

using tarvi::win32::wide;

constexpr wchar_t kTitle[] = L"Tarviメールチェッカー";

struct OptionDialog {
  explicit OptionDialog(SettingsStore& s) : store(s), accounts(s, &secrets) {}

  SettingsStore& store;
  tarvi::win32::DpapiSecretKeeper secrets;  // before the page that uses it
  AccountPage accounts;
  OkGate gate;
  Tooltips tips;
  bool filling = true;
  bool balloon = true;  // carried through unchanged: no box shows it
};

// The form's check boxes are the controls IDC_OPTION1 + index up to the
// tray icon; the fast check and the quiet one came after the Run entry's box
// took the next ID.
static_assert(IDC_OPTION1 + kCheckBoxes - 3 == IDC_TRAY_ICON);
int checkId(int index) {
  return index == kCheckBoxes - 1 ? IDC_QUIET : index == kCheckBoxes - 2 ? IDC_FAST_CHECK : IDC_OPTION1 + index;
}

int timerId(int box) { return IDC_TIMER1 + box - 1; }  // box 1..4

void showPage(HWND dlg, int page) {
  CheckRadioButton(dlg, IDC_TAB_GENERAL, IDC_TAB_ACCOUNTS, page == 0 ? IDC_TAB_GENERAL : IDC_TAB_ACCOUNTS);
  for (HWND c = GetWindow(dlg, GW_CHILD); c; c = GetWindow(c, GW_HWNDNEXT)) {
    const int id = GetDlgCtrlID(c);
    if (id >= IDC_GENERAL_FIRST && id <= IDC_GENERAL_LAST)
      ShowWindow(c, page == 0 ? SW_SHOW : SW_HIDE);
    else if (id >= IDC_ACCOUNT_FIRST && id <= IDC_ACCOUNT_LAST)
      ShowWindow(c, page == 1 ? SW_SHOW : SW_HIDE);
  }
}

void fillHotkeyLists(HWND dlg) {
  for (int i = 0; i < kHotkeyCount; ++i) {
    HWND combo = GetDlgItem(dlg, IDC_KEY0 + i);
    ShowWindow(combo, SW_HIDE);
    for (const auto& item : hotkeyItems(i)) {
      const LRESULT at = SendMessageW(combo, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(wide(item.text).c_str()));
      if (at >= 0) SendMessageW(combo, CB_SETITEMDATA, static_cast<WPARAM>(at), item.value);
    }
    SendMessageW(combo, CB_SETCURSEL, 0, 0);
    ShowWindow(combo, SW_SHOW);
  }
}

void applyEnables(HWND dlg, const OptionsForm& f) {
  const Enables e = enablesFor(f);
  enableControl(dlg, timerId(2), e.closeTimer);
  enableControl(dlg, timerId(4), e.lampTimer);
  enableControl(dlg, IDC_WAV, e.wav);
  enableControl(dlg, IDC_WAV_REF, e.wav);
}

OptionsForm readForm(HWND dlg) {
  OptionsForm f;
  for (int i = 0; i < kCheckBoxes; ++i) f.checks[i] = isChecked(dlg, checkId(i));
  for (int b = 1; b <= kTimerBoxes; ++b) f.timers[b - 1] = controlText(dlg, timerId(b));
  f.mailers = {controlText(dlg, IDC_MAILER1), controlText(dlg, IDC_MAILER2)};
  f.wav = controlText(dlg, IDC_WAV);
  f.dialPosition = static_cast<int>(SendDlgItemMessageW(dlg, IDC_DIALLIST, CB_GETCURSEL, 0, 0));
  f.redial = controlText(dlg, IDC_REDIAL);
  for (int i = 0; i < kHotkeyCount; ++i)
    f.hotkeys[i] = static_cast<int>(SendDlgItemMessageW(dlg, IDC_KEY0 + i, CB_GETCURSEL, 0, 0));
  return f;
}

void fillOptions(HWND dlg, OptionDialog& d) {
  HWND dial = GetDlgItem(dlg, IDC_DIALLIST);
  ShowWindow(dial, SW_HIDE);
  const auto entries = dialListItems(enumDialEntries());
  for (const auto& name : entries)
    SendMessageW(dial, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(wide(name).c_str()));
  ShowWindow(dial, SW_SHOW);

  d.accounts.attach(dlg);

  const OptionsForm f = loadOptions(d.store, static_cast<int>(entries.size()));
  d.balloon = f.balloon;
  for (int i = 0; i < kCheckBoxes; ++i) setChecked(dlg, checkId(i), f.checks[i]);
  setChecked(dlg, IDC_RUN_AT_LOGON, logonEntryExists());
  applyEnables(dlg, f);
  for (int b = 1; b <= kTimerBoxes; ++b) setControlText(dlg, timerId(b), f.timers[b - 1]);
  setControlText(dlg, IDC_MAILER1, f.mailers[0]);
  setControlText(dlg, IDC_MAILER2, f.mailers[1]);
  setControlText(dlg, IDC_WAV, f.wav);
  for (int i = 0; i < kHotkeyCount; ++i)
    SendDlgItemMessageW(dlg, IDC_KEY0 + i, CB_SETCURSEL, static_cast<WPARAM>(f.hotkeys[i]), 0);
  setControlText(dlg, IDC_REDIAL, f.redial);
  SendMessageW(dial, CB_SETCURSEL, static_cast<WPARAM>(f.dialPosition), 0);

  // A damaged stored number shows as typed and keeps OK greyed until fixed.
  for (int b = 1; b <= kTimerBoxes; ++b) d.gate.check(b, f.timers[b - 1]);
  d.gate.check(OkGate::kRedial, f.redial);
  enableControl(dlg, IDOK, d.gate.okEnabled());
}

void addTips(Tooltips& t) {
  const std::pair<int, const char16_t*> tips[] = {
      {IDC_OPTION1 + 0, u"ﾎﾟｯﾌﾟｱｯﾌﾟを表示します"},
      {IDC_OPTION1 + 1, u"音を鳴らします"},
      {IDC_OPTION1 + 2, u"ｴﾗｰで接続できなくても報告しません"},
      {IDC_OPTION1 + 3, u"Scroll Lockランプを点滅させます"},
      {IDC_OPTION1 + 4, u"起動すると自動的にﾒｰﾙをﾁｪｯｸします"},
      {IDC_OPTION1 + 5, u"2回目以降のﾒｰﾙﾁｪｯｸが高速になります"},
      {IDC_OPTION1 + 6, u"チェックするとWindowsの終了時に自動的に終了します"},
      {IDC_OPTION1 + 7, u"ポップアップに「ログ表示」ボタンを表示します"},
      {IDC_OPTION1 + 8, u"最新メールから順に並べられます"},
      {IDC_OPTION1 + 9, u"ｵﾌﾗｲﾝの時は指定時間ごとのﾁｪｯｸをしません"},
      {IDC_OPTION1 + 10, u"チェック完了後に回線を切断します"},
      {IDC_DECODE_ALL, u"ﾁｪｯｸを外すと以前と同じ表示になります"},
      {IDC_TRAY_ICON, u"通知領域のｱｲｺﾝから操作できます"},
      {IDC_FAST_CHECK, u"前回までに一覧にしたメールはサーバに問い合わせません"},
      {IDC_QUIET, u"全画面表示やプレゼンテーションの間は音を鳴らさず、ポップアップは終わってから表示します"},
      {IDC_RUN_AT_LOGON, u"Windowsにﾛｸﾞｵﾝすると自動的に起動します"},
      {timerId(1), u"0ならﾁｪｯｸしません"},
      {timerId(2), u"0にするとﾎﾞﾀﾝを押さないと消えません"},
      {timerId(3), u"この時間が経過すると次のメールアドレスをチェックします"},
      {timerId(4), u"0にするとﾒｰﾙﾁｪｯｸ､ﾎﾟｯﾌﾟｱｯﾌﾟ､ﾒｰﾗｰ起動を行うまで消えません"},
      {IDC_MAILER1, u"起動するﾒｰﾗｰの場所を指定してください"},
      {IDC_MAILER2, u"起動するﾒｰﾗｰの場所を指定してください"},
      {IDC_REF1, u"参照"},
      {IDC_REF2, u"参照"},
      {IDC_WAV_REF, u"参照"},
      {IDC_DIALLIST, u"どの接続を使うか選択してください"},
      {IDC_REDIAL, u"0ならﾘﾀﾞｲｱﾙしません"},
      {IDOK, u"設定を保存して閉じます"},
      {IDCANCEL, u"ｱｶｳﾝﾄ以外の変更は保存せずに閉じます"},
      {IDC_RESET_WIDTHS, u"ﾎﾟｯﾌﾟｱｯﾌﾟのﾘｽﾄの列幅を初期設定に戻します"},
      {IDC_ACCOUNTLIST, u"ﾀﾞﾌﾞﾙｸﾘｯｸは編集と同じです"},
      {IDC_ADD, u"ｱｶｳﾝﾄを新しく追加します"},
      {IDC_EDIT, u"選択したｱｶｳﾝﾄの登録情報を編集します"},
      {IDC_DELETE, u"選択したｱｶｳﾝﾄを削除します"},
  };
  for (const auto& [id, text] : tips) t.add(id, text);
}

void ok(HWND dlg, OptionDialog& d) {
  if (!d.gate.okEnabled()) return;  // Enter while OK is greyed
  OptionsForm form = readForm(dlg);
  form.balloon = d.balloon;
  switch (pressOk(d.store, form, static_cast<std::int16_t>(d.accounts.count()))) {
    case OkOutcome::Saved:
      if (isChecked(dlg, IDC_RUN_AT_LOGON))
        setLogonEntry(logonCommand(programFolder()));
      else
        removeLogonEntry();
      EndDialog(dlg, IDOK);
      break;
    case OkOutcome::DuplicateHotkeys:
      MessageBoxW(dlg, L"起動キーが重複しています", kTitle, MB_OK | MB_ICONEXCLAMATION);
      break;
    case OkOutcome::InvalidBox:  // OK is greyed then; nothing to say
      break;
  }
}

void browse(HWND dlg, int target, const char16_t* description, const char16_t* pattern,
            const char16_t* title) {
  const Text file = pickFile(dlg, description, pattern, programFolder(), title);
  if (!file.empty()) setControlText(dlg, target, file);
}

INT_PTR onCommand(HWND dlg, OptionDialog& d, int id, int code) {
  if (d.accounts.onCommand(id, code)) return TRUE;
  if (id >= timerId(1) && id <= timerId(4)) {
    if (code == EN_CHANGE && !d.filling)
      enableControl(dlg, IDOK, d.gate.check(id - IDC_TIMER1 + 1, controlText(dlg, id)));
    return TRUE;
  }
  if (id == IDC_REDIAL) {
    if (code == EN_CHANGE && !d.filling)
      enableControl(dlg, IDOK, d.gate.check(OkGate::kRedial, controlText(dlg, id)));
    return TRUE;
  }
  if (code != BN_CLICKED) return FALSE;
  switch (id) {
    case IDC_TAB_GENERAL: showPage(dlg, 0); return TRUE;
    case IDC_TAB_ACCOUNTS: showPage(dlg, 1); return TRUE;
    case IDC_OPTION1 + 0:
    case IDC_OPTION1 + 1:
    case IDC_OPTION1 + 3: {
      OptionsForm f = readForm(dlg);
      const int index = id - IDC_OPTION1;
      applyCheckClick(f, index);
      if (index == 0) setControlText(dlg, timerId(2), f.timers[1]);
      if (index == 3) setControlText(dlg, timerId(4), f.timers[3]);
      applyEnables(dlg, f);
      return TRUE;
    }
    case IDC_REF1:
    case IDC_REF2:
      browse(dlg, id == IDC_REF1 ? IDC_MAILER1 : IDC_MAILER2, u"ｱﾌﾟﾘｹｰｼｮﾝ", u"*.exe", u"ﾒｰﾗｰの選択");
      return TRUE;
    case IDC_WAV_REF:
      browse(dlg, IDC_WAV, u"WAVﾌｧｲﾙ", u"*.wav", u"WAVﾌｧｲﾙの選択");
      return TRUE;
    case IDC_RESET_WIDTHS: resetGridWidths(d.store); return TRUE;
    case IDOK: ok(dlg, d); return TRUE;
    case IDCANCEL: EndDialog(dlg, IDCANCEL); return TRUE;
  }
  return FALSE;
}

INT_PTR CALLBACK optionProc(HWND dlg, UINT msg, WPARAM wp, LPARAM lp) {
  auto* d = reinterpret_cast<OptionDialog*>(GetWindowLongPtrW(dlg, DWLP_USER));
  switch (msg) {
    case WM_INITDIALOG: {
      d = reinterpret_cast<OptionDialog*>(lp);
      SetWindowLongPtrW(dlg, DWLP_USER, lp);
      HCURSOR previous = SetCursor(LoadCursorW(nullptr, IDC_WAIT));
      HINSTANCE instance = GetModuleHandleW(nullptr);
      SendMessageW(dlg, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(LoadIconW(instance, MAKEINTRESOURCEW(1))));
      SendMessageW(dlg, WM_SETICON, ICON_SMALL,
                   reinterpret_cast<LPARAM>(LoadImageW(instance, MAKEINTRESOURCEW(1), IMAGE_ICON,
                                                       GetSystemMetrics(SM_CXSMICON),
                                                       GetSystemMetrics(SM_CYSMICON), 0)));
      fillHotkeyLists(dlg);
      fillOptions(dlg, *d);
      d->tips.attach(dlg);
      addTips(d->tips);
      showPage(dlg, 0);
      d->filling = false;
      SetCursor(previous);
      return TRUE;
    }
    case WM_COMMAND:
      if (d) return onCommand(dlg, *d, LOWORD(wp), HIWORD(wp));
      break;
    case WM_NOTIFY:
      if (d) {
        if (auto r = d->accounts.onNotify(*reinterpret_cast<NMHDR*>(lp))) {
          SetWindowLongPtrW(dlg, DWLP_MSGRESULT, *r);
          return TRUE;
        }
      }
      break;
  }
  return FALSE;
}

}  // namespace

void runOptionDialog(HINSTANCE instance, SettingsStore& store) {
  OptionDialog d(store);
  DialogBoxParamW(instance, MAKEINTRESOURCEW(IDD_OPTION), nullptr, optionProc, reinterpret_cast<LPARAM>(&d));
}

}  // namespace tarvi::settings::win32
