"""Sample mail as Japanese mail programs send it: ISO-2022-JP headers as
Base64 encoded words, ISO-2022-JP bodies, a multipart message with a
Japanese attachment name; and mail as today's web mail and newsletters send
it: UTF-8 in Base64 and quoted-printable, Latin-1 names, HTML only,
multipart/alternative."""
import base64
import quopri
import zlib


def encoded_word(text):
    return "=?ISO-2022-JP?B?%s?=" % base64.b64encode(text.encode("iso-2022-jp")).decode("ascii")


def message(sender_name, sender_addr, subject, body, date="Mon, 07 Dec 2026 09:00:00 +0900",
            attachment=None):
    head = [
        "Return-Path: <%s>" % sender_addr,
        "From: %s <%s>" % (encoded_word(sender_name), sender_addr),
        "To: demo@example.jp",
        "Subject: %s" % encoded_word(subject),
        "Date: %s" % date,
        "Message-ID: <%d.%s>" % (zlib.crc32((subject + body).encode("utf-8")), sender_addr),
        "MIME-Version: 1.0",
    ]
    text = body.encode("iso-2022-jp")
    if attachment is None:
        head += ["Content-Type: text/plain; charset=ISO-2022-JP", "Content-Transfer-Encoding: 7bit"]
        return ("\r\n".join(head) + "\r\n\r\n").encode("ascii") + text.replace(b"\n", b"\r\n") + b"\r\n"
    name, data = attachment
    boundary = "----=_Part_0_1234567890"
    head += ['Content-Type: multipart/mixed; boundary="%s"' % boundary]
    parts = [
        "--%s\r\nContent-Type: text/plain; charset=ISO-2022-JP\r\nContent-Transfer-Encoding: 7bit\r\n\r\n" % boundary,
    ]
    out = ("\r\n".join(head) + "\r\n\r\nThis is a multi-part message in MIME format.\r\n\r\n").encode("ascii")
    out += parts[0].encode("ascii") + text.replace(b"\n", b"\r\n") + b"\r\n"
    out += ("--%s\r\nContent-Type: application/octet-stream; name=\"%s\"\r\n"
            "Content-Transfer-Encoding: base64\r\nContent-Disposition: attachment; filename=\"%s\"\r\n\r\n"
            % (boundary, encoded_word(name), encoded_word(name))).encode("ascii")
    out += base64.encodebytes(data).replace(b"\n", b"\r\n")
    out += ("--%s--\r\n" % boundary).encode("ascii")
    return out


def b_word(text, charset="UTF-8"):
    return "=?%s?B?%s?=" % (charset, base64.b64encode(text.encode(charset)).decode("ascii"))


def q_word(text, charset="UTF-8"):
    """An RFC 2047 "Q" word: every byte outside plain letters and digits as =XX, spaces as _."""
    out = []
    for b in text.encode(charset):
        c = chr(b)
        out.append("_" if c == " " else c if c.isascii() and c.isalnum() else "=%02X" % b)
    return "=?%s?Q?%s?=" % (charset, "".join(out))


def split_b_words(text, cut):
    """Two Base64 words of UTF-8 on two header lines, cut after byte `cut`,
    which may fall inside a character (as some web mail sends it)."""
    data = text.encode("utf-8")
    words = [base64.b64encode(part).decode("ascii") for part in (data[:cut], data[cut:])]
    return "=?UTF-8?B?%s?=\r\n =?UTF-8?B?%s?=" % tuple(words)


def raw_message(sender, subject, content_type, body, encoding="8bit",
                date="Tue, 08 Dec 2026 10:00:00 +0900"):
    """A message from ready header values and body bytes (encoded as `encoding` says)."""
    head = [
        "From: %s" % sender,
        "To: demo@example.jp",
        "Subject: %s" % subject,
        "Date: %s" % date,
        "Message-ID: <%d.tarvi@example.net>" % zlib.crc32((sender + subject).encode("utf-8")),
        "MIME-Version: 1.0",
        "Content-Type: %s" % content_type,
    ]
    if encoding:
        head.append("Content-Transfer-Encoding: %s" % encoding)
    return ("\r\n".join(head) + "\r\n\r\n").encode("ascii") + body


