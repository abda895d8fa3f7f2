/* tavsn_server: decode, verify and compare tavsn identifiers on a licence
 * server. Portable C (no Windows calls); link the tavsn_server library.
 *
 * Every function takes the identifier as pointer + length and reads no byte
 * past the length; the text needs no terminating zero (facts are
 * zero-terminated texts). No function allocates memory that the caller must
 * free, keeps state between calls or lets a C++ exception escape. All are
 * safe to call from several threads. Every output a function is given is
 * set on every path, errors included (verdicts to "not checkable", counts
 * to 0); every argument outside its documented range is an error.
 * error_detail counts bytes: the length given, or the 0-based byte offset
 * of the first wrong character.
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
#define TAVSN_SERVER_ERROR_NULL (-1)              /* a required pointer is null */
#define TAVSN_SERVER_ERROR_LENGTH (-2)            /* not 32 characters; error_detail = the length */
#define TAVSN_SERVER_ERROR_TAG (-3)               /* not TQ11/TQ12; error_detail = position */
#define TAVSN_SERVER_ERROR_CHARACTER (-4)         /* not 0-9/A-F; error_detail = position */
#define TAVSN_SERVER_ERROR_WRONG_KIND (-5)        /* a TQ12 where a TQ11 is needed, or the reverse */
#define TAVSN_SERVER_ERROR_DIFFERENT_KINDS (-6)   /* compare: a TQ11 against a TQ12 */
#define TAVSN_SERVER_ERROR_DIFFERENT_EXPORTS (-7) /* compare: GetPCSN against GetPCSNEx */
#define TAVSN_SERVER_ERROR_BAD_FACT (-8)          /* a MAC address that is not 12 hex digits */
#define TAVSN_SERVER_ERROR_INTERNAL (-9)          /* out of memory */
#define TAVSN_SERVER_ERROR_NOT_DLL_RECORD                 \
  (-10) /* well-formed, but no record the DLL writes (its \
           anomalies: tavsn_describe); never judged */
#define TAVSN_SERVER_ERROR_BAD_ARGUMENT                 \
  (-11) /* an argument out of its range: a source other \
           than -1, 0, 1; a policy kind, a max_changed  \
           above 4 or an unknown must_keep bit */
#define TAVSN_SERVER_ERROR_INCONSISTENT_BUNDLE                    \
  (-12) /* since 1.2: a bundle whose members cannot come from one \
           machine and one call site (error_side, error_member) */

#define TAVSN_KIND_MAC 1     /* "TQ11", GetMacSN */
#define TAVSN_KIND_MACHINE 2 /* "TQ12", GetPCSN or GetPCSNEx */

/* Which export made a machine identifier. */
#define TAVSN_MADE_BY_GETPCSN_SERIAL 1      /* GetPCSN, firmware serial number */
#define TAVSN_MADE_BY_GETPCSN_UUID 2        /* GetPCSN, firmware UUID text */
#define TAVSN_MADE_BY_GETPCSN_NO_FIRMWARE 3 /* GetPCSN, firmware not read: zero system fields */
#define TAVSN_MADE_BY_GETPCSNEX 4           /* GetPCSNEx: system length 14, record checksum verifies */
#define TAVSN_MADE_BY_UNKNOWN 5             /* fits neither: damaged, or not made by the DLL */

typedef struct tavsn_decoded {
  int kind;               /* TAVSN_KIND_* */
  size_t error_detail;    /* see the error codes above; 0 on success */
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
  int made_by;                /* TAVSN_MADE_BY_* */
  int self_checksum_verifies; /* 1 when system_checksum is the record checksum GetPCSNEx stores */
} tavsn_decoded;

/* Parses, validates and decodes. On an error only kind (0) and error_detail are set. */
int tavsn_decode(const char* text, size_t length, tavsn_decoded* out);

