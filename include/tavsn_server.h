/* tavsn_server: decode, verify and compare tavsn identifiers on a licence
 * server. Portable C (no Windows calls); link the tavsn_server library.
 *
 * Every function takes the identifier as pointer + length and reads no byte
 * past the length; the text needs no terminating zero. No function
 * allocates memory that the caller must free, keeps state between calls or
 * lets a C++ exception escape. All are safe to call from several threads.
 *
 *   tavsn_decoded d;
 *   if (tavsn_decode(id, 32, &d) == TAVSN_SERVER_OK && d.kind == TAVSN_KIND_MACHINE) { ... }
 */
#ifndef TAVSN_SERVER_H
#define TAVSN_SERVER_H

#include <stddef.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Results. Negative values are errors; tavsn_server_error_text names them. */
#define TAVSN_SERVER_OK 0
#define TAVSN_SERVER_ERROR_NULL (-1)             /* a required pointer is null */
#define TAVSN_SERVER_ERROR_LENGTH (-2)           /* not 32 characters; error_detail = the length */
#define TAVSN_SERVER_ERROR_TAG (-3)              /* not TQ11/TQ12; error_detail = position */
#define TAVSN_SERVER_ERROR_CHARACTER (-4)        /* not 0-9/A-F; error_detail = position */
#define TAVSN_SERVER_ERROR_WRONG_KIND (-5)       /* a TQ12 where a TQ11 is needed, or the reverse */
#define TAVSN_SERVER_ERROR_DIFFERENT_KINDS (-6)  /* compare: a TQ11 against a TQ12 */
#define TAVSN_SERVER_ERROR_DIFFERENT_EXPORTS (-7) /* compare: GetPCSN against GetPCSNEx */
#define TAVSN_SERVER_ERROR_BAD_FACT (-8)         /* a MAC address that is not 12 hex digits */
#define TAVSN_SERVER_ERROR_INTERNAL (-9)         /* out of memory */

#define TAVSN_KIND_MAC 1     /* "TQ11", GetMacSN */
#define TAVSN_KIND_MACHINE 2 /* "TQ12", GetPCSN or GetPCSNEx */

/* Which export made a machine identifier. */
#define TAVSN_MADE_BY_GETPCSN_SERIAL 1      /* GetPCSN, firmware serial number */
#define TAVSN_MADE_BY_GETPCSN_UUID 2        /* GetPCSN, firmware UUID text */
#define TAVSN_MADE_BY_GETPCSN_NO_FIRMWARE 3 /* GetPCSN, firmware not read: zero system fields */
#define TAVSN_MADE_BY_GETPCSNEX 4           /* GetPCSNEx: system length 14, record checksum verifies */
#define TAVSN_MADE_BY_UNKNOWN 5             /* fits neither: damaged, or not made by the DLL */

typedef struct tavsn_decoded {
  int kind;             /* TAVSN_KIND_* */
  size_t error_detail;  /* see the error codes above; 0 on success */
  unsigned anomaly_count; /* things the DLL never writes; 0 for every genuine identifier */

  /* TAVSN_KIND_MAC. Each address is masked with a byte of the first one:
   * with k = first address byte 0 (unknown), first = first_mac_masked ^ k,
   * second = second_mac_masked ^ first_mac_masked[1] ^ k. Only their XOR,
   * mac_address_xor, comes back exactly (all zero for a single address). */
  unsigned char mac_source; /* 1: adapter driver or IP Helper, 0: a UUID's node */
  unsigned char mac_count;  /* low 8 bits */
  unsigned char first_mac_masked[6];
  unsigned char second_mac_masked[6];
  unsigned char mac_address_xor[6];

  /* TAVSN_KIND_MACHINE */
  unsigned short source_flags; /* 0x01 MAC step, 0x02 MAC from UUID, 0x04 firmware serial,
                                  0x08 firmware UUID, 0x10 processor serial, 0x20 processor details */
  unsigned char mac_prefix[2]; /* bytes 0 and 1 of the first MAC */
  unsigned short mac_checksum;
  unsigned short system_length;
  unsigned short system_checksum;
  unsigned short processor_length;
  unsigned short processor_checksum;
  int made_by;                 /* TAVSN_MADE_BY_* */
  int self_checksum_verifies;  /* 1 when system_checksum is the record checksum GetPCSNEx stores */
} tavsn_decoded;

