/* A C host linked against tavsn.dll through its MinGW import library and
   the public header, as a host program built that way calls it: prints what
   GetMacSN and tav_get_pc_id return and write. */
#include <stdio.h>
#include <string.h>

#include "tavsn.h"

int main(void) {
  char mac_sn[40];
  char pc_id[40];
  int result;

  memset(mac_sn, '#', sizeof mac_sn);
  result = GetMacSN(mac_sn, 32);
  printf("GetMacSN %d %.32s %c\n", result, mac_sn, mac_sn[32]);

  memset(pc_id, '#', sizeof pc_id);
  result = tav_get_pc_id(pc_id, 32);
  printf("tav_get_pc_id %d %.31s %d %c\n", result, pc_id, pc_id[31], pc_id[32]);
  return 0;
}
