#include "settings/win32/account_dialog.h"

#include <memory>

#include "common/app.h"
#include "common/sign_in.h"
#include "common/win32/registry_store.h"
#include "common/tls_policy.h"
#include "common/win32/schannel.h"
#include "settings/account_list.h"
#include "settings/connection_test.h"
#include "settings/options_model.h"
#include "settings/win32/color_picker.h"
#include "settings/win32/file_picker.h"
#include "settings/win32/resource.h"
#include "settings/win32/sign_in_dialog.h"
#include "settings/win32/test_link.h"
#include "settings/win32/ui.h"

namespace tarvi::settings::win32 {
namespace {

using tarvi::win32::SchannelFactory;
using tarvi::win32::wide;

// Posted by a connection test's worker when it is done; wParam is its id.
constexpr UINT kTestDone = WM_APP + 1;
// Each step of the test (connect, a reply) may take this long.
constexpr int kTestTimeLimitMs = 20000;

const char16_t* const kTlsModes[] = {u"暗号化なし", u"SSL/TLS", u"STARTTLS"};
const char16_t* const kProtocols[] = {u"POP3", u"IMAP"};  // by MailProtocol

// One connection test, shared by the dialog and its worker thread, so that
// neither outlives what the other still uses.
struct TestJob {
  WPARAM id = 0;
  HWND dialog = nullptr;
  ConnectionTestInput input;
  WinsockLink link{kTestTimeLimitMs};
  ConnectionTestResult result;
};

struct Editor {
  AccountForm form;
  EditorGate gate;
  bool filling = true;
  HBRUSH fore = nullptr;
  HBRUSH back = nullptr;
  Tooltips tips;
  std::optional<AccountSettings> result;
  std::shared_ptr<TestJob> test;  // the test under way, if any
  WPARAM lastTestId = 0;