/* Verdicts of the matchers. */
#define TAVSN_VERDICT_NOT_GIVEN 0
#define TAVSN_VERDICT_MATCH 1
#define TAVSN_VERDICT_MISMATCH 2
#define TAVSN_VERDICT_NOT_CHECKABLE 3      /* the identifier does not carry this fact */
#define TAVSN_VERDICT_BAD_FACT 4           /* the fact is malformed */
#define TAVSN_VERDICT_NOT_WRITTEN_BY_DLL 5 /* with TAVSN_SERVER_ERROR_NOT_DLL_RECORD */
#define TAVSN_VERDICT_WEAK_MATCH                                                                 \
  6 /* since 1.2, overall only: every matching fact is one that many machines share (a processor \
       text, a placeholder firmware text): it does not tell this machine from its model's */

/* Does a MAC identifier belong to a machine with these addresses (each 12
 * hex digits, either case, pairs optionally separated by '-' or ':')?
 * sorted_distinct: nonzero to make the list as the DLL makes the adapter
 * drivers' list (zero addresses dropped, distinct, ascending); zero for a
 * fallback's single address: the IP Helper list in its own order, whose
 * first adapter described as "PCI" (else its first) the DLL takes, so give
 * that one first; the rest are not used. source: 0 or 1 to require that
 * source byte, -1 to accept the identifier's own. *verdict receives
 * TAVSN_VERDICT_*. */
int tavsn_match_mac(const char* text, size_t length, const char* const* macs, size_t mac_count, int sorted_distinct,
                    int source, int* verdict);

/* Facts about one machine, zero-terminated texts; NULL when not known. */
typedef struct tavsn_machine_facts {
  const char* mac;            /* the first address of the DLL's list */
  const char* processor_text; /* the processor serial or details text */
  const char* serial_number;  /* the firmware's system serial number */
  const char* uuid_text;      /* the firmware UUID as the DLL writes it: four groups of 8 hex digits
                                 joined by '-', each group the little-endian 32-bit value of table
                                 bytes 0-3, 6-7 and 4-5, 11..8, 15..12: the bytes 00 11 22 .. FF give
                                 33221100-77665544-bbaa9988-ffeeddcc. Another shape is a bad fact. */
} tavsn_machine_facts;

typedef struct tavsn_machine_match {
  int mac, processor, serial_number, uuid_text; /* TAVSN_VERDICT_* each */
  int overall; /* BAD_FACT if any was bad, else MISMATCH if any mismatched, else MATCH if an
                  address or a real firmware text matched, WEAK_MATCH if only weak facts did,
                  else NOT_CHECKABLE, or NOT_GIVEN without facts */
} tavsn_machine_match;

/* Does a machine identifier fit these facts? */
int tavsn_match_machine(const char* text, size_t length, const tavsn_machine_facts* facts, tavsn_machine_match* out);

/* Components of a machine that a comparison reports as changed (bit set). */
#define TAVSN_COMPONENT_MAC 0x1u
#define TAVSN_COMPONENT_PROCESSOR 0x2u
#define TAVSN_COMPONENT_FIRMWARE 0x4u
#define TAVSN_COMPONENT_MAC_SOURCE 0x8u

/* Deprecated since 1.2 (use tavsn_judge_risk). The numbers of release 1.0's
 * policy: at most max_changed components may change and none in must_keep.
 * Since 1.2 tavsn_compare applies them under the evidence policy: a caller
 * gets the count policy only by naming it (tavsn_policy, TAVSN_POLICY_COUNT). */
typedef struct tavsn_compare_policy {
  unsigned max_changed;
  unsigned must_keep;
} tavsn_compare_policy;

typedef struct tavsn_comparison {
  unsigned changed_components; /* TAVSN_COMPONENT_* */
  unsigned changed_fields;     /* how many record fields differ */
  int same_machine;            /* 1 when the verdict is TAVSN_SAME_MACHINE */
} tavsn_comparison;

/* Deprecated since 1.2: same_machine alone hides an undecided verdict and
 * the risk; use tavsn_judge_risk. Compares two identifiers of one kind under
 * the evidence policy, with the default numbers when policy is NULL, else
 * with these (release 1.1 switched to the count policy here: it no longer
 * does). */
