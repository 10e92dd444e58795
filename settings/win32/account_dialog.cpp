#include "settings/win32/account_dialog.h"

#include "settings/account_list.h"
#include "settings/win32/color_picker.h"
#include "settings/win32/file_picker.h"
#include "settings/win32/resource.h"
#include "settings/win32/ui.h"

namespace tarvi::settings::win32 {
namespace {

struct Editor {
  AccountForm form;
  EditorGate gate;
  bool filling = true;
  HBRUSH fore = nullptr;
  HBRUSH back = nullptr;
  Tooltips tips;
  std::optional<AccountSettings> result;

  explicit Editor(bool editing) : gate(editing) {}
  ~Editor() {
    if (fore) DeleteObject(fore);
    if (back) DeleteObject(back);
  }
};

void setBrush(HBRUSH& brush, std::int32_t color) {
  if (brush) DeleteObject(brush);
  brush = CreateSolidBrush(static_cast<COLORREF>(color));
}

void updateOk(HWND dlg, const Editor& e) { enableControl(dlg, IDOK, e.gate.okEnabled()); }

void fill(HWND dlg, Editor& e) {
  const AccountForm& f = e.form;
  setControlText(dlg, IDC_ACC_NAME, f.name);
  setControlText(dlg, IDC_ACC_HOST, f.host);
  setControlText(dlg, IDC_ACC_PORT, f.port);
  setControlText(dlg, IDC_ACC_USER, f.user);
  SendDlgItemMessageW(dlg, IDC_ACC_PASS, EM_SETPASSWORDCHAR, L'*', 0);
  setControlText(dlg, IDC_ACC_PASS, f.password);
  setChecked(dlg, IDC_ACC_CHECK, f.check);
  setBrush(e.fore, f.foreColor);
  setBrush(e.back, f.backColor);
  CheckRadioButton(dlg, IDC_ACC_SOUND0, IDC_ACC_SOUND2, IDC_ACC_SOUND0 + f.soundMode);
  setControlText(dlg, IDC_ACC_WAV, f.sound);
}

void addTips(Editor& e) {
  e.tips.add(IDC_ACC_NAME, u"好きな名前を付けて下さい、省略すると「ﾕｰｻﾞｰ名@ﾒｰﾙｻｰﾊﾞ」になります");
  e.tips.add(IDC_ACC_HOST, u"ﾒｰﾙｻｰﾊﾞの名前を入れてください");
  e.tips.add(IDC_ACC_PORT, u"通常は110のままでいいよ");
  e.tips.add(IDC_ACC_USER, u"ﾕｰｻﾞｰ名(ｱｶｳﾝﾄ)を入れてください");
  e.tips.add(IDC_ACC_PASS, u"ﾊﾟｽﾜｰﾄﾞを入れてください、*で表示されます");
  e.tips.add(IDC_ACC_FORE, u"ｸﾘｯｸすると色を選択できます");
  e.tips.add(IDC_ACC_BACK, u"ｸﾘｯｸすると色を選択できます");
  e.tips.add(IDC_ACC_SOUND0, u"全般で指定したWAVﾌｧｲﾙを使用します");
  e.tips.add(IDC_ACC_SOUND0 + 1, u"ｱｶｳﾝﾄ別にで指定したWAVﾌｧｲﾙを使用します");
  e.tips.add(IDC_ACC_SOUND2, u"ｻｳﾝﾄﾞを再生しません");
  e.tips.add(IDC_ACC_WAV_REF, u"参照");
  e.tips.add(IDOK, u"設定を保存して閉じるよ");
  e.tips.add(IDCANCEL, u"変更は保存せずに閉じるよ");
}

void collect(HWND dlg, Editor& e) {
  AccountForm& f = e.form;
  f.name = controlText(dlg, IDC_ACC_NAME);
  f.host = controlText(dlg, IDC_ACC_HOST);
  f.port = controlText(dlg, IDC_ACC_PORT);
  f.user = controlText(dlg, IDC_ACC_USER);
  f.password = controlText(dlg, IDC_ACC_PASS);
  f.check = isChecked(dlg, IDC_ACC_CHECK);
  f.soundMode = isChecked(dlg, IDC_ACC_SOUND0) ? 0 : isChecked(dlg, IDC_ACC_SOUND0 + 1) ? 1 : 2;
  f.sound = controlText(dlg, IDC_ACC_WAV);
}

void chooseColor(HWND dlg, Editor& e, int id) {
  const std::int32_t c = pickColor(dlg);
  if (c == -1) return;
  if (id == IDC_ACC_FORE) {
    e.form.foreColor = c;
    setBrush(e.fore, c);
  } else {
    e.form.backColor = c;
    setBrush(e.back, c);
  }
  InvalidateRect(GetDlgItem(dlg, id), nullptr, TRUE);
}

INT_PTR onCommand(HWND dlg, Editor& e, int id, int code) {
  switch (id) {
    case IDC_ACC_HOST:
      if (code == EN_CHANGE && !e.filling) {
        e.gate.hostChanged(controlText(dlg, IDC_ACC_HOST));
        updateOk(dlg, e);
      }
      return TRUE;
    case IDC_ACC_PORT:
      if (code == EN_CHANGE && !e.filling) {
        e.gate.portChanged(controlText(dlg, IDC_ACC_PORT));
        updateOk(dlg, e);
      }
      return TRUE;
    case IDC_ACC_FORE:
    case IDC_ACC_BACK:
      if (code == STN_CLICKED || code == STN_DBLCLK) chooseColor(dlg, e, id);
      return TRUE;
    case IDC_ACC_WAV_REF: {
      const Text file = pickFile(dlg, u"ｱｶｳﾝﾄ別WAVﾌｧｲﾙ", u"*.wav", programFolder(), u"WAVﾌｧｲﾙの選択");
      if (!file.empty()) setControlText(dlg, IDC_ACC_WAV, file);
      return TRUE;
    }
    case IDOK:
      if (!e.gate.okEnabled()) return TRUE;  // Enter while OK is greyed
      collect(dlg, e);
      e.result = accountFromForm(e.form);
      if (e.result) EndDialog(dlg, IDOK);
      return TRUE;
    case IDCANCEL:
      e.result.reset();
      EndDialog(dlg, IDCANCEL);
      return TRUE;
  }
  return FALSE;
}

INT_PTR CALLBACK editorProc(HWND dlg, UINT msg, WPARAM wp, LPARAM lp) {
  auto* e = reinterpret_cast<Editor*>(GetWindowLongPtrW(dlg, DWLP_USER));
  switch (msg) {
    case WM_INITDIALOG:
      e = reinterpret_cast<Editor*>(lp);
      SetWindowLongPtrW(dlg, DWLP_USER, lp);
      e->tips.attach(dlg);
      addTips(*e);
      fill(dlg, *e);
      e->gate.portChanged(e->form.port);
      e->filling = false;
      updateOk(dlg, *e);
      return TRUE;
    case WM_CTLCOLORSTATIC: {
      if (!e) break;
      const int id = GetDlgCtrlID(reinterpret_cast<HWND>(lp));
      if (id == IDC_ACC_FORE) return reinterpret_cast<INT_PTR>(e->fore);
      if (id == IDC_ACC_BACK) return reinterpret_cast<INT_PTR>(e->back);
      break;
    }
    case WM_COMMAND:
      if (e) return onCommand(dlg, *e, LOWORD(wp), HIWORD(wp));
      break;
  }
  return FALSE;
}

}  // namespace

std::optional<AccountSettings> editAccount(HWND owner, const AccountSettings* existing) {
  Editor e(existing != nullptr);
  if (existing) e.form = accountForm(*existing);
  DialogBoxParamW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDD_ACCOUNT), owner, editorProc,
                  reinterpret_cast<LPARAM>(&e));
  return e.result;
}

}  // namespace tarvi::settings::win32
