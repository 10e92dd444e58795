#include "monitor/state/kept_list.h"

#include <unordered_set>

#include "common/kept_list_name.h"

namespace tarvi {
namespace {

constexpr std::string_view kMagic = "TARVI-KEPT-LIST 1\n";
constexpr std::string_view kEnd = "END ";

std::uint64_t checksum(std::string_view bytes) {
  std::uint64_t h = 0xcbf29ce484222325ull;
  for (unsigned char c : bytes) {
    h ^= c;
    h *= 0x100000001b3ull;
  }
  return h;
}

std::string hex(std::uint64_t v) {
  std::string s(16, '0');
  for (int i = 15; i >= 0; --i, v >>= 4) s[static_cast<std::size_t>(i)] = "0123456789abcdef"[v & 0xF];
  return s;
}

void putEscaped(std::string& out, TextView text) {
  for (char c : toUtf8(text)) {
    switch (c) {
      case '\\': out += "\\\\"; break;
      case '\t': out += "\\t"; break;
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      default: out += c;
    }
  }
}

std::optional<Text> unescape(std::string_view field) {
  std::string out;
  out.reserve(field.size());
  for (std::size_t i = 0; i < field.size(); ++i) {
    if (field[i] != '\\') {
      out += field[i];
      continue;
    }
    if (++i == field.size()) return std::nullopt;
    switch (field[i]) {
      case '\\': out += '\\'; break;
      case 't': out += '\t'; break;
      case 'n': out += '\n'; break;
      case 'r': out += '\r'; break;
      default: return std::nullopt;
    }
  }
  return fromUtf8(out);
}

// The next line without its LF; nullopt when no LF ends it.
std::optional<std::string_view> takeLine(std::string_view& rest) {
  const std::size_t lf = rest.find('\n');
  if (lf == std::string_view::npos) return std::nullopt;
  std::string_view line = rest.substr(0, lf);
  rest.remove_prefix(lf + 1);
  return line;
}

}  // namespace

bool validUid(std::string_view uid) {
  if (uid.empty() || uid.size() > 70) return false;
  for (unsigned char c : uid)
    if (c < 0x21 || c > 0x7E) return false;
  return true;
}

std::string encodeKeptList(TextView identity, const MessageList& list) {
  std::string body;
  int count = 0;
  for (int m = 1; m <= list.size(); ++m) {
    const MailItem& item = *list.find(m);
    if (item.uid.empty()) continue;
    ++count;
    body += item.uid;
    body += item.hasAttachment ? "\ta\t" : "\t-\t";
    putEscaped(body, item.sender);
    body += '\t';
    putEscaped(body, item.subject);
    body += '\t';
    putEscaped(body, item.identity);
    body += '\n';
  }
  std::string out(kMagic);
  putEscaped(out, identity);
  out += '\n' + std::to_string(count) + '\n' + body;
  out += std::string(kEnd) + hex(checksum(out)) + '\n';
  return out;
}

std::optional<std::vector<MailItem>> decodeKeptList(TextView identity, std::string_view bytes) {
  if (bytes.size() > ListStore::kMaxBytes || bytes.substr(0, kMagic.size()) != kMagic)
    return std::nullopt;
  // The checksum line is the last; everything before it is what it sums.
  if (bytes.size() < kEnd.size() + 17 || bytes.back() != '\n') return std::nullopt;
  const std::size_t endLine = bytes.size() - (kEnd.size() + 17);
  if (bytes.substr(endLine, kEnd.size()) != kEnd ||
      bytes.substr(endLine + kEnd.size(), 16) != hex(checksum(bytes.substr(0, endLine))))
    return std::nullopt;
  std::string_view rest = bytes.substr(kMagic.size(), endLine - kMagic.size());

  auto owner = takeLine(rest);
  if (!owner || unescape(*owner) != Text(identity)) return std::nullopt;
  auto countLine = takeLine(rest);
  if (!countLine) return std::nullopt;
  auto count = parseInteger(fromUtf8(*countLine), 0, MessageList::kMaxMessages);
  if (!count) return std::nullopt;

  std::vector<MailItem> items;
  items.reserve(static_cast<std::size_t>(*count));
  std::unordered_set<std::string_view> uids;
  while (!rest.empty()) {
    auto line = takeLine(rest);
    if (!line || static_cast<std::int64_t>(items.size()) == *count) return std::nullopt;
    std::string_view fields[5];
    std::string_view l = *line;
    for (int f = 0; f < 5; ++f) {
      const std::size_t tab = l.find('\t');
      if ((tab == std::string_view::npos) != (f == 4)) return std::nullopt;
      fields[f] = l.substr(0, tab);
      if (f < 4) l.remove_prefix(tab + 1);
    }
    if (!validUid(fields[0]) || !uids.insert(fields[0]).second) return std::nullopt;
    if (fields[1] != "a" && fields[1] != "-") return std::nullopt;
    auto sender = unescape(fields[2]);
    auto subject = unescape(fields[3]);
    auto id = unescape(fields[4]);
    if (!sender || !subject || !id) return std::nullopt;
    MailItem& item = items.emplace_back();
    item.uid = std::string(fields[0]);
    item.hasAttachment = fields[1] == "a";
    item.sender = std::move(*sender);
    item.subject = std::move(*subject);
    item.identity = std::move(*id);
  }
  if (static_cast<std::int64_t>(items.size()) != *count) return std::nullopt;
  return items;
}

std::vector<MailItem> loadKeptList(ListStore& store, TextView identity) {
  const Text name = keptListFileName(identity);
  auto bytes = store.read(name);
  if (!bytes) return {};
  auto items = decodeKeptList(identity, *bytes);
  if (items) return std::move(*items);
  store.setAside(name);
  return {};
}

bool saveKeptList(ListStore& store, TextView identity, const MessageList& list) {
  const std::string bytes = encodeKeptList(identity, list);
  if (bytes.size() > ListStore::kMaxBytes) return false;
  return store.write(keptListFileName(identity), bytes);
}

}  // namespace tarvi
