// Control IDs of the settings program's dialogs. The general page uses
// 1000..1199 and the account page 1200..1299, so a page is shown or hidden
// by its ID range.
#pragma once

#define IDD_OPTION 100
#define IDD_ACCOUNT 101

// Options dialog, both pages
#define IDC_TAB_GENERAL 900
#define IDC_TAB_ACCOUNTS 901
#define IDC_RESET_WIDTHS 902  // Command3

// General page
#define IDC_GENERAL_FIRST 1000
#define IDC_ARRIVAL_FRAME 1000
#define IDC_OPTION1 1001   // the fourteen check boxes of the form: IDC_OPTION1 + index
#define IDC_SOPTION11 1012
#define IDC_DECODE_ALL 1013  // the thirteenth check box
#define IDC_TRAY_ICON 1014   // the fourteenth
#define IDC_RUN_AT_LOGON 1015  // Windows' Run entry, not a setting
#define IDC_FAST_CHECK 1016    // the fifteenth check box (not IDC_OPTION1 + 14)
#define IDC_QUIET 1017         // the sixteenth
#define IDC_TIMER1 1020    // timerbox1..4: IDC_TIMER1 + index
#define IDC_TIMER4 1023
#define IDC_TIMER1_LABEL 1025
#define IDC_TIMER2_LABEL 1026
#define IDC_TIMER3_LABEL 1027
#define IDC_TIMER3_UNIT 1028
#define IDC_TIMER4_LABEL 1029
#define IDC_MAILER1 1030
#define IDC_MAILER2 1031
#define IDC_MAILER1_LABEL 1032
#define IDC_MAILER2_LABEL 1033
#define IDC_REF1 1034
#define IDC_REF2 1035
#define IDC_WAV 1036
#define IDC_WAV_LABEL 1037
#define IDC_WAV_REF 1038   // Command2
#define IDC_DIAL_LABEL 1040
#define IDC_DIALLIST 1041
#define IDC_REDIAL_LABEL 1042
#define IDC_REDIAL 1043
#define IDC_KEY_FRAME 1050
#define IDC_KEY_LABEL0 1060  // + list index
#define IDC_KEY0 1070        // cmb_Key(0..7): + list index
#define IDC_GENERAL_LAST 1199

// Account page
#define IDC_ACCOUNT_FIRST 1200
#define IDC_ACCOUNTLIST 1200
#define IDC_ADD 1201
#define IDC_EDIT 1202
#define IDC_DELETE 1203
#define IDC_ACCOUNT_LAST 1299

// Account editor
#define IDC_ACC_NAME 2001
#define IDC_ACC_HOST 2002
#define IDC_ACC_PORT 2003
#define IDC_ACC_USER 2004
#define IDC_ACC_PASS 2005
#define IDC_ACC_CHECK 2006
#define IDC_ACC_FORE 2007
#define IDC_ACC_BACK 2008
#define IDC_ACC_SOUND0 2010  // + sound mode
#define IDC_ACC_SOUND2 2012
#define IDC_ACC_WAV 2013
#define IDC_ACC_WAV_REF 2014
#define IDC_ACC_TLS 2015   // the TLS mode: plain, SSL/TLS, STARTTLS
#define IDC_ACC_TEST 2016  // the connection test; "中止" while one runs
#define IDC_ACC_PROTOCOL 2017  // 受信方式: POP3, IMAP
#define IDC_ACC_FOLDER_LABEL 2018
#define IDC_ACC_FOLDER 2019    // the IMAP folder checked
#define IDC_ACC_IDLE 2020
#define IDC_ACC_UNSEEN 2021
// Account editor: signing in (2030..2049)
#define IDC_ACC_SIGNIN_METHOD 2030  // ﾊﾟｽﾜｰﾄﾞ, Microsoft, Google, その他: by SignIn
#define IDC_ACC_SIGNIN 2031         // "サインイン...": runs the sign-in
#define IDC_ACC_FORGET 2032         // forgets the password and the sign-in
#define IDC_ACC_SIGNIN_STATUS 2033
#define IDC_ACC_CLIENT 2034
#define IDC_ACC_AUTH_URL 2035
#define IDC_ACC_TOKEN_URL 2036
#define IDC_ACC_SCOPE 2037
#define IDC_ACC_PASS_LABEL 2038
#define IDC_ACC_CLIENT_LABEL 2039
#define IDC_ACC_AUTH_URL_LABEL 2040
#define IDC_ACC_TOKEN_URL_LABEL 2041
#define IDC_ACC_SCOPE_LABEL 2042

// Sign-in dialog (sign_in_dialog.cpp)
#define IDD_SIGN_IN 110
#define IDC_SIGN_IN_TEXT 2900