/* Parses, validates and decodes. On an error only kind (0) and error_detail are set. */
int tavsn_decode(const char* text, size_t length, tavsn_decoded* out);

/* Verdicts of the matchers. */
#define TAVSN_VERDICT_NOT_GIVEN 0
#define TAVSN_VERDICT_MATCH 1
#define TAVSN_VERDICT_MISMATCH 2
#define TAVSN_VERDICT_NOT_CHECKABLE 3 /* the identifier does not carry this fact */
#define TAVSN_VERDICT_BAD_FACT 4      /* the fact is malformed */

/* Does a MAC identifier belong to a machine with these addresses (each 12
 * hex digits, either case, pairs optionally separated by '-' or ':')?
 * sorted_distinct: nonzero to order them as the DLL orders the adapter
 * drivers' list (distinct, ascending), zero to take them as given (the IP
 * Helper fallback's order). source: 0 or 1 to require that source byte, -1
 * to accept the identifier's own. *verdict receives TAVSN_VERDICT_*. */
int tavsn_match_mac(const char* text, size_t length, const char* const* macs, size_t mac_count,
                    int sorted_distinct, int source, int* verdict);

/* Facts about one machine, zero-terminated texts; NULL when not known. */
typedef struct tavsn_machine_facts {
  const char* mac;            /* the first address of the DLL's list */
  const char* processor_text; /* the processor serial or details text */
  const char* serial_number;  /* the firmware's system serial number */
  const char* uuid_text;      /* the firmware UUID as the DLL formats it: 4 groups of 8 digits */
} tavsn_machine_facts;

typedef struct tavsn_machine_match {
  int mac, processor, serial_number, uuid_text; /* TAVSN_VERDICT_* each */
  int overall; /* MISMATCH if any mismatched, else BAD_FACT if any was bad, else MATCH if any
                  matched, else NOT_CHECKABLE, or NOT_GIVEN without facts */
} tavsn_machine_match;

/* Does a machine identifier fit these facts? */
int tavsn_match_machine(const char* text, size_t length, const tavsn_machine_facts* facts,
                        tavsn_machine_match* out);

/* Components of a machine that a comparison reports as changed (bit set). */
#define TAVSN_COMPONENT_MAC 0x1u
#define TAVSN_COMPONENT_PROCESSOR 0x2u
#define TAVSN_COMPONENT_FIRMWARE 0x4u
#define TAVSN_COMPONENT_MAC_SOURCE 0x8u

/* "Same machine" when at most max_changed components changed and none in
 * must_keep did. The default, {1, 0}, tolerates any one changed component,
 * such as a replaced network card. */
typedef struct tavsn_compare_policy {
  unsigned max_changed;
  unsigned must_keep;
} tavsn_compare_policy;

typedef struct tavsn_comparison {
  unsigned changed_components; /* TAVSN_COMPONENT_* */
  unsigned changed_fields;     /* how many record fields differ */
  int same_machine;            /* 1 or 0 under the policy */
} tavsn_comparison;

/* Compares two identifiers of one kind; policy NULL means the default. */
int tavsn_compare(const char* before, size_t before_length, const char* after, size_t after_length,
                  const tavsn_compare_policy* policy, tavsn_comparison* out);

/* A static English text for a result code. */
const char* tavsn_server_error_text(int code);

#ifdef __cplusplus
}
#endif

#endif /* TAVSN_SERVER_H */
