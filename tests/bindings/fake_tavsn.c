/* tavsn.dll's exports as a Linux library for the C# helpers under Mono. Each
 * writes a text of its own, so a helper calling the wrong export shows, and
 * returns what fake_set_result chose after the DLL's own buffer checks. */
#include <string.h>

static int next_result;

void fake_set_result(int result) { next_result = result; }

static int write_identifier(char* buffer, int size, const char* text) {
  if (!buffer || size == 0) return -2;
  if (size < 32) return -3;
  if (next_result >= 0) memcpy(buffer, text, 32);
  return next_result;
}

int GetMacSN(char* b, int n) { return write_identifier(b, n, "TQ1101020011263744550B3B2B5B4B7B"); }
int GetPCSN(char* b, int n) { return write_identifier(b, n, "TQ1220000A1B7B480E00B8FF26006C9A"); }
int GetPCSNEx(char* b, int n) { return write_identifier(b, n, "TQ1221000A1B7B480E00B8FF26006C9C"); }
int tav_get_pc_id_ex(char* b, int n) { return write_identifier(b, n, "TQ1220000A1B7B480E00B8FF26006C9E"); }
int tav_get_pc_id_info(char* b, int n) { return write_identifier(b, n, "TQ1221000A1B7B480E00B8FF26006C9F"); }
int tav_get_pc_id(char* data, unsigned len) {
  if (!data || len < 32) return -1;
  if (next_result >= 0) memcpy(data, "0123456789ABCDEF0123456789ABCDE", 32);
  return next_result;
}
