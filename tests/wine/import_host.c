/* A C host linked against tavsn.dll through an import library and the
   public header, as a host program built that way calls it: prints what each
   export returns and writes, then the byte after the 32 it may write. The
   release package's consumer project builds this same file. */
#include <stdio.h>
#include <string.h>

#include "tavsn.h"

typedef int(TAVSN_STDCALL* StdcallIdentifier)(char*, int);
typedef int(TAVSN_CDECL* CdeclIdentifier)(char*, int);

static void print_stdcall(const char* name, StdcallIdentifier function) {
  char id[40];
  int result;
  memset(id, '#', sizeof id);
  result = function(id, 32);
  printf("%s %d %.32s %c\n", name, result, id, id[32]);
}

static void print_cdecl(const char* name, CdeclIdentifier function) {
  char id[40];
  int result;
  memset(id, '#', sizeof id);
  result = function(id, 32);
  printf("%s %d %.32s %c\n", name, result, id, id[32]);
}

int main(void) {
  char pc_id[40];
  int result;

  print_stdcall("GetMacSN", GetMacSN);

  memset(pc_id, '#', sizeof pc_id);
  result = tav_get_pc_id(pc_id, 32);
  printf("tav_get_pc_id %d %.31s %d %c\n", result, pc_id, pc_id[31], pc_id[32]);

  print_stdcall("GetPCSN", GetPCSN);
  print_stdcall("GetPCSNEx", GetPCSNEx);
  print_cdecl("tav_get_pc_id_ex", tav_get_pc_id_ex);
  print_cdecl("tav_get_pc_id_info", tav_get_pc_id_info);
  return 0;
}
