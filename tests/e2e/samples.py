"""Sample mail as Japanese mail programs send it: ISO-2022-JP headers as
Base64 encoded words, ISO-2022-JP bodies, a multipart message with a
Japanese attachment name."""
import base64
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


def demo_mailbox():
    return [
        message("山田 太郎", "yamada@example.jp", "会議のお知らせ",
                "お疲れさまです。\n明日の会議は10時からです。\nよろしくお願いします。\n"),
        message("佐藤 花子", "sato@example.co.jp", "【重要】請求書の送付について",
                "いつもお世話になっております。\n請求書を添付いたします。\n",
                attachment=("請求書.pdf", b"%PDF-1.4 demo\n")),
        message("ニュースレター", "news@example.net", "今週のニュース（第１２号）",
                "今週の話題をお届けします。\n"),
    ]
