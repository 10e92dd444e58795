/* The floor of a one-request-per-round-trip check: logs on, asks STAT, then
 * TOP n 5 of every message, each after the previous reply has ended, and
 * QUIT. Prints the seconds from STAT to the end of QUIT's reply. Native,
 * blocking sockets, nothing but what the dialogue needs.
 *
 *   top_client PORT USER PASSWORD   (the server is 127.0.0.1)
 */
#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/socket.h>
#include <time.h>
#include <unistd.h>

static char buf[1 << 20];
static size_t have;

static void fail(const char *what) {
  fprintf(stderr, "top_client: %s\n", what);
  exit(1);
}

static void fill(int s) {
  if (have == sizeof buf) fail("reply too large");
  ssize_t n = recv(s, buf + have, sizeof buf - have, 0);
  if (n <= 0) fail("connection closed");
  have += (size_t)n;
}

/* Reads one reply (up to CR LF, or up to CR LF . CR LF for a multi-line
 * one) and drops it from the buffer; returns its first line's first byte. */
static char reply(int s, int multi) {
  const char *end = multi ? "\r\n.\r\n" : "\r\n";
  size_t len = strlen(end);
  for (;;) {
    if (have >= len) {
      for (size_t i = 0; i + len <= have; ++i) {
        if (memcmp(buf + i, end, len) == 0) {
          char first = buf[0];
          memmove(buf, buf + i + len, have - i - len);
          have -= i + len;
          return first;
        }
      }
    }
    fill(s);
  }
}

static void command(int s, const char *line) {
  size_t n = strlen(line);
  if (send(s, line, n, 0) != (ssize_t)n) fail("send");
}

int main(int argc, char **argv) {
  if (argc != 4) fail("usage: top_client PORT USER PASSWORD");
  int s = socket(AF_INET, SOCK_STREAM, 0);
  struct sockaddr_in a = {0};
  a.sin_family = AF_INET;
  a.sin_port = htons((unsigned short)atoi(argv[1]));
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (connect(s, (struct sockaddr *)&a, sizeof a) != 0) fail("connect");
  char line[512];
  reply(s, 0);
  snprintf(line, sizeof line, "USER %s\r\n", argv[2]);
  command(s, line);
  reply(s, 0);
  snprintf(line, sizeof line, "PASS %s\r\n", argv[3]);
  command(s, line);
  if (reply(s, 0) != '+') fail("logon refused");

  struct timespec t0, t1;
  clock_gettime(CLOCK_MONOTONIC, &t0);
  command(s, "STAT\r\n");
  /* The count follows "+OK " in the reply, still at the buffer's start
   * until reply() drops it: read it first. */
  while (!memchr(buf, '\n', have)) fill(s);
  long count = strtol(buf + 4, NULL, 10);
  reply(s, 0);
  for (long n = 1; n <= count; ++n) {
    snprintf(line, sizeof line, "TOP %ld 5\r\n", n);
    command(s, line);
    if (reply(s, 1) != '+') fail("TOP refused");
  }
  command(s, "QUIT\r\n");
  reply(s, 0);
  clock_gettime(CLOCK_MONOTONIC, &t1);
  close(s);
  printf("%.3f %ld\n", (double)(t1.tv_sec - t0.tv_sec) + (t1.tv_nsec - t0.tv_nsec) / 1e9, count);
  return 0;
}
