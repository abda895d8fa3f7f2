/* tavsn_registry: the machine registry of a licence server, in
 * libtavsn_server (Linux). Which stored machine an identifier belongs to,
 * under scopes (licences, accounts) with a seat limit each, found through
 * index keys and judged as tavsn_judge_bundles judges; on SQLite
 * ("sqlite:PATH" or a path) or PostgreSQL ("postgresql://...").
 *
 * A handle is one connection: use it from one thread at a time (open one
 * per thread or process). No function lets a C++ exception escape or keeps
 * memory the caller must free, but tavsn_registry_close frees the handle.
 * Scopes are any bytes (pointer + length); identifiers and fingerprints are
 * texts with their lengths, as in tavsn_server.h. Every output is set on
 * every path.
 *
 *   tavsn_registry* r;
 *   if (tavsn_registry_open("sqlite:/var/lib/app/licences.db", 0, &r) == TAVSN_SERVER_OK) {
 *     tavsn_check_in result;
 *     tavsn_registry_check_in(r, "L-1001", 6, texts, lengths, 3, time(NULL), 3, &result);
 *     tavsn_registry_close(r);
 *   }
 */
#ifndef TAVSN_REGISTRY_H
#define TAVSN_REGISTRY_H

#include <stddef.h>

#include "tavsn_server.h"

