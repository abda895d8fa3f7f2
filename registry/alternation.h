#pragma once
// An identifier that goes from one machine of a scope to another and back
// is an adapter passed around; one that goes across once is a card moved
// to a new machine, or a machine replaced. Only each machine's first and
// last sighting of an identifier is stored, so the handovers counted here
// are those these sightings prove: a lower bound.

#include <vector>

#include "registry/store.h"

namespace tavsn::registry {

// One machine's first and last sighting of one identifier.
struct Shown {
  MachineId machine = 0;
  Time first_seen = 0;
  Time last_seen = 0;
};

// How an identifier passed between machines, its sightings read in time
// order. Sightings at the same second are read in the order that passes
// least: the machine that held it before first.
struct Passing {
  int handovers = 0;  // from one machine to another
  int returns = 0;    // of those, back to a machine that held it before
};
Passing PassingOf(const std::vector<Shown>& shown);

// Passed to another machine and back (A, then B, then A again). A card
// moved on from machine to machine (A, B, C) never comes back.
inline bool Alternates(const Passing& passing) { return passing.returns > 0; }

}  // namespace tavsn::registry
