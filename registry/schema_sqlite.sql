-- The registry's tables on SQLite, schema version 2. Embedded in the
-- library at build time and run, in one transaction, on a new database;
-- a registry of an older version runs the upgrades after its version. registry/schema_postgresql.sql holds the same tables for
-- PostgreSQL; a change here is a new version there too.
--
-- Times are seconds since 1970-01-01 UTC. Members are the index of the
-- bundle's member kind: 0 GetMacSN, 1 GetPCSN, 2 GetPCSNEx, 3 tav_get_pc_id.

CREATE TABLE schema_version (
  version INTEGER NOT NULL
);

-- A licence or account: the row each check-in locks for its seats.
-- seats < 0: no limit.
CREATE TABLE scopes (
  id INTEGER PRIMARY KEY,
  name TEXT NOT NULL UNIQUE,
  seats INTEGER NOT NULL DEFAULT -1
);

CREATE TABLE machines (
  id INTEGER PRIMARY KEY,
  scope INTEGER NOT NULL REFERENCES scopes (id),
  activated INTEGER NOT NULL,
  last_check_in INTEGER NOT NULL
);
CREATE INDEX machines_by_scope ON machines (scope);

-- What the machine shows now: one identifier per member kind.
CREATE TABLE current_identifiers (
  machine INTEGER NOT NULL REFERENCES machines (id),
  member INTEGER NOT NULL,
  identifier TEXT NOT NULL,
  PRIMARY KEY (machine, member)
) WITHOUT ROWID;

-- Every identifier a machine has shown, and when.
CREATE TABLE sightings (
  machine INTEGER NOT NULL REFERENCES machines (id),
  member INTEGER NOT NULL,
  identifier TEXT NOT NULL,
  first_seen INTEGER NOT NULL,
  last_seen INTEGER NOT NULL,
  PRIMARY KEY (machine, identifier)
) WITHOUT ROWID;

-- The index keys of the current identifiers: the only way candidates are
-- found, so that a lookup never reads every machine.
CREATE TABLE lookup_keys (
  lookup_key INTEGER NOT NULL,
  machine INTEGER NOT NULL REFERENCES machines (id),
  PRIMARY KEY (lookup_key, machine)
) WITHOUT ROWID;
CREATE INDEX lookup_keys_by_machine ON lookup_keys (machine);

-- Changes the registry accepted, with the evidence that decided each.
CREATE TABLE changes (
  machine INTEGER NOT NULL REFERENCES machines (id),
  at INTEGER NOT NULL,
  old_identifiers TEXT NOT NULL,
  new_identifiers TEXT NOT NULL,
  evidence TEXT NOT NULL
);
CREATE INDEX changes_by_machine ON changes (machine);

INSERT INTO schema_version (version) VALUES (1);

-- Upgrade to version 2
-- A registry of version 1 is upgraded by what follows this line, in one
-- transaction; a new one runs the whole text.

-- Check-ins the registry could not decide, by scope and identifiers (the
-- bundle's texts by member, separated by blanks): when they were first and
-- last seen. A candidate that checks in after they first appeared is alive
-- beside them, however far apart the two check in.
CREATE TABLE undecided_check_ins (
  scope INTEGER NOT NULL REFERENCES scopes (id),
  identifiers TEXT NOT NULL,
  first_seen INTEGER NOT NULL,
  last_seen INTEGER NOT NULL,
  PRIMARY KEY (scope, identifiers)
) WITHOUT ROWID;

UPDATE schema_version SET version = 2;