int tavsn_compare(const char* before, size_t before_length, const char* after, size_t after_length,
                  const tavsn_compare_policy* policy, tavsn_comparison* out);

/* ---- Since 1.1: the evidence, the verdicts and the record's details. ---- */

/* How much a component tells about one machine. */
#define TAVSN_STRENGTH_ABSENT 0 /* not carried, or not read by the DLL */
#define TAVSN_STRENGTH_WEAK                                                                         \
  1                             /* many machines share it: a processor text, a placeholder firmware \
                                   text, a sequential UUID's node, the MAC's source */
#define TAVSN_STRENGTH_STRONG 2 /* an address from a driver or IP Helper, a real firmware text */

typedef struct tavsn_evidence {
  unsigned component; /* TAVSN_COMPONENT_* */
  int strength;       /* TAVSN_STRENGTH_* */
  const char* reason; /* static English sentence */
} tavsn_evidence;

#define TAVSN_MAX_ANOMALIES 8
#define TAVSN_MAX_FLAG_WORDS 7

typedef struct tavsn_details {
  unsigned anomaly_count;                     /* as tavsn_decoded's */
  const char* anomalies[TAVSN_MAX_ANOMALIES]; /* static sentences, the first anomaly_count */
  unsigned flag_word_count;                   /* TQ12: the set source flags in words */
  const char* source_flag_words[TAVSN_MAX_FLAG_WORDS];
  tavsn_evidence evidence[4];    /* one per component, in bit order */
  char firmware_placeholder[80]; /* GetPCSN: the placeholder text its firmware
                                    fields hold ("Default string"), else "" */
  unsigned address_count;        /* TQ11: 1 or 2 addresses held */
} tavsn_details;

/* What tavsn_decode leaves out. Fills evidence only for a record the DLL
 * writes (anomaly_count 0). */
int tavsn_describe(const char* text, size_t length, tavsn_details* out);

#define TAVSN_POLICY_EVIDENCE 0 /* the default */
#define TAVSN_POLICY_COUNT 1    /* release 1.0's: see tavsn_compare_policy */

/* TAVSN_POLICY_EVIDENCE: equal identifiers are the same machine; a real
 * firmware text that changed is a different machine; after a change, same
 * machine only when a different machine of every impostor class would show
 * the evidence that still matches with probability at most the threshold
 * (tavsn_judge_risk; 1e-5 by default); different machine when more than
 * max_changed of the machine's components changed (TAVSN_COMPONENT_MAC_SOURCE,
 * which changes with the MAC, not counted) and no real firmware text
 * matches; otherwise undecided. Either kind: a change in must_keep is a
 * different machine. The default is {TAVSN_POLICY_EVIDENCE, 1, 0}. */
typedef struct tavsn_policy {
  int kind;
  unsigned max_changed;
  unsigned must_keep;
} tavsn_policy;

#define TAVSN_SAME_MACHINE 1
#define TAVSN_DIFFERENT_MACHINE 2
#define TAVSN_UNDECIDED 3

#define TAVSN_MAX_FIELD_CHANGES 12

typedef struct tavsn_field_change {
  const char* field; /* static: "mac_count", "processor_checksum", ... as tavsn --json names it */
  char before[16];   /* the values as the tool writes them */
  char after[16];
  unsigned component; /* TAVSN_COMPONENT_* */
} tavsn_field_change;

typedef struct tavsn_component_judgment {
  unsigned component; /* TAVSN_COMPONENT_* */
  int before, after;  /* TAVSN_STRENGTH_* in each record */
  int changed;        /* 1 when a field of the component changed */
  const char* reason; /* the weaker side's */
} tavsn_component_judgment;

typedef struct tavsn_judgment {
  int verdict;        /* TAVSN_SAME_MACHINE, TAVSN_DIFFERENT_MACHINE, TAVSN_UNDECIDED */
  const char* reason; /* static sentence: why */
  unsigned changed_components;
  unsigned strong_matches; /* strong evidence both hold alike (TQ11: addresses in common) */
  unsigned strong_changes;
  unsigned change_count;
  tavsn_field_change changes[TAVSN_MAX_FIELD_CHANGES];
  tavsn_component_judgment evidence[4]; /* in bit order */
  int error_side;                       /* on an error: 1 the first text, 2 the second, 3 both */
  size_t error_detail;                  /* on a parse error: that text's, as tavsn_decoded's */
} tavsn_judgment;

