// The fast check's kept list of 10,000 messages (as the Dovecot bench has
// them): encoding and writing it as a new file put in place by a rename,
// reading it back and decoding it, and the memory its records take. Prints
// figures of one run (best of five for the times); judges nothing.
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "monitor/state/kept_list.h"

namespace {

using namespace tarvi;
using Clock = std::chrono::steady_clock;

double ms(Clock::duration d) { return std::chrono::duration<double, std::milli>(d).count(); }

}  // namespace

int main(int argc, char** argv) {
  const int count = argc > 1 ? std::atoi(argv[1]) : 10000;
  const Text identity = u"127.0.0.1\n110\nbench";
  MessageList list;
  list.clear(count);
  for (int m = 1; m <= count; ++m) {
    MailItem& item = *list.find(m);
    char uid[32];
    std::snprintf(uid, sizeof uid, "%08X%08X", m, 1700000000);
    item.uid = uid;
    item.sender = u"sender" + decimal(m) + u"@example.jp";
    item.subject = u"benchmark " + decimal(m);
    item.identity = u"id <" + decimal(m) + u"@bench>";
  }
  const auto dir = std::filesystem::temp_directory_path() / "tarvi-bench-kept";
  std::filesystem::create_directories(dir);
  const auto path = dir / "list.dat", fresh = dir / "list.dat.new";

  double write = 1e9, read = 1e9, encode = 1e9, decode = 1e9;
  std::size_t bytes = 0;
  for (int round = 0; round < 5; ++round) {
    auto t0 = Clock::now();
    const std::string data = encodeKeptList(identity, list);
    auto t1 = Clock::now();
    {
      std::ofstream out(fresh, std::ios::binary | std::ios::trunc);
      out.write(data.data(), static_cast<std::streamsize>(data.size()));
    }
    std::filesystem::rename(fresh, path);
    auto t2 = Clock::now();
    std::ifstream in(path, std::ios::binary);
    std::string back((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    auto t3 = Clock::now();
    auto items = decodeKeptList(identity, back);
    auto t4 = Clock::now();
    if (!items || static_cast<int>(items->size()) != count) {
      std::fprintf(stderr, "the list did not read back\n");
      return 1;
    }
    bytes = data.size();
    encode = std::min(encode, ms(t1 - t0));
    write = std::min(write, ms(t2 - t0));
    decode = std::min(decode, ms(t4 - t3));
    read = std::min(read, ms(t4 - t2));
  }
  std::filesystem::remove_all(dir);
  std::printf("entries:                 %d\n", count);
  std::printf("file size:               %.1f KiB\n", static_cast<double>(bytes) / 1024);
  std::printf("encode + write + rename: %.2f ms (encode alone %.2f ms; goal < 50)\n", write, encode);
  std::printf("read + decode:           %.2f ms (decode alone %.2f ms; goal < 50)\n", read, decode);
  std::printf("record size:             %zu bytes a message before its texts\n", sizeof(MailItem));
  return 0;
}
