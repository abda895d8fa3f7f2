/* A C host built as for MSVC (clang for a *-windows-msvc target, lld-link,
   tavsn.lib) that calls all six exports through the import library and the
   public header. This machine has neither MSVC's headers nor its C runtime,
   so the program uses neither: it declares its three kernel32 functions
   itself and has its own entry point. For each export it prints one line:
   the name, the result, and the 32 buffer bytes in hex. */
#include "tavsn.h"

#ifdef _WIN64
#define HOST_WINAPI
#else
#define HOST_WINAPI __stdcall
#endif

__declspec(dllimport) void* HOST_WINAPI GetStdHandle(unsigned long which);
__declspec(dllimport) int HOST_WINAPI
    WriteFile(void* file, const void* data, unsigned long size, unsigned long* written, void* overlapped);
__declspec(dllimport) __declspec(noreturn) void HOST_WINAPI ExitProcess(unsigned int code);

static char line[128];
static int line_length;

static void put_text(const char* text) {
  while (*text) line[line_length++] = *text++;
}

static void put_int(int value) {
  char digits[12];
  int count = 0;
  unsigned int magnitude = value < 0 ? 0u - (unsigned int)value : (unsigned int)value;
  if (value < 0) line[line_length++] = '-';
  do {
    digits[count++] = (char)('0' + magnitude % 10);
    magnitude /= 10;
  } while (magnitude);
  while (count) line[line_length++] = digits[--count];
}

static void report(const char* name, int result, const unsigned char* buffer) {
  unsigned long written;
  int i;
  line_length = 0;
  put_text(name);
  put_text(" ");
  put_int(result);
  put_text(" ");
  for (i = 0; i < 32; ++i) {
    line[line_length++] = "0123456789ABCDEF"[buffer[i] >> 4];
    line[line_length++] = "0123456789ABCDEF"[buffer[i] & 15];
  }
  put_text("\n");
  WriteFile(GetStdHandle((unsigned long)-11), line, (unsigned long)line_length, &written, 0);
}

#define CALL(function, size)                  \
  do {                                        \
    unsigned char buffer[32];                 \
    int i, result;                            \
    for (i = 0; i < 32; ++i) buffer[i] = '#'; \
    result = function((char*)buffer, size);   \
    report(#function, result, buffer);        \
  } while (0)

void host_start(void) {
  CALL(GetMacSN, 32);
  CALL(GetPCSN, 32);
  CALL(GetPCSNEx, 32);
  CALL(tav_get_pc_id_ex, 32);
  CALL(tav_get_pc_id_info, 32);
  CALL(tav_get_pc_id, 32u);
  ExitProcess(0);
}