/* Judges two identifiers of one kind; policy NULL means the default. Both
 * must be records the DLL writes (else TAVSN_SERVER_ERROR_NOT_DLL_RECORD). */
int tavsn_judge(const char* before, size_t before_length, const char* after, size_t after_length,
                const tavsn_policy* policy, tavsn_judgment* out);

/* ---- Since 1.2: every verdict with its risk. ---- */

/* Who else might show the evidence that matches. */
#define TAVSN_IMPOSTOR_SIBLING 0       /* a machine of the same batch: sequential serials, nearby addresses */
#define TAVSN_IMPOSTOR_MODEL 1         /* a machine of the same model anywhere in the vendor's prefix */
#define TAVSN_IMPOSTOR_MOVED_ADAPTER 2 /* another machine that received this one's adapter (USB, dock) */
#define TAVSN_IMPOSTOR_CLASSES 3

/* The largest false-accept probability the default policy takes. */
#define TAVSN_DEFAULT_FALSE_ACCEPT_THRESHOLD 1e-5

typedef struct tavsn_risk {
  int verdict; /* TAVSN_SAME_MACHINE, TAVSN_DIFFERENT_MACHINE, TAVSN_UNDECIDED */
  /* The estimated probability that a different machine shows the evidence
   * that still matches: the largest of the classes in by_class (for equal
   * identifiers the moved-adapter class is left out: that collision is the
   * kind's published limit). */
  double false_accept_probability;
  double by_class[TAVSN_IMPOSTOR_CLASSES]; /* indexed by TAVSN_IMPOSTOR_* */
  int likeliest;                           /* TAVSN_IMPOSTOR_* of false_accept_probability */
  unsigned events;                         /* benign events the changes need */
  char explanation[160];                   /* undecided: the competing explanations, else "" */
} tavsn_risk;

/* tavsn_judge, plus the verdict's risk. threshold: the largest
 * false-accept probability to call a changed identifier the same machine,
 * 0 for TAVSN_DEFAULT_FALSE_ACCEPT_THRESHOLD, else in (0, 1]; ignored by
 * the count policy. judgment may be NULL when only the risk is wanted. */
int tavsn_judge_risk(const char* before, size_t before_length, const char* after, size_t after_length,
                     const tavsn_policy* policy, double threshold, tavsn_judgment* judgment, tavsn_risk* out);

/* ---- Since 1.2: a machine's identifiers judged together. ----
 * A bundle holds what one call site on one machine wrote: at most one each
 * of GetMacSN (TQ11), GetPCSN (TQ12 with its firmware, or without when the
 * read failed), GetPCSNEx (TQ12 with its own checksum) and tav_get_pc_id
 * (31 digits), in any order. Two bundles are judged as two sightings of one
 * machine under the rules of tavsn_judge_risk, each fact counted once
 * however many members carry it: the addresses (TQ11 both up to one byte,
 * TQ12 the first by prefix and checksum), the firmware text (GetPCSN). A
 * real firmware text that changed is a different machine; a component
 * changed in any member is one change. Fingerprints are compared and
 * reported, but do not weigh: their first adapter may be a virtual one that
 * many machines share, and a host without the rights to read the disk
 * writes another. Errors: a malformed member gives its parse error, a
 * member the DLL does not write TAVSN_SERVER_ERROR_NOT_DLL_RECORD, members
 * that cannot come from one machine (two of one kind; GetPCSN and GetPCSNEx
 * with other MAC or processor fields; a TQ11 whose first address is not the
 * TQ12's first MAC) TAVSN_SERVER_ERROR_INCONSISTENT_BUNDLE, an empty
 * bundle, or more than TAVSN_BUNDLE_MAX_MEMBERS, or a zero length
 * TAVSN_SERVER_ERROR_BAD_ARGUMENT, and bundles without a kind of member in
 * common TAVSN_SERVER_ERROR_DIFFERENT_KINDS. */
