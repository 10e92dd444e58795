/* The floor of an IMAP check: logs in, opens INBOX read-only, sends the one
 * UID FETCH of what a check lists (UID, flags, size and five header fields
 * of every message) and reads its answer to the tagged end, literals and
 * all, then LOGOUT. Prints the seconds from the FETCH to the end of its
 * answer and the number of FETCH responses. Native, blocking sockets,
 * nothing but what the dialogue needs.
 *
 *   uid_fetch_client PORT USER PASSWORD   (the server is 127.0.0.1)
 */
#define _GNU_SOURCE /* memmem */
#include <arpa/inet.h>
#include <netinet/in.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/socket.h>
#include <time.h>
#include <unistd.h>

static char buf[1 << 22];
static size_t have, pos; /* bytes in buf; start of the next response */
static long fetches;

static void fail(const char *what) {
  fprintf(stderr, "uid_fetch_client: %s\n", what);
  exit(1);
}

static void fill(int s) {
  if (have == sizeof buf) fail("response too large");
  ssize_t n = recv(s, buf + have, sizeof buf - have, 0);
  if (n <= 0) fail("connection closed");
  have += (size_t)n;
}

/* Reads one response (its lines and the literals they announce) and drops
 * it. Returns 1 when it completes `tag`, with *ok telling whether it is OK. */
static int response(int s, const char *tag, int *ok) {
  if (pos > sizeof buf / 2) {
    memmove(buf, buf + pos, have - pos);
    have -= pos;
    pos = 0;
  }
  size_t scan = pos;
  for (;;) {
    char *lf = scan < have ? memchr(buf + scan, '\n', have - scan) : NULL;
    if (!lf) {
      fill(s);
      continue;
    }
    size_t end = (size_t)(lf - buf) + 1;
    if (end - pos >= 4 && buf[end - 2] == '\r' && buf[end - 3] == '}') {
      size_t open = end - 3;
      while (open > pos && buf[open] != '{') --open;
      size_t literal = strtoul(buf + open + 1, NULL, 10);
      while (have < end + literal) fill(s);
      scan = end + literal;
      continue;
    }
    size_t len = strlen(tag);
    int tagged = end - pos > len && memcmp(buf + pos, tag, len) == 0 && buf[pos + len] == ' ';
    if (tagged) *ok = memcmp(buf + pos + len + 1, "OK", 2) == 0;
    if (buf[pos] == '*' && memmem(buf + pos, end - pos < 32 ? end - pos : 32, " FETCH ", 7)) ++fetches;
    pos = end;
    return tagged;
  }
}

static void command(int s, const char *tag, const char *text) {
  char line[512];
  int n = snprintf(line, sizeof line, "%s %s\r\n", tag, text);
  if (send(s, line, (size_t)n, 0) != n) fail("send");
  int ok = 0;
  while (!response(s, tag, &ok)) {
  }
  if (!ok) fail(text);
}

int main(int argc, char **argv) {
  if (argc != 4) fail("usage: uid_fetch_client PORT USER PASSWORD");
  int s = socket(AF_INET, SOCK_STREAM, 0);
  struct sockaddr_in a = {0};
  a.sin_family = AF_INET;
  a.sin_port = htons((unsigned short)atoi(argv[1]));
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (connect(s, (struct sockaddr *)&a, sizeof a) != 0) fail("connect");
  int ok = 0;
  response(s, "", &ok); /* the greeting */
  char text[400];
  snprintf(text, sizeof text, "LOGIN \"%s\" \"%s\"", argv[2], argv[3]);
  command(s, "a1", text);
  command(s, "a2", "EXAMINE INBOX");

  struct timespec t0, t1;
  clock_gettime(CLOCK_MONOTONIC, &t0);
  command(s, "a3",
          "UID FETCH 1:* (UID FLAGS RFC822.SIZE BODY.PEEK[HEADER.FIELDS "
          "(FROM SUBJECT DATE MESSAGE-ID CONTENT-TYPE)])");
  clock_gettime(CLOCK_MONOTONIC, &t1);
  command(s, "a4", "LOGOUT");
  close(s);
  printf("%.3f %ld\n", (double)(t1.tv_sec - t0.tv_sec) + (t1.tv_nsec - t0.tv_nsec) / 1e9, fetches);
  return 0;
}
