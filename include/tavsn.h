/* tavsn: identifiers of the machine a host application runs on.
 *
 * Every identifier is built afresh from the hardware on every call; nothing
 * is cached. The identifier functions must not be called from several
 * threads at once.
 *
 * Usable from C and C++, with MinGW and MSVC. Hosts that load the library at
 * run time look the functions up by these export names:
 *
 *   _GetMacSN@8  _GetPCSN@8  _GetPCSNEx@8     (stdcall; 64-bit: GetMacSN ...)
 *   tav_get_pc_id  tav_get_pc_id_ex  tav_get_pc_id_info   (cdecl)
 */
#ifndef TAVSN_H
#define TAVSN_H

#if defined(_WIN32) && !defined(_WIN64)
#define TAVSN_STDCALL __stdcall
#define TAVSN_CDECL __cdecl
#else
/* Other targets have one calling convention; the native unit tests use it. */
#define TAVSN_STDCALL
#define TAVSN_CDECL
#endif

/* The name GetProcAddress needs for a stdcall export: decorated in the
 * 32-bit library, plain in the 64-bit one, where there is one convention. */
#if defined(_WIN32) && !defined(_WIN64)
#define TAVSN_STDCALL_EXPORT_NAME(function) "_" #function "@8"
#else
#define TAVSN_STDCALL_EXPORT_NAME(function) #function
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* Results shared by GetMacSN, GetPCSN, GetPCSNEx and their two aliases. */
#define TAVSN_MAC_SN_WRITTEN 32        /* GetMacSN: the 32 characters were written */
#define TAVSN_MAC_FROM_ADAPTER 0       /* GetPCSN(Ex): MAC read from a physical adapter's driver */
#define TAVSN_MAC_FROM_IP_HELPER 1     /* GetPCSN(Ex): MAC from the IP Helper adapter list */
#define TAVSN_MAC_FROM_UUID 2          /* GetPCSN(Ex): MAC from a sequential UUID's node */
#define TAVSN_ERROR_NO_MAC (-1)        /* no MAC address from any source; buffer untouched */
#define TAVSN_ERROR_INVALID_PARAM (-2) /* buffer null or size 0; buffer untouched */
#define TAVSN_ERROR_BUFFER_SMALL (-3)  /* size below 32, negative sizes included; untouched */

/* Results of tav_get_pc_id. */
#define TAVSN_PC_ID_WRITTEN 32      /* 31 hex digits and a zero byte were written */
#define TAVSN_PC_ID_BAD_BUFFER (-1) /* len below 32, or data null; data untouched */
#define TAVSN_PC_ID_NO_MEMORY (-2)  /* no memory for the probes; data untouched */

/* The MAC identifier: "TQ11" and 28 uppercase hex digits. On success writes
 * exactly 32 bytes, no terminating zero, and returns 32; `size` is only
 * checked, bytes from position 32 on are never touched. On failure writes
 * nothing. */
int TAVSN_STDCALL GetMacSN(char* buffer, int size);

/* The machine identifier: "TQ12" and 28 digits from the first MAC, the
 * processor and the firmware's system serial number or UUID. Same buffer
 * contract as GetMacSN; returns where the MAC came from (0, 1 or 2). */
int TAVSN_STDCALL GetPCSN(char* buffer, int size);

/* As GetPCSN, with a record checksum in place of the firmware fields. */
int TAVSN_STDCALL GetPCSNEx(char* buffer, int size);

/* cdecl aliases of GetPCSN and GetPCSNEx. */
int TAVSN_CDECL tav_get_pc_id_ex(char* buffer, int size);
int TAVSN_CDECL tav_get_pc_id_info(char* buffer, int size);

/* The fingerprint: 31 uppercase hex digits of an MD5 over processor, disk
 * and adapter facts, then a zero byte: writes exactly 32 bytes and returns
 * 32. A null `data` is refused with -1, like a short one. */
int TAVSN_CDECL tav_get_pc_id(char* data, unsigned int len);

/* Run-time lookup, for example:
 *
 *   HMODULE dll = LoadLibraryA("tavsn.dll");
 *   TavsnIdentifierFn get_mac_sn =
 *       (TavsnIdentifierFn)(void*)GetProcAddress(dll, TAVSN_STDCALL_EXPORT_NAME(GetMacSN));
 *   char id[32];
 *   if (get_mac_sn && get_mac_sn(id, sizeof id) == TAVSN_MAC_SN_WRITTEN) { ... }
 */
typedef int(TAVSN_STDCALL* TavsnIdentifierFn)(char* buffer, int size);
typedef int(TAVSN_CDECL* TavsnAliasFn)(char* buffer, int size);
typedef int(TAVSN_CDECL* TavsnPcIdFn)(char* data, unsigned int len);

#ifdef __cplusplus
}
#endif

#endif /* TAVSN_H */