#define TAVSN_BUNDLE_MAX_MEMBERS 4

#define TAVSN_MEMBER_GETMACSN 0
#define TAVSN_MEMBER_GETPCSN 1
#define TAVSN_MEMBER_GETPCSNEX 2
#define TAVSN_MEMBER_FINGERPRINT 3

typedef struct tavsn_bundle {
  size_t count;                                /* 1 to TAVSN_BUNDLE_MAX_MEMBERS */
  const char* texts[TAVSN_BUNDLE_MAX_MEMBERS]; /* pointer + length each, as elsewhere */
  size_t lengths[TAVSN_BUNDLE_MAX_MEMBERS];
} tavsn_bundle;

typedef struct tavsn_bundle_judgment {
  tavsn_risk risk;             /* the bundle's verdict, its risk and explanation */
  const char* reason;          /* static sentence: why */
  unsigned changed_components; /* TAVSN_COMPONENT_*, changed in any member */
  /* Per TAVSN_MEMBER_*: -1 not on both sides, 0 equal, 1 changed. */
  int member_changed[TAVSN_BUNDLE_MAX_MEMBERS];
  /* Per TAVSN_MEMBER_*: that identifier's own verdict, judged alone; 0 for
   * fingerprints and members not on both sides. */
  int member_verdict[TAVSN_BUNDLE_MAX_MEMBERS];
  int error_side;            /* on an error: 1 the first bundle, 2 the second */
  size_t error_member;       /* on an error: the member's 0-based position */
  size_t error_detail;       /* on a parse error: that member's */
  const char* inconsistency; /* TAVSN_SERVER_ERROR_INCONSISTENT_BUNDLE: static sentence, else "" */
} tavsn_bundle_judgment;

/* Judges two bundles; policy NULL and threshold 0 mean the defaults, as for
 * tavsn_judge_risk. */
int tavsn_judge_bundles(const tavsn_bundle* before, const tavsn_bundle* after, const tavsn_policy* policy,
                        double threshold, tavsn_bundle_judgment* out);

/* ---- Since 1.2: the fingerprint of tav_get_pc_id. ----
 * 31 uppercase hexadecimal digits, the first 31 of an MD5: nothing can be
 * decoded from it. A text of 32 bytes whose last is the zero byte (the
 * host's whole buffer) is accepted too. Parse errors are
 * TAVSN_SERVER_ERROR_LENGTH (error_detail = the length) and
 * TAVSN_SERVER_ERROR_CHARACTER (error_detail = the position). */

/* Checks the shape. error_detail may be NULL; otherwise it is always set
 * (0 on success). */
int tavsn_parse_fingerprint(const char* text, size_t length, size_t* error_detail);

/* Equal fingerprints mean equal inputs (up to an MD5 collision, about
 * 2^-124): the same processor (CPUID leaf 0 and brand string), the same
 * first-disk text (size in whole decimal gigabytes, or unreadable in both)
 * and the same first IP Helper adapter (all six bytes, or none in both).
 * Different ones mean at least one differs. The clock and the memory never
 * enter. */
typedef struct tavsn_fingerprint_comparison {
  int equal;          /* 1 equal, 0 different or on an error */
  int same_processor; /* each 1 exactly when equal */
  int same_disk_text;
  int same_first_adapter;
  int error_side;      /* on a parse error: 1 the first text, 2 the second */
  size_t error_detail; /* on a parse error: that text's */
} tavsn_fingerprint_comparison;

int tavsn_compare_fingerprints(const char* first, size_t first_length, const char* second, size_t second_length,
                               tavsn_fingerprint_comparison* out);

/* A machine as an inventory knows it. A text NULL, or a number -1, is a
 * probe that failed (its text empty), except highest_leaf: -1 means not
 * known, and every leaf from 0 to 0xFF is tried. */
