#include "monitor/pop3/reply_buffer.h"

namespace tarvi {

void ReplyBuffer::clear() {
  buf_.clear();
  lineStart_ = lineScan_ = endScan_ = 0;
  ended_ = false;
}

void ReplyBuffer::append(std::string_view chunk) {
  std::size_t i = 0;
  if (buf_.empty()) {
    // "\n.\r" ends a reply, so its LF may still be on its way; it belongs
    // to the reply before.
    while (i < chunk.size() && (chunk[i] == '\r' || chunk[i] == '\n')) ++i;
  }
  // Whole runs between NULs are copied at once: a chunk is up to 64 KB and
  // a retrieved message many of them.
  chunk.remove_prefix(i);
  for (;;) {
    const std::size_t nul = chunk.find('\0');
    if (nul == std::string_view::npos) {
      buf_.append(chunk);
      return;
    }
    buf_.append(chunk.substr(0, nul));
    buf_ += "\r\n";
    chunk.remove_prefix(nul + 1);
  }
}

std::optional<std::string_view> ReplyBuffer::firstLine() {
  const std::size_t lf = buf_.find('\n', lineScan_);
  if (lf == std::string::npos) {
    lineScan_ = buf_.size();
    return std::nullopt;
  }
  lineScan_ = lf;
  return std::string_view(buf_).substr(lineStart_, lf + 1 - lineStart_);
}

void ReplyBuffer::skipLine() {
  if (!firstLine()) return;
  lineStart_ = lineScan_ + 1;
  lineScan_ = lineStart_;
  endScan_ = lineStart_;
  ended_ = false;
}

bool ReplyBuffer::multiLineEnded() {
  if (ended_) return true;
  // The marker is three bytes; the two before the new part may hold its
  // beginning.
  std::size_t from = endScan_ >= lineStart_ + 2 ? endScan_ - 2 : lineStart_;
  for (;;) {
    const std::size_t lf = buf_.find("\n.", from);
    if (lf == std::string::npos || lf + 2 >= buf_.size()) break;
    const char c = buf_[lf + 2];
    if (c == '\r' || c == '\n') {
      ended_ = true;
      break;
    }
    from = lf + 1;
  }
  endScan_ = buf_.size();
  return ended_;
}

}  // namespace tarvi