  explicit Editor(bool editing) : gate(editing) {}
  ~Editor() {
    if (test) test->link.cancel();
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
  fillCombo(dlg, IDC_ACC_TLS, kTlsModes, f.tlsMode);
  fillCombo(dlg, IDC_ACC_PROTOCOL, kProtocols, f.protocol);
  setControlText(dlg, IDC_ACC_FOLDER, f.folder);
  setChecked(dlg, IDC_ACC_IDLE, f.pushIdle);
  setChecked(dlg, IDC_ACC_UNSEEN, f.unseenOnly);
  fillCombo(dlg, IDC_ACC_SIGNIN_METHOD, kSignInMethods, f.signIn);
  setControlText(dlg, IDC_ACC_CLIENT, f.clientId);
  setControlText(dlg, IDC_ACC_AUTH_URL, f.authorizeUrl);
  setControlText(dlg, IDC_ACC_TOKEN_URL, f.tokenUrl);
  setControlText(dlg, IDC_ACC_SCOPE, f.scope);
}

int chosenSignIn(HWND dlg) {
  const LRESULT i = SendDlgItemMessageW(dlg, IDC_ACC_SIGNIN_METHOD, CB_GETCURSEL, 0, 0);
  return i >= kMicrosoftSignIn && i <= kOtherSignIn ? static_cast<int>(i) : int{kPasswordSignIn};
}

// As with the IMAP fields, what does not apply keeps its value, greyed.
void enableSignInFields(HWND dlg) {
  const int method = chosenSignIn(dlg);
  const bool token = method != kPasswordSignIn;
  for (int id : {IDC_ACC_PASS_LABEL, IDC_ACC_PASS}) enableControl(dlg, id, !token);
  for (int id : {IDC_ACC_CLIENT_LABEL, IDC_ACC_CLIENT, IDC_ACC_SIGNIN}) enableControl(dlg, id, token);
  for (int id : {IDC_ACC_AUTH_URL_LABEL, IDC_ACC_AUTH_URL, IDC_ACC_TOKEN_URL_LABEL, IDC_ACC_TOKEN_URL,
                 IDC_ACC_SCOPE_LABEL, IDC_ACC_SCOPE})
    enableControl(dlg, id, method == kOtherSignIn);
}

int chosenTlsMode(HWND dlg) {
  const LRESULT i = SendDlgItemMessageW(dlg, IDC_ACC_TLS, CB_GETCURSEL, 0, 0);
  return (i == kImplicitTls || i == kStartTls) ? static_cast<int>(i) : int{kPlain};
}

int chosenProtocol(HWND dlg) {
  return SendDlgItemMessageW(dlg, IDC_ACC_PROTOCOL, CB_GETCURSEL, 0, 0) == kImap ? int{kImap} : int{kPop3};
}

// The IMAP fields keep their values under POP3, greyed: switching back
// shows them as they were.
void enableImapFields(HWND dlg) {
  const bool imap = chosenProtocol(dlg) == kImap;
  for (int id : {IDC_ACC_FOLDER_LABEL, IDC_ACC_FOLDER, IDC_ACC_IDLE, IDC_ACC_UNSEEN}) enableControl(dlg, id, imap);
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
  e.tips.add(IDC_ACC_TLS, u"SSL/TLSは通常ﾎﾟｰﾄ995(IMAPは993)、STARTTLSは110(IMAPは143)で使います");
  e.tips.add(IDC_ACC_PROTOCOL, u"ﾒｰﾙｻｰﾊﾞから受信する方式を選びます");
  e.tips.add(IDC_ACC_FOLDER, u"ﾁｪｯｸするIMAPのﾌｫﾙﾀﾞ、空欄ならINBOXです");
  e.tips.add(IDC_ACC_IDLE, u"ｻｰﾊﾞが対応していれば、届いたﾒｰﾙをすぐに知らせます");
  e.tips.add(IDC_ACC_UNSEEN, u"ﾁｪｯｸを外すと既読のﾒｰﾙも表示します");
  e.tips.add(IDC_ACC_SIGNIN_METHOD, u"ﾊﾟｽﾜｰﾄﾞの代わりにMicrosoftやGoogleのｻｲﾝｲﾝでﾛｸﾞｵﾝできます");
  e.tips.add(IDC_ACC_SIGNIN, u"ﾌﾞﾗｳｻﾞでｻｲﾝｲﾝします(ｱｶｳﾝﾄはOKで保存されます)");
  e.tips.add(IDC_ACC_CLIENT, u"空欄ならこのﾌﾟﾛｸﾞﾗﾑのｸﾗｲｱﾝﾄIDを使います");
  e.tips.add(IDC_ACC_FORGET, u"保存したﾊﾟｽﾜｰﾄﾞとｻｲﾝｲﾝ情報を削除します(OKで保存されます)");
  e.tips.add(IDC_ACC_TEST, u"入力中の内容でｻｰﾊﾞに接続してﾛｸﾞｵﾝを試します(保存はしません)");
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
  f.tlsMode = chosenTlsMode(dlg);
  f.protocol = chosenProtocol(dlg);
  f.folder = controlText(dlg, IDC_ACC_FOLDER);
  f.pushIdle = isChecked(dlg, IDC_ACC_IDLE);
  f.unseenOnly = isChecked(dlg, IDC_ACC_UNSEEN);
  f.signIn = chosenSignIn(dlg);
  f.clientId = controlText(dlg, IDC_ACC_CLIENT);
  f.authorizeUrl = controlText(dlg, IDC_ACC_AUTH_URL);
  f.tokenUrl = controlText(dlg, IDC_ACC_TOKEN_URL);
  f.scope = controlText(dlg, IDC_ACC_SCOPE);
}

void showSignInStatus(HWND dlg, Editor& e) {
  collect(dlg, e);
  setControlText(dlg, IDC_ACC_SIGNIN_STATUS, signInStatus(e.form));
}

// The sign-in runs on the form as it is now; its token goes with the
// account when OK stores it, as Cancel must leave the stored one alone.
void signIn(HWND dlg, Editor& e) {
  collect(dlg, e);
  AccountForm form = e.form;
  // The port plays no part in signing in; a half-typed one must not stop it.
  if (!parsePortText(form.port)) form.port = u"110";
  const auto account = accountFromForm(form);
  if (!account) return;
  if (const Text why = signInProblem(*account); !why.empty()) {
    MessageBoxW(dlg, wide(why).c_str(), wide(kAppTitle).c_str(), MB_OK | MB_ICONEXCLAMATION);
    return;
  }
  const SignInOutcome outcome = runSignIn(dlg, *account);
  if (outcome.ok) e.form.refreshToken = outcome.refreshToken;
  showSignInStatus(dlg, e);
}

void forget(HWND dlg, Editor& e) {
  if (MessageBoxW(dlg, wide(kForgetQuestion).c_str(), wide(kAppTitle).c_str(), MB_YESNO | MB_ICONQUESTION) != IDYES)
    return;
  collect(dlg, e);
  forgetCredentials(e.form);
  setControlText(dlg, IDC_ACC_PASS, e.form.password);
  showSignInStatus(dlg, e);
}

DWORD WINAPI testWorker(void* param) {
  const std::unique_ptr<std::shared_ptr<TestJob>> hold(static_cast<std::shared_ptr<TestJob>*>(param));
  TestJob& job = **hold;
  SchannelFactory tls(true);
  job.result = runConnectionTest(job.input, job.link, tls);
  // Fails harmlessly when the dialog is gone.
  PostMessageW(job.dialog, kTestDone, job.id, 0);
  return 0;
}

void stopTest(HWND dlg, Editor& e) {
  if (!e.test) return;
  e.test->link.cancel();
  e.test.reset();
  setControlText(dlg, IDC_ACC_TEST, u"接続テスト");
}

// Runs the test on a worker thread with the values in the dialog: the
// dialog stays responsive and the button cancels it.
void startTest(HWND dlg, Editor& e) {
  collect(dlg, e);
  Text why;
  const auto in = connectionTestInput(e.form, why);
  if (!in) {
    MessageBoxW(dlg, wide(why).c_str(), wide(kAppTitle).c_str(), MB_OK | MB_ICONEXCLAMATION);
    return;
  }
  auto job = std::make_shared<TestJob>();
  job->id = ++e.lastTestId;
  job->input = *in;
  e.test = job;
  setControlText(dlg, IDC_ACC_TEST, u"中止");
  // The worker holds its own reference to the job.
  auto* hold = new std::shared_ptr<TestJob>(job);
  job->dialog = dlg;
  HANDLE thread = CreateThread(nullptr, 0, testWorker, hold, 0, nullptr);
  if (!thread) {
    delete hold;
    stopTest(dlg, e);
    return;
  }
  CloseHandle(thread);
}

void showTestResult(HWND dlg, Editor& e, WPARAM id) {
  if (!e.test || e.test->id != id) return;  // cancelled, or an earlier one
  const std::shared_ptr<TestJob> job = std::move(e.test);
  setControlText(dlg, IDC_ACC_TEST, u"接続テスト");
  const ConnectionTestResult& r = job->result;
  const Text report = connectionTestReport(job->input, r);
  const std::wstring title = wide(kAppTitle);
  if (r.certificateRefused() && r.cert->present && r.cert->sha256.size() == 64) {
    // The user has seen subject, issuer, validity and fingerprint above.
    // The pin goes with the account when OK saves it, never at once: it
    // belongs to the host, port and mode in the dialog, which are not saved
    // yet, and the editor's Cancel must leave the stored account as it was.
    const Text ask = report + u"\r\n\r\n" + kAcceptCertificateQuestion;
    if (MessageBoxW(dlg, wide(ask).c_str(), title.c_str(), MB_YESNO | MB_ICONWARNING | MB_DEFBUTTON2) == IDYES)
    {
      e.form.tlsPin = ascii(r.cert->sha256);
      e.form.tlsPinFor = pinBinding(job->input.host, job->input.port, job->input.tlsMode);
    }
    return;
  }
  const bool ok = r.loggedOn && r.failure.empty() && r.refusal.empty();
  MessageBoxW(dlg, wide(report).c_str(), title.c_str(), MB_OK | (ok ? MB_ICONINFORMATION : MB_ICONEXCLAMATION));
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
    case IDC_ACC_TLS:
      if (code == CBN_SELCHANGE) {
        const Text port = controlText(dlg, IDC_ACC_PORT);
        const Text moved = portForTlsMode(port, chosenTlsMode(dlg), chosenProtocol(dlg));
        if (moved != port) setControlText(dlg, IDC_ACC_PORT, moved);
      }
      return TRUE;
    case IDC_ACC_PROTOCOL:
      if (code == CBN_SELCHANGE) {
        const Text port = controlText(dlg, IDC_ACC_PORT);
        const Text moved = portForProtocol(port, chosenProtocol(dlg));
        if (moved != port) setControlText(dlg, IDC_ACC_PORT, moved);
        enableImapFields(dlg);
      }
      return TRUE;
    case IDC_ACC_USER:
      if (code == EN_CHANGE && !e.filling) showSignInStatus(dlg, e);
      return TRUE;
    case IDC_ACC_SIGNIN_METHOD:
      if (code == CBN_SELCHANGE) {
        enableSignInFields(dlg);
        showSignInStatus(dlg, e);
      }
      return TRUE;
    case IDC_ACC_SIGNIN:
      if (code == BN_CLICKED) signIn(dlg, e);
      return TRUE;
    case IDC_ACC_FORGET:
      if (code == BN_CLICKED) forget(dlg, e);
      return TRUE;
    case IDC_ACC_TEST:
      if (code == BN_CLICKED) {
        if (e.test)
          stopTest(dlg, e);
        else
          startTest(dlg, e);
      }
      return TRUE;
    case IDC_ACC_WAV_REF: {
      const Text file = pickFile(dlg, u"ｱｶｳﾝﾄ別WAVﾌｧｲﾙ", u"*.wav", programFolder(), u"WAVﾌｧｲﾙの選択");
      if (!file.empty()) setControlText(dlg, IDC_ACC_WAV, file);
      return TRUE;
    }
    case IDOK:
      if (!e.gate.okEnabled()) return TRUE;  // Enter while OK is greyed
      collect(dlg, e);
      if (const Text why = accountFormProblem(e.form); !why.empty()) {
        MessageBoxW(dlg, wide(why).c_str(), wide(kAppTitle).c_str(), MB_OK | MB_ICONEXCLAMATION);
        return TRUE;
      }
      stopTest(dlg, e);
      e.result = accountFromForm(e.form);
      if (e.result) EndDialog(dlg, IDOK);
      return TRUE;
    case IDCANCEL:
      stopTest(dlg, e);
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
      enableImapFields(dlg);
      enableSignInFields(dlg);
      setControlText(dlg, IDC_ACC_SIGNIN_STATUS, signInStatus(e->form));
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
    case kTestDone:
      if (e) showTestResult(dlg, *e, wp);
      return TRUE;
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