typedef struct tavsn_fingerprint_facts {
  const char* cpu_vendor; /* 12 characters, e.g. "GenuineIntel"; or NULL with has_leaf0 */
  int has_leaf0;          /* 1: leaf0 holds CPUID leaf 0 (EAX, EBX, ECX, EDX); else 0 */
  unsigned leaf0[4];
  long long highest_leaf;        /* CPUID leaf 0's EAX, 0 to 0xFFFFFFFF, or -1 */
  const char* brand;             /* the brand string, at most 48 bytes; NULL: no brand leaves */
  long long mhz;                 /* "~MHz", 0 to 0xFFFFFFFF, or -1 (does not enter) */
  long long memory_bytes;        /* total physical memory, or -1 (does not enter) */
  long long disk_bytes;          /* the first physical disk's length, or -1 (unreadable) */
  const char* mac;               /* the first adapter IP Helper lists, or NULL (none) */
  const char* const* other_macs; /* the machine's other adapters, any order (at most 32) */
  size_t other_mac_count;
} tavsn_fingerprint_facts;

/* Causes of another fingerprint on the same machine, most likely first. */
#define TAVSN_CAUSE_DISK_UNREADABLE 0x01u      /* no administrator rights, or no readable first disk */
#define TAVSN_CAUSE_OTHER_FIRST_ADAPTER 0x02u  /* IP Helper listed another of its adapters first */
#define TAVSN_CAUSE_NO_ADAPTER 0x04u           /* no adapter list */
#define TAVSN_CAUSE_HIGHEST_LEAF_LIMITED 0x08u /* firmware limited CPUID's highest leaf to 2 or 3 */
#define TAVSN_CAUSE_BRAND_MISSING 0x10u        /* brand leaves hidden */
#define TAVSN_CAUSE_BRAND_UNPADDED 0x20u       /* the inventory dropped the brand's leading blanks */
#define TAVSN_CAUSE_CLOCK_UNREADABLE 0x40u     /* never changes a fingerprint */
#define TAVSN_CAUSE_OTHER_MEMORY_READING 0x80u /* never changes a fingerprint */

#define TAVSN_MAX_FINGERPRINT_EXPLANATIONS 8

typedef struct tavsn_fingerprint_explanation {
  unsigned causes;        /* TAVSN_CAUSE_* */
  char first_adapter[13]; /* with TAVSN_CAUSE_OTHER_FIRST_ADAPTER: the address taken, else "" */
  unsigned highest_leaf;  /* the leaf used */
} tavsn_fingerprint_explanation;

typedef struct tavsn_fingerprint_match {
  int verdict;                /* TAVSN_VERDICT_MATCH, _MISMATCH, _BAD_FACT or _NOT_CHECKABLE */
  char expected[32];          /* the facts' fingerprint, or "" (highest leaf searched and not found) */
  unsigned highest_leaf;      /* the leaf expected was made with */
  int highest_leaf_searched;  /* 1 when it was not given */
  unsigned explanation_count; /* mismatch: the combinations that reproduce, at most the array's */
  tavsn_fingerprint_explanation explanations[TAVSN_MAX_FINGERPRINT_EXPLANATIONS];
  unsigned without_effect; /* the causes tried that never change a fingerprint */
} tavsn_fingerprint_match;

/* Does a fingerprint fit these facts, and if not, which causes reproduce
 * it? A malformed fact gives TAVSN_SERVER_ERROR_BAD_FACT (verdict
 * BAD_FACT); a number outside its range, has_leaf0 other than 0 or 1, or
 * more than 32 other addresses TAVSN_SERVER_ERROR_BAD_ARGUMENT; neither a
 * vendor nor leaf 0 leaves the verdict NOT_CHECKABLE. */
int tavsn_match_fingerprint(const char* text, size_t length, const tavsn_fingerprint_facts* facts,
                            tavsn_fingerprint_match* out);

/* A static English sentence for one TAVSN_CAUSE_* bit, or NULL. */
const char* tavsn_fingerprint_cause_text(unsigned cause);

/* A static English text for a result code. */
const char* tavsn_server_error_text(int code);

#ifdef __cplusplus
}
#endif

#endif /* TAVSN_SERVER_H */