def crlf(data):
    return data.replace(b"\r\n", b"\n").replace(b"\n", b"\r\n")


def base64_body(text):
    return crlf(base64.encodebytes(text.encode("utf-8")))


def qp_body(text):
    return crlf(quopri.encodestring(text.replace("\n", "\r\n").encode("utf-8")))


def alternative(sender, subject, plain, html):
    """multipart/alternative: the same text as quoted-printable plain text and as HTML."""
    boundary = "000000000000a1b2c3d4e5f6"
    body = ("--%s\r\nContent-Type: text/plain; charset=\"UTF-8\"\r\n"
            "Content-Transfer-Encoding: quoted-printable\r\n\r\n" % boundary).encode("ascii")
    body += qp_body(plain) + b"\r\n"
    body += ("--%s\r\nContent-Type: text/html; charset=\"UTF-8\"\r\n"
             "Content-Transfer-Encoding: base64\r\n\r\n" % boundary).encode("ascii")
    body += base64_body(html) + ("--%s--\r\n" % boundary).encode("ascii")
    return raw_message(sender, subject, 'multipart/alternative; boundary="%s"' % boundary, body,
                       encoding=None)


# The mail of today's senders, each with what a reader should see of it:
# (raw message, sender, subject, text the viewer shows, text it must not show).
GMAIL_SUBJECT = "【お知らせ】来週の勉強会の日程について"
MODERN = [
    (raw_message(q_word("René Müller", "ISO-8859-1") + " <rene@example.de>",
                 split_b_words(GMAIL_SUBJECT, 16),  # byte 16 is inside "】"
                 "text/plain; charset=UTF-8", base64_body("René です。\n勉強会は金曜日の18時からです。\n"),
                 encoding="base64"),
     "René Müller <rene@example.de>", GMAIL_SUBJECT, "勉強会は金曜日の18時からです。", "UmVuw6kg"),
    (raw_message(q_word("Café Lumière") + " <info@example.fr>", q_word("Café のメニュー変更のご案内"),
                 "text/plain; charset=utf-8", qp_body("新しいメニューは Crème brûlée です。\n"),
                 encoding="quoted-printable", date="Tue, 08 Dec 2026 10:05:00 +0900"),
     "Café Lumière <info@example.fr>", "Café のメニュー変更のご案内",
     "新しいメニューは Crème brûlée です。", "=C3"),
    (raw_message(b_word("ニュース配信") + " <news@example.com>", b_word("今月のおすすめ記事"),
                 "text/html; charset=UTF-8",
                 base64_body("<html><head><style>p { color: red }</style></head><body>"
                             "<h1>今月のおすすめ</h1><p>記事その1 &amp; その2</p>"
                             "<p>配信停止は<a href=\"https://example.com/stop\">こちら</a></p>"
                             "</body></html>\n"),
                 encoding="base64", date="Tue, 08 Dec 2026 10:10:00 +0900"),
     "ニュース配信 <news@example.com>", "今月のおすすめ記事", "記事その1 & その2", "color"),
    (alternative(b_word("鈴木 一郎") + " <suzuki@example.com>", b_word("Re: 見積もりの件"),
                 "見積もりを確認しました。\nよろしくお願いします。\n",
                 "<p>HTML版の本文</p>\n"),
     "鈴木 一郎 <suzuki@example.com>", "Re: 見積もりの件", "見積もりを確認しました。", "HTML版"),
]


def demo_mailbox():
    return [
        message("山田 太郎", "yamada@example.jp", "会議のお知らせ",
                "お疲れさまです。\n明日の会議は10時からです。\nよろしくお願いします。\n"),
        message("佐藤 花子", "sato@example.co.jp", "【重要】請求書の送付について",
                "いつもお世話になっております。\n請求書を添付いたします。\n",
                attachment=("請求書.pdf", b"%PDF-1.4 demo\n")),
        message("ニュースレター", "news@example.net", "今週のニュース（第１２号）",
                "今週の話題をお届けします。\n"),
        MODERN[0][0],  # UTF-8, Base64, a Latin-1 name
        MODERN[2][0],  # HTML only
    ]
