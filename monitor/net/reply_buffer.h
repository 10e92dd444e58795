// The bytes received for the reply in progress. Replies are recognised on
// whole lines and the end of a multi-line reply is looked for only in what
// is new since the last look, so a reply split anywhere across chunks reads
// the same as one that came in one piece, at a cost linear in its size.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace tarvi {

class ReplyBuffer {
 public:
  void clear();

  // Appends received bytes. NUL bytes become CR LF (servers that pad with
  // them would otherwise cut the text short). Line ends left over from the
  // previous reply are dropped at the start of a reply.
  void append(std::string_view chunk);

  const std::string& bytes() const { return buf_; }
  std::size_t size() const { return buf_.size(); }
  bool empty() const { return buf_.empty(); }

  // The current line with its LF, once it is complete.
  std::optional<std::string_view> firstLine();
  // Goes on to the line after the current one.
  void skipLine();

  // True once the multi-line reply that starts at the current line has
  // ended: LF "." followed by CR or LF.
  bool multiLineEnded();
  // The multi-line reply from its status line to the end of the bytes.
  std::string_view multiLine() const { return std::string_view(buf_).substr(lineStart_); }

  // Pipelined replies follow one another in the buffer. The multi-line
  // reply at the current line, from its status line through its end line,
  // once multiLineEnded() has said so.
  std::string_view endedReply() const {
    return std::string_view(buf_).substr(lineStart_, replyEnd_ - lineStart_);
  }
  // Goes on to the reply after the ended one. Line ends left over from its
  // end line are dropped, here or when they come, and what was read is let
  // go of now and then, so that a long series of replies does not pile up.
  void dropEndedReply();

 private:
  std::string buf_;
  std::size_t lineStart_ = 0;  // start of the current line
  std::size_t lineScan_ = 0;   // LF search goes on from here
  std::size_t endScan_ = 0;    // end-marker search goes on from here
  std::size_t replyEnd_ = 0;   // just past the end line, once ended_
  bool ended_ = false;
  // A reply was dropped up to the end of the bytes: a CR or LF that comes
  // next still belongs to its end line.
  bool afterReply_ = false;
};

}  // namespace tarvi
