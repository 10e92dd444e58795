#include "monitor/net/reply_buffer.h"

namespace tarvi {

void ReplyBuffer::clear() {
  buf_.clear();
  lineStart_ = lineScan_ = endScan_ = replyEnd_ = 0;
  ended_ = false;
  afterReply_ = false;
}

void ReplyBuffer::append(std::string_view chunk) {
  std::size_t i = 0;
  if (buf_.empty() || (afterReply_ && lineStart_ == buf_.size())) {
    // "\n.\r" ends a reply, so its LF may still be on its way; it belongs
    // to the reply before.
    while (i < chunk.size() && (chunk[i] == '\r' || chunk[i] == '\n')) ++i;
  }
  // Whole runs between NULs are copied at once: a chunk is up to 64 KB and
  // a retrieved message many of them.
  chunk.remove_prefix(i);
  if (!chunk.empty()) afterReply_ = false;
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
      replyEnd_ = lf + 3;
      if (c == '\r' && replyEnd_ < buf_.size() && buf_[replyEnd_] == '\n') ++replyEnd_;
      break;
    }
    from = lf + 1;
  }
  endScan_ = buf_.size();
  return ended_;
}

void ReplyBuffer::dropEndedReply() {
  if (!ended_) return;
  std::size_t at = replyEnd_;
  while (at < buf_.size() && (buf_[at] == '\r' || buf_[at] == '\n')) ++at;
  afterReply_ = at == buf_.size();
  // Moving the rest to the front costs a copy of it; doing so only once the
  // part read is large keeps the cost linear.
  constexpr std::size_t kKeepRead = 64 * 1024;
  if (at >= kKeepRead) {
    buf_.erase(0, at);
    at = 0;
  }
  lineStart_ = lineScan_ = endScan_ = replyEnd_ = at;
  ended_ = false;
}

}  // namespace tarvi