#ifdef __cplusplus
extern "C" {
#endif

/* Errors besides tavsn_server.h's (TAVSN_SERVER_OK, _NULL, _BAD_ARGUMENT,
 * _INTERNAL); tavsn_server_error_text does not name these,
 * tavsn_registry_error_text does. */
#define TAVSN_REGISTRY_ERROR_BUSY (-20)            /* locked by another process past the busy timeout */
#define TAVSN_REGISTRY_ERROR_READ_ONLY (-21)       /* the database or its folder cannot be written */
#define TAVSN_REGISTRY_ERROR_FULL (-22)            /* the disk or the database is full */
#define TAVSN_REGISTRY_ERROR_DAMAGED (-23)         /* not a registry, or a damaged one */
#define TAVSN_REGISTRY_ERROR_CONNECTION_LOST (-24) /* the server went away; nothing of the call was kept */
#define TAVSN_REGISTRY_ERROR_NEWER (-25)           /* made by a newer tavsn */
#define TAVSN_REGISTRY_ERROR_NOT_FOUND (-26)       /* no registry at the location (and not to be made) */
#define TAVSN_REGISTRY_ERROR_NOT_BUILT (-27)       /* no engine for the location here (or its library missing) */
#define TAVSN_REGISTRY_ERROR_BAD_LOCATION (-28)    /* the location names no engine */
#define TAVSN_REGISTRY_ERROR_DATABASE (-29)        /* any other database error */
/* Since 1.3.0's history, audit and import: */
#define TAVSN_REGISTRY_ERROR_NO_MACHINE (-30) /* history: no machine of that number */
#define TAVSN_REGISTRY_ERROR_TOO_SMALL (-31)  /* the answer is longer than the buffer: see *length */
#define TAVSN_REGISTRY_ERROR_FILE (-32)       /* import: the file cannot be read */

/* tavsn_registry_open flags. */
#define TAVSN_REGISTRY_READ_ONLY 1u /* identify and read only; never makes a registry */
#define TAVSN_REGISTRY_NO_CREATE 2u /* fail with NOT_FOUND rather than make one */
/* Every committed check-in also survives a power cut (SQLite: synchronous
 * FULL; PostgreSQL always does). Without it, SQLite's commits survive a
 * killed process but the last ones may be lost in a power cut. */
#define TAVSN_REGISTRY_POWER_CUT_SAFE 4u

/* Check-in outcomes. */
#define TAVSN_CHECK_IN_KNOWN_UNCHANGED 1
#define TAVSN_CHECK_IN_KNOWN_CHANGED 2  /* the change and its evidence recorded */
#define TAVSN_CHECK_IN_ACTIVATED 3      /* a new machine took a free seat */
#define TAVSN_CHECK_IN_NO_SEAT 4        /* a new machine, every seat taken */
#define TAVSN_CHECK_IN_NOT_DLL_RECORD 5 /* a member is no identifier the DLL writes */
#define TAVSN_CHECK_IN_INCONSISTENT 6   /* members that cannot come from one machine */
#define TAVSN_CHECK_IN_UNDECIDED 7      /* see candidates and settle */

/* What decided it. */
#define TAVSN_DECIDED_BY_EQUAL 1    /* the machine's current identifiers */
#define TAVSN_DECIDED_BY_JUDGMENT 2 /* the judgment alone */
#define TAVSN_DECIDED_BY_SILENCE 3  /* history: the candidate fell silent before */
#define TAVSN_DECIDED_BY_OVERLAP 4  /* history: the candidate checks in beside it */
#define TAVSN_DECIDED_BY_NOTHING 5

#define TAVSN_REGISTRY_MAX_CANDIDATES 16
#define TAVSN_REGISTRY_TEXT 256

typedef struct tavsn_registry tavsn_registry;

typedef struct tavsn_registry_candidate {
  long long machine;
  int verdict;                     /* TAVSN_SAME_MACHINE or TAVSN_UNDECIDED (tavsn_server.h) */
  double false_accept_probability; /* the judgment's estimate */
  long long last_check_in;         /* seconds since 1970 UTC */
  size_t scope_length;             /* the whole scope's length */
  char scope[TAVSN_REGISTRY_TEXT]; /* its first bytes, zero-terminated */
} tavsn_registry_candidate;

typedef struct tavsn_check_in {
  int outcome;              /* TAVSN_CHECK_IN_* */
  int decided_by;           /* TAVSN_DECIDED_BY_* */
  long long machine;        /* known, changed or activated; else 0 */
  long long seats;          /* the scope's limit, -1 for none */
  long long used;           /* the scope's machines, when a new one was counted */
  size_t candidate_count;   /* in the scope, same or undecided (up to the maximum) */
  size_t other_scope_count; /* the same or maybe the same machine under other scopes */
  tavsn_registry_candidate candidates[TAVSN_REGISTRY_MAX_CANDIDATES];
  tavsn_registry_candidate other_scopes[TAVSN_REGISTRY_MAX_CANDIDATES];
  char detail[TAVSN_REGISTRY_TEXT]; /* why, for people */
  char settle[TAVSN_REGISTRY_TEXT]; /* undecided: what would settle it */
} tavsn_check_in;

typedef struct tavsn_identification {
  size_t machine_count; /* every scope, same or undecided, likeliest first */
  tavsn_registry_candidate machines[TAVSN_REGISTRY_MAX_CANDIDATES];
} tavsn_identification;

int tavsn_registry_open(const char* location, unsigned flags, tavsn_registry** out);
void tavsn_registry_close(tavsn_registry* registry);
/* The last error's message from the engine, for people; "" after success. */
const char* tavsn_registry_last_error(const tavsn_registry* registry);
const char* tavsn_registry_error_text(int code);

/* History's windows in seconds (defaults: 3 days silence, 1 hour overlap):
 * a candidate silent for at least `silence` before the new identifiers is
 * one machine after a change; one that checked in within `overlap`, two. */
int tavsn_registry_set_windows(tavsn_registry* registry, long long silence, long long overlap);

/* One check-in, one transaction: the identifiers of one call site (at most
 * one of each export and a fingerprint), under `scope`, at `time` (seconds
 * since 1970 UTC). seats >= 0 sets the scope's limit first; -1 keeps it.
 * Returns TAVSN_SERVER_OK whenever an outcome was reached (refusals and
 * undecided included), an error code otherwise. */
int tavsn_registry_check_in(tavsn_registry* registry, const char* scope, size_t scope_length, const char* const* texts,
                            const size_t* lengths, size_t count, long long time, long long seats, tavsn_check_in* out);

/* Every machine in every scope that may be this one, through the keys. */
int tavsn_registry_identify(tavsn_registry* registry, const char* const* texts, const size_t* lengths, size_t count,
                            tavsn_identification* out);

/* A machine's history and the registry's audit, as the JSON object that
 * `tavsn registry history --json` and `tavsn registry audit --json` print,
 * without the tool's "exit_code". The text goes into `json` (`size` bytes,
 * zero-terminated); *length is its length without the zero, also when it
 * does not fit: then TAVSN_REGISTRY_ERROR_TOO_SMALL, and a call with
 * *length + 1 bytes gets it (unless the registry changed in between). */
int tavsn_registry_history(tavsn_registry* registry, long long machine, char* json, size_t size, size_t* length);
int tavsn_registry_audit(tavsn_registry* registry, char* json, size_t size, size_t* length);

/* The CSV of `tavsn registry export`: a header line, then one line per
 * machine and identifier (scope, machine, identifier, first seen, last
 * seen), each given to `write` without its line end. `write` returns 0 to go
 * on; any other value stops the export, which then returns that value. */
typedef int (*tavsn_registry_line_writer)(void* context, const char* line, size_t length);
int tavsn_registry_export(tavsn_registry* registry, tavsn_registry_line_writer write, void* context);

/* What an import read, as `tavsn registry import --json` counts it. */
typedef struct tavsn_import_totals {
  long long lines;    /* read, the header line included */
  long long imported; /* identifiers stored (activated, known or changed) */
  long long refused;  /* lines that are no CSV line of three fields, and identifiers refused */
} tavsn_import_totals;

/* Checks in the stored identifiers of a CSV file (scope, identifier, time;
 * a header line is skipped), lines of one scope and time in a row as one
 * bundle, each bundle one transaction. `progress` (may be null) is called
 * now and then and at the end with the totals so far. */
typedef void (*tavsn_registry_progress)(void* context, const tavsn_import_totals* totals);
int tavsn_registry_import(tavsn_registry* registry, const char* path, tavsn_registry_progress progress, void* context,
                          tavsn_import_totals* out);

#ifdef __cplusplus
}
#endif

#endif /* TAVSN_REGISTRY_H */
